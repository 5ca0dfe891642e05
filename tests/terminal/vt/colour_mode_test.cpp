#include "terminal/vt/colour_mode.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace lumora::terminal {
namespace {

using Environment = std::map<std::string, std::string>;

EnvironmentLookup lookup_in(const Environment& environment) {
  return [&environment](const char* name) -> std::optional<std::string_view> {
    auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return std::string_view(found->second);
  };
}

TEST(ColourModeDetectionTest, FirstMatchingRuleWins) {
  struct Case {
    const char* name;
    Environment environment;
    ColourMode expected;
  };
  const Case cases[] = {
      {"no_color_beats_everything", {{"NO_COLOR", "1"}, {"COLORTERM", "truecolor"}}, ColourMode::none},
      {"empty_no_color_is_skipped", {{"NO_COLOR", ""}, {"COLORTERM", "24bit"}}, ColourMode::truecolor},
      {"dumb_term", {{"TERM", "dumb"}, {"WT_SESSION", "x"}}, ColourMode::none},
      {"colorterm_other_value_and_dumb_is_exact", {{"COLORTERM", "yes"}, {"TERM", "dumber"}}, ColourMode::indexed16},
      {"windows_terminal", {{"WT_SESSION", "abc"}}, ColourMode::truecolor},
      {"empty_wt_session", {{"WT_SESSION", ""}, {"TERM", "xterm-256color"}}, ColourMode::indexed256},
      {"term_programs", {{"TERM_PROGRAM", "WezTerm"}}, ColourMode::truecolor},
      {"other_term_program", {{"TERM_PROGRAM", "Apple_Terminal"}}, ColourMode::indexed16},
      {"kitty", {{"TERM", "xterm-kitty"}}, ColourMode::truecolor},
      {"ghostty_term", {{"TERM", "xterm-ghostty-direct"}}, ColourMode::truecolor},
      {"kitty_is_a_prefix", {{"TERM", "my-xterm-kitty"}}, ColourMode::indexed16},
      {"contains_256color", {{"TERM", "screen-256color-bce"}}, ColourMode::indexed256},
  };
  for (const Case& c : cases) EXPECT_EQ(detect_colour_mode(lookup_in(c.environment)), c.expected) << c.name;
}

TEST(ColourModeNameTest, ExactNamesMapToModesAndTheRestAreRefused) {
  const Environment environment{{"COLORTERM", "truecolor"}};
  const std::pair<const char*, ColourMode> names[] = {{"truecolor", ColourMode::truecolor}, {"256", ColourMode::indexed256},
                                                      {"16", ColourMode::indexed16},          {"none", ColourMode::none},
                                                      {"auto", ColourMode::truecolor}};
  for (const auto& [name, mode] : names) EXPECT_EQ(colour_mode_from_name(name, lookup_in(environment)), mode) << name;
  for (const char* name : {"", "Auto", "24bit", "256 "}) {
    EXPECT_FALSE(colour_mode_from_name(name, lookup_in(environment)).has_value()) << name;
  }
}

}  // namespace
}  // namespace lumora::terminal
