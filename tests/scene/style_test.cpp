#include "scene/style.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace lumora::scene {
namespace {

using json::JsonPtr;
using json::JsonText;
using json::print_json;

JsonPtr parse(const char* json) {
  JsonPtr value(cJSON_Parse(json));
  EXPECT_TRUE(value) << json;
  return value;
}

std::string print(const cJSON* value) {
  JsonText text = print_json(value);
  return text ? std::string(text.get()) : std::string();
}

TEST(ColorTest, ParsesTheColourSyntax) {
  EXPECT_EQ(parse_color("#abc"), (ColorValue{170, 187, 204, 255, true}));
  EXPECT_EQ(parse_color("abcd"), (ColorValue{170, 187, 204, 221, true}));
  EXPECT_EQ(parse_color("#FF0000"), parse_color("f00"));
  EXPECT_EQ(parse_color("#ff0000ff"), parse_color("#F00"));
  EXPECT_EQ(parse_color("#12345678"), (ColorValue{0x12, 0x34, 0x56, 0x78, true}));
  // The characters next to each digit range, and bytes above ASCII.
  for (const char* bad : {"", "#", "#abcde", "#12", "#ggg", "##fff", " #fff", "#fff ", "#/00", "#:00", "#@00", "#G00",
                          "#`00", "#g00", "\xc3\xa9\xc3", "#\xff\xff\xff"}) {
    EXPECT_FALSE(parse_color(bad).present) << bad;
  }
  EXPECT_EQ(format_color(parse_color("#F0a")), "#ff00aaff");
  EXPECT_EQ(format_color(ColorValue{}), "");
}

// Names are found by their length first: names that share a length (and
// a first letter) are still told apart, and near misses are unknown.
TEST(RectStyleTest, MemberNamesSharingALengthAreToldApart) {
  const RectStyle style = parse_rect_style(parse(
      R"({"shadow_x": 3, "shadow_y": -4, "bevel_light": "#f00", "bevel_width": 5, "bevel_dark": "#0f0",
          "border_end": "#00f", "padding": 1, "pattern": "grid"})").get());
  EXPECT_EQ(style.shadow_x, 3);
  EXPECT_EQ(style.shadow_y, -4);
  EXPECT_EQ(style.bevel_light, parse_color("#f00"));
  EXPECT_EQ(style.bevel_width, 5);
  EXPECT_EQ(style.bevel_dark, parse_color("#0f0"));
  EXPECT_EQ(style.border_end, parse_color("#00f"));
  EXPECT_EQ(style.pattern, Pattern::grid);
  for (const char* name : {"shadow_z", "Shadow_x", "pattern_spacingx", "pattern_spacin", "fil", "", "glowx"}) {
    const std::string json = std::string(R"({")") + name + R"(": 1})";
    EXPECT_FALSE(validate_rect_style(parse(json.c_str()).get())) << name;
  }
}

TEST(RectStyleTest, ValidationTable) {
  struct Case {
    const char* style;
    bool valid;
  };
  // Boundary pairs: the last accepted value next to the first refused one.
  const Case cases[] = {
      {R"({})", true},
      {R"({"radius": null})", true},
      {R"({"fill": "", "border": "#fff", "border_width": 2, "padding": 0})", true},
      {R"({"fill": "#f00", "fill": "#f00"})", false},
      {R"({"bevel_width": 16})", true},         {R"({"bevel_width": 17})", false},
      {R"({"shadow_x": -24})", true},           {R"({"shadow_x": -25})", false},
      {R"({"shadow_blur": 25})", false},
      {R"({"pattern_spacing": 2})", true},      {R"({"pattern_spacing": 1})", false},
      {R"({"font_size": 0.01})", true},         {R"({"font_size": 0})", false},
      {R"({"bevel": "sunken"})", true},         {R"({"bevel": "Raised"})", false},
      {R"({"font_family": "mono"})", true},     {R"({"font_family": "serif"})", false},
      {R"({"pattern": "grid"})", true},         {R"({"pattern": true})", false},
      {R"({"gradient_axis": "diagonal"})", false},
      {R"({"radius": true})", false},           {R"({"radius": "4"})", false},
      {R"({"radius": -1})", false},             {R"({"radius": 1000001})", false},
      {R"({"fill": "#12"})", false},            {R"({"fill": 12})", false},
      {R"({"fill": [1]})", false},              {R"({"colour": "#fff"})", false},
      {R"({"Fill": "#fff"})", false},           {R"({"fill": "#fff", "extra": null})", false},
      {R"([])", false},                         {R"("fill")", false},
  };
  for (const Case& c : cases) {
    JsonPtr value = parse(c.style);
    EXPECT_EQ(validate_rect_style(value.get()), c.valid) << c.style;
  }
  EXPECT_FALSE(validate_rect_style(nullptr));
  // A number too large for a double becomes infinity and is refused.
  JsonPtr infinite(cJSON_CreateObject());
  cJSON_AddNumberToObject(infinite.get(), "radius", HUGE_VAL);
  EXPECT_FALSE(validate_rect_style(infinite.get()));
}

// Parsing is lenient (validation comes first): the fields of the wrong type
// and the invalid colours below fall back to their defaults.
TEST(RectStyleTest, ParsedStyleSerialisesInFixedOrderAndValidates) {
  JsonPtr value = parse(R"({"pattern": "grid", "fill": "#F00", "border": "nope", "radius": null, "border_width": "3",
                            "bevel": "raised", "glow_width": 3, "font_family": "ui"})");
  JsonPtr written = serialize_rect_style(parse_rect_style(value.get()));
  EXPECT_EQ(print(written.get()),
            R"({"fill":"#ff0000ff","radius":0,"border_width":0,"glow_width":3,"bevel_width":2,)"
            R"("pattern_spacing":6,"shadow_blur":0,"shadow_x":0,"shadow_y":0,)"
            R"("gradient_axis":"vertical","bevel":"raised","pattern":"grid"})");
  EXPECT_TRUE(validate_rect_style(written.get()));
}

}  // namespace
}  // namespace lumora::scene
