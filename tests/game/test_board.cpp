#include "game/Board.h"

#include <QStringList>
#include <QTest>

#include <climits>
#include <stdexcept>

namespace {

// Runs the scan and spells out every line it marks, in order: "(1,1)-(4,1) (2,1)-(5,1)".
QString Marks(const TBoard& board, std::int32_t value, bool* found = nullptr)
{
    QStringList lines;
    const bool result = board.HasFourInRow(value, [&](int c1, int r1, int c2, int r2) {
        lines << QStringLiteral("(%1,%2)-(%3,%4)").arg(c1).arg(r1).arg(c2).arg(r2);
    });
    if (found)
        *found = result;
    return lines.join(u' ');
}

int PieceCount(const TBoard& board)
{
    int count = 0;
    for (int col = 1; col <= kColumns; ++col)
        for (int row = 1; row <= kRows; ++row)
            count += board.Cell(col, row) != cvEmpty;
    return count;
}

TBoard FullBoard(std::int32_t value)
{
    TBoard board;
    for (int col = 1; col <= kColumns; ++col)
        for (int row = 1; row <= kRows; ++row)
            board.SetCell(col, row, value);
    return board;
}

}  // namespace

class TestBoard : public QObject
{
    Q_OBJECT

private slots:
    void fromMoves();
    void fromMovesRejectsBadInput_data();
    void fromMovesRejectsBadInput();
    void fourInRow_data();
    void fourInRow();
    void oneMoveCompletesTwoLines();
    void fullBoardOfOneValueMarksEveryWindow();
    void scanWithoutSink();
    void canPlace_data();
    void canPlace();
    void drop_data();
    void drop();
    void outsideCellsDoNotExist();
    void clear();
};

void TestBoard::fromMoves()
{
    const TBoard board = TBoard::FromMoves("4455667");
    QCOMPARE(board.Cell(4, 1), cvLocal);
    QCOMPARE(board.Cell(4, 2), cvRemote);
    QCOMPARE(board.Cell(5, 1), cvLocal);
    QCOMPARE(board.Cell(6, 2), cvRemote);
    QCOMPARE(board.Cell(7, 1), cvLocal);
    QCOMPARE(PieceCount(board), 7);
}

void TestBoard::fromMovesRejectsBadInput_data()
{
    QTest::addColumn<QByteArray>("moves");
    QTest::newRow("/moves/zero") << QByteArray("410");
    QTest::newRow("/moves/eight") << QByteArray("8");
    QTest::newRow("/moves/letter") << QByteArray("44a");
    QTest::newRow("/moves/space") << QByteArray("4 4");
    QTest::newRow("/moves/seventh-piece") << QByteArray("3333333");
}

void TestBoard::fromMovesRejectsBadInput()
{
    QFETCH(QByteArray, moves);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, TBoard::FromMoves(moves.toStdString()));
}

void TestBoard::fourInRow_data()
{
    QTest::addColumn<QByteArray>("moves");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("marks");

    QTest::newRow("/rules/four/empty/1") << QByteArray("") << 1 << QString();
    QTest::newRow("/rules/four/empty/2") << QByteArray("") << 2 << QString();
    QTest::newRow("/rules/four/horizontal/five-in-row-1")
        << QByteArray("1122334455") << 1 << QStringLiteral("(1,1)-(4,1) (2,1)-(5,1)");
    QTest::newRow("/rules/four/horizontal/five-in-row-2")
        << QByteArray("1122334455") << 2 << QStringLiteral("(1,2)-(4,2) (2,2)-(5,2)");
    QTest::newRow("/rules/four/horizontal/gnome") << QByteArray("4455667") << 1
                                                  << QStringLiteral("(4,1)-(7,1)");
    QTest::newRow("/rules/four/vertical/column7-top") << QByteArray("17277172737") << 1
                                                      << QStringLiteral("(7,3)-(7,6)");
    QTest::newRow("/rules/four/vertical/other-value") << QByteArray("17277172737") << 2
                                                      << QString();
    QTest::newRow("/rules/four/diagonal/falling-from-4-4")
        << QByteArray("56547464514") << 1 << QStringLiteral("(4,4)-(7,1)");
    QTest::newRow("/rules/four/diagonal/rising-from-4-3")
        << QByteArray("5176646446677775755") << 1 << QStringLiteral("(4,3)-(7,6)");
    QTest::newRow("/rules/four/diagonal/rising-other-value")
        << QByteArray("5176646446677775755") << 2 << QString();
    QTest::newRow("/rules/four/mixed/horizontal-1") << QByteArray("14273") << 1 << QString();
    QTest::newRow("/rules/four/mixed/horizontal-2") << QByteArray("14273") << 2 << QString();
    QTest::newRow("/rules/four/mixed/vertical-1") << QByteArray("171711") << 1 << QString();
    QTest::newRow("/rules/four/mixed/vertical-2") << QByteArray("171711") << 2 << QString();
    QTest::newRow("/rules/four/full-board-drawn/1")
        << QByteArray("335436335145221263644662511546412177257777") << 1 << QString();
    QTest::newRow("/rules/four/full-board-drawn/2")
        << QByteArray("335436335145221263644662511546412177257777") << 2 << QString();
}

void TestBoard::fourInRow()
{
    QFETCH(QByteArray, moves);
    QFETCH(int, value);
    QFETCH(QString, marks);

    const TBoard board = TBoard::FromMoves(moves.toStdString());
    bool found = false;
    QCOMPARE(Marks(board, value, &found), marks);
    QCOMPARE(found, !marks.isEmpty());
}

void TestBoard::oneMoveCompletesTwoLines()
{
    const char* before = "114112424223537335";
    QCOMPARE(Marks(TBoard::FromMoves(before), cvLocal), QString());

    const TBoard after = TBoard::FromMoves(std::string(before) + "4");
    QCOMPARE(Marks(after, cvLocal), QStringLiteral("(4,1)-(4,4) (1,4)-(4,4)"));
}

