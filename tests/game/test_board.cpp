#include "game/Board.h"

#include <QStringList>
#include <QTest>

#include <climits>

namespace {

// Every line the scan marks, in order: "11-41 21-51"; flags a result that disagrees with the marks.
QString Marks(const TBoard& board, std::int32_t value)
{
    QStringList lines;
    const bool found = board.HasFourInRow(value, [&](int c1, int r1, int c2, int r2) {
        lines << QStringLiteral("%1%2-%3%4").arg(c1).arg(r1).arg(c2).arg(r2);
    });
    return found == !lines.isEmpty() ? lines.join(u' ') : QStringLiteral("result disagrees");
}

}  // namespace

class TestBoard : public QObject
{
    Q_OBJECT

private slots:
    void fourInRow_data()
    {
        QTest::addColumn<QByteArray>("moves");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("marks");
        QTest::newRow("/four/empty-cells-are-no-line") << QByteArray() << 0 << QString();
        QTest::newRow("/four/five-in-row/1") << QByteArray("1122334455") << 1 << "11-41 21-51";
        QTest::newRow("/four/five-in-row/2") << QByteArray("1122334455") << 2 << "12-42 22-52";
        QTest::newRow("/four/vertical-before-horizontal") << QByteArray("1141124242235373354") << 1 << "41-44 14-44";
        QTest::newRow("/four/vertical/column7-top") << QByteArray("17277172737") << 1 << "73-76";
        QTest::newRow("/four/diagonal/falling-from-4-4") << QByteArray("56547464514") << 1 << "44-71";
        QTest::newRow("/four/diagonal/rising-from-4-3") << QByteArray("5176646446677775755") << 1 << "43-76";
        QTest::newRow("/four/mixed/horizontal") << QByteArray("14273") << 1 << QString();
        QTest::newRow("/four/mixed/vertical") << QByteArray("171711") << 2 << QString();
        QTest::newRow("/four/mixed/full-board") << QByteArray("335436335145221263644662511546412177257777") << 1
                                                << QString();
    }
    void fourInRow()
    {
        QFETCH(QByteArray, moves);
        QFETCH(int, value);
        QTEST(Marks(TBoard::FromMoves(moves.toStdString()), value), "marks");
    }

    void everyWindowInScanOrder()
    {
        TBoard board;
        for (int col = 1; col <= kColumns; ++col)
            for (int row = 1; row <= kRows; ++row)
                board.SetCell(col, row, cvRemote);
        QStringList lines = Marks(board, cvRemote).split(u' ');
        QCOMPARE(lines.size(), 69);
        // Each direction's first, second and last window: columns outside, rows inside.
        const std::pair<int, const char*> windows[] = {{0, "11-14"}, {1, "12-15"}, {20, "73-76"}, {21, "11-41"},
                                                       {22, "12-42"}, {44, "46-76"}, {45, "11-44"}, {46, "12-45"},
                                                       {56, "43-76"}, {57, "14-41"}, {58, "15-42"}, {68, "46-73"}};
        for (const auto& [index, line] : windows)
            QCOMPARE(lines.at(index), QString::fromLatin1(line));
        QCOMPARE(lines.removeDuplicates(), 0);
    }

    // A press may place on the lowest empty cell of a column, and the peer's drop lands there.
    void placeAndDrop_data()
    {
        QTest::addColumn<QByteArray>("moves");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("dropped");
        QTest::newRow("/place/bottom") << QByteArray() << 1 << 1 << true << 1;
        QTest::newRow("/place/on-top") << QByteArray("33") << 3 << 3 << true << 3;
        QTest::newRow("/place/floating") << QByteArray("33") << 3 << 4 << false << 3;
        QTest::newRow("/place/occupied") << QByteArray("33") << 3 << 2 << false << 3;
        QTest::newRow("/place/top-row") << QByteArray("77777") << 7 << 6 << true << 6;
        QTest::newRow("/place/full-column") << QByteArray("777777") << 7 << 6 << false << 0;
        QTest::newRow("/place/row-7") << QByteArray("777777") << 7 << 7 << false << 0;
        QTest::newRow("/place/row-0") << QByteArray() << 1 << 0 << false << 1;
        QTest::newRow("/place/column-0") << QByteArray() << 0 << 1 << false << 0;
        QTest::newRow("/place/column-8") << QByteArray() << 8 << 1 << false << 0;
        QTest::newRow("/place/int-min") << QByteArray("44") << INT_MIN << 1 << false << 0;
        QTest::newRow("/place/int-max") << QByteArray("44") << INT_MAX << 1 << false << 0;
    }
    void placeAndDrop()
    {
        QFETCH(QByteArray, moves);
        QFETCH(int, col);
        QFETCH(int, row);
        QFETCH(int, dropped);
        TBoard board = TBoard::FromMoves(moves.toStdString());
        TBoard expected = board;
        if (dropped != 0)
            expected.SetCell(col, dropped, cvRemote);
        QTEST(board.CanPlace(col, row), "allowed");
        QCOMPARE(board.Drop(col, cvRemote), dropped);
        QCOMPARE(board, expected);
    }
};

QTEST_GUILESS_MAIN(TestBoard)
#include "test_board.moc"
