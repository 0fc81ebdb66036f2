#include "engine/Position.h"

std::optional<TPosition> TPosition::FromMoves(std::string_view columns, int* badIndex)
{
    TPosition p;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const int col = columns[i] - '1';
        if (col < 0 || col >= kWidth || !p.CanPlay(col) || p.LastMoverHasFour()) {
            if (badIndex)
                *badIndex = static_cast<int>(i);
            return std::nullopt;
        }
        p.Play(col);
    }
    return p;
}

namespace {
std::uint64_t MirrorColumns(std::uint64_t bits)
{
    std::uint64_t mirrored = 0;
    for (int c = 0; c < TPosition::kWidth; ++c) {
        const int shift = (TPosition::kWidth - 1 - 2 * c) * (TPosition::kHeight + 1);
        const std::uint64_t column = bits & (posbits::ColumnMask(c) | posbits::TopCell(c) << 1);
        mirrored |= shift >= 0 ? column << shift : column >> -shift;
    }
    return mirrored;
}
}  // namespace

std::uint64_t TPosition::KeyMirrored() const { return MirrorColumns(Key()); }

TPosition TPosition::FromKey(std::uint64_t key)
{
    TPosition p;
    for (int c = 0; c < kWidth; ++c) {
        const std::uint64_t sum = (key >> (c * (kHeight + 1))) & 0x7f;
        const int stones = std::bit_width(sum + 1) - 1;
        const std::uint64_t column = (std::uint64_t{1} << stones) - 1;
        p.Mask |= column << (c * (kHeight + 1));
        p.Current |= (sum - column) << (c * (kHeight + 1));
        p.Moves += stones;
    }
    return p;
}

TPosition TPosition::Mirrored() const
{
    TPosition m = *this;
    m.Current = MirrorColumns(Current);
    m.Mask = MirrorColumns(Mask);
    return m;
}
