#include "engine/Solver.h"

#include <algorithm>
#include <array>
#include <bit>

namespace {
constexpr int kCells = TPosition::kWidth * TPosition::kHeight;
// Table values: 1..37 are upper bounds (score - kMinScore + 1); from kLowerBoundBase on, lower
// bounds (score - kMinScore + kLowerBoundBase). 0 means no entry.
constexpr int kLowerBoundBase = TPosition::kMaxScore - TPosition::kMinScore + 2;

// Moves sorted by how many fours they threaten; equal scores keep centre-first order.
class TMoveSorter
{
public:
    void Add(std::uint64_t move, int score)
    {
        int pos = Size++;
        for (; pos && Entries[pos - 1].Score > score; --pos)
            Entries[pos] = Entries[pos - 1];
        Entries[pos] = {move, score};
    }
    std::uint64_t Next() { return Size ? Entries[--Size].Move : 0; }

private:
    struct TEntry { std::uint64_t Move; int Score; };
    std::array<TEntry, TPosition::kWidth> Entries{};
    int Size = 0;
};
}  // namespace

// Bounds of scores by position key. The key has 49 bits; storing its low 32 bits at an
// index modulo an odd size above 2^17 identifies it exactly (the two moduli are coprime).
class TSolver::TTable
{
public:
    explicit TTable(int log2Entries) : Size((std::size_t{1} << log2Entries) + 1), Keys(Size), Values(Size) {}
    void Clear()
    {
        std::fill(Keys.begin(), Keys.end(), 0u);
        std::fill(Values.begin(), Values.end(), std::int8_t{0});
    }
    void Put(std::uint64_t key, int value)
    {
        const std::size_t i = key % Size;
        Keys[i] = static_cast<std::uint32_t>(key);
        Values[i] = static_cast<std::int8_t>(value);
    }
    int Get(std::uint64_t key) const
    {
        const std::size_t i = key % Size;
        return Keys[i] == static_cast<std::uint32_t>(key) ? Values[i] : 0;
    }

private:
    std::size_t Size;
    std::vector<std::uint32_t> Keys;
    std::vector<std::int8_t> Values;
};

TSolver::TSolver(int log2Entries) : Table(std::make_unique<TTable>(log2Entries)) {}
TSolver::~TSolver() = default;

void TSolver::ClearTable() { Table->Clear(); }

bool TSolver::ShouldStop()
{
    if ((NodeCount & 4095) == 0) {
        if ((StopFlag && StopFlag->load(std::memory_order_relaxed)) || std::chrono::steady_clock::now() >= Deadline)
            Aborted = true;
    }
    return Aborted;
}

// Precondition: the side to move cannot make four with its next stone.
int TSolver::Negamax(const TPosition& p, int alpha, int beta)
{
    ++NodeCount;
    if (ShouldStop())
        return 0;
    const std::uint64_t next = p.NonLosingMoves();
    if (next == 0)
        return -(kCells - p.MovesPlayed()) / 2;
    if (p.MovesPlayed() >= kCells - 2)
        return 0;

    const int lowest = -(kCells - 2 - p.MovesPlayed()) / 2;  // we cannot lose before our next move
    if (alpha < lowest) {
        alpha = lowest;
        if (alpha >= beta)
            return alpha;
    }
    int highest = (kCells - 1 - p.MovesPlayed()) / 2;  // we cannot win with this very move
    const std::uint64_t key = p.Key();
    if (const int stored = Table->Get(key)) {
        if (stored >= kLowerBoundBase) {
            if (const int lower = stored - kLowerBoundBase + TPosition::kMinScore; alpha < lower) {
                alpha = lower;
                if (alpha >= beta)
                    return alpha;
            }
        } else {
            highest = std::min(highest, stored + TPosition::kMinScore - 1);
        }
    }
    if (beta > highest) {
        beta = highest;
        if (alpha >= beta)
            return beta;
    }

    TMoveSorter moves;
    for (int i = TPosition::kWidth; i--;)
        if (const std::uint64_t move = next & posbits::ColumnMask(kOrder[i]))
            moves.Add(move, p.MoveScore(move));
    while (const std::uint64_t move = moves.Next()) {
        TPosition child = p;
        child.PlayBit(move);
        const int score = -Negamax(child, -beta, -alpha);
        if (Aborted)
            return 0;
        if (score >= beta) {
            Table->Put(key, score - TPosition::kMinScore + kLowerBoundBase);
            return score;
        }
        if (score > alpha)
            alpha = score;
    }
    Table->Put(key, alpha - TPosition::kMinScore + 1);
    return alpha;
}

int TSolver::SolveWithin(const TPosition& position, int alpha, int beta)
{
    Aborted = false;
    if (position.CanWinNext())
        return WinNowScore(position);
    int min = std::max(alpha, -(kCells - position.MovesPlayed()) / 2);
    int max = std::min(beta, (kCells + 1 - position.MovesPlayed()) / 2);
    // Null-window probes, nearer zero first: most positions are decided by a small margin.
    while (min < max) {
        int med = min + (max - min) / 2;
        if (med <= 0 && min / 2 < med)
            med = min / 2;
        else if (med >= 0 && max / 2 > med)
            med = max / 2;
        const int r = Negamax(position, med, med + 1);
        if (Aborted)
            return 0;
        if (r <= med)
            max = r;
        else
            min = r;
    }
    return min;
}

int TSolver::Solve(const TPosition& position) { return SolveWithin(position, -kCells, kCells); }

TSolver::TMove TSolver::BestMove(const TPosition& position)
{
    TMove best;
    Aborted = false;
    for (int col : kOrder) {
        if (!position.CanPlay(col))
            continue;
        if (position.IsWinningMove(col))
            return {col, WinNowScore(position)};
        if (best.Column < 0)
            best = {col, -kCells};
    }
    if (best.Column < 0)
        return best;
    // Only moves that do not lose at once can beat the first candidate's worst case. After
    // the first, one null-window probe tells whether a move beats the best so far.
    const std::uint64_t safe = position.NonLosingMoves();
    bool any = false;
    for (int col : kOrder) {
        if (!(safe & posbits::ColumnMask(col)))
            continue;
        TPosition child = position;
        child.Play(col);
        int score;
        if (!any) {
            score = -Solve(child);
        } else {
            if (-SolveWithin(child, -best.Score - 1, -best.Score) <= best.Score || Aborted)
                score = best.Score;
            else
                score = -SolveWithin(child, -kCells, -best.Score);
        }
        if (Aborted)
            return best;
        if (!any || score > best.Score)
            best = {col, score};
        any = true;
    }
    if (!any)  // every move loses next turn: the score of any of them
        best.Score = -(kCells - position.MovesPlayed()) / 2;
    return best;
}
