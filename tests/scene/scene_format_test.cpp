#include "scene/scene_format.h"

#include <gtest/gtest.h>

#include <string>

#include "scene/json.h"

namespace lumora::scene {
namespace {

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

TEST(JsonEqual, DeepAndCaseSensitive) {
  JsonPtr a = parse(R"([["styled_rect",[0,0,1,1],{"fill":"#fff"}]])");
  JsonPtr b = parse(R"([["styled_rect",[0,0,1,1],{"fill":"#fff"}]])");
  JsonPtr c = parse(R"([["styled_rect",[0,0,1,1],{"Fill":"#fff"}]])");
  JsonPtr d = parse(R"([["styled_rect",[0,0,1,1],{"fill":"#FFF"}]])");
  EXPECT_TRUE(json_equal(a.get(), b.get()));
  EXPECT_FALSE(json_equal(a.get(), c.get()));
  EXPECT_FALSE(json_equal(a.get(), d.get()));
}

TEST(SegmentId, OneTo256Bytes) {
  std::string_view id;
  JsonPtr ok(cJSON_CreateString(std::string(256, 'a').c_str()));
  JsonPtr long_id(cJSON_CreateString(std::string(257, 'a').c_str()));
  JsonPtr empty(cJSON_CreateString(""));
  JsonPtr number(cJSON_CreateNumber(1));
  EXPECT_TRUE(segment_id_of(ok.get(), id));
  EXPECT_EQ(id.size(), 256u);
  EXPECT_FALSE(segment_id_of(long_id.get(), id));
  EXPECT_FALSE(segment_id_of(empty.get(), id));
  EXPECT_FALSE(segment_id_of(number.get(), id));
}

TEST(StrictBounds, WindowRule) {
  EXPECT_TRUE(strict_bounds_valid(parse("[0,0,0,0]").get()));
  EXPECT_TRUE(strict_bounds_valid(parse("[-1000000,1000000,1000000,0]").get()));
  EXPECT_FALSE(strict_bounds_valid(parse("[0,0,-1,0]").get()));
  EXPECT_FALSE(strict_bounds_valid(parse("[1000001,0,1,1]").get()));
  EXPECT_FALSE(strict_bounds_valid(parse("[0,0,1]").get()));
  EXPECT_FALSE(strict_bounds_valid(parse("[0,0,1,1,1]").get()));
  EXPECT_FALSE(strict_bounds_valid(parse(R"([0,0,1,"1"])").get()));
}

TEST(CommandKind, FallbackForNonStrings) {
  EXPECT_EQ(command_kind(parse(R"(["rect"])").get(), "?"), "rect");
  EXPECT_EQ(command_kind(parse("[1]").get(), "?"), "?");
  EXPECT_EQ(command_kind(parse("{}").get(), ""), "");
}

TEST(ArrayLength, StopsPastTheLimit) {
  EXPECT_EQ(array_length_capped(parse("[1,2,3,4,5]").get(), 3), 4u);
  EXPECT_EQ(array_length_capped(parse("[1,2]").get(), 3), 2u);
  EXPECT_EQ(array_length_capped(parse("{}").get(), 3), 0u);
}

TEST(TransitionMs, ClampedAndDefaulted) {
  EXPECT_EQ(transition_ms_of(parse("0.2").get()), 200);
  EXPECT_EQ(transition_ms_of(parse("9").get()), 5000);
  EXPECT_EQ(transition_ms_of(parse("-1").get()), 0);
  EXPECT_EQ(transition_ms_of(parse("1e999").get()), 0);
  EXPECT_EQ(transition_ms_of(nullptr), 0);
}

}  // namespace
}  // namespace lumora::scene