void TestBoard::fullBoardOfOneValueMarksEveryWindow()
{
    const TBoard board = FullBoard(cvRemote);
    QStringList lines = Marks(board, cvRemote).split(u' ');
    QCOMPARE(lines.size(), 69);
    QCOMPARE(lines.first(), QStringLiteral("(1,1)-(1,4)"));
    QCOMPARE(lines.at(20), QStringLiteral("(7,3)-(7,6)"));
    QCOMPARE(lines.at(21), QStringLiteral("(1,1)-(4,1)"));
    QCOMPARE(lines.at(44), QStringLiteral("(4,6)-(7,6)"));
    QCOMPARE(lines.at(45), QStringLiteral("(1,1)-(4,4)"));
    QCOMPARE(lines.at(56), QStringLiteral("(4,3)-(7,6)"));
    QCOMPARE(lines.at(57), QStringLiteral("(1,4)-(4,1)"));
    QCOMPARE(lines.last(), QStringLiteral("(4,6)-(7,3)"));
    QCOMPARE(lines.removeDuplicates(), qsizetype(0));
    QCOMPARE(Marks(board, cvLocal), QString());
}

void TestBoard::scanWithoutSink()
{
    QVERIFY(TBoard::FromMoves("4455667").HasFourInRow(cvLocal));
    QVERIFY(!TBoard::FromMoves("4455667").HasFourInRow(cvRemote));
    QVERIFY(!TBoard().HasFourInRow(cvEmpty));
}

void TestBoard::canPlace_data()
{
    QTest::addColumn<QByteArray>("moves");
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("/rules/place/empty-bottom") << QByteArray("") << 1 << 1 << true;
    QTest::newRow("/rules/place/empty-floating") << QByteArray("") << 1 << 2 << false;
    QTest::newRow("/rules/place/on-top") << QByteArray("33") << 3 << 3 << true;
    QTest::newRow("/rules/place/above-gap") << QByteArray("33") << 3 << 4 << false;
    QTest::newRow("/rules/place/occupied") << QByteArray("33") << 3 << 2 << false;
    QTest::newRow("/rules/place/top-row") << QByteArray("77777") << 7 << 6 << true;
    QTest::newRow("/rules/place/full-column") << QByteArray("777777") << 7 << 6 << false;
    QTest::newRow("/rules/place/column-0") << QByteArray("") << 0 << 1 << false;
    QTest::newRow("/rules/place/column-8") << QByteArray("") << 8 << 1 << false;
    QTest::newRow("/rules/place/row-0") << QByteArray("") << 1 << 0 << false;
    QTest::newRow("/rules/place/row-7") << QByteArray("777777") << 7 << 7 << false;
}

void TestBoard::canPlace()
{
    QFETCH(QByteArray, moves);
    QFETCH(int, col);
    QFETCH(int, row);
    QFETCH(bool, allowed);
    QCOMPARE(TBoard::FromMoves(moves.toStdString()).CanPlace(col, row), allowed);
}

void TestBoard::drop_data()
{
    QTest::addColumn<QByteArray>("moves");
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");

    QTest::newRow("/rules/drop/empty-column") << QByteArray("") << 4 << 1;
    QTest::newRow("/rules/drop/on-two") << QByteArray("33") << 3 << 3;
    QTest::newRow("/rules/drop/last-cell") << QByteArray("11111") << 1 << 6;
    QTest::newRow("/rules/drop/full-column") << QByteArray("111111") << 1 << 0;
    QTest::newRow("/rules/drop/column-0") << QByteArray("44") << 0 << 0;
    QTest::newRow("/rules/drop/column-8") << QByteArray("44") << 8 << 0;
    QTest::newRow("/rules/drop/negative") << QByteArray("44") << -1 << 0;
    QTest::newRow("/rules/drop/int-min") << QByteArray("44") << INT_MIN << 0;
    QTest::newRow("/rules/drop/int-max") << QByteArray("44") << INT_MAX << 0;
}

void TestBoard::drop()
{
    QFETCH(QByteArray, moves);
    QFETCH(int, col);
    QFETCH(int, row);

    const TBoard before = TBoard::FromMoves(moves.toStdString());
    TBoard board = before;
    QCOMPARE(board.Drop(col, cvRemote), row);
    if (row == 0) {
        QCOMPARE(board, before);
        return;
    }
    QCOMPARE(board.Cell(col, row), cvRemote);
    QCOMPARE(PieceCount(board), PieceCount(before) + 1);
}

void TestBoard::outsideCellsDoNotExist()
{
    TBoard board = FullBoard(cvLocal);
    const TBoard before = board;
    for (auto [col, row] : {std::pair{0, 1}, {8, 1}, {1, 0}, {1, 7}, {INT_MIN, INT_MAX}}) {
        QCOMPARE(board.Cell(col, row), cvEmpty);
        board.SetCell(col, row, cvRemote);
    }
    board.SetCell(4, 4, 3);
    board.SetCell(4, 4, -1);
    QCOMPARE(board, before);
    QCOMPARE(board.Drop(4, cvLocal), 0);
    QCOMPARE(TBoard().Drop(4, 7), 0);
}

void TestBoard::clear()
{
    TBoard board = TBoard::FromMoves("335436335145221263644662511546412177257777");
    QCOMPARE(PieceCount(board), 42);
    board.Clear();
    QCOMPARE(PieceCount(board), 0);
    QCOMPARE(board, TBoard());
    QVERIFY(board.CanPlace(1, 1));
}

QTEST_GUILESS_MAIN(TestBoard)
#include "test_board.moc"
