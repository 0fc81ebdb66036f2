#include "engine/Analysis.h"

#include "engine/OpeningBook.h"
#include "engine/Score.h"
#include "engine/Solver.h"

#include <algorithm>
#include <limits>

TAnalysis Analyse(const TPosition& position, const TOpeningBook& book)
{
    TAnalysis result;
    if (position.LastMoverHasFour()) {
        result.Score = score::AfterFour(position.MovesPlayed());
        return result;
    }
    if (position.IsFull())
        return result;
    TSolver solver;
    result.Score = std::numeric_limits<int>::min();
    for (int col = 0; col < TPosition::kWidth; ++col) {
        if (!position.CanPlay(col))
            continue;
        int value = score::WinWithNextStone(position.MovesPlayed());
        if (!position.IsWinningMove(col)) {
            TPosition child = position;
            child.Play(col);
            const std::optional<int> known = book.Score(child);
            value = -(known ? *known : solver.Solve(child));
        }
        result.Columns[col] = value;
        result.Score = std::max(result.Score, value);
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
