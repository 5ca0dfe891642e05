// The terminal's colour modes: how cell colours become escape sequences.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

namespace lumora::terminal {

enum class ColourMode : int {
  truecolor = 0,
  indexed256 = 1,
  indexed16 = 2,
  none = 3,
};

// Looks up one environment variable; empty when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string_view>(const char* name)>;

// The mode the user's terminal most likely supports, from NO_COLOR, TERM,
// COLORTERM, WT_SESSION and TERM_PROGRAM; the first rule that matches wins.
ColourMode detect_colour_mode(const EnvironmentLookup& lookup);
// detect_colour_mode over the process environment.
ColourMode detect_colour_mode();

// "truecolor", "256", "16" and "none" name a mode; "auto" detects it through
// `lookup`. Any other name is empty.
std::optional<ColourMode> colour_mode_from_name(std::string_view name, const EnvironmentLookup& lookup);
std::optional<ColourMode> colour_mode_from_name(std::string_view name);

}  // namespace lumora::terminal
