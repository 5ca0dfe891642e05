#include "terminal/drawing/boxes.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json.h"
#include "terminal/drawing/primitives.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {



constexpr scene::ColorValue kWhite = scene::rgba(255, 255, 255, 255);
constexpr scene::ColorValue kBlack = scene::rgba(0, 0, 0, 255);
constexpr scene::ColorValue kGrey = scene::rgba(128, 128, 128, 255);

class BoxesTest : public ::testing::Test {
 protected:
  CellFrameRef frame_ = make_cell_frame(10, 5);
  RasterContext context_;

  // Draws one command given as JSON text through the matching drawer.
  void draw(const std::string& json) {
    json::JsonPtr command(cJSON_Parse(json.c_str()));
    ASSERT_TRUE(command) << json;
    const char* kind = cJSON_GetStringValue(cJSON_GetArrayItem(command.get(), 0));
    const std::string_view name = kind != nullptr ? kind : "";
    if (name == "gradient_rect") draw_gradient_rect_command(context_, *frame_, command.get());
    else if (name == "styled_rect") draw_styled_rect_command(context_, *frame_, command.get());
    else if (name == "marker") draw_marker_command(context_, *frame_, command.get());
    else FAIL() << "unknown kind " << name;
  }
  const Cell& cell(int column, int row) const { return frame_->at(column, row); }
  std::string row_text(int row) const { return test::row_text(*frame_, row); }
  std::string drawn() const { return test::drawn(*frame_); }
  void outline(CellRect rect, double radius, bool bracket, scene::ColorValue colour = kWhite) {
    draw_box_outline(*frame_, rect, BoxOutline{colour, colour, false, false, radius, bracket});
  }
};

TEST_F(BoxesTest, OutlineForms) {
  struct Case {
    CellRect rect;
    double radius;
    bool bracket;
    const char* expected;
  };
  const Case cases[] = {
      {{1, 0, 5, 3}, 0, false, " ┌──┐/ │  │/ └──┘"},
      {{0, 0, 3, 4}, 2, false, "╭─╮/│ │/│ │/╰─╯"},
      {{2, 1, 6, 2}, 0, false, "/  ────"},
      {{3, 0, 4, 3}, 0, false, "   │/   │/   │"},
      {{1, 0, 6, 1}, 1, true, " [   ]"},
      {{0, 1, 4, 3}, 1, true, "/╭  ╮/╰  ╯"},
      {{0, 0, 3, 2}, 0, false, "┌─┐/└─┘"},
      {{4, 4, 4, 5}, 0, false, ""},
  };
  for (const Case& c : cases) {
    frame_ = make_cell_frame(10, 5);
    outline(c.rect, c.radius, c.bracket);
    EXPECT_EQ(drawn(), c.expected);
  }
  frame_ = make_cell_frame(10, 5);
  frame_->clip = CellRect{0, 0, 3, 2};
  outline({0, 0, 5, 4}, 0, false);
  EXPECT_EQ(drawn(), "┌──/│");
}

TEST_F(BoxesTest, TranslucentOutlineOnlyOverBlankOrBoxCells) {
  frame_->at(1, 0).glyph = "x";  // a plain glyph left by a fill, say
  outline({0, 0, 4, 1}, 0, false);
  EXPECT_EQ(drawn(), "────");  // opaque: covers anything but text
  frame_ = make_cell_frame(10, 5);
  frame_->at(1, 0).glyph = "x";
  frame_->at(2, 0).glyph = "│";
  outline({0, 0, 4, 1}, 0, false, scene::rgba(255, 0, 0, 127));
  EXPECT_EQ(drawn(), "─x──");
  EXPECT_EQ(cell(2, 0).foreground(), (scene::rgba(127, 0, 0, 255)));
}

