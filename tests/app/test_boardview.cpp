#include "app/BoardView.h"
#include "game/Board.h"

#include <QImage>
#include <QTest>

#include <vector>

namespace {

constexpr int kW = 398;  // the layout's PaintBox1
constexpr int kH = 353;

const QColor kBlack(0, 0, 0), kBlue(0, 0, 255), kWhite(255, 255, 255), kYellow(255, 255, 0), kRed(255, 0, 0);

// A shown view that records the cells it reports.
struct TShownView
{
    explicit TShownView(const TBoard* board = nullptr, QSize size = {kW, kH})
    {
        View.SetBoard(board);
        View.resize(size);
        View.OnCellPressed = [this](int column, int row) { Presses.emplace_back(column, row); };
        View.show();
        Exposed = QTest::qWaitForWindowExposed(&View);
    }
    QColor At(int x, int y) { return View.grab().toImage().pixelColor(x, y).toRgb(); }

    TBoardView View;
    std::vector<QPoint> Presses;
    bool Exposed = false;
};

// How many points of the surface (and a margin around it) hit each cell.
std::vector<int> HitsPerCell(int w, int h)
{
    std::vector<int> hits(kColumns * kRows, 0);
    for (int y = -2; y < h + 2; ++y) {
        for (int x = -2; x < w + 2; ++x) {
            if (const auto cell = TBoardView::HitTest(x, y, w, h))
                ++hits[static_cast<std::size_t>((cell->x() - 1) * kRows + cell->y() - 1)];
        }
    }
    return hits;
}

bool AnyBlack(const QImage& image, QRect area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixelColor(x, y).toRgb() == kBlack)
                return true;
        }
    }
    return false;
}

enum TAfterLine { alNothing, alPlainRepaint, alBoardChange, alResize };

}  // namespace

class TestBoardView : public QObject
{
    Q_OBJECT

private slots:
    void cellSize_data();
    void cellSize();
    void anchorPoint_data();
    void anchorPoint();
    void hitTest_data();
    void hitTest();
    void everyCellOwnsExactlyItsRect();
    void tooSmallSurface_data();
    void tooSmallSurface();
    void press_data();
    void press();
    void pixels_data();
    void pixels();
    void holeInscribedInCellRect_data();
    void holeInscribedInCellRect();
    void colourFieldsAreUsed();
    void winLine_data();
    void winLine();
    void fiveInRowKeepsBothLines();
};

void TestBoardView::cellSize_data()
{
    QTest::addColumn<QSize>("surface");
    QTest::addColumn<QSize>("cell");
    QTest::newRow("layout") << QSize(398, 353) << QSize(56, 58);
    QTest::newRow("height tie to even below") << QSize(398, 356) << QSize(56, 58);
    QTest::newRow("height tie to even above") << QSize(398, 362) << QSize(56, 60);
    QTest::newRow("above a half") << QSize(401, 358) << QSize(57, 59);
    QTest::newRow("below a half") << QSize(400, 357) << QSize(56, 59);
    QTest::newRow("too small for a hole") << QSize(43, 37) << QSize(5, 5);
    QTest::newRow("negative, tie to even") << QSize(0, 2) << QSize(-1, 0);
}

void TestBoardView::cellSize()
{
    QFETCH(QSize, surface);
    QFETCH(QSize, cell);
    QCOMPARE(QSize(TBoardView::CellWidth(surface.width()), TBoardView::CellHeight(surface.height())), cell);
}

void TestBoardView::anchorPoint_data()
{
    QTest::addColumn<QPoint>("cell");
    QTest::addColumn<QSize>("surface");
    QTest::addColumn<QPoint>("anchor");
    QTest::newRow("(1,1) of the layout") << QPoint(1, 1) << QSize(kW, kH) << QPoint(33, 324);
    QTest::newRow("(4,1) of the layout") << QPoint(4, 1) << QSize(kW, kH) << QPoint(201, 324);
    // CellWidth 55 and CellHeight 57: the half pixels round to even.
    QTest::newRow("32.5 to 32") << QPoint(1, 1) << QSize(390, kH) << QPoint(32, 324);
    QTest::newRow("87.5 to 88") << QPoint(2, 1) << QSize(390, kH) << QPoint(88, 324);
    QTest::newRow("33.5 to 34") << QPoint(7, 6) << QSize(kW, 347) << QPoint(369, 34);
    QTest::newRow("90.5 to 90") << QPoint(7, 5) << QSize(kW, 347) << QPoint(369, 90);
}

