#pragma once

#include "engine/Position.h"

#include <array>
#include <optional>
#include <string>

class TOpeningBook;

// The exact value of a position and of each move, as the solver scores them (see Score.h).
struct TAnalysis
{
    int Score = 0;
    std::array<std::optional<int>, TPosition::kWidth> Columns;  // nothing for a full column
};

// Solves a position and each of its moves exactly, reading the book where it can.
TAnalysis Analyse(const TPosition& position, const TOpeningBook& book);
// The one line that `tessaro-bot --analyse` prints: "1: -2 -1 0 1 0 -1 -2" for the empty board.
std::string FormatAnalysis(const TAnalysis& analysis);
