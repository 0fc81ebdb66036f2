#include "engine/Position.h"

#include <bit>

namespace {

constexpr std::uint64_t kColumnBits = (std::uint64_t{1} << cells::kStride) - 1;

std::uint64_t ColumnBits(std::uint64_t set, int col) { return (set >> (col * cells::kStride)) & kColumnBits; }

// Column c's seven bits go to column 6 - c.
std::uint64_t Reflected(std::uint64_t set)
{
    std::uint64_t out = 0;
    for (int col = 0; col < cells::kWidth; ++col)
        out |= ColumnBits(set, col) << ((cells::kWidth - 1 - col) * cells::kStride);
    return out;
}

}  // namespace

std::optional<TPosition> TPosition::FromMoves(std::string_view columns, int* badIndex)
{
    TPosition p;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const int col = columns[i] - '1';
        const bool playable = col >= 0 && col < kWidth && p.CanPlay(col) && !p.LastMoverHasFour();
        if (!playable) {
            if (badIndex)
                *badIndex = static_cast<int>(i);
            return std::nullopt;
        }
        p.Play(col);
    }
    return p;
}

TPosition TPosition::FromKey(std::uint64_t key)
{
    // A column of h stones holds 2^h - 1 + (the mover's stones there), so its highest set bit
    // after adding one is bit h.
    TPosition p;
    for (int col = 0; col < kWidth; ++col) {
        const std::uint64_t sum = ColumnBits(key, col);
        const int height = std::bit_width(sum + 1) - 1;
        const std::uint64_t filled = (std::uint64_t{1} << height) - 1;
        p.Occupied |= filled << (col * cells::kStride);
        p.Mine |= (sum - filled) << (col * cells::kStride);
        p.Stones += height;
    }
    return p;
}

TPosition TPosition::Mirrored() const
{
    TPosition m = *this;
    m.Mine = Reflected(Mine);
    m.Occupied = Reflected(Occupied);
    return m;
}