void TestBoardView::anchorPoint()
{
    QFETCH(QPoint, cell);
    QFETCH(QSize, surface);
    QFETCH(QPoint, anchor);
    QCOMPARE(TBoardView::AnchorPoint(cell.x(), cell.y(), surface.width(), surface.height()), anchor);
}

void TestBoardView::hitTest_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QPoint>("cell");  // (0,0): no cell
    QTest::newRow("first pixel of (1,6)") << QPoint(5, 5) << QPoint(1, 6);
    QTest::newRow("last pixel of (1,6)") << QPoint(55, 57) << QPoint(1, 6);
    QTest::newRow("strip right of (1,6)") << QPoint(56, 30) << QPoint(0, 0);
    QTest::newRow("strip below (1,6)") << QPoint(30, 58) << QPoint(0, 0);
    QTest::newRow("first pixel of (7,1), outside its hole") << QPoint(341, 295) << QPoint(7, 1);
    QTest::newRow("last pixel of (7,1)") << QPoint(391, 347) << QPoint(7, 1);
    QTest::newRow("right of (7,1)") << QPoint(392, 347) << QPoint(0, 0);
    QTest::newRow("below (7,1)") << QPoint(391, 348) << QPoint(0, 0);
    QTest::newRow("left of the surface") << QPoint(-1, 100) << QPoint(0, 0);
}

void TestBoardView::hitTest()
{
    QFETCH(QPoint, point);
    QFETCH(QPoint, cell);
    QCOMPARE(TBoardView::HitTest(point.x(), point.y(), kW, kH).value_or(QPoint(0, 0)), cell);
}

void TestBoardView::everyCellOwnsExactlyItsRect()
{
    const std::vector<int> hits = HitsPerCell(kW, kH);
    for (int col = 1; col <= kColumns; ++col) {
        for (int row = 1; row <= kRows; ++row) {
            const QRect r = TBoardView::CellRect(col, row, kW, kH);
            QCOMPARE(r.size(), QSize(51, 53));
            QCOMPARE(hits[static_cast<std::size_t>((col - 1) * kRows + row - 1)], 51 * 53);
            QCOMPARE(TBoardView::HitTest(r.right(), r.bottom(), kW, kH).value_or(QPoint()), QPoint(col, row));
        }
    }
}

void TestBoardView::tooSmallSurface_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("43 wide") << QSize(43, kH);
    QTest::newRow("37 high") << QSize(kW, 37);
    QTest::newRow("tiny") << QSize(3, 3);
}

void TestBoardView::tooSmallSurface()
{
    QFETCH(QSize, size);
    QCOMPARE(HitsPerCell(size.width(), size.height()), std::vector<int>(kColumns * kRows, 0));

    const TBoard board = TBoard::FromMoves("1234567");
    TShownView shown(&board, size);
    QVERIFY(shown.Exposed);
    QCOMPARE(shown.View.size(), size);
    const QImage image = shown.View.grab().toImage();
    QImage blue(image.size(), image.format());
    blue.fill(kBlue);
    QCOMPARE(image, blue);
    QTest::mousePress(&shown.View, Qt::LeftButton, {}, QPoint(size.width() / 2, size.height() - 1));
    QVERIFY(shown.Presses.empty());
}

void TestBoardView::press_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QPoint>("cell");  // (0,0): no cell
    QTest::newRow("left") << Qt::LeftButton << QPoint(30, 321) << QPoint(1, 1);
    QTest::newRow("right plays too") << Qt::RightButton << QPoint(30, 321) << QPoint(1, 1);
    QTest::newRow("middle plays too") << Qt::MiddleButton << QPoint(391, 5) << QPoint(7, 6);
    QTest::newRow("strip between columns") << Qt::LeftButton << QPoint(58, 321) << QPoint(0, 0);
    QTest::newRow("strip between rows") << Qt::RightButton << QPoint(30, 292) << QPoint(0, 0);
}

