#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

// A four-in-a-row position as two bitboards. Each column takes 7 bits, the lowest row in the
// lowest bit; the seventh bit of a column stays empty, so shifts never carry a line across
// columns. Columns are 0-based here (0..6); the game's 1..7 is only at the edges.
namespace posbits {
inline constexpr int kWidth = 7;
inline constexpr int kHeight = 6;
inline constexpr int kCells = kWidth * kHeight;

constexpr std::uint64_t BottomMask()
{
    std::uint64_t m = 0;
    for (int c = 0; c < kWidth; ++c)
        m |= std::uint64_t{1} << (c * (kHeight + 1));
    return m;
}
inline constexpr std::uint64_t kBottom = BottomMask();
inline constexpr std::uint64_t kBoard = kBottom * ((std::uint64_t{1} << kHeight) - 1);

constexpr std::uint64_t ColumnMask(int c) { return ((std::uint64_t{1} << kHeight) - 1) << (c * (kHeight + 1)); }
constexpr std::uint64_t TopCell(int c) { return std::uint64_t{1} << (kHeight - 1 + c * (kHeight + 1)); }
constexpr std::uint64_t BottomCell(int c) { return std::uint64_t{1} << (c * (kHeight + 1)); }

// The empty cells that would complete a four for the stones in `own`, occupied or not.
constexpr std::uint64_t WinningCells(std::uint64_t own, std::uint64_t occupied)
{
    constexpr int H = kHeight;
    // Vertical: three stacked stones and the cell above them.
    std::uint64_t r = (own << 1) & (own << 2) & (own << 3);
    // The three other directions: shift by 1 step (horizontal H+1, diagonals H and H+2).
    for (int step : {H + 1, H, H + 2}) {
        std::uint64_t p = (own << step) & (own << 2 * step);
        r |= p & (own << 3 * step);
        r |= p & (own >> step);
        p = (own >> step) & (own >> 2 * step);
        r |= p & (own << step);
        r |= p & (own >> 3 * step);
    }
    return r & (kBoard ^ occupied);
}

constexpr bool HasFour(std::uint64_t own)
{
    constexpr int H = kHeight;
    for (int step : {1, H + 1, H, H + 2}) {
        const std::uint64_t m = own & (own >> step);
        if (m & (m >> 2 * step))
            return true;
    }
    return false;
}
}  // namespace posbits

class TPosition
{
public:
    static constexpr int kWidth = posbits::kWidth;
    static constexpr int kHeight = posbits::kHeight;
    static constexpr int kMinScore = -(kWidth * kHeight) / 2 + 3;  // -18
    static constexpr int kMaxScore = (kWidth * kHeight + 1) / 2 - 3;  // 18

    bool CanPlay(int col) const { return (Mask & posbits::TopCell(col)) == 0; }
    // True when playing `col` makes four for the side to move.
    bool IsWinningMove(int col) const { return WinningCells() & Possible() & posbits::ColumnMask(col); }
    void Play(int col) { PlayBit((Mask + posbits::BottomCell(col)) & posbits::ColumnMask(col)); }
    void PlayBit(std::uint64_t move)
    {
        Current ^= Mask;
        Mask |= move;
        ++Moves;
    }

    // Columns given as digits 1..7. Nothing when a column is outside 1..7 or full, or a
    // move follows a four; `badIndex` then says which move is wrong (0-based).
    static std::optional<TPosition> FromMoves(std::string_view columns, int* badIndex = nullptr);
    // Cells as the game stores them (column-major, rows from the bottom; 0 empty, else a side).
    template <typename CellFn>
    static TPosition FromCells(CellFn cell, int toMove)
    {
        TPosition p;
        for (int c = 0; c < kWidth; ++c)
            for (int r = 0; r < kHeight; ++r) {
                const int v = cell(c, r);
                if (v == 0)
                    continue;
                const std::uint64_t bit = std::uint64_t{1} << (c * (kHeight + 1) + r);
                p.Mask |= bit;
                if (v == toMove)
                    p.Current |= bit;
                ++p.Moves;
            }
        return p;
    }

    int MovesPlayed() const { return Moves; }
    bool IsFull() const { return Moves == kWidth * kHeight; }
    // A unique number for the position; KeyMirrored() is the same for its mirror image. In each
    // column of k stones, Current + Mask is 2^k - 1 plus that column's stones of the side to
    // move, and those ranges do not overlap.
    std::uint64_t Key() const { return Current + Mask; }
    std::uint64_t KeyMirrored() const;
    std::uint64_t CanonicalKey() const { const auto k = Key(), m = KeyMirrored(); return k < m ? k : m; }
    // The position a key stands for (keys are unique: see Key()).
    static TPosition FromKey(std::uint64_t key);
    // The position seen in a mirror: column c becomes column 6 - c.
    TPosition Mirrored() const;
    // Of a position and its mirror image, the one with the smaller key: the one the opening
    // book and its tool reason about, so both pick the same move among equals.
    bool IsCanonical() const { return Key() <= KeyMirrored(); }

    std::uint64_t Possible() const { return (Mask + posbits::kBottom) & posbits::kBoard; }
    std::uint64_t WinningCells() const { return posbits::WinningCells(Current, Mask); }
    std::uint64_t OpponentWinningCells() const { return posbits::WinningCells(Current ^ Mask, Mask); }
    bool CanWinNext() const { return WinningCells() & Possible(); }
    // Moves that do not hand the opponent a four at once; 0 when every move loses next turn.
    std::uint64_t NonLosingMoves() const
    {
        std::uint64_t possible = Possible();
        const std::uint64_t threats = OpponentWinningCells();
        const std::uint64_t forced = possible & threats;
        if (forced) {
            if (forced & (forced - 1))
                return 0;  // two threats to stop at once
            possible = forced;
        }
        return possible & ~(threats >> 1);  // never play right under an opponent's four
    }
    // How many fours the side to move would threaten after `move`: the ordering heuristic.
    int MoveScore(std::uint64_t move) const
    {
        return std::popcount(posbits::WinningCells(Current | move, Mask));
    }
    std::uint64_t CurrentStones() const { return Current; }
    std::uint64_t AllStones() const { return Mask; }
    // The stones of the side that just moved have a four.
    bool LastMoverHasFour() const { return posbits::HasFour(Current ^ Mask); }

private:
    std::uint64_t Current = 0;  // stones of the side to move
    std::uint64_t Mask = 0;     // all stones
    int Moves = 0;
};
