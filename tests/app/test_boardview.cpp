#include "app/BoardView.h"
#include "game/Board.h"

#include <QImage>
#include <QTest>

#include <string_view>

namespace {

const QColor kBlack(0, 0, 0), kBlue(0, 0, 255), kYellow(255, 255, 0), kRed(255, 0, 0);

// A shown view that records the cells it reports.
struct TShownView
{
    explicit TShownView(std::string_view moves = {}, QSize size = {398, 353}) : Board(TBoard::FromMoves(moves))
    {
        View.SetBoard(&Board);
        View.resize(size);
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
    void press_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QPoint>("cell");  // (0,0): no cell
        QTest::newRow("first pixel of (1,6)") << QSize(398, 353) << Qt::LeftButton << QPoint(5, 5) << QPoint(1, 6);
        QTest::newRow("last pixel of (7,1)") << QSize(398, 353) << Qt::RightButton << QPoint(391, 347) << QPoint(7, 1);
        QTest::newRow("3 x 3: cells turned inside out") << QSize(3, 3) << Qt::LeftButton << QPoint(1, 1) << QPoint(0, 0);
    }
    void press()
    {
        QFETCH(QSize, size);
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, point);
        TShownView shown("1234567", size);
        QVERIFY(shown.Exposed);
        QTest::mousePress(&shown.View, button, {}, point);
        QTEST(shown.Pressed, "cell");
        shown.View.OnCellPressed = nullptr;  // pressed before anyone listens
        QTest::mousePress(&shown.View, button, {}, point);
    }

    void pixels_data()
    {
        // "12": a 1 in (1,1), a 2 in (2,1). "1122334": 1 holds (1,1) to (4,1), "112233445" to (5,1).
        // Cell (1,1) spans x 5..55, y 295..347; the line over (1,1)-(4,1) runs on y 324 from x 33 to 201.
        QTest::addColumn<QString>("moves");
        QTest::addColumn<int>("after");  // 0 nothing, 1 RepaintNow, 2 resize to the same cells
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("strip") << "12" << 0 << QPoint(58, 321) << kBlue;
        QTest::newRow("1") << "12" << 0 << QPoint(30, 321) << kYellow;
        QTest::newRow("2") << "12" << 0 << QPoint(86, 321) << kRed;
        QTest::newRow("line start") << "1122334" << 0 << QPoint(33, 324) << kBlack;
        QTest::newRow("line cleared by RepaintNow") << "1122334" << 1 << QPoint(86, 324) << kYellow;
        QTest::newRow("line cleared by resize") << "1122334" << 2 << QPoint(86, 324) << kYellow;
        QTest::newRow("five: second line") << "112233445" << 0 << QPoint(250, 324) << kBlack;
    }
    void pixels()
    {
        QFETCH(QString, moves);
        QFETCH(int, after);
        QFETCH(QPoint, point);
        TShownView shown(moves.toStdString());
        QVERIFY(shown.Exposed);
        shown.Board.HasFourInRow(cvLocal, [&](int c1, int r1, int c2, int r2) { shown.View.DrawWinLine(c1, r1, c2, r2); });
        if (after == 1)
            shown.View.RepaintNow();
        else if (after == 2)
            shown.View.resize(400, 353);
        QTEST(shown.View.grab().toImage().pixelColor(point), "colour");
    }
};

QTEST_MAIN(TestBoardView)
#include "test_boardview.moc"
