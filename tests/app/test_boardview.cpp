#include "app/BoardView.h"
#include "game/Board.h"

#include <QImage>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace {

// A shown view that records the cells it reports.
struct TShownView
{
    explicit TShownView(std::string_view moves) : Board(TBoard::FromMoves(moves))
    {
        View.SetBoard(&Board);
        View.resize(398, 353);
        View.OnCellPressed = [this](int column, int row) { Pressed = QPoint(column, row); };
        View.show();
        Exposed = QTest::qWaitForWindowExposed(&View);
    }

    TBoard Board;
    TBoardView View;
    QPoint Pressed;  // (0,0) until a cell is pressed
    bool Exposed = false;
};

}  // namespace

class TestBoardView : public QObject
{
    Q_OBJECT

private slots:
    // Any button plays; the cells reach the view's edges.
    void press_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QPoint>("cell");
        QTest::newRow("first pixel of (1,6)") << Qt::LeftButton << QPoint(5, 5) << QPoint(1, 6);
        QTest::newRow("last pixel of (7,1)") << Qt::RightButton << QPoint(391, 347) << QPoint(7, 1);
    }
    void press()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, point);
        TShownView shown("1234567");
        QVERIFY(shown.Exposed);
        QTest::mousePress(&shown.View, button, {}, point);
        QTEST(shown.Pressed, "cell");
    }

    // With 1 holding (1,1) to (5,1), both fours are drawn over the pieces, from the first piece's
    // centre (33,324) through the fifth's (250,324), 3 pixels thick at any scale, until the next repaint.
    void winLines()
    {
        TShownView shown("112233445");
        QVERIFY(shown.Exposed);
        shown.Board.HasFourInRow(cvLocal, [&](int c1, int r1, int c2, int r2) { shown.View.DrawWinLine(c1, r1, c2, r2); });
        const QImage drawn = shown.View.grab().toImage();
        const int ratio = int(drawn.devicePixelRatio());
        QCOMPARE(drawn.pixelColor(QPoint(33, 324) * ratio), QColor(Qt::black));
        QCOMPARE(drawn.pixelColor(QPoint(250, 324) * ratio), QColor(Qt::black));
        int thickness = 0;  // in the strip between the first two pieces
        for (int y = 0; y < drawn.height(); ++y)
            thickness += drawn.pixelColor(58 * ratio, y) == Qt::black;
        QCOMPARE(thickness, 3 * ratio);
        shown.View.RepaintNow();
        QCOMPARE(shown.View.grab().toImage().pixelColor(QPoint(86, 324) * ratio), QColor(Qt::yellow));
    }

    // Against the ellipse inscribed in the cell, in the grab's device pixels: only the hole's or the
    // piece's colour inside, only the background outside, the outline between. At one device pixel
    // per pixel the edge is aliased as it always was; on a denser screen it is smooth.
    void outline_data()
    {
        QTest::addColumn<QPoint>("cell");
        QTest::addColumn<QColor>("fill");
        QTest::newRow("hole") << QPoint(1, 6) << QColor(Qt::white);
        QTest::newRow("piece") << QPoint(1, 1) << QColor(Qt::yellow);
    }
    void outline()
    {
        QFETCH(QPoint, cell);
        QFETCH(QColor, fill);
        TShownView shown("1");
        QVERIFY(shown.Exposed);
        const QImage drawn = shown.View.grab().toImage();
        const double ratio = drawn.devicePixelRatio();
        const QRectF r = TBoardView::CellRect(cell.x(), cell.y(), 398, 353);
        const QRectF slot(r.topLeft() * ratio, r.size() * ratio);
        int misplaced = 0, blends = 0;
        for (int y = int(slot.top()) - 2; y < slot.bottom() + 2; ++y) {
            for (int x = int(slot.left()) - 2; x < slot.right() + 2; ++x) {
                const QPointF d = QPointF(x + 0.5, y + 0.5) - slot.center();
                const double beyond = (std::hypot(2 * d.x() / slot.width(), 2 * d.y() / slot.height()) - 1)
                                    * std::min(slot.width(), slot.height()) / 2;  // device pixels past the ellipse
                const QColor seen = drawn.pixelColor(x, y);
                if (beyond < -1 - ratio || beyond > 1)
                    misplaced += seen != (beyond > 1 ? QColor(Qt::blue) : fill);
                else
                    blends += seen != fill && seen != Qt::blue && seen != Qt::black;
            }
        }
        QCOMPARE(misplaced, 0);
        QCOMPARE(blends > 0, ratio > 1);
    }
};

QTEST_MAIN(TestBoardView)
#include "test_boardview.moc"
