#pragma once

#include "engine/Position.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

// Scores a position exactly: 0 for a draw, positive when the side to move wins (22 minus the
// stones it has played when its four is made), negative when it loses. Negamax with
// alpha-beta and null windows, a transposition table and threat-first move ordering.
class TSolver
{
public:
    // The table holds 2^log2Entries entries (5 bytes each), fixed for the solver's life.
    explicit TSolver(int log2Entries = 22);
    ~TSolver();
    TSolver(const TSolver&) = delete;
    TSolver& operator=(const TSolver&) = delete;

    // The exact score; when the search is stopped, Stopped() is true and the value is void.
    int Solve(const TPosition& position);
    // The exact score when it lies strictly between alpha and beta, else a bound beyond them.
    int SolveWithin(const TPosition& position, int alpha, int beta);

    // The column (0..6) that reaches the position's score, with that score. When the search
    // is stopped, the best column proven so far (or the first in search order).
    struct TMove { int Column = -1; int Score = 0; };
    TMove BestMove(const TPosition& position);

    // Makes a running search return at once; checked every few thousand nodes.
    void SetStopFlag(const std::atomic<bool>* stop) { StopFlag = stop; }
    // Stops at this time (the default: no limit).
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { Deadline = deadline; }
    bool Stopped() const { return Aborted; }
    std::uint64_t Nodes() const { return NodeCount; }
    void ClearTable();

    // The order in which columns are tried: centre first.
    static constexpr int kOrder[TPosition::kWidth] = {3, 2, 4, 1, 5, 0, 6};

private:
    int Negamax(const TPosition& p, int alpha, int beta);
    bool ShouldStop();

    class TTable;
    std::unique_ptr<TTable> Table;
    const std::atomic<bool>* StopFlag = nullptr;
    std::uint64_t NodeCount = 0;
    std::chrono::steady_clock::time_point Deadline = std::chrono::steady_clock::time_point::max();
    bool Aborted = false;
};

// Score for the side to move when it makes four with its next stone.
inline int WinNowScore(const TPosition& p) { return (TPosition::kWidth * TPosition::kHeight + 1 - p.MovesPlayed()) / 2; }
