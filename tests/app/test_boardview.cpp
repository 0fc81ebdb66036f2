#include "app/BoardView.h"
#include "game/Board.h"

#include <QImage>
#include <QTest>

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
    // centre (33,324) through the fifth's (250,324), until the next repaint.
    void winLines()
    {
        TShownView shown("112233445");
        QVERIFY(shown.Exposed);
        shown.Board.HasFourInRow(cvLocal, [&](int c1, int r1, int c2, int r2) { shown.View.DrawWinLine(c1, r1, c2, r2); });
        const QImage drawn = shown.View.grab().toImage();
        QCOMPARE(drawn.pixelColor(33, 324), QColor(Qt::black));
        QCOMPARE(drawn.pixelColor(250, 324), QColor(Qt::black));
        shown.View.RepaintNow();
        QCOMPARE(shown.View.grab().toImage().pixelColor(86, 324), QColor(Qt::yellow));
    }
};

QTEST_MAIN(TestBoardView)
#include "test_boardview.moc"
