#pragma once

#include "engine/Position.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
    // The move for a canonical position (see TPosition::IsCanonical): the first column in
    // TSolver::kCentreOut order whose result the book knows to be the position's score; -1
    // when the book does not hold the position.
    int Move(const TPosition& position) const;
    void Add(const TPosition& position, int score);
    std::size_t Size() const { return Entries.size(); }
    int DeepestPly() const { return Deepest; }
    const std::vector<std::pair<std::uint64_t, std::int8_t>>& AllEntries() const { return Entries; }

private:
    std::vector<std::pair<std::uint64_t, std::int8_t>> Entries;
    int Deepest = -1;
};

// The book of the installed or built program, from the first of: $TESSARO_BOOK,
// <dir>/../share/games/tessaro/, <dir>/, and the source tree's data/ (for builds run in
// place), where <dir> is the folder of the running program. Empty when none of them holds
// one: the engine then searches.
TOpeningBook LoadOpeningBook(std::string_view programDir);
