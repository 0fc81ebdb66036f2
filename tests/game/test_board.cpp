#include "game/Board.h"
#include "support/FourReference.h"

#include <QRandomGenerator>
#include <QTest>


class TestBoard : public QObject
{
    Q_OBJECT

private slots:
    void fourInRowAgainstReference_data()
    {
        QTest::addColumn<int>("fill");  // percent of random cells filled; 100: one value everywhere
        QTest::newRow("sparse") << 30;
        QTest::newRow("dense") << 80;
        QTest::newRow("one value everywhere") << 100;
    }

    // Random boards, every line the scan marks compared with the reference's list.
    void fourInRowAgainstReference()
    {
        QFETCH(int, fill);
        QRandomGenerator random(fill);
        for (int round = 0; round < 3000; ++round) {
            TBoard board;
            for (int col = 1; col <= kColumns; ++col)
                for (int row = 1; row <= kRows; ++row)
                    if (fill == 100 || int(random.bounded(100)) < fill)
                        board.SetCell(col, row, fill == 100 ? cvRemote : 1 + random.bounded(2));
            for (const std::int32_t value : {cvLocal, cvRemote, cvEmpty}) {
                std::vector<std::array<int, 4>> marks;
                const bool found = board.HasFourInRow(value, [&](int c1, int r1, int c2, int r2) { marks.push_back({c1, r1, c2, r2}); });
                std::sort(marks.begin(), marks.end());
                QCOMPARE(marks, value == cvEmpty ? decltype(marks)() : ReferenceFours(board, value));
                QCOMPARE(found, !marks.empty());
            }
        }
    }

    void placeAndDrop_data()
    {
        QTest::addColumn<QByteArray>("moves");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("dropped");
        QTest::newRow("/place/on-top") << QByteArray("33") << 3 << 3 << true << 3;
        QTest::newRow("/place/floating") << QByteArray("33") << 3 << 4 << false << 3;
        QTest::newRow("/place/occupied") << QByteArray("33") << 3 << 2 << false << 3;
        QTest::newRow("/place/top-row") << QByteArray("77777") << 7 << 6 << true << 6;
        QTest::newRow("/place/full-column") << QByteArray("777777") << 7 << 6 << false << 0;
        QTest::newRow("/place/row-0") << QByteArray() << 1 << 0 << false << 1;
        QTest::newRow("/place/column-8") << QByteArray() << 8 << 1 << false << 0;
        QTest::newRow("/place/full-board") << QByteArray("547125662261271266215743771576315353334444") << 1 << 6 << false << 0;
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
        QCOMPARE(board.FreeRow(col), dropped);
        QCOMPARE(board.IsFull(), moves.size() == kColumns * kRows);
        QCOMPARE(board.Drop(col, cvRemote), dropped);
        QCOMPARE(board, expected);
    }
};

QTEST_GUILESS_MAIN(TestBoard)
#include "test_board.moc"
