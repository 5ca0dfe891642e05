#include "terminal/drawing/colour.h"

#include <gtest/gtest.h>

#include "json/json.h"
#include "scene/limits.h"

namespace lumora::terminal {
namespace {

// The spelling rules are the scene language's own (tested with it); here what
// the terminal adds: "" is transparent, only strings count, and a long string
// fails without being read.
TEST(ParseColour, EmptyIsTransparentAndOnlyShortStringsCount) {
  scene::ColorValue out = scene::rgba(1, 2, 3, 4);
  EXPECT_TRUE(parse_colour_text("", out));
  EXPECT_EQ(out, (scene::rgba(0, 0, 0, 0)));
  // Transparent black is a colour here, the same as "#0000", not the
  // scene's absent colour.
  scene::ColorValue spelt;
  EXPECT_TRUE(parse_colour_text("#0000", spelt));
  EXPECT_EQ(out, spelt);
  EXPECT_TRUE(out.present);
  const std::pair<const char*, bool> texts[] = {{"#ff000080", true}, {"aabbcc80", true}, {"", true},
                                                {"#aabbccdd0", false}, {"#abg", false}, {" #abc", false}};
  for (const auto& [text, ok] : texts) {
    json::JsonPtr item(cJSON_CreateString(text));
    EXPECT_EQ(parse_colour(item.get(), out), ok) << text;
  }
  json::JsonPtr number(cJSON_CreateNumber(0xffffff));
  json::JsonPtr huge(cJSON_CreateString(std::string(scene::kMaxStringBytes, 'a').c_str()));
  EXPECT_FALSE(parse_colour(number.get(), out));
  EXPECT_FALSE(parse_colour(nullptr, out));
  EXPECT_FALSE(parse_colour(huge.get(), out));
}

// Seven-character "#rrggbb" is read without the general parser; it must
// agree with it, digits in either case, and refuse what it refuses.
TEST(ParseColour, HashAndSixDigitsReadAsTheSceneReadsThem) {
  for (const char* text : {"#000000", "#ffffff", "#FFFFFF", "#12aB9f", "#a0B1c2", "#fffffg", "#-12345", "#12 456",
                           "#ffff\x80" "f", "1234567", "#abcdef"}) {
    scene::ColorValue out = scene::rgba(1, 2, 3, 4);
    const scene::ColorValue expected = scene::parse_color(text);
    EXPECT_EQ(parse_colour_text(text, out), expected.present) << text;
    if (expected.present) {
      EXPECT_EQ(out, expected) << text;
    }
  }
}

TEST(LerpColour, RoundsTiesToEvenAndClamps) {
  scene::ColorValue black = scene::rgba(0, 0, 0, 255), white = scene::rgba(255, 255, 255, 255);
  EXPECT_EQ(lerp_colour(black, white, 0.5), (scene::rgba(128, 128, 128, 255)));  // 127.5 -> 128
  EXPECT_EQ(lerp_colour(scene::rgba(0, 0, 0, 0), scene::rgba(5, 1, 3, 0), 0.5), (scene::rgba(2, 0, 2, 0)));  // 2.5 -> 2, 0.5 -> 0, 1.5 -> 2
  EXPECT_EQ(lerp_colour(black, white, 2.0), white);
  EXPECT_EQ(lerp_colour(black, white, -1.0), black);
}

}  // namespace
}  // namespace lumora::terminal
