#include "scene/blend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

#include "json/json.h"

namespace lumora::scene {
namespace {

using json::JsonPtr;
using json::JsonText;
using json::print_json;

JsonPtr parse(const std::string& json) {
  JsonPtr value(cJSON_Parse(json.c_str()));
  EXPECT_TRUE(value) << json;
  return value;
}

std::string print(const cJSON* value) {
  JsonText text = print_json(value);
  return text ? std::string(text.get()) : std::string();
}

const ColorValue kNone{};
const ColorValue kRed{255, 0, 0, 255, true};
const ColorValue kBlue{0, 0, 255, 255, true};

TEST(BlendTest, ColourTable) {
  struct Case {
    ColorValue old_colour, new_colour;
    double t;
    bool premultiplied;
    ColorValue result;
  };
  const Case cases[] = {
      {kRed, kBlue, 0.5, false, {128, 0, 128, 255, true}},  // 127.5 to the even 128
      {kRed, kBlue, 0.5, true, {128, 0, 128, 255, true}},   // opaque: the same as straight
      {kRed, kBlue, 0, true, kRed},
      {kRed, kBlue, 1, true, kBlue},
      // A colour that appears fades in at its own hue, premultiplied or not.
      {kNone, kBlue, 0.5, true, {0, 0, 255, 128, true}},
      {kNone, kBlue, 0.5, false, {0, 0, 255, 128, true}},
      {kNone, kBlue, 0, true, {0, 0, 255, 0, true}},
      // One that disappears fades out.
      {kRed, kNone, 0.25, true, {255, 0, 0, 191, true}},
      {kNone, kNone, 0.5, true, kNone},
      // Premultiplied weighs the channels by alpha; straight does not.
      {{255, 0, 0, 0, true}, kBlue, 0.5, true, {0, 0, 255, 128, true}},
      {{255, 0, 0, 0, true}, kBlue, 0.5, false, {128, 0, 128, 128, true}},
      {{200, 100, 0, 64, true}, {0, 100, 200, 192, true}, 0.5, true, {50, 100, 150, 128, true}},
      // Both transparent: no alpha to weigh by, so straight.
      {{255, 0, 0, 0, true}, {0, 0, 255, 0, true}, 0.5, true, {128, 0, 128, 0, true}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(blend_color(c.old_colour, c.new_colour, c.t, c.premultiplied), c.result)
        << format_color(c.old_colour) << " → " << format_color(c.new_colour) << " at " << c.t;
  }
}

TEST(BlendTest, ProgressThatIsNotANumberStaysDefined) {
  const ColorValue colour = blend_color(kRed, kBlue, std::numeric_limits<double>::quiet_NaN(), true);
  EXPECT_TRUE(colour.present);
  EXPECT_EQ(colour.a, 0);
}

TEST(BlendTest, MixHasNoFadeRule) {
  EXPECT_EQ(mix_color(kRed, kBlue, 0.5), (ColorValue{128, 0, 128, 255, true}));
  EXPECT_EQ(mix_color(kNone, kBlue, 0.5), (ColorValue{0, 0, 128, 128, true}));
}

TEST(BlendTest, StyleMemberByMember) {
  RectStyle old_style;
  old_style.fill = kRed;
  old_style.border = kRed;
  old_style.border_end = kBlue;
  old_style.glow = kRed;
  old_style.radius = 2;
  old_style.border_width = 1;
  old_style.glow_width = 4;
  old_style.bevel_width = 4;
  old_style.shadow_x = -4;
  old_style.shadow_y = 10;
  old_style.shadow_blur = 1;
  old_style.pattern_spacing = 10;
  old_style.bevel = Bevel::raised;
  RectStyle new_style;
  new_style.fill = kBlue;
  new_style.fill_end = kRed;
  new_style.border = kBlue;
  new_style.shadow = kBlue;
  new_style.radius = 6;
  new_style.border_width = 3;
  new_style.glow_width = 0;
  new_style.bevel_width = 0;
  new_style.shadow_x = 4;
  new_style.shadow_y = 0;
  new_style.shadow_blur = 4;
  new_style.pattern_spacing = 20;
  new_style.gradient_axis = GradientAxis::horizontal;
  new_style.pattern = Pattern::grid;

  const RectStyle style = blend_style(old_style, new_style, 0.5);
  const ColorValue purple{128, 0, 128, 255, true};
  EXPECT_EQ(style.fill, purple);
  EXPECT_EQ(style.border, purple);
  EXPECT_EQ(style.glow, (ColorValue{255, 0, 0, 128, true}));    // fades out
  EXPECT_EQ(style.shadow, (ColorValue{0, 0, 255, 128, true}));  // fades in
  EXPECT_FALSE(style.foreground.present);
  EXPECT_FALSE(style.highlight.present);
  // The old fill had no end: its gradient ran from the fill to the fill.
  EXPECT_EQ(style.fill_end, kRed);
  // The new border has no end: it continues the new border colour.
  EXPECT_EQ(style.border_end, kBlue);
  EXPECT_EQ(style.radius, 4);
  EXPECT_EQ(style.border_width, 2);
  EXPECT_EQ(style.glow_width, 2);
  EXPECT_EQ(style.bevel_width, 2);
  EXPECT_EQ(style.shadow_x, 0);
  EXPECT_EQ(style.shadow_y, 5);
  EXPECT_EQ(style.shadow_blur, 2);  // 2.5 to whole units, ties to even
  EXPECT_EQ(style.pattern_spacing, 20);
  EXPECT_EQ(style.gradient_axis, GradientAxis::horizontal);
  EXPECT_EQ(style.bevel, Bevel::none);
  EXPECT_EQ(style.pattern, Pattern::grid);
  EXPECT_EQ(blend_style(old_style, new_style, 0.75).shadow_blur, 3);  // 3.25
}

TEST(BlendTest, TransitionMaskTable) {
  struct Case {
    const char* new_command;
    const char* old_command;
    TransitionMask mask;
    bool needs_transition;
  };
  const Case cases[] = {
      {R"(["rect", [0, 0, 1, 1], "#00f", 0, "", 0])", R"(["rect", [0, 0, 1, 1], "#f00", 0, null, 0])",
       1 << 2 | 1 << 4, true},
      {R"(["rect", [0, 0, 1, 1], "#00f", 0, "", 0])", R"(["rect", [0, 0, 2, 1], "#f00", 0, "", 0])", 0, false},
      {R"(["rect", [0, 0, 1, 1], "#f00", 0, "", 0])", R"(["rect", [0, 0, 1, 1], "#f00", 0, "", 0])",
       1 << 2 | 1 << 4, false},
      {R"(["text", "a", 0, 0, "#00f", 14, false])", R"(["text", "a", 0, 0, "#f00", 14, false])", 1 << 4, true},
      {R"(["text", "b", 0, 0, "#f00", 14, false])", R"(["text", "a", 0, 0, "#f00", 14, false])", 0, false},
      {R"(["line", 0, 0, 1, 1, "#00f", 1])", R"(["line", 0, 0, 1, 1, "#f00", 1])", 1 << 5, true},
      {R"(["lines", [[0, 0]], "#00f", 1])", R"(["lines", [[0, 0]], "#f00", 1])", 1 << 2, true},
      {R"(["segments", [[0, 0]], "#00f", 1])", R"(["lines", [[0, 0]], "#00f", 1])", 0, false},
      {R"(["image", "a", [0, 0, 1, 1], "#00f", "cover"])", R"(["image", "a", [0, 0, 1, 1], "#f00", "cover"])",
       1 << 3, true},
      {R"(["image_nine", "a", [0, 0, 1, 1], [1, 1, 1, 1], "#00f"])",
       R"(["image_nine", "a", [0, 0, 1, 1], [1, 1, 1, 1], "#f00"])", 1 << 4, true},
      {R"(["gradient_rect", [0, 0, 1, 1], "#00f", "#00f", "vertical", 0, 0])",
       R"(["gradient_rect", [0, 0, 1, 1], "#f00", "#f00", "vertical", 0, 0])", 1 << 2 | 1 << 3, true},
      {R"(["caret", 0, 0, 10, "#00f"])", R"(["caret", 0, 0, 10, "#f00"])", 1 << 4, true},
      {R"(["focus_ring", [0, 0, 1, 1], "#00f", 2])", R"(["focus_ring", [0, 0, 1, 1], "#f00", 2])", 1 << 2, true},
      {R"(["begin", "#00f"])", R"(["begin", "#f00"])", 0, false},
      {R"(["clip", [0, 0, 1, 1]])", R"(["clip", null])", 0, false},
      // Styled kinds blend whenever the kind matches, whatever else differs.
      {R"(["styled_rect", [0, 0, 9, 9], {"radius": 3}])", R"(["styled_rect", [5, 0, 1, 1], {}, null])", 0, true},
      {R"(["marker", [0, 0, 1, 1], {}, "circle", true])", R"(["marker", [0, 0, 1, 1], {}, "square", false])", 0,
       true},
      {R"(["marker", [0, 0, 1, 1], {}, "square", false])", R"(["styled_rect", [0, 0, 1, 1], {}])", 0, false},
      {R"(["styled_rect", [0, 0, 1, 1], {}])", R"(["styled_rect", [0, 0, 1, 1], {}])", 0, false},
      {R"(["rect", [0, 0, 1, 1], "#00f", 0, "", 0])", R"(["rect", [0, 0, 1, 1], "#f00", 0, ""])", 0, false},
      {R"(["rect", [0, 0, 1, 1], "#00f", 0, "", 0])", R"({"rect": 1})", 0, false},
  };
  for (const Case& c : cases) {
    JsonPtr new_command = parse(c.new_command);
    JsonPtr old_command = parse(c.old_command);
    EXPECT_EQ(transition_mask(new_command.get(), old_command.get()), c.mask)
        << c.new_command << " / " << c.old_command;
    EXPECT_EQ(pair_needs_transition(new_command.get(), old_command.get()), c.needs_transition)
        << c.new_command << " / " << c.old_command;
  }
}

TEST(BlendTest, ListsNeedTransitionWhereBothReach) {
  JsonPtr old_list = parse(R"([["text", "a", 0, 0, "#fff", 14, false], ["rect", [0, 0, 1, 1], "#f00", 0, "", 0]])");
  JsonPtr same_start = parse(R"([["text", "a", 0, 0, "#fff", 14, false]])");
  JsonPtr recoloured = parse(R"([["text", "a", 0, 0, "#fff", 14, false], ["rect", [0, 0, 1, 1], "#0f0", 0, "", 0]])");
  JsonPtr moved = parse(R"([["text", "a", 0, 0, "#fff", 14, false], ["rect", [1, 0, 1, 1], "#0f0", 0, "", 0]])");
  EXPECT_FALSE(lists_need_transition(same_start.get(), old_list.get()));
  EXPECT_TRUE(lists_need_transition(recoloured.get(), old_list.get()));
  EXPECT_FALSE(lists_need_transition(moved.get(), old_list.get()));
}

TEST(BlendTest, BlendBackWritesWhatIsShown) {
  struct Case {
    const char* command;
    const char* older;
    const char* blended;
  };
  const Case cases[] = {
      {R"(["rect",[0,0,1,1],"#00f",0,"",0])", R"(["rect",[0,0,1,1],"#f00",0,null,0])",
       R"(["rect",[0,0,1,1],"#800080ff",0,"",0])"},
      {R"(["rect",[0,0,1,1],"",0,"#00f",2])", R"(["rect",[0,0,1,1],"",0,"",2])",
       R"(["rect",[0,0,1,1],"",0,"#0000ff80",2])"},
      {R"(["gradient_rect",[0,0,1,1],"#f00","#000","vertical",0,0])",
       R"(["gradient_rect",[0,0,1,1],"#f00","#fff","vertical",0,0])",
       R"(["gradient_rect",[0,0,1,1],"#f00","#808080ff","vertical",0,0])"},
      // Items that do not blend stay as they are.
      {R"(["text","b",0,0,"#00f",14,false])", R"(["text","a",0,0,"#f00",14,false])",
       R"(["text","b",0,0,"#00f",14,false])"},
      {R"(["marker",[0,0,1,1],{},"square",false])", R"(["styled_rect",[0,0,9,9],{}])",
       R"(["marker",[0,0,1,1],{},"square",false])"},
      // Styled rects: the rect as four numbers, the style serialised; the
      // rest comes from the command. The gradient end continues the fill,
      // which draws as a plain fill.
      {R"(["styled_rect",[10,0,20,4],{"fill":"#00f","radius":4},null])",
       R"(["styled_rect",[0,0,10,2],{"fill":"#f00"},[0,0,5,5]])",
       R"(["styled_rect",[5,0,15,3],{"fill":"#800080ff","fill_end":"#800080ff","radius":2,"border_width":0,"glow_width":0,)"
       R"("bevel_width":2,"pattern_spacing":6,"shadow_blur":0,"shadow_x":0,"shadow_y":0,)"
       R"("gradient_axis":"vertical","bevel":"none","pattern":"none"},null])"},
  };
  for (const Case& c : cases) {
    JsonPtr command = parse(c.command);
    JsonPtr older = parse(c.older);
    ASSERT_TRUE(blend_command_back(command.get(), older.get(), 0.5)) << c.command;
    EXPECT_EQ(print(command.get()), c.blended) << c.command;
  }
}

TEST(BlendTest, BlendBackOverListsStopsAtTheShorter) {
  JsonPtr list = parse(R"([["caret",0,0,1,"#00f"],["caret",0,0,1,"#00f"]])");
  JsonPtr older = parse(R"([["caret",0,0,1,"#f00"]])");
  ASSERT_TRUE(blend_list_back(list.get(), older.get(), 0.25));
  EXPECT_EQ(print(list.get()), R"([["caret",0,0,1,"#bf0040ff"],["caret",0,0,1,"#00f"]])");
}

// cJSON allocations that fail from the n-th on.
int cjson_allocations_left = 0;
void* failing_malloc(std::size_t bytes) { return cjson_allocations_left-- > 0 ? std::malloc(bytes) : nullptr; }

// Running out of memory at any allocation fails the blend cleanly: no leak
// (AddressSanitizer would report it), and the command stays a valid tree.
TEST(BlendTest, BlendBackSurvivesMemoryExhaustion) {
  JsonPtr older = parse(R"([["styled_rect",[0,0,10,2],{"fill":"#f00"}],["rect",[0,0,1,1],"#f00",0,"#f00",0]])");
  bool succeeded = false;
  for (int fail_at = 0; !succeeded && fail_at < 200; ++fail_at) {
    JsonPtr list = parse(R"([["styled_rect",[10,0,20,4],{"fill":"#00f"}],["rect",[0,0,1,1],"#00f",0,"#00f",0]])");
    cJSON_Hooks hooks{failing_malloc, std::free};
    cjson_allocations_left = fail_at;
    cJSON_InitHooks(&hooks);
    succeeded = blend_list_back(list.get(), older.get(), 0.5);
    cJSON_InitHooks(nullptr);
    EXPECT_EQ(cJSON_GetArraySize(list.get()), 2) << fail_at;
    EXPECT_FALSE(print(list.get()).empty()) << fail_at;
  }
  EXPECT_TRUE(succeeded);
}

}  // namespace
}  // namespace lumora::scene
