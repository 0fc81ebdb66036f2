#pragma once

// What the solver's numbers mean. A game won with the winner's k-th stone scores 22 - k for
// the winner and k - 22 for the loser; a draw scores 0. So a score tells who wins and how
// soon, +18 (a four with the fourth stone) being the best and -18 the worst. Every formula
// that turns stones on the board into a score lives here, and the analysis prints these
// numbers as they are.
namespace score {

inline constexpr int kCells = 42;

// The side to move, with `played` stones on the board, makes four with its next stone.
constexpr int WinWithNextStone(int played) { return (kCells + 1 - played) / 2; }

// The side to move cannot stop the opponent's four on the opponent's next stone.
constexpr int LostToNextStone(int played) { return -WinWithNextStone(played + 1); }

// The side to move of a finished game whose last stone, the `played`-th, made four.
constexpr int AfterFour(int played) { return -WinWithNextStone(played - 1); }

// The extremes: a four with one's fourth stone, six stones on the board before it.
inline constexpr int kBest = WinWithNextStone(6);
inline constexpr int kWorst = -kBest;

}  // namespace score
