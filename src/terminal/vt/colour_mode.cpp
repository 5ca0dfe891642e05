#include "terminal/vt/colour_mode.h"

#include "platform/environment.h"

namespace lumora::terminal {

namespace {

bool set_and_not_empty(const std::optional<std::string_view>& value) { return value && !value->empty(); }

bool equals_any(const std::optional<std::string_view>& value, std::initializer_list<std::string_view> names) {
  if (!value) return false;
  for (std::string_view name : names) {
    if (*value == name) return true;
  }
  return false;
}

EnvironmentLookup process_environment() {
  return [](const char* name) { return platform::environment_variable(name); };
}

}  // namespace

ColourMode detect_colour_mode(const EnvironmentLookup& lookup) {
  const std::optional<std::string_view> term = lookup("TERM");
  if (set_and_not_empty(lookup("NO_COLOR"))) return ColourMode::none;
  if (term && *term == "dumb") return ColourMode::none;
  if (equals_any(lookup("COLORTERM"), {"truecolor", "24bit"})) return ColourMode::truecolor;
  if (set_and_not_empty(lookup("WT_SESSION"))) return ColourMode::truecolor;
  if (equals_any(lookup("TERM_PROGRAM"), {"iTerm.app", "WezTerm", "ghostty"})) return ColourMode::truecolor;
  if (!term) return ColourMode::indexed16;
  if (term->starts_with("xterm-kitty") || term->starts_with("xterm-ghostty")) return ColourMode::truecolor;
  if (term->find("256color") != std::string_view::npos) return ColourMode::indexed256;
  return ColourMode::indexed16;
}

ColourMode detect_colour_mode() { return detect_colour_mode(process_environment()); }

std::optional<ColourMode> colour_mode_from_name(std::string_view name, const EnvironmentLookup& lookup) {
  if (name == "truecolor") return ColourMode::truecolor;
  if (name == "256") return ColourMode::indexed256;
  if (name == "16") return ColourMode::indexed16;
  if (name == "none") return ColourMode::none;
  if (name == "auto") return detect_colour_mode(lookup);
  return std::nullopt;
}

std::optional<ColourMode> colour_mode_from_name(std::string_view name) {
  return colour_mode_from_name(name, process_environment());
}

}  // namespace lumora::terminal
