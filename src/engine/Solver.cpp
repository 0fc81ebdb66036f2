#include "engine/Solver.h"

#include "engine/Score.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// What the table knows of a position's score: it lies in [Low, High].
struct TRange
{
    int Low;
    int High;
};

// Threat sets hold a few cells: clearing the lowest bit in a loop beats a generic popcount on
// processors that lack the instruction, which the portable build must assume.
int CountCells(std::uint64_t set)
{
    int n = 0;
    for (; set; set &= set - 1)
        ++n;
    return n;
}

}  // namespace

// One cache line per bucket of ten positions (2^log2Bytes bytes in all, 8 MiB at least), so a look-up costs at most one miss. A key is
// first scrambled by a bijection of the 49-bit key space; its low bits choose the bucket and
// the rest, at most 32 bits, is kept: the two together are the whole key, so a position is
// never taken for another. A full bucket gives up a position left from an earlier root (it
// has fewer stones than the present one and cannot come back), else the one with the most
// stones, whose bound saved the least work.
class TSolver::TBoundTable
{
public:
    static constexpr std::uint8_t kAtMost = 64;
    static constexpr std::uint8_t kAtLeast = 128;

    explicit TBoundTable(int log2Bytes)
        : BucketBits(std::max(log2Bytes - 6, kKeyBits - 32))
        , Count(std::size_t{1} << BucketBits)
        // Zeroed by the system on first touch: a solver made for one analysis pays only for the
        // buckets it uses. One spare bucket leaves room to start on a cache line.
        , Memory(std::calloc(Count + 1, sizeof(TBucket)), &std::free)
    {
        if (!Memory)
            throw std::bad_alloc();
        const auto at = (reinterpret_cast<std::uintptr_t>(Memory.get()) + 63) & ~std::uintptr_t{63};
        Buckets = reinterpret_cast<TBucket*>(at);
    }

    void Clear() { std::memset(static_cast<void*>(Buckets), 0, Count * sizeof(TBucket)); }
    void SetRoot(int stones) { RootStones = static_cast<std::uint8_t>(stones); }

    // Returns the slot that holds the position, for Keep; -1 when none does.
    int Narrow(std::uint64_t key, TRange& range) const
    {
        const std::uint64_t h = Scrambled(key);
        const TBucket& bucket = Buckets[h & Mask()];
        const std::uint32_t rest = Rest(h);
        for (int i = 0; i < kWays; ++i) {
            if (bucket.Rest[i] != rest || bucket.Code[i] == 0)
                continue;
            const int value = (bucket.Code[i] & 63) + score::kWorst;
            if (bucket.Code[i] & kAtLeast)
                range.Low = std::max(range.Low, value);
            if (bucket.Code[i] & kAtMost)
                range.High = std::min(range.High, value);
            return i;
        }
        return -1;
    }

    // `kind`: kAtLeast, kAtMost or both (an exact score). `slot`: what Narrow returned.
    void Keep(std::uint64_t key, int slot, int stones, std::uint8_t kind, int value)
    {
        const std::uint64_t h = Scrambled(key);
        TBucket& bucket = Buckets[h & Mask()];
        if (slot < 0) {
            // Counted from the root, stale and empty slots wrap round to the largest distances.
            slot = 0;
            for (int i = 1; i < kWays; ++i)
                if (FromRoot(bucket, i) > FromRoot(bucket, slot))
                    slot = i;
        }
        bucket.Rest[slot] = Rest(h);
        bucket.Code[slot] = static_cast<std::uint8_t>(kind | (value - score::kWorst));
        bucket.Stones[slot] = static_cast<std::uint8_t>(stones + 1);
    }

private:
    static constexpr int kKeyBits = 49;
    static constexpr int kWays = 10;
    static constexpr std::uint64_t kKeySpace = (std::uint64_t{1} << kKeyBits) - 1;

    // All zero when empty.
    struct alignas(64) TBucket
    {
        std::uint32_t Rest[kWays];
        std::uint8_t Code[kWays];    // kind | (score - kWorst)
        std::uint8_t Stones[kWays];  // stones on the board plus one
    };

    // Each step maps the key space onto itself one to one; together they spread every key
    // bit over the low bits that pick the bucket.
    static std::uint64_t Scrambled(std::uint64_t key)
    {
        std::uint64_t h = key ^ (key >> 23);
        h = (h * 0x6C8E9CF570932BD5u) & kKeySpace;
        return h ^ (h >> 26);
    }
    std::uint64_t Mask() const { return Count - 1; }
    // What the bucket's place does not tell of the scrambled key.
    std::uint32_t Rest(std::uint64_t h) const { return static_cast<std::uint32_t>(h >> BucketBits); }
    std::uint8_t FromRoot(const TBucket& bucket, int i) const { return std::uint8_t(bucket.Stones[i] - 1 - RootStones); }

    int BucketBits;
    std::size_t Count;
    std::unique_ptr<void, void (*)(void*)> Memory;
    TBucket* Buckets = nullptr;
    std::uint8_t RootStones = 0;
};

