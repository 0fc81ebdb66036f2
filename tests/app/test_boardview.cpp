#include "app/BoardView.h"
#include "game/Board.h"

#include <QImage>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <tuple>

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
    // centre (33,324) through the fifth's (250,324), until the next repaint. Before them, at any
    // scale, the hole (1,6) and the piece (1,2) keep in device pixels to the ellipse inscribed in
    // their cells: their colour inside, the background outside, the outline between, aliased at
    // one device pixel per pixel as it always was and smooth on a denser screen.
    void winLinesAndOutlines()
    {
        TShownView shown("112233445");
        QVERIFY(shown.Exposed);
        const QImage board = shown.View.grab().toImage();
        const double ratio = board.devicePixelRatio();
        for (const auto& [col, row, fill] : {std::tuple(1, 6, QColor(Qt::white)), std::tuple(1, 2, QColor(Qt::red))}) {
            const QRectF r = TBoardView::CellRect(col, row, 398, 353);
            const QRectF slot(r.topLeft() * ratio, r.size() * ratio);
            int misplaced = 0, blends = 0;
            for (int y = int(slot.top()) - 2; y < slot.bottom() + 2; ++y) {
                for (int x = int(slot.left()) - 2; x < slot.right() + 2; ++x) {
                    const QPointF d = QPointF(x + 0.5, y + 0.5) - slot.center();
                    const double beyond = (std::hypot(d.x() / slot.width(), d.y() / slot.height()) * 2 - 1) * slot.width() / 2;
                    const QColor seen = board.pixelColor(x, y);
                    if (beyond < -1 - ratio || beyond > 1)
                        misplaced += seen != (beyond > 1 ? QColor(Qt::blue) : fill);
                    else
                        blends += seen != fill && seen != Qt::blue && seen != Qt::black;
                }
            }
            QCOMPARE(misplaced, 0);
            QCOMPARE(blends > 0, ratio > 1);
        }
        shown.Board.HasFourInRow(cvLocal, [&](int c1, int r1, int c2, int r2) { shown.View.DrawWinLine(c1, r1, c2, r2); });
        const auto at = [ratio](int x, int y) { return (QPointF(x, y) * ratio).toPoint(); };
        const QImage drawn = shown.View.grab().toImage();
        QCOMPARE(drawn.pixelColor(at(33, 324)), QColor(Qt::black));
        QCOMPARE(drawn.pixelColor(at(250, 324)), QColor(Qt::black));
        shown.View.RepaintNow();
        QCOMPARE(shown.View.grab().toImage().pixelColor(at(86, 324)), QColor(Qt::yellow));
    }
};

QTEST_MAIN(TestBoardView)
#include "test_boardview.moc"
