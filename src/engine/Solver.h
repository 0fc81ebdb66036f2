#pragma once

#include "engine/Position.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

// Finds the exact score of a position (see Score.h) by negamax with alpha-beta pruning: only
// moves that do not hand the opponent a four at once are searched, the ones that open the
// most threats of one's own first; bounds learnt on the way are kept in a table; and the
// score is pinned down by a series of yes/no questions ("better than g?"), each a search
// with a window one point wide.
class TSolver
{
public:
    // The table takes 2^log2Bytes bytes (8 MiB at least, 6.4 bytes a position), fixed for the
    // solver's life; memory is only paid for where the search reaches.
    explicit TSolver(int log2Bytes = 23);
    ~TSolver();
    TSolver(const TSolver&) = delete;
    TSolver& operator=(const TSolver&) = delete;

    // The exact score; when the search is stopped, Stopped() is true and the value is void.
    int Solve(const TPosition& position);

    // The column (0..6) that reaches the position's score, with that score: the first such
    // column in kCentreOut order. When the search is stopped, the first column that can be
    // played in that order.
    struct TMove { int Column = -1; int Score = 0; };
    TMove BestMove(const TPosition& position);

    // Makes a running search return at once; checked every few thousand nodes.
    void SetStopFlag(const std::atomic<bool>* stop) { StopFlag = stop; }
    // Stops at this time (the default: no limit).
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { Deadline = deadline; }
    bool Stopped() const { return Aborted; }
    std::uint64_t Nodes() const { return NodeCount; }
    void ClearTable();

    // Columns from the centre outwards: the order in which equal moves are tried and chosen.
    static constexpr int kCentreOut[TPosition::kWidth] = {3, 2, 4, 1, 5, 0, 6};

private:
    class TBoundTable;

    // True when the score exceeds `guess`; `Aborted` voids the answer.
    bool Exceeds(const TPosition& position, int guess);
    int Search(const TPosition& p, int alpha, int beta);
    bool TimeToStop();

    std::unique_ptr<TBoundTable> Table;
    const std::atomic<bool>* StopFlag = nullptr;
    std::uint64_t NodeCount = 0;
    std::chrono::steady_clock::time_point Deadline = std::chrono::steady_clock::time_point::max();
    bool Aborted = false;
};
