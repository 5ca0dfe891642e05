#include "window/scene/bounds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "json/json.h"

namespace lumora::window {

void PrintTo(const Rect& rect, std::ostream* out) {
  *out << "(" << rect.x << ", " << rect.y << ", " << rect.w << ", " << rect.h << ")";
}

namespace {

using json::JsonPtr;

JsonPtr parse(const std::string& json) {
  JsonPtr value(cJSON_Parse(json.c_str()));
  EXPECT_TRUE(value) << json;
  return value;
}

// A fake text cache: 0.5 × size per byte of the longest line, size per line;
// the text "fail" cannot be measured.
bool fake_measure(void*, const char* text, double size, bool mono, double& width, double& height) {
  if (std::strcmp(text, "fail") == 0) return false;
  std::size_t longest = 0;
  std::size_t current = 0;
  int lines = 1;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\n') {
      ++lines;
      current = 0;
    } else {
      longest = std::max(longest, ++current);
    }
  }
  width = static_cast<double>(longest) * size * (mono ? 0.6 : 0.5);
  height = size * lines;
  return true;
}

BoundsContext context_at(double scale) { return {scale, fake_measure, nullptr}; }

// Bounds of a list given as JSON, through both the decoded and the JSON
// form, which must agree.
Rect bounds_of(const std::string& json, double scale = 1) {
  JsonPtr list = parse(json);
  DecodedList decoded;
  EXPECT_TRUE(decode_draw_commands(list.get(), decoded));
  const Rect from_records = list_bounds(decoded.commands(), context_at(scale));
  const Rect from_json = list_bounds(list.get(), context_at(scale));
  EXPECT_EQ(from_records, from_json) << json;
  return from_records;
}

TEST(BoundsTest, RectArithmetic) {
  const Rect a{0, 0, 10, 10};
  EXPECT_EQ(unite_rects(a, {20, 5, 5, 20}), (Rect{0, 0, 25, 25}));
  EXPECT_EQ(unite_rects(a, {-50, -50, 0, 100}), a);  // empty ones are ignored
  EXPECT_EQ(unite_rects({}, a), a);
  EXPECT_EQ(intersect_rects(a, {5, -5, 10, 10}), (Rect{5, 0, 5, 5}));
  EXPECT_TRUE(rect_empty(intersect_rects(a, {20, 20, 5, 5})));
  EXPECT_TRUE(rect_empty({0, 0, 5, 0}));
}