TSolver::TSolver(int log2Bytes) : Table(std::make_unique<TBoundTable>(log2Bytes)) {}
TSolver::~TSolver() = default;

void TSolver::ClearTable() { Table->Clear(); }

bool TSolver::TimeToStop()
{
    if (StopFlag && StopFlag->load(std::memory_order_relaxed))
        return true;
    return Deadline != std::chrono::steady_clock::time_point::max() && std::chrono::steady_clock::now() >= Deadline;
}

namespace {

// A move to try and the rank it is tried in: the more cells the mover could then complete a
// four on, the sooner; among equals the column nearer the centre. (Counting the threats on the
// rows that parity favours double was tried: more nodes, not fewer.)
struct TCandidate
{
    std::uint64_t Cell;
    int Rank;
};

int RankOf(const TPosition& p, std::uint64_t cell, int centreOrder)
{
    const std::uint64_t threats = cells::Completions(p.MyStones() | cell) & ~(p.AllStones() | cell);
    return CountCells(threats) * 8 + (7 - centreOrder);
}

}  // namespace

int TSolver::Search(const TPosition& p, int alpha, int beta)
{
    if ((++NodeCount & 4095) == 0 && TimeToStop())
        Aborted = true;
    if (Aborted)
        return 0;
    const int played = p.MovesPlayed();
    const std::uint64_t safe = p.SafeDrops();
    if (!safe)
        return score::LostToNextStone(played);
    if (played >= score::kCells - 2)
        return 0;  // two cells left: the mover cannot make four and its stone is safe

    // Neither side makes four with its next stone, so the earliest four is two stones away.
    TRange range{score::LostToNextStone(played + 2), score::WinWithNextStone(played + 2)};
    // The table costs a likely cache miss: it is asked only when these bounds alone leave the
    // window open.
    const int slot = range.Low < beta && range.High > alpha ? Table->Narrow(p.Key(), range) : -1;
    if (range.Low >= beta || range.Low == range.High)
        return range.Low;
    if (range.High <= alpha)
        return range.High;
    alpha = std::max(alpha, range.Low);
    beta = std::min(beta, range.High);

    TCandidate moves[TPosition::kWidth];
    int count = 0;
    for (int order = 0; order < TPosition::kWidth; ++order)
        if (const std::uint64_t cell = safe & cells::Column(kCentreOut[order]))
            moves[count++] = {cell, RankOf(p, cell, order)};

    const int floor = alpha;
    int best = range.Low;
    for (int tried = 0; tried < count; ++tried) {
        // Picks the best-ranked of the moves left: a cut often comes before they are all needed.
        int pick = tried;
        for (int i = tried + 1; i < count; ++i)
            if (moves[i].Rank > moves[pick].Rank)
                pick = i;
        std::swap(moves[tried], moves[pick]);
        TPosition child = p;
        child.Place(moves[tried].Cell);
        const int value = -Search(child, -beta, -alpha);
        if (Aborted)
            return 0;
        best = std::max(best, value);
        if (value >= beta) {
            Table->Keep(p.Key(), slot, played, TBoundTable::kAtLeast, value);
            return value;
        }
        alpha = std::max(alpha, value);
    }
    const std::uint8_t kind = best <= floor ? TBoundTable::kAtMost : TBoundTable::kAtMost | TBoundTable::kAtLeast;
    Table->Keep(p.Key(), slot, played, kind, best);
    return best;
}

bool TSolver::Exceeds(const TPosition& position, int guess)
{
    return Search(position, guess, guess + 1) > guess;
}

int TSolver::Solve(const TPosition& position)
{
    Aborted = false;
    const int played = position.MovesPlayed();
    if (position.CanWinNext())
        return score::WinWithNextStone(played);
    if (position.IsFull())
        return 0;
    Table->SetRoot(played);
    // The score lies in [low, high]. Each question halves that span at least: its answer is a
    // bound beyond the guess, often well beyond it. (Asking who wins first, or asking near the
    // ends, costs more nodes on the benchmark's positions.)
    int low = score::LostToNextStone(played);
    int high = score::WinWithNextStone(played + 2);
    while (low < high) {
        const int guess = low + (high - low) / 2;
        const int answer = Search(position, guess, guess + 1);
        if (Aborted)
            return 0;
        if (answer > guess)
            low = answer;
        else
            high = answer;
    }
    return low;
}

TSolver::TMove TSolver::BestMove(const TPosition& position)
{
    const int value = Solve(position);
    const int played = position.MovesPlayed();
    TMove fallback;
    for (int col : kCentreOut) {
        if (!position.CanPlay(col))
            continue;
        if (fallback.Column < 0)
            fallback = {col, value};
        if (Aborted)
            break;
        if (position.IsWinningMove(col))
            return {col, score::WinWithNextStone(played)};
        TPosition child = position;
        child.Play(col);
        bool reaches = false;
        if (child.CanWinNext())
            reaches = score::LostToNextStone(played) == value;
        else if (child.IsFull())
            reaches = value == 0;
        else
            reaches = !Exceeds(child, -value);  // the opponent can do no better than -value there
        if (Aborted)
            break;
        if (reaches)
            return {col, value};
    }
    return fallback;
}
