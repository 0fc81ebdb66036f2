#include "engine/Analysis.h"
#include "engine/Engine.h"
#include "engine/OpeningBook.h"
#include "engine/Solver.h"
#include "game/Board.h"

#include <QTest>

#include <random>
#include <string>

namespace {

// A random game's moves up to `plies` stones; empty when it ended in a four on the way.
std::string RandomGame(std::mt19937& rng, int plies)
{
    std::string moves;
    for (TPosition p; static_cast<int>(moves.size()) < plies;) {
        const int col = static_cast<int>(rng() % 7);
        if (!p.CanPlay(col))
            continue;
        if (p.IsWinningMove(col))
            return {};
        p.Play(col);
        moves += static_cast<char>('1' + col);
    }
    return moves;
}

// The game's own board as an independent referee: plain alpha-beta over TBoard, scores in
// the engine's convention (22 minus the winner's stones at its four).
int Reference(TBoard& board, int stones, std::int32_t side, int alpha, int beta)
{
    if (stones == 42)
        return 0;
    for (int col = 1; col <= 7; ++col) {
        const int row = board.Drop(col, side);
        if (row == 0)
            continue;
        const int score = board.HasFourInRow(side) ? 22 - (stones + 2) / 2
                                                   : -Reference(board, stones + 1, 3 - side, -beta, -alpha);
        board.SetCell(col, row, cvEmpty);
        alpha = std::max(alpha, score);
        if (alpha >= beta)
            break;
    }
    return alpha;
}

TPosition Position(const char* moves) { return *TPosition::FromMoves(moves); }

}  // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Book = LoadOpeningBook(QCoreApplication::applicationDirPath().toStdString()); }

    void solverMatchesReference()
    {
        std::mt19937 rng(11);
        TSolver solver;
        for (int checked = 0; checked < 25;) {
            const std::string moves = RandomGame(rng, 30 + static_cast<int>(rng() % 4));
            if (moves.empty())
                continue;
            TBoard board = TBoard::FromMoves(moves);
            const int expected = Reference(board, static_cast<int>(moves.size()), moves.size() % 2 ? cvRemote : cvLocal, -99, 99);
            const TPosition p = Position(moves.c_str());
            QCOMPARE(solver.Solve(p), expected);
            const auto best = solver.BestMove(p);
            QCOMPARE(best.Score, expected);
            QCOMPARE(Analyse(p, Book).Columns[best.Column], std::optional<int>(expected));
            ++checked;
        }
    }

    void analyse_data()
    {
        QTest::addColumn<QByteArray>("moves");
        QTest::addColumn<QString>("line");
        QTest::newRow("empty board") << QByteArray() << "1: -2 -1 0 1 0 -1 -2";
        QTest::newRow("after a four") << QByteArray("4455667") << "-18: . . . . . . .";
        QTest::newRow("full board") << QByteArray("547125662261271266215743771576315353334444") << "0: . . . . . . .";
    }
    void analyse()
    {
        QFETCH(QByteArray, moves);
        // The empty board is solved from the opening book: hours without it.
        QTEST(QString::fromStdString(FormatAnalysis(Analyse(Position(moves.constData()), Book))), "line");
    }

    // Every level takes a win; from "Moyen" up none hands the opponent one it could avoid.
    void levelRules_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QByteArray>("moves");
        QTest::addColumn<QByteArray>("allowed");  // 0-based columns
        for (int level = 0; level < 4; ++level) {
            const QByteArray name = LevelName(static_cast<TLevel>(level)).data();
            QTest::newRow(name + " wins across") << level << QByteArray("445566") << QByteArray("26");
            QTest::newRow(name + " wins upward") << level << QByteArray("121212") << QByteArray("0");
            QTest::newRow(name + " wins before blocking") << level << QByteArray("1213142") << QByteArray("4");
            if (level == 0)
                continue;
            QTest::newRow(name + " blocks a column") << level << QByteArray("525574366263655") << QByteArray("5");
            QTest::newRow(name + " blocks a row") << level << QByteArray("53322761354513556") << QByteArray("3");
            QTest::newRow(name + " blocks a diagonal") << level << QByteArray("17232152111427") << QByteArray("2");
            QTest::newRow(name + " never plays under a four") << level << QByteArray("41224337136315") << QByteArray("012456");
        }
    }
    void levelRules()
    {
        QFETCH(int, level);
        QFETCH(QByteArray, moves);
        QFETCH(QByteArray, allowed);
        std::atomic<bool> stop{false};
        // The lower levels choose at random among near moves: every seed must keep the rule.
        for (std::uint64_t seed = 0; seed < (level == int(TLevel::Parfait) ? 1 : 12); ++seed) {
            TEngine engine(static_cast<TLevel>(level), Book, seed);
            const int col = engine.ChooseMove(Position(moves.constData()), stop);
            QVERIFY2(allowed.contains(static_cast<char>('0' + col)), qPrintable(QString::number(col)));
        }
    }

    // Wherever "Parfait" plays, its move keeps the position's exact value: in the first moves
    // from the book (the centre, and after an opening in column 2 the third column, not the centre).
    void perfectKeepsTheValue()
    {
        std::mt19937 rng(5);
        TEngine perfect(TLevel::Parfait, Book);
        std::atomic<bool> stop{false};
        QCOMPARE(perfect.ChooseMove(Position(""), stop), 3);
        QCOMPARE(perfect.ChooseMove(Position("2"), stop), 2);
        for (int checked = 0; checked < 40;) {
            const std::string moves = RandomGame(rng, 18 + static_cast<int>(rng() % 10));
            if (moves.empty())
                continue;
            const TPosition p = Position(moves.c_str());
            const TAnalysis exact = Analyse(p, Book);
            const int col = perfect.ChooseMove(p, stop);
            QVERIFY(col >= 0 && col < 7);
            QCOMPARE(exact.Columns[col], std::optional<int>(exact.Score));
            ++checked;
        }
    }

    // The book's entries are what the solver finds; the deepest are cheap enough to recheck.
    void bookAgreesWithSolver()
    {
        QVERIFY(Book.Size() > 0);
        std::mt19937 rng(3);
        TSolver solver;
        std::vector<std::pair<std::uint64_t, std::int8_t>> deepest;
        for (const auto& entry : Book.AllEntries())
            if (TPosition::FromKey(entry.first).MovesPlayed() == Book.DeepestPly())
                deepest.push_back(entry);
        for (int i = 0; i < 2; ++i) {
            const auto& [key, score] = deepest[rng() % deepest.size()];
            const TPosition p = TPosition::FromKey(key);
            QCOMPARE(p.Key(), key);
            QCOMPARE(solver.Solve(p), int(score));
        }
    }

private:
    TOpeningBook Book;
};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
