// Builds the opening book that lets the top level play perfectly from the first move.
//
//   make-opening-book BOOK MAX_PLY [THREADS]
//
// The book holds, for every position the top level can meet with the opponent playing
// anything, up to MAX_PLY stones, the position's exact score and that of the move the level
// plays there. It grows ply by ply and is saved after each, so a stopped run keeps every
// finished ply and a new run with the same file carries on where it stopped.
#include "engine/OpeningBook.h"
#include "engine/Score.h"
#include "engine/Solver.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace {
struct TDecision { TPosition Position; int Column = -1; int Score = 0; };

// The best move when the book knows every move's result (as it does for the first move once
// the answers to it are decided); the first in search order among equals.
std::optional<TSolver::TMove> FromChildren(const TPosition& p, const TOpeningBook& book, std::mutex& lock)
{
    std::lock_guard guard(lock);
    TSolver::TMove best{-1, -99};
    for (int col : TSolver::kCentreOut) {
        if (!p.CanPlay(col))
            continue;
        TPosition child = p;
        child.Play(col);
        const bool wins = p.IsWinningMove(col);
        const auto known = wins ? std::optional<int>(score::WinWithNextStone(p.MovesPlayed())) : book.Score(child);
        if (!known)
            return std::nullopt;
        if ((wins ? *known : -*known) > best.Score)
            best = {col, wins ? *known : -*known};
    }
    return best;
}

// The book's move in a canonical position, solving it first when the book lacks it.
void Decide(TDecision& d, TSolver& solver, const TOpeningBook& book, std::mutex& lock)
{
    {
        std::lock_guard guard(lock);
        d.Column = book.Move(d.Position);
        if (d.Column >= 0) {
            d.Score = *book.Score(d.Position);
            return;
        }
    }
    const auto known = FromChildren(d.Position, book, lock);
    const auto best = known ? *known : solver.BestMove(d.Position);
    d.Score = best.Score;
    d.Column = best.Column;
    std::lock_guard guard(lock);
    // Among equal moves the engine takes the first in search order that the book knows.
    for (int col : TSolver::kCentreOut) {
        if (col == best.Column)
            break;
        if (!d.Position.CanPlay(col))
            continue;
        TPosition child = d.Position;
        child.Play(col);
        if (book.Score(child) == -best.Score) {
            d.Column = col;
            break;
        }
    }
}

// The canonical positions where the opponent has just answered the level's move.
void Expand(const TDecision& d, std::set<std::uint64_t>& seen, std::vector<TPosition>& next)
{
    TPosition afterOwn = d.Position;
    if (afterOwn.IsWinningMove(d.Column))
        return;
    afterOwn.Play(d.Column);
    for (int col = 0; col < TPosition::kWidth; ++col) {
        if (!afterOwn.CanPlay(col) || afterOwn.IsWinningMove(col))
            continue;
        TPosition reply = afterOwn;
        reply.Play(col);
        if (reply.IsFull())
            continue;
        if (!reply.IsCanonical())
            reply = reply.Mirrored();
        if (seen.insert(reply.Key()).second)
            next.push_back(reply);
    }
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make-opening-book BOOK MAX_PLY [THREADS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int maxPly = std::atoi(argv[2]);
    const int threads = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;

    TOpeningBook book;
    book.Load(path);
    std::mutex lock;
    const auto start = std::chrono::steady_clock::now();

    // Plies 0 and 1 start the two strategies: the level moving first and moving second. The
    // answers to the first move go first: once they are known, the first move is too.
    std::vector<TPosition> current;
    for (int col = 0; col < TPosition::kWidth / 2 + 1; ++col) {
        TPosition p;
        p.Play(col);
        current.push_back(p.IsCanonical() ? p : p.Mirrored());
    }
    std::vector<TPosition> following{TPosition{}};
    std::vector<TPosition> thirdPly;
    for (int step = 0; step <= maxPly; ++step) {
        const int ply = step < 2 ? 1 - step : step;
        std::vector<TDecision> decisions;
        for (const auto& p : current)
            decisions.push_back({p});
        std::atomic<std::size_t> nextIndex{0};
        double slowest = 0;  // of this ply's decisions: how long a proof takes at this depth
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&] {
                TSolver solver(27);
                for (std::size_t i; (i = nextIndex++) < decisions.size();) {
                    const auto began = std::chrono::steady_clock::now();
                    Decide(decisions[i], solver, book, lock);
                    TPosition child = decisions[i].Position;
                    std::lock_guard guard(lock);
                    book.Add(child, decisions[i].Score);
                    if (!child.IsWinningMove(decisions[i].Column)) {
                        child.Play(decisions[i].Column);
                        book.Add(child, -decisions[i].Score);
                    }
                    // Slow decisions are saved at once, so a stopped run loses little.
                    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
                    slowest = std::max(slowest, took);
                    if (took > 10) {
                        book.Save(path);
                        std::printf("  ply %d, position %zu of %zu: score %d, column %d, %.0f s\n", ply, i + 1,
                            decisions.size(), decisions[i].Score, decisions[i].Column + 1, took);
                        std::fflush(stdout);
                    }
                }
            });
        for (auto& w : workers)
            w.join();
        std::set<std::uint64_t> seen;
        std::vector<TPosition> expanded;
        for (const auto& d : decisions)
            Expand(d, seen, expanded);
        if (!book.Save(path)) {
            std::fprintf(stderr, "make-opening-book: cannot write %s\n", path.c_str());
            return 1;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("ply %d: %zu positions decided, the slowest in %.2f s; book %zu entries, %.0f s\n", ply,
            decisions.size(), slowest, book.Size(), seconds);
        std::fflush(stdout);
        if (step == 0) {
            thirdPly = std::move(expanded);
            std::swap(current, following);
        } else if (step == 1) {
            current = std::move(expanded);
            following = std::move(thirdPly);
        } else {
            current = std::move(following);
            following = std::move(expanded);
        }
    }
    return 0;
}