TEST_F(BoxesTest, GradientRectFillsAlongItsAxisAndItsBorderIsAnUnfilledOutline) {
  draw(R"(["gradient_rect", [0, 0, 24, 16], "#000000", "#ffffff", "horizontal", 0, 0])");
  draw(R"(["gradient_rect", [32, 0, 8, 48], "#000", "#fff", "vertical", 5, 0])");
  draw(R"(["gradient_rect", [48, 0, 8, 16], "#102030", "#fff", "vertical", 0, 0])");  // one row: t = 0
  draw(R"(["gradient_rect", [56, 0, 24, 48], "#000000", "#ffffff", "vertical", 4, 3])");
  draw(R"(["gradient_rect", [56, 0, 24, 48], "#fff", "#fff", "vertical", 0, -2])");  // negative: nothing
  const std::pair<CellPoint, scene::ColorValue> backgrounds[] = {
      {{0, 0}, kBlack}, {{1, 0}, kGrey}, {{2, 0}, kWhite}, {{4, 0}, kBlack}, {{4, 1}, kGrey}, {{4, 2}, kWhite},
      {{6, 0}, scene::rgba(16, 32, 48, 255)}, {{8, 1}, kBlack},
  };
  for (const auto& [at, colour] : backgrounds) EXPECT_EQ(cell(at.column, at.row).background(), colour) << at.column << "," << at.row;
  EXPECT_EQ(drawn(), "       ╭─╮/       │ │/       ╰─╯");
  EXPECT_EQ(cell(7, 1).foreground(), kGrey);
  EXPECT_EQ(cell(9, 2).foreground(), kWhite);
}

TEST_F(BoxesTest, TranslucentGradientBlendsWideCharactersOnce) {
  put_glyph(*frame_, 0, 0, "界", 2, kWhite, CellKind::text);
  put_glyph(*frame_, 3, 0, "界", 2, kWhite, CellKind::text);
  // Starting at column 1 (a right half), the first column of the loop is
  // blended and carries the pair's colours: once blended, not twice.
  draw(R"(["gradient_rect", [8, 0, 32, 16], "#ff000080", "#ff000080", "horizontal", 0, 0])");
  for (int column : {0, 3, 4}) EXPECT_EQ(cell(column, 0).background(), (scene::rgba(128, 0, 0, 255))) << column;
}

TEST_F(BoxesTest, StyledRectShapes) {
  const std::pair<const char*, const char*> cases[] = {
      {R"([0, 0, 32, 48], {"border": "#fff"})", ""},  // no width, no border
      {R"([0, 0, 32, 48], {"border": "#fff", "border_width": -1})", "┌──┐/│  │/└──┘"},
      {R"([0, 16, 80, 16], {"border": "#0f0", "border_width": 1, "radius": 4})", "/[        ]"},
      {R"([0, 0, 40, 32], {"border": "#fff", "border_width": 1, "radius": 3})", "╭   ╮/╰   ╯"},
      {R"([0, 0, 32, 6], {"fill": "#fff", "border": "", "border_width": 2})", "────"},
      {R"([0, 20, 16, 6], {"fill": "#fff"})", "/──"},  // y 20..26: centre 23 lies in row 1
      {R"([8, 0, 3, 48], {"fill": "#fff"})", " │/ │/ │"},
      // Spelt otherwise, the same colour is a gradient: filled cells, no line.
      {R"([8, 0, 3, 48], {"fill": "#fff", "fill_end": "#ffffff"})", ""},
      {R"([0, 0, 24, 32], {"fill": "#00f", "fill_end": "", "border": "#fff", "border_width": 1})", "┌ ┐/└ ┘"},
      {R"([0, 0, 80, 80], {})", ""},
      {R"([0, 0, 0, 80], {"fill": "#fff"})", ""},
  };
  for (const auto& [style, expected] : cases) {
    frame_ = make_cell_frame(10, 5);
    draw(std::string(R"(["styled_rect", )") + style + "]");
    EXPECT_EQ(drawn(), expected) << style;
  }
}

TEST_F(BoxesTest, StyledRectColours) {
  // A thin bar on the vertical axis: the middle of fill and fill_end, over an untouched background.
  draw(R"(["styled_rect", [0, 0, 32, 6], {"fill": "#000000", "fill_end": "#ffffff", "border": "", "border_width": 2}])");
  EXPECT_EQ(cell(0, 0).foreground(), kGrey);
  EXPECT_EQ(cell(0, 0).background(), kBlack);
  // On the horizontal axis with a border: the border gradient runs along the bar.
  draw(R"(["styled_rect", [0, 16, 24, 6], {"fill": "#f00", "border": "#000", "border_end": "#fff",
                                            "border_width": 1, "gradient_axis": "horizontal"}])");
  EXPECT_EQ(cell(0, 1).foreground(), kBlack);
  EXPECT_EQ(cell(1, 1).foreground(), kGrey);
  EXPECT_EQ(cell(2, 1).foreground(), kWhite);
  // The same colour spelled alike is a plain fill; spelled otherwise, a gradient.
  draw(R"(["styled_rect", [0, 48, 24, 16], {"fill": "#ff0000", "fill_end": "#ff0000", "gradient_axis": "horizontal"}])");
  draw(R"(["styled_rect", [0, 64, 24, 16], {"fill": "#f00", "fill_end": "#0000ff", "gradient_axis": "horizontal"}])");
  EXPECT_EQ(cell(2, 3).background(), (scene::rgba(255, 0, 0, 255)));
  EXPECT_EQ(cell(1, 4).background(), (scene::rgba(128, 0, 128, 255)));
  EXPECT_EQ(cell(2, 4).background(), (scene::rgba(0, 0, 255, 255)));
}

TEST_F(BoxesTest, MarkerGlyphsAndColours) {
  struct Case {
    const char* style;
    const char* shape_and_state;
    const char* glyph;
    scene::ColorValue foreground, background;
  };
  const scene::ColorValue red = scene::rgba(255, 0, 0, 255), green = scene::rgba(0, 255, 0, 255), blue = scene::rgba(0, 0, 255, 255);
  const Case cases[] = {
      {R"({"fill": "#000", "fill_end": "#fff", "foreground": "#0f0"})", R"("square", true)", "✓", green, kGrey},
      {R"({"fill": "#00f", "border": "#f00", "border_width": 1})", R"("square", false)", "□", red, blue},
      {R"({"fill": "#00f", "border": "#f00", "border_width": 2})", R"("circle", false)", "○", red, kBlack},
      {R"({"fill": "#00f", "foreground": "#0f0"})", R"("circle", true)", "◉", green, kBlack},
      {R"({"fill": "#00f", "foreground": "#0f0"})", R"("circle", false)", "●", blue, kBlack},
      {R"({"foreground": "#0f0", "border_width": 1})", R"("circle", false)", " ", kWhite, kBlack},  // no colour
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.style) + c.shape_and_state);
    frame_ = make_cell_frame(10, 5);
    // The centre of a 16 × 16 rect at the origin is cell (0, 0).
    draw(std::string(R"(["marker", [0, 0, 16, 16], )") + c.style + ", " + c.shape_and_state + "]");
    EXPECT_EQ(row_text(0), c.glyph + std::string(9, ' '));
    EXPECT_EQ(cell(0, 0).foreground(), c.foreground);
    EXPECT_EQ(cell(0, 0).background(), c.background);
  }
}

TEST_F(BoxesTest, MarkerSitsOnTheCentreCellInsideTheClip) {
  draw(R"(["marker", [16, 16, 32, 32], {"foreground": "#fff"}, "circle", true])");
  // Centre (32, 32): ceil(4) − 1 = 3, ceil(2) − 1 = 1.
  EXPECT_STREQ(cell(3, 1).glyph, "◉");
  EXPECT_EQ(cell(3, 1).kind, CellKind::text);
  frame_->clip = CellRect{0, 0, 3, 5};
  draw(R"(["marker", [32, 48, 16, 16], {"fill": "#fff"}, "square", true])");
  EXPECT_STREQ(cell(4, 3).glyph, " ");
  EXPECT_EQ(cell(4, 3).background(), kBlack);  // no fill outside the clip either
}

}  // namespace
}  // namespace lumora::terminal
