#include "game/Board.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

bool IsCell(int col, int row)
{
    return col >= 1 && col <= kColumns && row >= 1 && row <= kRows;
}

bool IsPiece(std::int32_t value)
{
    return value == cvLocal || value == cvRemote;
}

// One family of windows of four: the step from cell to cell and the range of start cells.
struct TScan
{
    int ColStep;
    int RowStep;
    int LastStartCol;
    int FirstStartRow;
    int LastStartRow;
};

// The order matters: the view draws the lines in the order they are found.
constexpr TScan kScans[] = {
    {0, 1, 7, 1, 3},   // vertical
    {1, 0, 4, 1, 6},   // horizontal
    {1, 1, 4, 1, 3},   // rising diagonal
    {1, -1, 4, 4, 6},  // falling diagonal
};

}  // namespace

std::int32_t TBoard::Cell(int col, int row) const
{
    return IsCell(col, row) ? Cells[Index(col, row)] : std::int32_t{cvEmpty};
}

void TBoard::SetCell(int col, int row, std::int32_t value)
{
    // Nothing exists outside the grid, and only the three cell values may ever be stored.
    if (!IsCell(col, row) || value < cvEmpty || value > cvRemote)
        return;
    Cells[Index(col, row)] = value;
}

void TBoard::Clear()
{
    Cells.fill(cvEmpty);
}

bool TBoard::CanPlace(int col, int row) const
{
    if (!IsCell(col, row) || Cell(col, row) != cvEmpty)
        return false;
    return row == 1 || Cell(col, row - 1) != cvEmpty;
}

int TBoard::FreeRow(int col) const
{
    if (col < 1 || col > kColumns)
        return 0;
    for (int row = 1; row <= kRows; ++row)
        if (Cell(col, row) == cvEmpty)
            return row;
    return 0;
}

int TBoard::Drop(int col, std::int32_t value)
{
    const int row = IsPiece(value) ? FreeRow(col) : 0;
    if (row != 0)
        SetCell(col, row, value);
    return row;
}

bool TBoard::IsFull() const
{
    return std::find(Cells.begin(), Cells.end(), cvEmpty) == Cells.end();
}

bool TBoard::HasFourInRow(std::int32_t value, const WinLineSink& mark) const
{
    // Four empty cells are no line.
    if (!IsPiece(value))
        return false;
    bool found = false;
    for (const TScan& scan : kScans) {
        for (int col = 1; col <= scan.LastStartCol; ++col) {
            for (int row = scan.FirstStartRow; row <= scan.LastStartRow; ++row) {
                bool match = true;
                for (int i = 0; i < 4 && match; ++i)
                    match = Cell(col + i * scan.ColStep, row + i * scan.RowStep) == value;
                if (!match)
                    continue;
                found = true;
                if (mark)
                    mark(col, row, col + 3 * scan.ColStep, row + 3 * scan.RowStep);
            }
        }
    }
    return found;
}

TBoard TBoard::FromMoves(std::string_view columns)
{
    TBoard board;
    std::int32_t value = cvLocal;
    for (char c : columns) {
        const int col = c - '0';
        if (col < 1 || col > kColumns)
            throw std::invalid_argument("not a column: " + std::string(1, c));
        if (board.Drop(col, value) == 0)
            throw std::invalid_argument("column is full: " + std::string(1, c));
        value = value == cvLocal ? cvRemote : cvLocal;
    }
    return board;
}
