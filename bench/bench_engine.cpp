// The computer opponent's figures: solver speed (with a node count that changes whenever the
// search does), the time of a full analysis by stones played, the time each level takes per
// move, and the levels' results against each other.
#include "engine/Analysis.h"
#include "engine/Engine.h"
#include "engine/OpeningBook.h"
#include "engine/Solver.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {
using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point since) { return std::chrono::duration<double>(TClock::now() - since).count(); }

// A position after `plies` random moves in which nobody has won or can win at once.
TPosition RandomPosition(std::mt19937& rng, int plies)
{
    for (;;) {
        TPosition p;
        while (p.MovesPlayed() < plies) {
            const int col = static_cast<int>(rng() % 7);
            if (!p.CanPlay(col) || p.IsWinningMove(col))
                break;
            p.Play(col);
        }
        if (p.MovesPlayed() == plies && !p.CanWinNext())
            return p;
    }
}

struct TTimes
{
    std::vector<double> All;
    void Add(double s) { All.push_back(s); }
    double Mean() const { double t = 0; for (double s : All) t += s; return All.empty() ? 0 : t / All.size(); }
    double Quantile(double q) const
    {
        if (All.empty())
            return 0;
        std::vector<double> sorted = All;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(q * sorted.size()))];
    }
};

void SolverSpeed()
{
    std::mt19937 rng(2024);
    TSolver solver;
    std::uint64_t nodes = 0;
    const auto start = TClock::now();
    for (int i = 0; i < 40; ++i) {
        solver.ClearTable();
        const std::uint64_t before = solver.Nodes();
        solver.Solve(RandomPosition(rng, 14 + i % 8));
        nodes += solver.Nodes() - before;
    }
    const double s = Seconds(start);
    std::printf("solver: 40 positions of 14 to 21 stones in %.2f s, %llu nodes (the signature), %.2f M positions/s\n",
        s, static_cast<unsigned long long>(nodes), nodes / s / 1e6);
}

void AnalyseTimes(const TOpeningBook& book)
{
    std::mt19937 rng(7);
    for (int plies : {8, 12, 16, 20, 28}) {
        TTimes times;
        const int samples = plies <= 8 ? 5 : 20;
        for (int i = 0; i < samples; ++i) {
            const TPosition p = RandomPosition(rng, plies);
            const auto start = TClock::now();
            Analyse(p, book);
            times.Add(Seconds(start));
        }
        std::printf("analyse at %2d stones: mean %.4f s, max %.4f s over %d positions\n", plies, times.Mean(),
            times.Quantile(1.0), samples);
    }
}

struct TPairing { TLevel First; TLevel Second; };

struct TLevelStats { TTimes Times; std::array<double, 43> SlowestAtPly{}; int Unproven = 0; };

// Plays one game; returns 1 when the first engine wins, 2 when the second does, 0 when full.
int PlayGame(TEngine& a, TEngine& b, std::array<TLevelStats, 4>& stats)
{
    TPosition p;
    std::atomic<bool> stop{false};
    for (;;) {
        TEngine& mover = p.MovesPlayed() % 2 ? b : a;
        const auto start = TClock::now();
        const int col = mover.ChooseMove(p, stop);
        const double s = Seconds(start);
        auto& st = stats[static_cast<int>(mover.Level())];
        st.Times.Add(s);
        st.SlowestAtPly[p.MovesPlayed()] = std::max(st.SlowestAtPly[p.MovesPlayed()], s);
        if (p.IsWinningMove(col))
            return p.MovesPlayed() % 2 ? 2 : 1;
        p.Play(col);
        if (p.IsFull())
            return 0;
    }
}

void Tournament(int games, const TOpeningBook& book)
{
    std::array<TLevelStats, 4> stats;
    const std::vector<TPairing> pairings{{TLevel::Debutant, TLevel::Moyen}, {TLevel::Moyen, TLevel::Fort},
        {TLevel::Fort, TLevel::Parfait}, {TLevel::Moyen, TLevel::Parfait}, {TLevel::Debutant, TLevel::Parfait}};
    bool parfaitLost = false, parfaitMissedAWin = false, upsets = false;
    for (const auto& pairing : pairings) {
        int winsLower = 0, winsUpper = 0, full = 0, upperFirstWins = 0;
        for (int g = 0; g < games; ++g) {
            const bool upperFirst = g % 2;
            TEngine lower(pairing.First, book, 1000 + g), upper(pairing.Second, book, 5000 + g);
            const int r = upperFirst ? PlayGame(upper, lower, stats) : PlayGame(lower, upper, stats);
            stats[static_cast<int>(TLevel::Parfait)].Unproven += upper.UnprovenMoves();
            const bool upperWon = r == (upperFirst ? 1 : 2);
            const bool lowerWon = r == (upperFirst ? 2 : 1);
            winsUpper += upperWon;
            winsLower += lowerWon;
            full += r == 0;
            upperFirstWins += upperFirst && upperWon;
        }
        std::printf("%-8s vs %-8s: %3d - %3d, %d full boards (%s won %d of the %d games it started)\n",
            LevelName(pairing.First).data(), LevelName(pairing.Second).data(), winsLower, winsUpper, full,
            LevelName(pairing.Second).data(), upperFirstWins, games / 2);
        if (pairing.Second == TLevel::Parfait) {
            parfaitLost |= winsLower > 0;
            parfaitMissedAWin |= upperFirstWins < games / 2;
        }
        upsets |= winsUpper <= games / 2 && pairing.Second != TLevel::Parfait;
    }
    for (int level = 0; level < 4; ++level) {
        const auto& t = stats[level].Times;
        std::printf("%-8s per move: mean %.4f s, p99 %.4f s, max %.4f s over %zu moves\n",
            LevelName(static_cast<TLevel>(level)).data(), t.Mean(), t.Quantile(0.99), t.Quantile(1.0), t.All.size());
    }
    std::printf("Parfait's slowest move by stones on the board:");
    for (int ply = 0; ply < 42; ++ply)
        if (stats[3].SlowestAtPly[ply] > 0)
            std::printf(" %d:%.3f", ply, stats[3].SlowestAtPly[ply]);
    std::printf("\n");
    std::printf("Parfait's moves not proven within the time allowed: %d of %zu\n", stats[3].Unproven,
        stats[3].Times.All.size());
    std::printf("target: Parfait never loses: %s\n", parfaitLost ? "lost a game" : "no loss");
    std::printf("target: Parfait wins every game it starts: %s\n", parfaitMissedAWin ? "missed a win" : "all won");
    std::printf("target: each level beats the one below in most games: %s\n", upsets ? "no" : "yes");
    std::printf("target: Parfait p99 per move <= 1 s: %.3f s\n", stats[3].Times.Quantile(0.99));
}
}  // namespace

int main(int argc, char** argv)
{
    const TOpeningBook book = LoadOpeningBook(std::filesystem::absolute(argv[0]).parent_path().string());
    std::printf("opening book: %zu positions up to %d stones\n", book.Size(), book.DeepestPly());
    SolverSpeed();
    AnalyseTimes(book);
    Tournament(argc > 1 ? std::atoi(argv[1]) : 100, book);
    return 0;
}
