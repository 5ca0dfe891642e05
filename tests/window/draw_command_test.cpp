#include "window/draw_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "scene/json.h"

namespace lumora::window {
namespace {

using scene::ColorValue;
using scene::JsonPtr;
using scene::parse_color;

JsonPtr parse(const std::string& json) {
  JsonPtr value(cJSON_Parse(json.c_str()));
  EXPECT_TRUE(value) << json;
  return value;
}

// Decodes a one-command list and returns its record.
DrawCommand decode_one(const JsonPtr& list, DecodedList& decoded) {
  EXPECT_TRUE(decode_draw_commands(list.get(), decoded));
  EXPECT_EQ(decoded.size(), 1u);
  return decoded.empty() ? DrawCommand{} : decoded[0];
}

const ColorValue kRed = {255, 0, 0, 255, true};
const ColorValue kBlue = {0, 0, 255, 255, true};

TEST(DrawCommandTest, EmptyListAndNonArrayDecodeToNothing) {
  for (const char* json : {"[]", "{}", "null", "3"}) {
    JsonPtr value = parse(json);
    DecodedList decoded;
    ASSERT_TRUE(decode_draw_commands(value.get(), decoded)) << json;
    EXPECT_TRUE(decoded.empty()) << json;
    EXPECT_EQ(decoded.charge(), 0u);
  }
}

TEST(DrawCommandTest, KindsFollowTheSchema) {
  struct Case {
    const char* command;
    DrawKind kind;
    int flag;
  };
  const Case cases[] = {
      {R"(["begin", "#000"])", DrawKind::begin, 0},
      {R"(["clip", null])", DrawKind::clip, 1},
      {R"(["clip"])", DrawKind::clip, 1},
      {R"(["clip", [1, 2, 3, 4]])", DrawKind::clip, 0},
      {R"(["lines", [], "#fff", 1])", DrawKind::lines, 0},
      {R"(["segments", [], "#fff", 1])", DrawKind::lines, 1},
      {R"(["icon", "check", 0, 0, 8, "#fff"])", DrawKind::unknown, 0},
      {R"(["Rect", [0, 0, 1, 1], "", 0, "", 0])", DrawKind::unknown, 0},
      {R"([3, 4])", DrawKind::unknown, 0},
      {R"([])", DrawKind::unknown, 0},
      {R"({"rect": 1})", DrawKind::unknown, 0},
      {R"(["sprite", "s.png", [0, 0, 1, 1], 1, 1, 1, 1, true, "#fff"])", DrawKind::sprite, 1},
      {R"(["animated_rect", [0, 0, 1, 1], "", 0, "", 0, {"property": "y", "from": 0, "to": 1, "duration": 1}])",
       DrawKind::animated_rect, 0},
  };
  for (const Case& c : cases) {
    JsonPtr list = parse(std::string("[") + c.command + "]");
    DecodedList decoded;
    const DrawCommand command = decode_one(list, decoded);
    EXPECT_EQ(command.kind, c.kind) << c.command;
    EXPECT_EQ(command.flag, c.flag) << c.command;
  }
}

TEST(DrawCommandTest, DecodesEveryFieldOfValidCommands) {
  JsonPtr list = parse(R"([
    ["rect", [1, 2, 3, 4], "#f00", 5, "#00f", 6],
    ["text", "hi", 7, 8, "#f00", 20, true],
    ["line", 1, 2, 3, 4, "#f00", 0],
    ["image", "a.png", [1, 2, 3, 4], "#f00", "cover"],
    ["image_nine", "b.png", [1, 2, 3, 4], [5, 6, 7, 8], "#00f"],
    ["gradient_rect", [1, 2, 3, 4], "#f00", "#00f", "horizontal", 5, 6],
    ["styled_rect", [1, 2, 3, 4], {"fill": "#f00", "radius": 3}, null],
    ["marker", [1, 2, 3, 4], {}, "circle", true, [0, 0, 9, 9]],
    ["caret", 1, 2, 3, "#00f"],
    ["focus_ring", [1, 2, 3, 4], "#f00", 5],
    ["sprite", "s.png", [1, 2, 3, 4], 32.0, 16, 3.0, 12.5, false, "#00f"],
    ["animated_rect", [1, 2, 3, 4], "#f00", 5, "", 6,
     {"property": "opacity", "from": 0.5, "to": 2, "duration": 3, "loop": true, "yoyo": true}]
  ])");
  DecodedList decoded;
  ASSERT_TRUE(decode_draw_commands(list.get(), decoded));
  ASSERT_EQ(decoded.size(), 12u);
  const Rect rect{1, 2, 3, 4};

  const DrawCommand& r = decoded[0];
  EXPECT_EQ(r.kind, DrawKind::rect);
  EXPECT_EQ(r.rect, rect);
  EXPECT_EQ(r.color, kRed);
  EXPECT_EQ(r.color2, kBlue);
  EXPECT_EQ(r.a, 5);
  EXPECT_EQ(r.b, 6);

  const DrawCommand& t = decoded[1];
  EXPECT_STREQ(t.text, "hi");
  EXPECT_EQ(t.a, 7);
  EXPECT_EQ(t.b, 8);
  EXPECT_EQ(t.c, 20);
  EXPECT_EQ(t.flag, 1);
  EXPECT_EQ(t.color, kRed);
  // Borrowed, not copied: the record points into the list.
  EXPECT_EQ(t.text, cJSON_GetArrayItem(cJSON_GetArrayItem(list.get(), 1), 1)->valuestring);

  const DrawCommand& l = decoded[2];
  EXPECT_EQ(l.a, 1);
  EXPECT_EQ(l.b, 2);
  EXPECT_EQ(l.from, 3);
  EXPECT_EQ(l.to, 4);
  EXPECT_EQ(l.c, 0);

  const DrawCommand& image = decoded[3];
  EXPECT_STREQ(image.text, "a.png");
  EXPECT_STREQ(image.mode, "cover");
  EXPECT_EQ(image.rect, rect);
  EXPECT_EQ(image.color, kRed);

  const DrawCommand& nine = decoded[4];
  EXPECT_STREQ(nine.text, "b.png");
  EXPECT_EQ(nine.insets[0], 5);
  EXPECT_EQ(nine.insets[3], 8);
  EXPECT_EQ(nine.color, kBlue);

  const DrawCommand& gradient = decoded[5];
  EXPECT_EQ(gradient.flag, 1);
  EXPECT_EQ(gradient.color, kRed);
  EXPECT_EQ(gradient.color2, kBlue);
  EXPECT_EQ(gradient.a, 5);
  EXPECT_EQ(gradient.b, 6);

  const DrawCommand& styled = decoded[6];
  EXPECT_EQ(styled.style.fill, kRed);
  EXPECT_EQ(styled.style.radius, 3);
  ASSERT_NE(styled.effect_clip, nullptr);  // null is kept: it differs from absent
  EXPECT_TRUE(cJSON_IsNull(styled.effect_clip));

  const DrawCommand& marker = decoded[7];
  EXPECT_STREQ(marker.mode, "circle");
  EXPECT_EQ(marker.flag, 1);
  EXPECT_TRUE(cJSON_IsArray(marker.effect_clip));
  EXPECT_EQ(marker.style.bevel_width, scene::kDefaultBevelWidth);

  const DrawCommand& caret = decoded[8];
  EXPECT_EQ(caret.a, 1);
  EXPECT_EQ(caret.b, 2);
  EXPECT_EQ(caret.c, 3);
  EXPECT_EQ(caret.color, kBlue);

  const DrawCommand& ring = decoded[9];
  EXPECT_EQ(ring.rect, rect);
  EXPECT_EQ(ring.a, 5);

  const DrawCommand& sprite = decoded[10];
  EXPECT_EQ(sprite.frame_width, 32);
  EXPECT_EQ(sprite.frame_height, 16);
  EXPECT_EQ(sprite.frame_count, 3);
  EXPECT_EQ(sprite.a, 12.5);
  EXPECT_EQ(sprite.flag, 0);
  EXPECT_EQ(sprite.color, kBlue);

  const DrawCommand& animated = decoded[11];
  EXPECT_EQ(animated.color, kRed);
  EXPECT_FALSE(animated.color2.present);
  EXPECT_STREQ(animated.mode, "opacity");
  EXPECT_EQ(animated.from, 0.5);
  EXPECT_EQ(animated.to, 2);
  EXPECT_EQ(animated.duration, 3);
  EXPECT_EQ(animated.flag, 1);
  EXPECT_EQ(animated.yoyo, 1);
}

// Items that are missing or of the wrong type take the decoding defaults.
TEST(DrawCommandTest, MissingItemsTakeTheirDefaults) {
  JsonPtr list = parse(R"([
    ["text"], ["line"], ["lines"], ["image"], ["image_nine", "x", [1], [1, "2"]], ["gradient_rect"],
    ["styled_rect", [1, 2]], ["marker"], ["caret"], ["sprite", "s", [], "3", null],
    ["animated_rect", [], "#f00"], ["animated_rect", [], "", 0, "", 0, {"loop": 1, "yoyo": "true"}],
    ["rect", [1, 2, 3, 4], 5, null, "not a colour"], ["begin", 3]
  ])");
  DecodedList decoded;
  ASSERT_TRUE(decode_draw_commands(list.get(), decoded));
  ASSERT_EQ(decoded.size(), 14u);

  EXPECT_STREQ(decoded[0].text, "");
  EXPECT_EQ(decoded[0].c, 14);
  EXPECT_EQ(decoded[0].flag, 0);
  EXPECT_FALSE(decoded[0].color.present);
  EXPECT_EQ(decoded[1].c, 1);
  EXPECT_EQ(decoded[1].from, 0);
  EXPECT_EQ(decoded[2].a, 1);
  EXPECT_EQ(decoded[2].point_count, 0);
  EXPECT_EQ(decoded[2].points, nullptr);
  EXPECT_STREQ(decoded[3].mode, "stretch");
  EXPECT_STREQ(decoded[3].text, "");
  EXPECT_EQ(decoded[4].rect, (Rect{1, 0, 0, 0}));
  EXPECT_EQ(decoded[4].insets[0], 1);
  EXPECT_EQ(decoded[4].insets[1], 0);
  EXPECT_EQ(decoded[5].flag, 0);
  EXPECT_EQ(decoded[5].a, 0);
  EXPECT_EQ(decoded[6].rect, (Rect{1, 2, 0, 0}));
  EXPECT_EQ(decoded[6].effect_clip, nullptr);
  EXPECT_EQ(decoded[6].style.pattern_spacing, scene::kDefaultPatternSpacing);
  EXPECT_STREQ(decoded[7].mode, "square");
  EXPECT_EQ(decoded[7].flag, 0);
  EXPECT_EQ(decoded[8].c, 0);
  EXPECT_EQ(decoded[9].frame_width, 1);
  EXPECT_EQ(decoded[9].frame_height, 1);
  EXPECT_EQ(decoded[9].frame_count, 1);
  EXPECT_EQ(decoded[9].a, 1);
  EXPECT_STREQ(decoded[10].mode, "x");
  EXPECT_EQ(decoded[10].from, 0);
  EXPECT_EQ(decoded[10].to, 1);
  EXPECT_EQ(decoded[10].duration, 1);
  EXPECT_EQ(decoded[10].color, kRed);
  EXPECT_EQ(decoded[11].flag, 0);  // only true is true
  EXPECT_EQ(decoded[11].yoyo, 0);
  EXPECT_EQ(decoded[12].a, 0);
  EXPECT_FALSE(decoded[12].color.present);
  EXPECT_FALSE(decoded[12].color2.present);
  EXPECT_FALSE(decoded[13].color.present);
}

TEST(DrawCommandTest, PointListsAreOwnedAndCharged) {
  JsonPtr list = parse(R"([
    ["lines", [[1, 2], [3, 4], [5]], "#fff", 2],
    ["segments", [[1, 2], [3, 4]], "#fff", 1],
    ["rect", [0, 0, 1, 1], "", 0, "", 0]
  ])");
  DecodedList decoded;
  ASSERT_TRUE(decode_draw_commands(list.get(), decoded));
  ASSERT_EQ(decoded.size(), 3u);
  ASSERT_EQ(decoded[0].point_count, 3);
  EXPECT_EQ(decoded[0].points[1].x, 3);
  EXPECT_EQ(decoded[0].points[1].y, 4);
  EXPECT_EQ(decoded[0].points[2].x, 5);
  EXPECT_EQ(decoded[0].points[2].y, 0);  // a missing coordinate reads 0
  EXPECT_EQ(decoded[1].point_count, 2);
  EXPECT_EQ(decoded.point_total(), 5u);
  EXPECT_EQ(decoded.charge(), 3 * 376u + 5 * 16u);
  EXPECT_EQ(decoded_charge(200000, 200000), 200000u * 392u);
}

TEST(DrawCommandTest, SingleCommandFieldsCarryNoPoints) {
  JsonPtr command = parse(R"(["segments", [[1, 2], [3, 4]], "#f00", 3])");
  const DrawCommand decoded = decode_draw_command_fields(command.get());
  EXPECT_EQ(decoded.kind, DrawKind::lines);
  EXPECT_EQ(decoded.flag, 1);
  EXPECT_EQ(decoded.a, 3);
  EXPECT_EQ(decoded.color, kRed);
  EXPECT_EQ(decoded.point_count, 0);
  EXPECT_EQ(decoded.points, nullptr);
}

TEST(DrawCommandTest, MovingKeepsOneOwner) {
  JsonPtr list = parse(R"([["lines", [[1, 2], [3, 4]], "#fff", 2]])");
  DecodedList first;
  ASSERT_TRUE(decode_draw_commands(list.get(), first));
  DecodedList second(std::move(first));
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(second.point_total(), 2u);
  first = std::move(second);
  EXPECT_EQ(first.size(), 1u);
  EXPECT_TRUE(second.empty());
}

// An allocator that fails from the n-th call on, counting the calls.
int allocations_left = 0;
int allocation_calls = 0;
void* failing_allocate(std::size_t bytes) {
  ++allocation_calls;
  if (allocations_left-- <= 0) return nullptr;
  return ::operator new(bytes, std::nothrow);
}

// One allocation for the records and one per non-empty point list, nothing
// per command; a failure at any of them frees everything and leaves the
// previous decoded list as it was. (AddressSanitizer reports any leak.)
TEST(DrawCommandTest, AllocatesOncePerListAndPointListAndFailsCleanly) {
  JsonPtr list = parse(R"([
    ["rect", [0, 0, 1, 1], "", 0, "", 0], ["lines", [[1, 2]], "#fff", 1], ["text", "a", 0, 0, "#fff", 9, false],
    ["lines", [], "#fff", 1], ["segments", [[1, 2], [3, 4]], "#fff", 1]
  ])");
  allocations_left = 100;
  allocation_calls = 0;
  DecodedList decoded;
  ASSERT_TRUE(decode_draw_commands(list.get(), decoded, failing_allocate));
  EXPECT_EQ(allocation_calls, 3);

  JsonPtr previous_list = parse(R"([["begin", "#f00"]])");
  for (int fail_at = 0; fail_at < 3; ++fail_at) {
    DecodedList previous;
    ASSERT_TRUE(decode_draw_commands(previous_list.get(), previous));
    allocations_left = fail_at;
    EXPECT_FALSE(decode_draw_commands(list.get(), previous, failing_allocate)) << fail_at;
    ASSERT_EQ(previous.size(), 1u);
    EXPECT_EQ(previous[0].color, kRed);
  }
}

TEST(DrawCommandTest, EqualityIsDeepAndCaseSensitive) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {R"(["rect", [0, 0, 1, 1], "#fff", 0, "", 0])", R"(["rect", [0, 0, 1, 1], "#fff", 0, "", 0])", true},
      {R"(["rect", [0, 0, 1, 1], "#fff", 0, "", 0])", R"(["rect", [0, 0, 1, 1], "#FFF", 0, "", 0])", false},
      {R"(["rect", [0, 0, 1, 1], "#fff", 0, "", 0])", R"(["rect", [0, 0, 1, 1], "#fff", 0, "", 0, 0])", false},
      {R"(["rect", [0, 0, 1, 1], "#fff", 0, "", 0])", R"(["rect", [0, 0, 1, 1], "#fff", 0, null, 0])", false},
      {R"(["line", 0.1, 0, 0, 0, "#fff", 1])", R"(["line", 0.10000000000000001, 0, 0, 0, "#fff", 1])", true},
      {R"(["line", 0.1, 0, 0, 0, "#fff", 1])", R"(["line", 0.1000001, 0, 0, 0, "#fff", 1])", false},
      {R"(["styled_rect", [0, 0, 1, 1], {"fill": "#fff", "radius": 2}])",
       R"(["styled_rect", [0, 0, 1, 1], {"radius": 2, "fill": "#fff"}])", true},
      {R"(["styled_rect", [0, 0, 1, 1], {"fill": "#fff"}])", R"(["styled_rect", [0, 0, 1, 1], {"Fill": "#fff"}])",
       false},
      {R"(["text", "a", 0, 0, "#fff", 9, true])", R"(["text", "a", 0, 0, "#fff", 9, 1])", false},
  };
  for (const Case& c : cases) {
    JsonPtr a = parse(c.a);
    JsonPtr b = parse(c.b);
    EXPECT_EQ(commands_equal(a.get(), b.get()), c.equal) << c.a << " / " << c.b;
  }
}

}  // namespace
}  // namespace lumora::window
