#pragma once

#include "engine/Position.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The computer opponent's levels, weakest first.
enum class TLevel { Debutant, Moyen, Fort, Parfait };

// "Débutant", "Moyen", "Fort", "Parfait" (UTF-8).
std::string_view LevelName(TLevel level);
// Accepts the names above, with or without the accent, in any case; nothing otherwise.
std::optional<TLevel> LevelFromName(std::string_view name);

// The exact value of a position and of each move: scores as the solver counts them
// (positive when the side to move wins; 22 minus the winner's stones at the four).
struct TAnalysis
{
    int Score = 0;
    std::array<std::optional<int>, TPosition::kWidth> Columns;  // nothing for a full column
};

// Chooses moves for one level. Keeps its own random generator and search tables, so one
// object serves one game thread; the opening book is shared and loaded once.
class TEngine
{
public:
    explicit TEngine(TLevel level, std::uint64_t seed = 0);
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

// Loads the opening book from the first of: $TESSARO_BOOK, <dir>/../share/games/tessaro/,
// <dir>/, and the source tree's data/ (for builds run in place), where <dir> is the folder of
// the running program. Safe to call more than once; without a book the engine searches.
void LoadOpeningBook(std::string_view programDir);

// The opening book's move for a canonical position (see TPosition::IsCanonical): the first
// column in search order whose result the book knows to be the position's score; -1 when
// the book does not hold the position.
int BookMove(const TPosition& position);

// The book the engine reads, for the tool that writes it and for tests.
class TOpeningBook;
TOpeningBook& OpeningBookForTools();

// Solves a position and each of its moves exactly (uses the opening book where it can).
TAnalysis Analyse(const TPosition& position);
// The one line that `tessaro-bot --analyse` prints: "1: -2 -1 0 1 0 -1 -2" for the empty board.
std::string FormatAnalysis(const TAnalysis& analysis);
