#include "terminal/colour_mode.h"

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

struct DetectionCase {
  const char* description;
  Environment environment;
  ColourMode expected;
};

class ColourModeDetectionTest : public testing::TestWithParam<DetectionCase> {};

TEST_P(ColourModeDetectionTest, FirstMatchingRuleWins) {
  const DetectionCase& test = GetParam();
  EXPECT_EQ(detect_colour_mode(lookup_in(test.environment)), test.expected) << test.description;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ColourModeDetectionTest,
    testing::Values(
        DetectionCase{"no_color_beats_everything", {{"NO_COLOR", "1"}, {"COLORTERM", "truecolor"}}, ColourMode::none},
        DetectionCase{"empty_no_color_is_skipped", {{"NO_COLOR", ""}, {"COLORTERM", "24bit"}}, ColourMode::truecolor},
        DetectionCase{"dumb_term", {{"TERM", "dumb"}, {"WT_SESSION", "x"}}, ColourMode::none},
        DetectionCase{"dumb_is_exact", {{"TERM", "dumber"}}, ColourMode::indexed16},
        DetectionCase{"colorterm_truecolor", {{"COLORTERM", "truecolor"}, {"TERM", "xterm"}}, ColourMode::truecolor},
        DetectionCase{"colorterm_other_value", {{"COLORTERM", "yes"}, {"TERM", "xterm"}}, ColourMode::indexed16},
        DetectionCase{"windows_terminal", {{"WT_SESSION", "abc"}}, ColourMode::truecolor},
        DetectionCase{"empty_wt_session", {{"WT_SESSION", ""}, {"TERM", "xterm-256color"}}, ColourMode::indexed256},
        DetectionCase{"term_program_wezterm", {{"TERM_PROGRAM", "WezTerm"}}, ColourMode::truecolor},
        DetectionCase{"term_program_iterm", {{"TERM_PROGRAM", "iTerm.app"}}, ColourMode::truecolor},
        DetectionCase{"term_program_ghostty", {{"TERM_PROGRAM", "ghostty"}}, ColourMode::truecolor},
        DetectionCase{"term_program_other", {{"TERM_PROGRAM", "Apple_Terminal"}}, ColourMode::indexed16},
        DetectionCase{"nothing_set", {}, ColourMode::indexed16},
        DetectionCase{"kitty", {{"TERM", "xterm-kitty"}}, ColourMode::truecolor},
        DetectionCase{"ghostty_term", {{"TERM", "xterm-ghostty-direct"}}, ColourMode::truecolor},
        DetectionCase{"kitty_is_a_prefix", {{"TERM", "my-xterm-kitty"}}, ColourMode::indexed16},
        DetectionCase{"contains_256color", {{"TERM", "screen-256color-bce"}}, ColourMode::indexed256},
        DetectionCase{"plain_xterm", {{"TERM", "xterm"}}, ColourMode::indexed16}),
    [](const testing::TestParamInfo<DetectionCase>& info) { return std::string(info.param.description); });

TEST(ColourModeNameTest, NamesMapToModes) {
  Environment environment{{"COLORTERM", "truecolor"}};
  EXPECT_EQ(colour_mode_from_name("truecolor", lookup_in(environment)), ColourMode::truecolor);
  EXPECT_EQ(colour_mode_from_name("256", lookup_in(environment)), ColourMode::indexed256);
  EXPECT_EQ(colour_mode_from_name("16", lookup_in(environment)), ColourMode::indexed16);
  EXPECT_EQ(colour_mode_from_name("none", lookup_in(environment)), ColourMode::none);
  EXPECT_EQ(colour_mode_from_name("auto", lookup_in(environment)), ColourMode::truecolor);
}

TEST(ColourModeNameTest, UnknownNamesAreRefused) {
  Environment environment;
  for (const char* name : {"", "Auto", "TRUECOLOR", "24bit", "8", "256 ", "none\n"}) {
    EXPECT_FALSE(colour_mode_from_name(name, lookup_in(environment)).has_value()) << name;
  }
}

}  // namespace
}  // namespace lumora::terminal
