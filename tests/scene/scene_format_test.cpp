#include "scene/scene_format.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json.h"

namespace lumora::scene {
namespace {

using json::JsonPtr;

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

TEST(JsonEqual, DeepAndCaseSensitive) {
  JsonPtr a = parse(R"([["styled_rect",[0,0,1,1],{"fill":"#fff"}]])");
  EXPECT_TRUE(json_equal(a.get(), parse(R"([["styled_rect",[0,0,1,1],{"fill":"#fff"}]])").get()));
  EXPECT_FALSE(json_equal(a.get(), parse(R"([["styled_rect",[0,0,1,1],{"Fill":"#fff"}]])").get()));
  EXPECT_FALSE(json_equal(a.get(), parse(R"([["styled_rect",[0,0,1,1],{"fill":"#FFF"}]])").get()));
}

// The limits a patch's segments and a window's bounds are held to.
TEST(SegmentId, OneTo256Bytes) {
  std::string_view id;
  for (std::size_t length : {0, 257, 1, 256}) {
    JsonPtr value(cJSON_CreateString(std::string(length, 'a').c_str()));
    EXPECT_EQ(length >= 1 && length <= 256, segment_id_of(value.get(), id)) << length;
  }
  EXPECT_EQ(id.size(), 256u);
  EXPECT_FALSE(segment_id_of(parse("1").get(), id));
}

TEST(StrictBounds, FourNumbersWithinAMillionAndNoNegativeSize) {
  const std::pair<const char*, bool> cases[] = {
      {"[0,0,0,0]", true},   {"[-1000000,1000000,1000000,0]", true}, {"[0,0,-1,0]", false},
      {"[1000001,0,1,1]", false}, {"[0,0,1]", false}, {"[0,0,1,1,1]", false}, {R"([0,0,1,"1"])", false},
  };
  for (const auto& [bounds, valid] : cases) EXPECT_EQ(valid, strict_bounds_valid(parse(bounds).get())) << bounds;
}

TEST(SceneFormat, CommandKindArrayLengthAndTransition) {
  EXPECT_EQ(command_kind(parse(R"(["rect"])").get(), "?"), "rect");
  EXPECT_EQ(command_kind(parse("[1]").get(), "?"), "?");
  EXPECT_EQ(array_length_capped(parse("[1,2,3,4,5]").get(), 3), 4u);  // stops one past the limit
  EXPECT_EQ(array_length_capped(parse("[1,2]").get(), 3), 2u);
  EXPECT_EQ(array_length_capped(parse("{}").get(), 3), 0u);
  const std::pair<const char*, int> transitions[] = {{"0.2", 200}, {"9", 5000}, {"-1", 0}, {"1e999", 0}};
  for (const auto& [seconds, ms] : transitions) EXPECT_EQ(transition_ms_of(parse(seconds).get()), ms) << seconds;
  EXPECT_EQ(transition_ms_of(nullptr), 0);
}

}  // namespace
}  // namespace lumora::scene
