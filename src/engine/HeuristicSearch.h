#pragma once

#include "engine/Position.h"

#include <atomic>
#include <cstdint>
#include <vector>

// The levels below "Parfait": a depth-limited search that guesses beyond its horizon.
namespace heuristic {

// Guesses stay below this; proven results are scaled above it.
inline constexpr int kProven = 1000;

// A guess of the side to move's prospects: open threats (cells that would complete a four),
// those on rows that parity favours counting double, and stones in the centre column.
int Evaluate(const TPosition& p);

// Negamax over moves that do not lose at once, `depth` plies deep, then Evaluate; proven wins
// and losses outrank any guess. Gives up after `budget` nodes or when `stop` is set.
class TSearch
{
public:
    TSearch(const std::atomic<bool>& stop, std::uint64_t budget) : Stop(stop), Budget(budget) {}

    int Search(const TPosition& p, int depth, int alpha, int beta);
    bool Aborted() const { return GaveUp; }

private:
    const std::atomic<bool>& Stop;
    std::uint64_t Budget;
    std::uint64_t Nodes = 0;
    bool GaveUp = false;
};

struct TCandidate { int Column; int Score; };

// Scores every move that does not lose at once (every move when all of them do, or when
// `avoidLosses` is false) with a search `depth` plies deep.
std::vector<TCandidate> ScoreMoves(const TPosition& p, int depth, bool avoidLosses, TSearch& search);

}  // namespace heuristic