void TestBoardView::press()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, point);
    QFETCH(QPoint, cell);
    TShownView shown;
    QVERIFY(shown.Exposed);
    QTest::mousePress(&shown.View, button, {}, point);
    QCOMPARE(shown.Presses, cell.isNull() ? std::vector<QPoint>{} : std::vector<QPoint>{cell});
    shown.View.OnCellPressed = nullptr;  // the view may be pressed before anyone listens
    QTest::mousePress(&shown.View, button, {}, point);
}

void TestBoardView::pixels_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QColor>("colour");
    // Board "12": a 1 in (1,1) and a 2 in (2,1); cell (1,1) spans x 5..55, y 295..347.
    QTest::newRow("left margin") << QPoint(2, 321) << kBlue;
    QTest::newRow("strip between columns") << QPoint(58, 321) << kBlue;
    QTest::newRow("strip between rows") << QPoint(30, 292) << kBlue;
    QTest::newRow("right margin") << QPoint(395, 100) << kBlue;
    QTest::newRow("bottom margin") << QPoint(200, 350) << kBlue;
    QTest::newRow("rect corner outside the hole") << QPoint(5, 295) << kBlue;
    QTest::newRow("local piece") << QPoint(30, 321) << kYellow;
    QTest::newRow("local piece near its edge") << QPoint(7, 321) << kYellow;
    QTest::newRow("remote piece") << QPoint(86, 321) << kRed;
    QTest::newRow("empty hole") << QPoint(142, 321) << kWhite;
    QTest::newRow("empty hole above a piece") << QPoint(30, 263) << kWhite;
    QTest::newRow("outline left") << QPoint(5, 321) << kBlack;
    QTest::newRow("outline right") << QPoint(55, 321) << kBlack;
    QTest::newRow("outline top") << QPoint(30, 295) << kBlack;
    QTest::newRow("outline bottom") << QPoint(30, 347) << kBlack;
}

void TestBoardView::pixels()
{
    QFETCH(QPoint, point);
    QFETCH(QColor, colour);
    const TBoard board = TBoard::FromMoves("12");
    TShownView shown(&board);
    QVERIFY(shown.Exposed);
    QCOMPARE(shown.At(point.x(), point.y()), colour);
}

void TestBoardView::holeInscribedInCellRect_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("cell");
    QTest::newRow("layout (7,1)") << QSize(kW, kH) << QPoint(7, 1);
    QTest::newRow("stretched (4,3)") << QSize(700, 362) << QPoint(4, 3);
    QTest::newRow("small (2,2)") << QSize(120, 90) << QPoint(2, 2);
}

// The outline touches all four edges of the cell's rectangle and nothing outside it.
void TestBoardView::holeInscribedInCellRect()
{
    QFETCH(QSize, size);
    QFETCH(QPoint, cell);
    TShownView shown(nullptr, size);
    QVERIFY(shown.Exposed);
    const QImage image = shown.View.grab().toImage();
    const QRect r = TBoardView::CellRect(cell.x(), cell.y(), size.width(), size.height());
    QVERIFY(AnyBlack(image, QRect(r.left(), r.top(), 1, r.height())));
    QVERIFY(AnyBlack(image, QRect(r.right(), r.top(), 1, r.height())));
    QVERIFY(AnyBlack(image, QRect(r.left(), r.top(), r.width(), 1)));
    QVERIFY(AnyBlack(image, QRect(r.left(), r.bottom(), r.width(), 1)));
    const QRect around = r.adjusted(-1, -1, 1, 1);
    QVERIFY(!AnyBlack(image, QRect(around.left(), around.top(), 1, around.height())));
    QVERIFY(!AnyBlack(image, QRect(around.right(), around.top(), 1, around.height())));
    QVERIFY(!AnyBlack(image, QRect(around.left(), around.top(), around.width(), 1)));
    QVERIFY(!AnyBlack(image, QRect(around.left(), around.bottom(), around.width(), 1)));
    QCOMPARE(image.pixelColor(r.center()).toRgb(), kWhite);
}

