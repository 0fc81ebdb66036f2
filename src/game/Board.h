#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

// The position of one instance: 7 columns by 6 rows, row 1 at the bottom.
// Cell values are relative to the instance: 1 is ours, 2 the opponent's.
inline constexpr int kColumns = 7;
inline constexpr int kRows = 6;

enum TCellValue : std::int32_t { cvEmpty = 0, cvLocal = 1, cvRemote = 2 };

class TBoard
{
public:
    // Called once for every window of four that HasFourInRow finds, as it finds it.
    using WinLineSink = std::function<void(int col1, int row1, int col2, int row2)>;

    std::int32_t Cell(int col, int row) const;
    void SetCell(int col, int row, std::int32_t value);
    void Clear();

    // The local placement rule: the pressed cell must be the lowest empty one of its column.
    bool CanPlace(int col, int row) const;
    // The row a piece dropped into the column lands on: its lowest empty cell; 0 when the
    // column is full or outside 1..7.
    int FreeRow(int col) const;
    // The opponent's drop: fills the column's FreeRow and returns it, or 0 when there is
    // none (nothing is touched then).
    int Drop(int col, std::int32_t value);
    // No empty cell left.
    bool IsFull() const;

    bool HasFourInRow(std::int32_t value, const WinLineSink& mark = {}) const;

    // Test and tool helper: "4455667" plays columns alternately for 1 and 2, starting with 1.
    static TBoard FromMoves(std::string_view columns);

    bool operator==(const TBoard&) const = default;

private:
    static int Index(int col, int row) { return (col - 1) * kRows + (row - 1); }

    // Column by column, rows ascending, as the position is laid out everywhere else.
    std::array<std::int32_t, kColumns * kRows> Cells{};
};
