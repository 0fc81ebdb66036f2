#include "engine/Engine.h"

#include "engine/OpeningBook.h"
#include "engine/Solver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <mutex>
#include <random>

namespace {
constexpr int kCells = TPosition::kWidth * TPosition::kHeight;
// How long the perfect level may search a position the opening book does not hold. Beyond the
// book a proof takes under a second on a two-core desktop; the margin keeps slower or busy
// machines proving rather than guessing.
constexpr std::chrono::milliseconds kPerfectThinkingTime{3000};
// Heuristic values stay below this; proven results are scaled above it.
constexpr int kProven = 1000;

TOpeningBook& Book() { return OpeningBookForTools(); }

// Exact score of a position that has not ended: from the book when it knows it.
int ExactScore(TSolver& solver, const TPosition& p)
{
    if (const auto known = Book().Score(p))
        return *known;
    return solver.Solve(p);
}

// A guess of the side to move's prospects: open threats (cells that would complete a four),
// those on rows that parity favours counting double, and stones in the centre column.
int Evaluate(const TPosition& p)
{
    const std::uint64_t mine = p.CurrentStones();
    const std::uint64_t theirs = mine ^ p.AllStones();
    const std::uint64_t myThreats = p.WinningCells();
    const std::uint64_t theirThreats = p.OpponentWinningCells();
    // Rows 1, 3, 5 (bits 0, 2, 4 of each column) favour the first player, the others the second.
    constexpr std::uint64_t kOddRows = posbits::kBottom * 0b10101;
    const bool firstToMove = p.MovesPlayed() % 2 == 0;
    const std::uint64_t myRows = firstToMove ? kOddRows : posbits::kBoard & ~kOddRows;
    const std::uint64_t theirRows = posbits::kBoard & ~myRows;
    const int threats = 4 * (std::popcount(myThreats) - std::popcount(theirThreats))
        + 4 * (std::popcount(myThreats & myRows) - std::popcount(theirThreats & theirRows));
    const std::uint64_t centre = posbits::ColumnMask(3);
    return threats + 2 * (std::popcount(mine & centre) - std::popcount(theirs & centre));
}

// Depth-limited negamax over non-losing moves; proven wins and losses outrank any guess.
class THeuristicSearch
{
public:
    THeuristicSearch(const std::atomic<bool>& stop, std::uint64_t budget) : Stop(stop), Budget(budget) {}

    int Search(const TPosition& p, int depth, int alpha, int beta)
    {
        if ((++Nodes & 1023) == 0 && (Stop.load(std::memory_order_relaxed) || Nodes > Budget))
            Aborted = true;
        if (Aborted)
            return 0;
        if (p.CanWinNext())
            return kProven * WinNowScore(p);
        const std::uint64_t next = p.NonLosingMoves();
        if (next == 0)
            return -kProven * ((kCells - p.MovesPlayed()) / 2);
        if (p.MovesPlayed() >= kCells - 2)
            return 0;
        if (depth == 0)
            return Evaluate(p);
        int best = std::numeric_limits<int>::min();
        for (int col : TSolver::kOrder) {
            const std::uint64_t move = next & posbits::ColumnMask(col);
            if (!move)
                continue;
            TPosition child = p;
            child.PlayBit(move);
            const int score = -Search(child, depth - 1, -beta, -alpha);
            best = std::max(best, score);
            alpha = std::max(alpha, score);
            if (alpha >= beta)
                break;
        }
        return best;
    }

    bool Aborted = false;

private:
    const std::atomic<bool>& Stop;
    std::uint64_t Budget;
    std::uint64_t Nodes = 0;
};

struct TCandidate { int Column; int Score; };

// Scores every move that does not lose at once (every move when all of them do, or when
// `avoidLosses` is false) with a search `depth` plies deep.
std::vector<TCandidate> ScoreMoves(const TPosition& p, int depth, bool avoidLosses, THeuristicSearch& search)
{
    std::uint64_t allowed = p.Possible();
    if (avoidLosses && p.NonLosingMoves())
        allowed = p.NonLosingMoves();
    std::vector<TCandidate> moves;
    for (int col : TSolver::kOrder) {
        if (!(allowed & posbits::ColumnMask(col)))
            continue;
        TPosition child = p;
        child.Play(col);
        const int score = child.CanWinNext() ? -kProven * WinNowScore(child)
                                             : -search.Search(child, depth, -kProven * kCells, kProven * kCells);
        moves.push_back({col, score});
    }
    return moves;
}

int Immediate(const TPosition& p)
{
    for (int col : TSolver::kOrder)
        if (p.CanPlay(col) && p.IsWinningMove(col))
            return col;
    return -1;
}
}  // namespace

