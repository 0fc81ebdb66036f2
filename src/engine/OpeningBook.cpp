#include "engine/OpeningBook.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {
constexpr char kMagic[8] = {'T', 'S', 'R', 'O', 'B', 'O', 'O', 'K'};
constexpr std::size_t kEntryBytes = 9;

using TFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

}  // namespace

bool TOpeningBook::Load(const std::string& path)
{
    TFile f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f)
        return false;
    unsigned char header[12];
    if (std::fread(header, 1, sizeof header, f.get()) != sizeof header || std::memcmp(header, kMagic, 8) != 0)
        return false;
    const std::uint32_t count = header[8] | header[9] << 8 | header[10] << 16 | std::uint32_t{header[11]} << 24;
    std::vector<unsigned char> raw(std::size_t{count} * kEntryBytes);
    if (std::fread(raw.data(), 1, raw.size(), f.get()) != raw.size())
        return false;
    std::vector<std::pair<std::uint64_t, std::int8_t>> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* e = &raw[i * kEntryBytes];
        std::uint64_t key = 0;
        for (int b = 7; b >= 0; --b)
            key = key << 8 | e[b];
        entries[i] = {key, static_cast<std::int8_t>(e[8])};
        if (i && entries[i - 1].first >= key)
            return false;  // unsorted or duplicated: not a file of ours
    }
    Entries = std::move(entries);
    Deepest = -1;
    for (const auto& [key, score] : Entries)
        Deepest = std::max(Deepest, TPosition::FromKey(key).MovesPlayed());
    return true;
}

bool TOpeningBook::Save(const std::string& path) const
{
    const auto& sorted = Entries;
    TFile f(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!f)
        return false;
    std::vector<unsigned char> raw(12 + sorted.size() * kEntryBytes);
    std::memcpy(raw.data(), kMagic, 8);
    const auto count = static_cast<std::uint32_t>(sorted.size());
    for (int b = 0; b < 4; ++b)
        raw[8 + b] = static_cast<unsigned char>(count >> 8 * b);
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        unsigned char* e = &raw[12 + i * kEntryBytes];
        for (int b = 0; b < 8; ++b)
            e[b] = static_cast<unsigned char>(sorted[i].first >> 8 * b);
        e[8] = static_cast<unsigned char>(sorted[i].second);
    }
    return std::fwrite(raw.data(), 1, raw.size(), f.get()) == raw.size();
}

std::optional<int> TOpeningBook::Score(const TPosition& position) const
{
    const std::uint64_t key = position.CanonicalKey();
    const auto it = std::lower_bound(Entries.begin(), Entries.end(), std::make_pair(key, std::int8_t{-128}));
    if (it == Entries.end() || it->first != key)
        return std::nullopt;
    return it->second;
}

void TOpeningBook::Add(const TPosition& position, int score)
{
    const std::uint64_t key = position.CanonicalKey();
    const auto it = std::lower_bound(Entries.begin(), Entries.end(), std::make_pair(key, std::int8_t{-128}));
    if (it != Entries.end() && it->first == key)
        it->second = static_cast<std::int8_t>(score);
    else
        Entries.insert(it, {key, static_cast<std::int8_t>(score)});
    Deepest = std::max(Deepest, position.MovesPlayed());
}
