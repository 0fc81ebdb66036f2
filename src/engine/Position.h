#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

// Sets of cells as bits of one 64-bit word. Column c owns the seven bits from 7c up, its row r
// (0 at the bottom) being bit 7c + r. The seventh bit of each column stays empty in every set
// of stones, so a shift that steps off the top of one column lands on nothing in the next.
namespace cells {

inline constexpr int kWidth = 7;
inline constexpr int kHeight = 6;
inline constexpr int kStride = kHeight + 1;

constexpr std::uint64_t Cell(int col, int row) { return std::uint64_t{1} << (col * kStride + row); }
constexpr std::uint64_t Column(int col) { return ((std::uint64_t{1} << kHeight) - 1) << (col * kStride); }

// The same seven-bit pattern in every column.
constexpr std::uint64_t InEveryColumn(std::uint64_t pattern)
{
    std::uint64_t all = 0;
    for (int col = 0; col < kWidth; ++col)
        all |= pattern << (col * kStride);
    return all;
}

inline constexpr std::uint64_t kFloor = InEveryColumn(1);
inline constexpr std::uint64_t kGrid = InEveryColumn((1 << kHeight) - 1);
// Rows 1, 3 and 5 as players count them: where the first player's threats tend to pay off.
inline constexpr std::uint64_t kOddRows = InEveryColumn(0b010101);

// The cells that complete a window of four along direction `step` with three of `stones`:
// the cell needs a pair of stones on one side and, beyond that pair or on its other side,
// a third.
template <int step>
constexpr std::uint64_t CompletionsAlong(std::uint64_t stones)
{
    const std::uint64_t before1 = stones << step, before2 = stones << 2 * step, before3 = stones << 3 * step;
    const std::uint64_t after1 = stones >> step, after2 = stones >> 2 * step, after3 = stones >> 3 * step;
    return (before1 & before2 & (before3 | after1)) | (after1 & after2 & (after3 | before1));
}

// Every cell of the grid, empty or not, that would give `stones` a four. Upwards only the
// cell on top of three stacked stones counts: one below them is never empty.
constexpr std::uint64_t Completions(std::uint64_t stones)
{
    const std::uint64_t stacked = (stones << 1) & (stones << 2) & (stones << 3);
    return (stacked | CompletionsAlong<kStride>(stones) | CompletionsAlong<kStride - 1>(stones)
               | CompletionsAlong<kStride + 1>(stones))
        & kGrid;
}

// Whether `stones` hold four in a line somewhere.
constexpr bool HoldsFour(std::uint64_t stones)
{
    for (int step : {1, kStride - 1, kStride, kStride + 1})
        if (stones & (stones >> step) & (stones >> 2 * step) & (stones >> 3 * step))
            return true;
    return false;
}

}  // namespace cells

// A position of the game for the engine: the stones of the player about to move and all
// stones. Copying one is cheap; the search makes a copy per move it tries.
class TPosition
{
public:
    static constexpr int kWidth = cells::kWidth;
    static constexpr int kHeight = cells::kHeight;

    bool CanPlay(int col) const { return (Occupied & cells::Cell(col, kHeight - 1)) == 0; }
    // Only for a column that CanPlay.
    bool IsWinningMove(int col) const { return OwnCompletions() & DropCells() & cells::Column(col); }
    void Play(int col) { Place(DropCells() & cells::Column(col)); }
    // Puts a stone of the side to move on `cell`, one of DropCells.
    void Place(std::uint64_t cell)
    {
        Mine ^= Occupied;  // what was the opponent's becomes the mover's, as the turn passes
        Occupied |= cell;
        ++Stones;
    }

    // "4455667": columns '1' to '7' from the empty board. Nothing when a move cannot be
    // played (a full column, a character that is no column, a move after a four), and then
    // `badIndex` receives that move's index.
    static std::optional<TPosition> FromMoves(std::string_view columns, int* badIndex = nullptr);
    // From cell(col, row) (both from 0, row 0 at the bottom), which returns 0 for an empty
    // cell and `toMove` for a stone of the side to move.
    template <typename CellFn>
    static TPosition FromCells(CellFn cell, int toMove)
    {
        TPosition p;
        for (int col = 0; col < kWidth; ++col)
            for (int row = 0; row < kHeight; ++row)
                if (const int value = cell(col, row); value != 0) {
                    p.Occupied |= cells::Cell(col, row);
                    p.Mine |= value == toMove ? cells::Cell(col, row) : 0;
                    ++p.Stones;
                }
        return p;
    }

    int MovesPlayed() const { return Stones; }
    bool IsFull() const { return Stones == kWidth * kHeight; }

    // Tells positions apart: in each column the mover's stones plus one bit above the top stone
    // (the sum of the two sets). The opening book's keys are these; they must never change.
    std::uint64_t Key() const { return Mine + Occupied; }
    static TPosition FromKey(std::uint64_t key);
    // The position seen in a mirror (column c becomes column 6 - c), and the smaller of the two
    // keys, which a position shares with its mirror image.
    TPosition Mirrored() const;
    std::uint64_t CanonicalKey() const { return std::min(Key(), Mirrored().Key()); }
    bool IsCanonical() const { return Key() <= Mirrored().Key(); }

    // The cells a stone can drop into now, one per column that is not full.
    std::uint64_t DropCells() const { return (Occupied + cells::kFloor) & cells::kGrid; }
    // Empty cells that would complete a four for the side to move, and for the opponent.
    std::uint64_t OwnCompletions() const { return cells::Completions(Mine) & ~Occupied; }
    std::uint64_t TheirCompletions() const { return cells::Completions(Mine ^ Occupied) & ~Occupied; }
    bool CanWinNext() const { return OwnCompletions() & DropCells(); }

    // The drops after which the opponent cannot make four at once: it is blocked wherever it
    // could complete one now, and no stone goes just below a cell that completes its four.
    // Nothing when the opponent has two open completions (or one that cannot be blocked
    // without opening another): the mover has lost. Only for a mover that cannot win now.
    std::uint64_t SafeDrops() const
    {
        const std::uint64_t drops = DropCells();
        const std::uint64_t theirs = TheirCompletions();
        const std::uint64_t mustBlock = drops & theirs;
        if (mustBlock & (mustBlock - 1))
            return 0;  // two cells to block, one stone to do it
        const std::uint64_t candidates = mustBlock ? mustBlock : drops;
        return candidates & ~(theirs >> 1);
    }

    std::uint64_t MyStones() const { return Mine; }
    std::uint64_t AllStones() const { return Occupied; }
    bool LastMoverHasFour() const { return cells::HoldsFour(Mine ^ Occupied); }

private:
    std::uint64_t Mine = 0;      // the stones of the side to move
    std::uint64_t Occupied = 0;  // every stone
    int Stones = 0;
};
