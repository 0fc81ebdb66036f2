#include "engine/HeuristicSearch.h"

#include "engine/Score.h"
#include "engine/Solver.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace heuristic {

int Evaluate(const TPosition& p)
{
    const std::uint64_t mine = p.MyStones();
    const std::uint64_t theirs = mine ^ p.AllStones();
    const std::uint64_t myThreats = p.OwnCompletions();
    const std::uint64_t theirThreats = p.TheirCompletions();
    const bool firstToMove = p.MovesPlayed() % 2 == 0;
    const std::uint64_t myRows = firstToMove ? cells::kOddRows : cells::kGrid & ~cells::kOddRows;
    const std::uint64_t theirRows = cells::kGrid & ~myRows;
    const int threats = 4 * (std::popcount(myThreats) - std::popcount(theirThreats))
        + 4 * (std::popcount(myThreats & myRows) - std::popcount(theirThreats & theirRows));
    const std::uint64_t centre = cells::Column(3);
    return threats + 2 * (std::popcount(mine & centre) - std::popcount(theirs & centre));
}

int TSearch::Search(const TPosition& p, int depth, int alpha, int beta)
{
    if ((++Nodes & 1023) == 0 && (Stop.load(std::memory_order_relaxed) || Nodes > Budget))
        GaveUp = true;
    if (GaveUp)
        return 0;
    if (p.CanWinNext())
        return kProven * score::WinWithNextStone(p.MovesPlayed());
    const std::uint64_t next = p.SafeDrops();
    if (next == 0)
        return kProven * score::LostToNextStone(p.MovesPlayed());
    if (p.MovesPlayed() >= score::kCells - 2)
        return 0;
    if (depth == 0)
        return Evaluate(p);
    int best = std::numeric_limits<int>::min();
    for (int col : TSolver::kCentreOut) {
        const std::uint64_t cell = next & cells::Column(col);
        if (!cell)
            continue;
        TPosition child = p;
        child.Place(cell);
        const int score = -Search(child, depth - 1, -beta, -alpha);
        best = std::max(best, score);
        alpha = std::max(alpha, score);
        if (alpha >= beta)
            break;
    }
    return best;
}

std::vector<TCandidate> ScoreMoves(const TPosition& p, int depth, bool avoidLosses, TSearch& search)
{
    std::uint64_t allowed = p.DropCells();
    if (avoidLosses && p.SafeDrops())
        allowed = p.SafeDrops();
    std::vector<TCandidate> moves;
    for (int col : TSolver::kCentreOut) {
        if (!(allowed & cells::Column(col)))
            continue;
        TPosition child = p;
        child.Play(col);
        const int window = kProven * score::kCells;
        const int score = child.CanWinNext() ? -kProven * score::WinWithNextStone(child.MovesPlayed())
                                             : -search.Search(child, depth, -window, window);
        moves.push_back({col, score});
    }
    return moves;
}

}  // namespace heuristic