void TestBoardView::colourFieldsAreUsed()
{
    const TBoard board = TBoard::FromMoves("12");
    TShownView shown(&board);
    QVERIFY(shown.Exposed);
    shown.View.LocalColor = Qt::green;
    shown.View.RemoteColor = Qt::magenta;
    shown.View.BackgroundColor = Qt::darkGray;
    shown.View.HoleColor = Qt::cyan;
    const QImage image = shown.View.grab().toImage();
    QCOMPARE(image.pixelColor(30, 321), QColor(Qt::green));
    QCOMPARE(image.pixelColor(86, 321), QColor(Qt::magenta));
    QCOMPARE(image.pixelColor(142, 321), QColor(Qt::cyan));
    QCOMPARE(image.pixelColor(58, 321), QColor(Qt::darkGray));
}

void TestBoardView::winLine_data()
{
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("shown");
    QTest::newRow("drawn") << int(alNothing) << true;
    QTest::newRow("kept over an ordinary repaint") << int(alPlainRepaint) << true;
    QTest::newRow("cleared by the next board change") << int(alBoardChange) << false;
    // 400 wide keeps the same geometry, so only clearing removes the line.
    QTest::newRow("cleared by a resize") << int(alResize) << false;
}

void TestBoardView::winLine()
{
    QFETCH(int, after);
    QFETCH(bool, shown);
    // 1 holds (1,1)..(4,1), 2 holds (1,2)..(3,2).
    const TBoard board = TBoard::FromMoves("1122334");
    TShownView view(&board);
    QVERIFY(view.Exposed);
    std::vector<QRect> marked;
    QVERIFY(board.HasFourInRow(cvLocal, [&](int col1, int row1, int col2, int row2) {
        marked.emplace_back(QPoint(col1, row1), QPoint(col2, row2));
        view.View.DrawWinLine(col1, row1, col2, row2);
    }));
    QCOMPARE(marked, std::vector<QRect>{QRect(QPoint(1, 1), QPoint(4, 1))});
    if (after == alPlainRepaint)
        view.View.repaint();
    else if (after == alBoardChange)
        view.View.RepaintNow();
    else if (after == alResize)
        view.View.resize(400, kH);

    const QImage image = view.View.grab().toImage();
    // Inside the hole of (2,1): black only in the line's three rows, 323 to 325.
    QVERIFY(!AnyBlack(image, QRect(70, 318, 31, 5)));
    QVERIFY(!AnyBlack(image, QRect(70, 326, 31, 4)));
    QCOMPARE(AnyBlack(image, QRect(70, 323, 31, 3)), shown);
    if (!shown)
        return;
    // From anchor (33,324) to anchor (201,324), solid between the round caps.
    QCOMPARE(image.pixelColor(33, 324).toRgb(), kBlack);
    QCOMPARE(image.pixelColor(201, 324).toRgb(), kBlack);
    QCOMPARE(image.pixelColor(28, 324).toRgb(), kYellow);
    QCOMPARE(image.pixelColor(206, 324).toRgb(), kYellow);
    const QImage band = image.copy(34, 323, 167, 3);
    QImage black(band.size(), band.format());
    black.fill(kBlack);
    QCOMPARE(band, black);
}

void TestBoardView::fiveInRowKeepsBothLines()
{
    // 1 holds (1,1)..(5,1): two windows of four, (1,1)-(4,1) then (2,1)-(5,1).
    const TBoard board = TBoard::FromMoves("112233445");
    TShownView shown(&board);
    QVERIFY(shown.Exposed);
    int lines = 0;
    board.HasFourInRow(cvLocal, [&](int col1, int row1, int col2, int row2) {
        ++lines;
        shown.View.DrawWinLine(col1, row1, col2, row2);
    });
    QCOMPARE(lines, 2);
    const QImage image = shown.View.grab().toImage();
    QCOMPARE(image.pixelColor(40, 324).toRgb(), kBlack);   // only on the first line
    QCOMPARE(image.pixelColor(250, 324).toRgb(), kBlack);  // only on the second
    QCOMPARE(image.pixelColor(262, 324).toRgb(), kYellow);
}

QTEST_MAIN(TestBoardView)
#include "test_boardview.moc"
