#include "engine/Engine.h"

#include "engine/HeuristicSearch.h"
#include "engine/OpeningBook.h"
#include "engine/Score.h"
#include "engine/Solver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <limits>
#include <random>
#include <string>
#include <vector>

using heuristic::kProven;
using heuristic::ScoreMoves;
using heuristic::TCandidate;
using heuristic::TSearch;

namespace {
// How long the perfect level may search a position the opening book does not hold. Beyond the
// book a proof takes under a second on a two-core desktop; the margin keeps slower or busy
// machines proving rather than guessing.
constexpr std::chrono::milliseconds kPerfectThinkingTime{3000};

int Immediate(const TPosition& p)
{
    for (int col : TSolver::kCentreOut)
        if (p.CanPlay(col) && p.IsWinningMove(col))
            return col;
    return -1;
}
}  // namespace

std::optional<TLevel> LevelFromName(std::string_view name)
{
    // Lower case, with "é" and "É" read as "e", so "debutant" and "DÉBUTANT" both match.
    const auto fold = [](std::string_view text) {
        std::string folded;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text.substr(i, 2) == "é" || text.substr(i, 2) == "É") {
                folded += 'e';
                ++i;
            } else {
                folded += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
            }
        }
        return folded;
    };
    for (std::size_t i = 0; i < kLevelNames.size(); ++i)
        if (fold(kLevelNames[i]) == fold(name))
            return static_cast<TLevel>(i);
    return std::nullopt;
}

struct TEngine::TImpl
{
    TImpl(TLevel level, const TOpeningBook& book, std::uint64_t seed)
        : Level(level), Book(book), Random(seed)
    {
    }

    // Picks among moves scored within `tolerance` of the best, at random.
    int PickNear(const std::vector<TCandidate>& moves, int tolerance)
    {
        int best = std::numeric_limits<int>::min();
        for (const auto& m : moves)
            best = std::max(best, m.Score);
        std::vector<int> near;
        for (const auto& m : moves)
            if (m.Score >= best - tolerance && (m.Score > -kProven || m.Score == best))
                near.push_back(m.Column);
        return near[std::uniform_int_distribution<std::size_t>(0, near.size() - 1)(Random)];
    }

    int Beginner(const TPosition& p, const std::atomic<bool>& stop)
    {
        // Sees one move ahead and misjudges often: a beginner misses threats two moves away.
        TSearch search(stop, 1 << 16);
        return PickNear(ScoreMoves(p, 0, std::bernoulli_distribution(0.5)(Random), search), 12);
    }

    int Medium(const TPosition& p, const std::atomic<bool>& stop)
    {
        TSearch search(stop, 1 << 18);
        return PickNear(ScoreMoves(p, 3, true, search), 4);
    }

    int Strong(const TPosition& p, const std::atomic<bool>& stop)
    {
        // Deepens while the budget lasts and keeps the last complete depth's choice.
        constexpr std::uint64_t kBudget = 400'000;
        TSearch search(stop, kBudget);
        std::vector<TCandidate> last = ScoreMoves(p, 1, true, search);
        for (int depth = 3; depth < score::kCells - p.MovesPlayed() && !search.Aborted(); depth += 2) {
            auto moves = ScoreMoves(p, depth, true, search);
            if (!search.Aborted())
                last = std::move(moves);
        }
        return PickNear(last, 0);
    }

    int Perfect(const TPosition& p, const std::atomic<bool>& stop)
    {
        // The book and its tool reason about the canonical side of a mirror pair.
        if (!p.IsCanonical())
            return TPosition::kWidth - 1 - Perfect(p.Mirrored(), stop);
        if (const int col = Book.Move(p); col >= 0)
            return col;
        // Beyond the book the solver proves the best move, within the time a player will wait;
        // should it run out, the strong level's choice stands in (unproven).
        Solver.SetStopFlag(&stop);
        Solver.SetDeadline(std::chrono::steady_clock::now() + kPerfectThinkingTime);
        const auto best = Solver.BestMove(p);
        if (!Solver.Stopped() || stop)
            return best.Column;
        ++Unproven;
        return Strong(p, stop);
    }

    TLevel Level;
    const TOpeningBook& Book;
    std::mt19937_64 Random;
    TSolver Solver;
    int Unproven = 0;
};

TEngine::TEngine(TLevel level, const TOpeningBook& book, std::uint64_t seed)
    : Impl(std::make_unique<TImpl>(level, book, seed))
{
}
TEngine::~TEngine() = default;

TLevel TEngine::Level() const { return Impl->Level; }
int TEngine::UnprovenMoves() const { return Impl->Unproven; }

int TEngine::ChooseMove(const TPosition& position, const std::atomic<bool>& stop)
{
    if (position.IsFull() || position.LastMoverHasFour())
        return -1;
    if (const int win = Immediate(position); win >= 0)
        return win;
    switch (Impl->Level) {
    case TLevel::Debutant: return Impl->Beginner(position, stop);
    case TLevel::Moyen: return Impl->Medium(position, stop);
    case TLevel::Fort: return Impl->Strong(position, stop);
    case TLevel::Parfait: return Impl->Perfect(position, stop);
    }
    return -1;
}