TOpeningBook& OpeningBookForTools()
{
    static TOpeningBook book;
    return book;
}

std::string_view LevelName(TLevel level)
{
    switch (level) {
    case TLevel::Debutant: return "Débutant";
    case TLevel::Moyen: return "Moyen";
    case TLevel::Fort: return "Fort";
    case TLevel::Parfait: return "Parfait";
    }
    return {};
}

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
    for (TLevel level : {TLevel::Debutant, TLevel::Moyen, TLevel::Fort, TLevel::Parfait})
        if (fold(LevelName(level)) == fold(name))
            return level;
    return std::nullopt;
}

struct TEngine::TImpl
{
    TImpl(TLevel level, std::uint64_t seed) : Level(level), Random(seed), Solver(level == TLevel::Parfait ? 22 : 18) {}

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
        THeuristicSearch search(stop, 1 << 16);
        return PickNear(ScoreMoves(p, 0, std::bernoulli_distribution(0.5)(Random), search), 12);
    }

    int Medium(const TPosition& p, const std::atomic<bool>& stop)
    {
        THeuristicSearch search(stop, 1 << 18);
        return PickNear(ScoreMoves(p, 3, true, search), 4);
    }

    int Strong(const TPosition& p, const std::atomic<bool>& stop)
    {
        // Deepens while the budget lasts and keeps the last complete depth's choice.
        constexpr std::uint64_t kBudget = 400'000;
        THeuristicSearch search(stop, kBudget);
        std::vector<TCandidate> last = ScoreMoves(p, 1, true, search);
        for (int depth = 3; depth < kCells - p.MovesPlayed() && !search.Aborted; depth += 2) {
            auto moves = ScoreMoves(p, depth, true, search);
            if (!search.Aborted)
                last = std::move(moves);
        }
        return PickNear(last, 0);
    }

    int Perfect(const TPosition& p, const std::atomic<bool>& stop)
    {
        // The book and its tool reason about the canonical side of a mirror pair.
        if (!p.IsCanonical())
            return TPosition::kWidth - 1 - Perfect(p.Mirrored(), stop);
        if (const int col = BookMove(p); col >= 0)
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
    std::mt19937_64 Random;
    TSolver Solver;
    int Unproven = 0;
};

int BookMove(const TPosition& position)
{
    const auto score = Book().Score(position);
    if (!score)
        return -1;
    for (int col : TSolver::kOrder) {
        if (!position.CanPlay(col))
            continue;
        if (position.IsWinningMove(col))
            return col;
        TPosition child = position;
        child.Play(col);
        if (Book().Score(child) == -*score)
            return col;
    }
    return -1;
}

TEngine::TEngine(TLevel level, std::uint64_t seed) : Impl(std::make_unique<TImpl>(level, seed)) {}
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

void LoadOpeningBook(std::string_view programDir)
{
    static std::once_flag once;
    std::call_once(once, [programDir] {
        namespace fs = std::filesystem;
        std::vector<fs::path> candidates;
        if (const char* env = std::getenv("TESSARO_BOOK"))
            candidates.emplace_back(env);
        const fs::path dir(programDir);
        candidates.push_back(dir / "../share/games/tessaro/opening-book.bin");
        candidates.push_back(dir / "opening-book.bin");
#ifdef TESSARO_SOURCE_BOOK
        candidates.emplace_back(TESSARO_SOURCE_BOOK);
#endif
        for (const auto& path : candidates)
            if (Book().Load(path.string()))
                return;
    });
}

TAnalysis Analyse(const TPosition& position)
{
    TAnalysis result;
    if (position.LastMoverHasFour()) {
        result.Score = -(kCells / 2 + 1 - (position.MovesPlayed() + 1) / 2);
        return result;
    }
    if (position.IsFull())
        return result;
    TSolver solver(22);
    result.Score = std::numeric_limits<int>::min();
    for (int col = 0; col < TPosition::kWidth; ++col) {
        if (!position.CanPlay(col))
            continue;
        int score = WinNowScore(position);
        if (!position.IsWinningMove(col)) {
            TPosition child = position;
            child.Play(col);
            score = -ExactScore(solver, child);
        }
        result.Columns[col] = score;
        result.Score = std::max(result.Score, score);
    }
    return result;
}

std::string FormatAnalysis(const TAnalysis& analysis)
{
    std::string line = std::to_string(analysis.Score) + ":";
    for (const auto& column : analysis.Columns) {
        line += ' ';
        line += column ? std::to_string(*column) : ".";
    }
    return line;
}