TEST(BoundsTest, CommandTable) {
  struct Case {
    const char* list;
    double scale;
    Rect bounds;
  };
  const Case cases[] = {
      // A zero-width line still covers one device pixel either side.
      {R"([["line", 10, 10, 10, 50, "#fff", 0]])", 2, {9.5, 9.5, 1, 41}},
      {R"([["line", 30, 10, 10, 20, "#fff", 3]])", 1, {7, 7, 26, 16}},
      {R"([["lines", [[0, 0], [10, 5]], "#fff", 3]])", 1, {-3, -3, 16, 11}},
      {R"([["segments", [[0, 0], [10, 5]], "#fff", 0]])", 4, {-0.25, -0.25, 10.5, 5.5}},
      {R"([["lines", [], "#fff", 3]])", 1, {0, 0, 0, 0}},
      {R"([["caret", 10, 20, 14, "#fff"]])", 2, {9.5, 20, 1, 14}},
      {R"([["rect", [1, 2, 3, 4], "#fff", 0, "", 0]])", 1, {1, 2, 3, 4}},
      {R"([["image", "a.png", [1, 2, 3, 4], "#fff", "cover"]])", 1, {1, 2, 3, 4}},
      {R"([["image_nine", "a.png", [1, 2, 3, 4], [1, 1, 1, 1], "#fff"]])", 1, {1, 2, 3, 4}},
      {R"([["sprite", "s.png", [1, 2, 3, 4], 1, 1, 1, 1, false, "#fff"]])", 1, {1, 2, 3, 4}},
      {R"([["gradient_rect", [1, 2, 3, 4], "#fff", "#000", "vertical", 0, 0]])", 1, {1, 2, 3, 4}},
      {R"([["focus_ring", [1, 2, 3, 4], "#fff", 0]])", 1, {1, 2, 3, 4}},
      // An animated rect covers every place it moves through.
      {R"([["animated_rect", [0, 0, 10, 10], "#fff", 0, "", 0,
          {"property": "x", "from": -20, "to": 30, "duration": 1}]])", 1, {-20, 0, 60, 10}},
      {R"([["animated_rect", [0, 0, 10, 10], "#fff", 0, "", 0,
          {"property": "y", "from": 5, "to": 8, "duration": 1}]])", 1, {0, 0, 10, 18}},
      {R"([["animated_rect", [0, 0, 10, 10], "#fff", 0, "", 0,
          {"property": "opacity", "from": 0, "to": 100, "duration": 1}]])", 1, {0, 0, 10, 10}},
      // Text: padded by two device pixels or 0.15 × size, whichever is more.
      {R"([["text", "abcd", 10, 20, "#fff", 10, false]])", 1, {8, 18, 24, 14}},
      {R"([["text", "ab\nabcd", 10, 20, "#fff", 40, true]])", 1, {4, 14, 108, 92}},
      {R"([["text", "ab", 10, 20, "#fff", 2, false]])", 0.5, {6, 16, 10, 10}},
      // A text that cannot be measured counts as the whole clip.
      {R"([["clip", [0, 0, 50, 60]], ["text", "fail", 10, 20, "#fff", 10, false]])", 1, {0, 0, 50, 60}},
      // A clip replaces the previous one; null and "begin" restore the whole area.
      {R"([["clip", [0, 0, 10, 10]], ["rect", [5, 5, 10, 10], "#fff", 0, "", 0]])", 1, {5, 5, 5, 5}},
      {R"([["clip", [0, 0, 10, 10]], ["clip", [8, 8, 10, 10]], ["rect", [5, 5, 10, 10], "#fff", 0, "", 0]])", 1,
       {8, 8, 7, 7}},
      {R"([["clip", [0, 0, 10, 10]], ["clip", null], ["rect", [5, 5, 10, 10], "#fff", 0, "", 0]])", 1,
       {5, 5, 10, 10}},
      {R"([["clip", [0, 0, 10, 10]], ["rect", [20, 20, 5, 5], "#fff", 0, "", 0]])", 1, {20, 20, 0, 0}},
      {R"([["begin", "#000"]])", 1, kUnclippedArea},
      // Clips themselves draw nothing.
      {R"([["clip", [0, 0, 10, 10]]])", 1, {0, 0, 0, 0}},
      {R"([])", 1, {0, 0, 0, 0}},
      // A scale that is not one reads as 1.
      {R"([["caret", 10, 20, 14, "#fff"]])", 0, {9, 20, 2, 14}},
  };
  for (const Case& c : cases) EXPECT_EQ(bounds_of(c.list, c.scale), c.bounds) << c.list;
}

TEST(BoundsTest, StyledRectEffects) {
  const char* shadowed = R"({"shadow": "#000", "shadow_x": 5, "shadow_y": 5, "shadow_blur": 4})";
  struct Case {
    std::string list;
    Rect bounds;
  };
  const Case cases[] = {
      // 4 units beyond the rect on the top and left, 9 on the bottom and right.
      {std::string(R"([["styled_rect", [10, 10, 20, 20], )") + shadowed + "]]", {6, 6, 33, 33}},
      // The glow reaches 1.5 × its width when that is more than the blur.
      {R"([["marker", [10, 10, 20, 20], {"glow": "#fff", "glow_width": 4, "shadow_blur": 2}, "square", true]])",
       {4, 4, 32, 32}},
      // An effect clip rect bounds shadow and glow even beyond the current clip.
      {std::string(R"([["clip", [0, 0, 15, 15]], ["styled_rect", [10, 10, 20, 20], )") + shadowed +
           R"(, [0, 0, 25, 25]]])",
       {6, 6, 19, 19}},
      // null: the effects are not clipped at all; absent: by the current clip.
      {std::string(R"([["clip", [0, 0, 15, 15]], ["styled_rect", [10, 10, 20, 20], )") + shadowed + ", null]]",
       {6, 6, 33, 33}},
      {std::string(R"([["clip", [0, 0, 15, 15]], ["styled_rect", [10, 10, 20, 20], )") + shadowed + "]]",
       {6, 6, 9, 9}},
      // Without effects the effect area is the rect itself, and the effect
      // clip, not the current clip, bounds it.
      {R"([["clip", [0, 0, 15, 15]], ["styled_rect", [10, 10, 20, 20], {}, [0, 0, 100, 100]]])", {10, 10, 20, 20}},
      {R"([["clip", [0, 0, 15, 15]], ["styled_rect", [10, 10, 20, 20], {}]])", {10, 10, 5, 5}},
      {R"([["styled_rect", [10, 10, 0, 0], {}]])", {10, 10, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(bounds_of(c.list), c.bounds) << c.list;
}

TEST(BoundsTest, TextWithoutMeasurerCoversTheClip) {
  JsonPtr command = parse(R"(["text", "abc", 10, 20, "#fff", 10, false])");
  const Rect clip{1, 2, 3, 4};
  EXPECT_EQ(command_bounds(command.get(), clip, BoundsContext{}), clip);
}

}  // namespace
}  // namespace lumora::window
