#pragma once

#include "engine/Position.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Exact scores of opening positions, computed ahead by tools/make-opening-book. A position and
// its mirror image share one entry. The file: "TSROBOOK", a little-endian 32-bit count, then
// per entry the 64-bit key (little-endian) and the score as a signed byte, keys ascending.
class TOpeningBook
{
public:
    bool Load(const std::string& path);
    bool Save(const std::string& path) const;
    std::optional<int> Score(const TPosition& position) const;
    void Add(const TPosition& position, int score);
    std::size_t Size() const { return Entries.size(); }
    int DeepestPly() const { return Deepest; }
    const std::vector<std::pair<std::uint64_t, std::int8_t>>& AllEntries() const { return Entries; }

private:
    std::vector<std::pair<std::uint64_t, std::int8_t>> Entries;
    int Deepest = -1;
};
