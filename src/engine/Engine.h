#pragma once

#include "engine/Levels.h"
#include "engine/Position.h"

#include <atomic>
#include <cstdint>
#include <memory>

class TOpeningBook;

// Chooses moves for one level. Keeps its own random generator and search tables, so one
// object serves one game thread; the opening book is read only, and must outlive the engine.
class TEngine
{
public:
    TEngine(TLevel level, const TOpeningBook& book, std::uint64_t seed = 0);
    ~TEngine();
    TEngine(const TEngine&) = delete;
    TEngine& operator=(const TEngine&) = delete;

    TLevel Level() const;
    // A column 0..6 for the side to move; -1 when the board is full. Setting `stop` makes a
    // search end early with the best move found so far.
    int ChooseMove(const TPosition& position, const std::atomic<bool>& stop);
    // "Parfait" only: how many of its moves the solver could not prove within the time allowed
    // (the strong level's choice stood in). Zero means every move so far was perfect.
    int UnprovenMoves() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};
