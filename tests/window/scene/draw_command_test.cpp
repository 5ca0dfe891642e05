#include "window/scene/draw_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "json/json.h"

namespace lumora::window {
namespace {

using scene::ColorValue;
using json::JsonPtr;
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

TEST(DrawCommandTest, EmptyListAndNonArrayDecodeToNothing) {
  for (const char* json : {"[]", "{}", "null", "3"}) {
    JsonPtr value = parse(json);
    DecodedList decoded;
    ASSERT_TRUE(decode_draw_commands(value.get(), decoded)) << json;
    EXPECT_TRUE(decoded.empty()) << json;
    EXPECT_EQ(decoded.charge(), 0u);
  }
}

// The fields of a record that differ from a fresh one, in a fixed order, so
// that a table can state what each command decodes to.
std::string describe(const DrawCommand& command) {
  const DrawCommand fresh;
  std::string out = "kind=" + std::to_string(static_cast<int>(command.kind));
  char number[64];
  const auto add = [&](const char* name, double value, double initial) {
    if (value == initial) return;
    std::snprintf(number, sizeof number, " %s=%g", name, value);
    out += number;
  };
  const auto add_rect = [&](const char* name, const Rect& rect) {
    if (rect == Rect{}) return;
    std::snprintf(number, sizeof number, " %s=%g,%g,%g,%g", name, rect.x, rect.y, rect.w, rect.h);
    out += number;
  };
  add("flag", command.flag, 0);
  add("yoyo", command.yoyo, 0);
  add("points", command.point_count, 0);
  add("fw", command.frame_width, 0);
  add("fh", command.frame_height, 0);
  add("frames", command.frame_count, 0);
  add_rect("rect", command.rect);
  if (command.color.present) out += " color=" + scene::format_color(command.color);
  if (command.color2.present) out += " color2=" + scene::format_color(command.color2);
  add("a", command.a, 0);
  add("b", command.b, 0);
  add("c", command.c, 0);
  add("from", command.from, 0);
  add("to", command.to, 0);
  add("duration", command.duration, 0);
  add_rect("insets", {command.insets[0], command.insets[1], command.insets[2], command.insets[3]});
  if (command.text != nullptr) out += std::string(" text='") + command.text + "'";
  if (command.mode != nullptr) out += std::string(" mode=") + command.mode;
  if (command.effect_clip != nullptr) out += cJSON_IsNull(command.effect_clip) ? " clip=null" : " clip=rect";
  const json::JsonText style = json::print_json(scene::serialize_rect_style(command.style).get());
  const json::JsonText fresh_style = json::print_json(scene::serialize_rect_style(fresh.style).get());
  if (std::strcmp(style.get(), fresh_style.get()) != 0) out += std::string(" style=") + style.get();
  return out;
}

std::string style_with(const char* members) {
  return std::string(R"({)") + members + R"("radius":0,"border_width":0,"glow_width":0,"bevel_width":2,)"
         R"("pattern_spacing":6,"shadow_blur":0,"shadow_x":0,"shadow_y":0,"gradient_axis":"vertical",)"
         R"("bevel":"none","pattern":"none"})";
}

// Every kind, valid and with items missing or of the wrong type (which take
// the defaults).
TEST(DrawCommandTest, DecodingTable) {
  struct Case {
    const char* command;
    std::string decoded;
  };
  const Case cases[] = {
      {R"(["begin", "#000"])", "kind=1 color=#000000ff"},
      {R"(["begin", 3])", "kind=1"},
      {R"(["clip", null])", "kind=2 flag=1"},
      {R"(["clip"])", "kind=2 flag=1"},
      {R"(["clip", [1, 2, 3, 4]])", "kind=2 rect=1,2,3,4"},
      {R"(["clip", [1, "2"]])", "kind=2 rect=1,0,0,0"},
      {R"(["rect", [1, 2, 3, 4], "#f00", 5, "#00f", 6])", "kind=3 rect=1,2,3,4 color=#ff0000ff color2=#0000ffff a=5 b=6"},
      {R"(["rect", [1, 2, 3, 4], 5, null, "not a colour"])", "kind=3 rect=1,2,3,4"},
      {R"(["text", "hi", 7, 8, "#f00", 20, true])", "kind=4 flag=1 color=#ff0000ff a=7 b=8 c=20 text='hi'"},
      {R"(["text"])", "kind=4 c=14 text=''"},
      {R"(["line", 1, 2, 3, 4, "#f00", 0])", "kind=5 color=#ff0000ff a=1 b=2 from=3 to=4"},
      {R"(["line"])", "kind=5 c=1"},
      {R"(["lines", [], "#fff", 2])", "kind=6 color=#ffffffff a=2"},
      {R"(["segments"])", "kind=6 flag=1 a=1"},
      {R"(["image", "a.png", [1, 2, 3, 4], "#f00", "cover"])", "kind=7 rect=1,2,3,4 color=#ff0000ff text='a.png' mode=cover"},
      {R"(["image"])", "kind=7 text='' mode=stretch"},
      {R"(["image_nine", "b.png", [1, 2, 3, 4], [5, 6, 7, 8], "#00f"])",
       "kind=8 rect=1,2,3,4 color=#0000ffff insets=5,6,7,8 text='b.png'"},
      {R"(["image_nine", "x", [1], [1, "2"]])", "kind=8 rect=1,0,0,0 insets=1,0,0,0 text='x'"},
      {R"(["gradient_rect", [1, 2, 3, 4], "#f00", "#00f", "horizontal", 5, 6])",
       "kind=9 flag=1 rect=1,2,3,4 color=#ff0000ff color2=#0000ffff a=5 b=6"},
      {R"(["gradient_rect", [1, 2, 3, 4], "#f00", "#00f", "Horizontal"])",
       "kind=9 rect=1,2,3,4 color=#ff0000ff color2=#0000ffff"},
      {R"(["styled_rect", [1, 2, 3, 4], {"fill": "#f00", "radius": 3}, null])",
       R"(kind=10 rect=1,2,3,4 clip=null style={"fill":"#ff0000ff","radius":3,"border_width":0,"glow_width":0,)"
       R"("bevel_width":2,"pattern_spacing":6,"shadow_blur":0,"shadow_x":0,"shadow_y":0,"gradient_axis":"vertical",)"
       R"("bevel":"none","pattern":"none"})"},
      {R"(["styled_rect", [1, 2]])", "kind=10 rect=1,2,0,0"},
      {R"(["marker", [1, 2, 3, 4], {"foreground": "#00f"}, "circle", true, [0, 0, 9, 9]])",
       "kind=11 flag=1 rect=1,2,3,4 mode=circle clip=rect style=" + style_with(R"("foreground":"#0000ffff",)")},
      {R"(["marker"])", "kind=11 mode=square"},
      {R"(["caret", 1, 2, 3, "#00f"])", "kind=12 color=#0000ffff a=1 b=2 c=3"},
      {R"(["focus_ring", [1, 2, 3, 4], "#f00", 5])", "kind=13 rect=1,2,3,4 color=#ff0000ff a=5"},
      {R"(["sprite", "s.png", [1, 2, 3, 4], 32.0, 16, 3.0, 12.5, true, "#00f"])",
       "kind=14 flag=1 fw=32 fh=16 frames=3 rect=1,2,3,4 color=#0000ffff a=12.5 text='s.png'"},
      {R"(["sprite", "s", [], "3", null])", "kind=14 fw=1 fh=1 frames=1 a=1 text='s'"},
      {R"(["animated_rect", [1, 2, 3, 4], "#f00", 5, "", 6,
          {"property": "opacity", "from": 0.5, "to": 2, "duration": 3, "loop": true, "yoyo": true}])",
       "kind=15 flag=1 yoyo=1 rect=1,2,3,4 color=#ff0000ff a=5 b=6 from=0.5 to=2 duration=3 mode=opacity"},
      {R"(["animated_rect", [], "#f00"])", "kind=15 color=#ff0000ff to=1 duration=1 mode=x"},
      {R"(["animated_rect", [], "", 0, "", 0, {"loop": 1, "yoyo": "true"}])", "kind=15 to=1 duration=1 mode=x"},
      // No decoded form: the window's unknown kind.
      {R"(["icon", "check", 0, 0, 8, "#fff"])", "kind=0"},
      {R"(["Rect", [0, 0, 1, 1], "", 0, "", 0])", "kind=0"},
      {R"([3, 4])", "kind=0"},
      {R"([])", "kind=0"},
      {R"({"rect": 1})", "kind=0"},
  };
  for (const Case& c : cases) {
    JsonPtr list = parse(std::string("[") + c.command + "]");
    DecodedList decoded;
    EXPECT_EQ(describe(decode_one(list, decoded)), c.decoded) << c.command;
  }
}

TEST(DrawCommandTest, StringsAreBorrowedFromTheList) {
  JsonPtr list = parse(R"([["text", "hi", 0, 0, "#fff", 9, false], ["image", "a.png", [0, 0, 1, 1], "#fff", "cover"]])");
  DecodedList decoded;
  ASSERT_TRUE(decode_draw_commands(list.get(), decoded));
  EXPECT_EQ(decoded[0].text, cJSON_GetArrayItem(cJSON_GetArrayItem(list.get(), 0), 1)->valuestring);
  EXPECT_EQ(decoded[1].mode, cJSON_GetArrayItem(cJSON_GetArrayItem(list.get(), 1), 4)->valuestring);
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

// A caller that counted the commands while validating them passes the count;
// the records are the same, and a wrong count never reads or writes past
// what both the list and the count allow.
TEST(DrawCommandTest, CountedListDecodesLikeTheUncountedOne) {
  JsonPtr list = parse(R"([
    ["rect", [1, 2, 3, 4], "#f00", 2, "", 0], ["lines", [[1, 2], [3, 4]], "#fff", 1], ["clip", null]
  ])");
  DecodedList counted, uncounted;
  ASSERT_TRUE(decode_draw_commands(list.get(), 3, counted));
  ASSERT_TRUE(decode_draw_commands(list.get(), uncounted));
  ASSERT_EQ(counted.size(), 3u);
  EXPECT_EQ(counted.point_total(), 2u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(counted[i].kind, uncounted[i].kind) << i;
    EXPECT_EQ(counted[i].rect, uncounted[i].rect) << i;
    EXPECT_EQ(counted[i].color, uncounted[i].color) << i;
    EXPECT_EQ(counted[i].flag, uncounted[i].flag) << i;
    EXPECT_EQ(counted[i].point_count, uncounted[i].point_count) << i;
  }
  EXPECT_EQ(counted[0].color, kRed);

  DecodedList short_count, long_count, none;
  ASSERT_TRUE(decode_draw_commands(list.get(), 2, short_count));
  EXPECT_EQ(short_count.size(), 2u);
  ASSERT_TRUE(decode_draw_commands(list.get(), 5, long_count));
  EXPECT_EQ(long_count.size(), 3u);
  EXPECT_EQ(long_count.charge(), counted.charge());
  ASSERT_TRUE(decode_draw_commands(list.get(), 0, none));
  EXPECT_TRUE(none.empty());
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
