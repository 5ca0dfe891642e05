#include "terminal/drawing/colour.h"

#include <gtest/gtest.h>

#include "scene/json.h"

namespace lumora::terminal {
namespace {

// The spelling rules are the scene language's own (tested with it); here what
// the terminal adds: "" is transparent, only strings count, and a long string
// fails without being read.
TEST(ParseColour, EmptyIsTransparentAndOnlyShortStringsCount) {
  Rgba out{1, 2, 3, 4};
  EXPECT_TRUE(parse_colour_text("", out));
  EXPECT_EQ(out, (Rgba{0, 0, 0, 0}));
  const std::pair<const char*, bool> texts[] = {{"#ff000080", true}, {"aabbcc80", true}, {"", true},
                                                {"#aabbccdd0", false}, {"#abg", false}, {" #abc", false}};
  for (const auto& [text, ok] : texts) {
    scene::JsonPtr item(cJSON_CreateString(text));
    EXPECT_EQ(parse_colour(item.get(), out), ok) << text;
  }
  scene::JsonPtr number(cJSON_CreateNumber(0xffffff));
  scene::JsonPtr huge(cJSON_CreateString(std::string(16 * 1024 * 1024, 'a').c_str()));
  EXPECT_FALSE(parse_colour(number.get(), out));
  EXPECT_FALSE(parse_colour(nullptr, out));
  EXPECT_FALSE(parse_colour(huge.get(), out));
}

TEST(LerpColour, RoundsTiesToEvenAndClamps) {
  Rgba black{0, 0, 0, 255}, white{255, 255, 255, 255};
  EXPECT_EQ(lerp_colour(black, white, 0.5), (Rgba{128, 128, 128, 255}));  // 127.5 -> 128
  EXPECT_EQ(lerp_colour(Rgba{0, 0, 0, 0}, Rgba{5, 1, 3, 0}, 0.5), (Rgba{2, 0, 2, 0}));  // 2.5 -> 2, 0.5 -> 0, 1.5 -> 2
  EXPECT_EQ(lerp_colour(black, white, 2.0), white);
  EXPECT_EQ(lerp_colour(black, white, -1.0), black);
}

}  // namespace
}  // namespace lumora::terminal
