#pragma once

#include "game/Board.h"

#include <algorithm>
#include <array>
#include <vector>

// The rules written a second way, for comparison: every line of four cells on the board,
// tried one by one, each given from its end with the lower column (then the lower row).
inline std::vector<std::array<int, 4>> ReferenceFours(const TBoard& board, std::int32_t value)
{
    std::vector<std::array<int, 4>> found;
    for (int col = 1; col <= 7; ++col)
        for (int row = 1; row <= 6; ++row)
            for (const auto& [dc, dr] : {std::pair{1, 0}, {0, 1}, {1, 1}, {1, -1}}) {
                const int endCol = col + 3 * dc, endRow = row + 3 * dr;
                bool all = endCol <= 7 && endRow >= 1 && endRow <= 6;
                for (int i = 0; i < 4 && all; ++i)
                    all = board.Cell(col + i * dc, row + i * dr) == value;
                if (all)
                    found.push_back({col, row, endCol, endRow});
            }
    std::sort(found.begin(), found.end());
    return found;
}
