#pragma once

#include <array>
#include <optional>
#include <string_view>

// The computer opponent's levels, weakest first, and their names as the player reads them:
// the level box of the window lists these, and tessaro-bot --level takes them.
enum class TLevel { Debutant, Moyen, Fort, Parfait };

inline constexpr std::array<std::string_view, 4> kLevelNames = {"Débutant", "Moyen", "Fort", "Parfait"};  // UTF-8

constexpr std::string_view LevelName(TLevel level) { return kLevelNames[static_cast<std::size_t>(level)]; }
// Accepts the names above, with or without the accent, in any case; nothing otherwise.
std::optional<TLevel> LevelFromName(std::string_view name);
