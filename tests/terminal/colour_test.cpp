#include "terminal/colour.h"

#include <gtest/gtest.h>

#include "scene/json.h"

namespace lumora::terminal {
namespace {

struct ColourCase {
  const char* text;
  bool ok;
  Rgba expected;
};

TEST(ParseColour, AcceptsEverySpellingAndRejectsTheRest) {
  const ColourCase cases[] = {
      {"#abc", true, {170, 187, 204, 255}},
      {"abcd", true, {170, 187, 204, 221}},
      {"#AABBCC", true, {170, 187, 204, 255}},
      {"aabbcc80", true, {170, 187, 204, 128}},
      {"#ff000080", true, {255, 0, 0, 128}},
      {"", true, {0, 0, 0, 0}},
      {"#abcde", false, {}},
      {"#12", false, {}},
      {"#", false, {}},
      {"#abg", false, {}},
      {"##abc", false, {}},
      {"#aabbccdd0", false, {}},
      {" #abc", false, {}},
  };
  for (const ColourCase& c : cases) {
    Rgba out{1, 2, 3, 4};
    EXPECT_EQ(parse_colour_text(c.text, out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out, c.expected) << c.text;
    }
    scene::JsonPtr item(cJSON_CreateString(c.text));
    EXPECT_EQ(parse_colour(item.get(), out), c.ok) << c.text;
  }
}

TEST(ParseColour, NonStringsFail) {
  Rgba out;
  scene::JsonPtr null(cJSON_CreateNull());
  scene::JsonPtr number(cJSON_CreateNumber(0xffffff));
  EXPECT_FALSE(parse_colour(null.get(), out));
  EXPECT_FALSE(parse_colour(number.get(), out));
  EXPECT_FALSE(parse_colour(nullptr, out));
}

TEST(ParseColour, HugeStringFailsWithoutBeingRead) {
  std::string text(16 * 1024 * 1024, 'a');
  scene::JsonPtr item(cJSON_CreateString(text.c_str()));
  Rgba out;
  EXPECT_FALSE(parse_colour(item.get(), out));
}

TEST(LerpColour, RoundsTiesToEvenAndClamps) {
  Rgba black{0, 0, 0, 255}, white{255, 255, 255, 255};
  EXPECT_EQ(lerp_colour(black, white, 0.5), (Rgba{128, 128, 128, 255}));  // 127.5 -> 128
  EXPECT_EQ(lerp_colour(Rgba{0, 0, 0, 0}, Rgba{5, 1, 3, 0}, 0.5), (Rgba{2, 0, 2, 0}));  // 2.5 -> 2, 0.5 -> 0, 1.5 -> 2
  EXPECT_EQ(lerp_colour(black, white, 2.0), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(lerp_colour(black, white, -1.0), (Rgba{0, 0, 0, 255}));
}

TEST(Blend, IntegerFormula) {
  EXPECT_EQ(blend_channel(255, 200, 10), 200);
  EXPECT_EQ(blend_channel(0, 200, 10), 10);
  EXPECT_EQ(blend_channel(128, 255, 0), 128);  // (128*255 + 127) / 255
  EXPECT_EQ(blend_channel(128, 0, 255), 127);  // (127*255 + 127) / 255
  EXPECT_EQ(blend_over(Rgba{255, 0, 0, 128}, Rgba{0, 0, 255, 255}), (Rgba{128, 0, 127, 255}));
}

}  // namespace
}  // namespace lumora::terminal
