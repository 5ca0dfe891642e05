#include "terminal/boxes.h"

#include <gtest/gtest.h>

#include <string>

#include "scene/json.h"
#include "terminal/primitives.h"
#include "terminal/rasterizer.h"

namespace lumora::terminal {
namespace {

constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kBlack{0, 0, 0, 255};

class BoxesTest : public ::testing::Test {
 protected:
  CellFrameRef frame_ = make_cell_frame(10, 5);
  RasterContext context_;

  // Draws one command given as JSON text through the matching drawer.
  void draw(const char* json) {
    scene::JsonPtr command(cJSON_Parse(json));
    ASSERT_TRUE(command) << json;
    const char* kind = cJSON_GetStringValue(cJSON_GetArrayItem(command.get(), 0));
    const std::string_view name = kind != nullptr ? kind : "";
    if (name == "gradient_rect") draw_gradient_rect_command(context_, *frame_, command.get());
    else if (name == "styled_rect") draw_styled_rect_command(context_, *frame_, command.get());
    else if (name == "marker") draw_marker_command(context_, *frame_, command.get());
    else if (name == "focus_ring") draw_focus_ring_command(context_, *frame_, command.get());
    else FAIL() << "unknown kind " << name;
  }
  const Cell& cell(int column, int row) const { return frame_->at(column, row); }
  std::string row_text(int row) const {
    std::string text;
    for (int column = 0; column < frame_->columns; ++column) text += cell(column, row).glyph;
    return text;
  }
  std::string underlines(int row) const {
    std::string marks;
    for (int column = 0; column < frame_->columns; ++column) marks += cell(column, row).underline ? '_' : '.';
    return marks;
  }
  void outline(CellRect rect, double radius, bool bracket, Rgba colour = kWhite) {
    draw_box_outline(*frame_, rect, BoxOutline{colour, colour, false, false, radius, bracket});
  }
};

TEST_F(BoxesTest, OutlineForms) {
  struct Case {
    const char* name;
    CellRect rect;
    double radius;
    bool bracket;
    const char* rows[4];
  };
  const Case cases[] = {
      {"square", {1, 0, 5, 3}, 0, false, {" ┌──┐     ", " │  │     ", " └──┘     ", "          "}},
      {"rounded", {0, 0, 3, 4}, 2, false, {"╭─╮       ", "│ │       ", "│ │       ", "╰─╯       "}},
      {"one_row", {2, 1, 6, 2}, 0, false, {"          ", "  ────    ", "          ", "          "}},
      {"one_column", {3, 0, 4, 3}, 0, false, {"   │      ", "   │      ", "   │      ", "          "}},
      {"single_cell", {0, 0, 1, 1}, 0, true, {"│         ", "          ", "          ", "          "}},
      {"bracket_one_row", {1, 0, 6, 1}, 1, true, {" [   ]    ", "          ", "          ", "          "}},
      {"bracket_two_rows", {0, 1, 4, 3}, 1, true, {"          ", "╭  ╮      ", "╰  ╯      ", "          "}},
      {"bracket_one_column", {0, 0, 1, 2}, 0, true, {"│         ", "│         ", "          ", "          "}},
      {"two_rows_without_bracket", {0, 0, 3, 2}, 0, false, {"┌─┐       ", "└─┘       ", "          ", "          "}},
      {"empty", {4, 4, 4, 5}, 0, false, {"          ", "          ", "          ", "          "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    frame_ = make_cell_frame(10, 5);
    outline(c.rect, c.radius, c.bracket);
    for (int row = 0; row < 4; ++row) EXPECT_EQ(row_text(row), c.rows[row]) << "row " << row;
  }
}

TEST_F(BoxesTest, OutlineIsClipped) {
  frame_->clip = CellRect{0, 0, 3, 2};
  outline({0, 0, 5, 4}, 0, false);
  EXPECT_EQ(row_text(0), "┌──       ");
  EXPECT_EQ(row_text(1), "│         ");
  EXPECT_EQ(row_text(3), "          ");
}

TEST_F(BoxesTest, OutlineLeavesTextAndUnderlinedCellsAlone) {
  put_glyph(*frame_, 1, 0, "A", 1, kWhite, CellKind::text);
  frame_->at(0, 2).underline = 1;
  outline({0, 0, 4, 3}, 0, false);
  EXPECT_EQ(row_text(0), "┌A─┐      ");
  EXPECT_EQ(row_text(2), " ──┘      ");
}

TEST_F(BoxesTest, TranslucentOutlineOnlyOverBlankOrBoxCells) {
  frame_->at(1, 0).glyph = "x";  // a plain glyph left by a fill, say
  outline({0, 0, 4, 1}, 0, false);
  EXPECT_EQ(row_text(0), "────      ");  // opaque: covers anything but text
  frame_ = make_cell_frame(10, 5);
  frame_->at(1, 0).glyph = "x";
  frame_->at(2, 0).glyph = "│";
  outline({0, 0, 4, 1}, 0, false, Rgba{255, 0, 0, 127});
  EXPECT_EQ(row_text(0), "─x──      ");
  EXPECT_EQ(cell(2, 0).foreground(), (Rgba{127, 0, 0, 255}));
}

TEST_F(BoxesTest, GradientRectFillsAcrossColumns) {
  draw(R"(["gradient_rect", [0, 0, 24, 16], "#000000", "#ffffff", "horizontal", 0, 0])");
  EXPECT_EQ(cell(0, 0).background(), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(cell(1, 0).background(), (Rgba{128, 128, 128, 255}));
  EXPECT_EQ(cell(2, 0).background(), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(cell(3, 0).background(), kBlack);
}

TEST_F(BoxesTest, GradientRectVerticalAndSingleRow) {
  draw(R"(["gradient_rect", [0, 0, 8, 48], "#000", "#fff", "vertical", 5, 0])");
  EXPECT_EQ(cell(0, 0).background(), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(cell(0, 1).background(), (Rgba{128, 128, 128, 255}));
  EXPECT_EQ(cell(0, 2).background(), (Rgba{255, 255, 255, 255}));
  // One row: t = 0 everywhere.
  draw(R"(["gradient_rect", [16, 0, 8, 16], "#102030", "#fff", "vertical", 0, 0])");
  EXPECT_EQ(cell(2, 0).background(), (Rgba{16, 32, 48, 255}));
}

TEST_F(BoxesTest, GradientRectBorderIsAnOutlineAndNegativeDrawsNothing) {
  draw(R"(["gradient_rect", [0, 0, 24, 48], "#000000", "#ffffff", "vertical", 4, 3])");
  EXPECT_EQ(row_text(0), "╭─╮       ");
  EXPECT_EQ(row_text(2), "╰─╯       ");
  EXPECT_EQ(cell(0, 0).foreground(), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(cell(0, 1).foreground(), (Rgba{128, 128, 128, 255}));
  EXPECT_EQ(cell(2, 2).foreground(), kWhite);
  EXPECT_EQ(cell(1, 1).background(), kBlack);  // no fill inside
  frame_ = make_cell_frame(10, 5);
  draw(R"(["gradient_rect", [0, 0, 24, 48], "#fff", "#fff", "vertical", 0, -2])");
  EXPECT_EQ(row_text(0), std::string(10, ' '));
  EXPECT_EQ(cell(0, 0).background(), kBlack);
}

TEST_F(BoxesTest, TranslucentGradientBlendsWideCharactersOnce) {
  put_glyph(*frame_, 0, 0, "界", 2, kWhite, CellKind::text);
  put_glyph(*frame_, 3, 0, "界", 2, kWhite, CellKind::text);
  // Starting at column 1 (a right half), the first column of the loop is blended.
  draw(R"(["gradient_rect", [8, 0, 32, 16], "#ff000080", "#ff000080", "horizontal", 0, 0])");
  // Left half in column 0 lies outside; the right half at column 1 is blended
  // and carries the pair's colours: once blended, not twice.
  EXPECT_EQ(cell(0, 0).background(), (Rgba{128, 0, 0, 255}));
  EXPECT_EQ(cell(3, 0).background(), (Rgba{128, 0, 0, 255}));
  EXPECT_EQ(cell(4, 0).background(), (Rgba{128, 0, 0, 255}));
}

TEST_F(BoxesTest, StyledRectBorderNeedsANonZeroWidth) {
  draw(R"(["styled_rect", [0, 0, 32, 48], {"border": "#fff"}])");
  EXPECT_EQ(row_text(0), std::string(10, ' '));
  draw(R"(["styled_rect", [0, 0, 32, 48], {"border": "#fff", "border_width": 0}])");
  EXPECT_EQ(row_text(0), std::string(10, ' '));
  draw(R"(["styled_rect", [0, 0, 32, 48], {"border": "#fff", "border_width": -1}])");
  EXPECT_EQ(row_text(0), "┌──┐      ");
  EXPECT_EQ(row_text(2), "└──┘      ");
}

TEST_F(BoxesTest, StyledRectOneRowWithBorderIsABracket) {
  draw(R"(["styled_rect", [0, 16, 80, 16], {"border": "#0f0", "border_width": 1, "radius": 4}])");
  EXPECT_EQ(row_text(1), "[        ]");
  EXPECT_EQ(cell(0, 1).foreground(), (Rgba{0, 255, 0, 255}));
}

TEST_F(BoxesTest, StyledRectTwoRowsWithBorderShowsCornersOnly) {
  draw(R"(["styled_rect", [0, 0, 40, 32], {"border": "#fff", "border_width": 1, "radius": 3}])");
  EXPECT_EQ(row_text(0), "╭   ╮     ");
  EXPECT_EQ(row_text(1), "╰   ╯     ");
}

TEST_F(BoxesTest, StyledRectThinBar) {
  // Vertical axis: the middle of fill and fill_end, no outline.
  draw(R"(["styled_rect", [0, 0, 32, 6], {"fill": "#000000", "fill_end": "#ffffff", "border": "", "border_width": 2}])");
  EXPECT_EQ(row_text(0), "────      ");
  EXPECT_EQ(cell(0, 0).foreground(), (Rgba{128, 128, 128, 255}));
  EXPECT_EQ(cell(0, 0).background(), kBlack);
  // Horizontal axis with a border: the border gradient runs along the bar.
  draw(R"(["styled_rect", [0, 32, 24, 6], {"fill": "#f00", "border": "#000", "border_end": "#fff",
                                            "border_width": 1, "gradient_axis": "horizontal"}])");
  EXPECT_EQ(row_text(2), "───       ");
  EXPECT_EQ(cell(0, 2).foreground(), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(cell(1, 2).foreground(), (Rgba{128, 128, 128, 255}));
  EXPECT_EQ(cell(2, 2).foreground(), kWhite);
  EXPECT_EQ(cell(1, 2).background(), kBlack);
}

TEST_F(BoxesTest, StyledRectThinBarOnSecondRow) {
  // y 20..26: centre 23 lies in row 1.
  draw(R"(["styled_rect", [0, 20, 16, 6], {"fill": "#fff"}])");
  EXPECT_EQ(row_text(1), "──        ");
  EXPECT_EQ(row_text(0), std::string(10, ' '));
}

TEST_F(BoxesTest, StyledRectFillPlainOrGradient) {
  draw(R"(["styled_rect", [0, 0, 24, 16], {"fill": "#ff0000", "fill_end": "#ff0000", "gradient_axis": "horizontal"}])");
  EXPECT_EQ(cell(2, 0).background(), (Rgba{255, 0, 0, 255}));
  // Same colour, different spelling: a gradient from red to red.
  draw(R"(["styled_rect", [0, 16, 24, 16], {"fill": "#f00", "fill_end": "#0000ff", "gradient_axis": "horizontal"}])");
  EXPECT_EQ(cell(0, 1).background(), (Rgba{255, 0, 0, 255}));
  EXPECT_EQ(cell(1, 1).background(), (Rgba{128, 0, 128, 255}));
  EXPECT_EQ(cell(2, 1).background(), (Rgba{0, 0, 255, 255}));
  // Fill and outline together; an empty fill_end means a plain fill.
  draw(R"(["styled_rect", [0, 32, 24, 32], {"fill": "#00f", "fill_end": "", "border": "#fff", "border_width": 1}])");
  EXPECT_EQ(row_text(2), "┌ ┐       ");  // two rows: the bracket form
  EXPECT_EQ(row_text(3), "└ ┘       ");
  EXPECT_EQ(cell(1, 2).background(), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(cell(1, 3).background(), (Rgba{0, 0, 255, 255}));
}

TEST_F(BoxesTest, StyledRectNarrowTallFillIsAColumnLine) {
  draw(R"(["styled_rect", [8, 0, 3, 48], {"fill": "#fff"}])");
  EXPECT_STREQ(cell(1, 0).glyph, "│");
  EXPECT_STREQ(cell(1, 1).glyph, "│");
  EXPECT_EQ(cell(1, 0).background(), kBlack);
}

TEST_F(BoxesTest, StyledRectEmptyStyleOrSizeDrawsNothing) {
  draw(R"(["styled_rect", [0, 0, 80, 80], {}])");
  draw(R"(["styled_rect", [0, 0, 0, 80], {"fill": "#fff"}])");
  for (int row = 0; row < 5; ++row) EXPECT_EQ(row_text(row), std::string(10, ' '));
  EXPECT_EQ(cell(0, 0).background(), kBlack);
}

TEST_F(BoxesTest, MarkerGlyphsAndColours) {
  struct Case {
    const char* name;
    const char* command;
    const char* glyph;
    Rgba foreground;
    Rgba background;
  };
  const Case cases[] = {
      {"square_checked", R"(["marker", [0, 0, 16, 16], {"fill": "#000000", "fill_end": "#ffffff", "foreground": "#0f0"}, "square", true])",
       "✓", {0, 255, 0, 255}, {128, 128, 128, 255}},
      {"square_unchecked_border", R"(["marker", [0, 0, 16, 16], {"fill": "#00f", "border": "#f00", "border_width": 1}, "square", false])",
       "□", {255, 0, 0, 255}, {0, 0, 255, 255}},
      {"square_checked_border", R"(["marker", [0, 0, 16, 16], {"fill": "#00f", "foreground": "#fff", "border": "#f00", "border_width": 1}, "square", true])",
       "✓", {255, 255, 255, 255}, {0, 0, 255, 255}},
      {"square_defaults", R"(["marker", [0, 0, 16, 16], {"fill": "#00f"}, "square", false])",
       "□", {0, 0, 255, 255}, {0, 0, 255, 255}},
      {"circle_unchecked_border", R"(["marker", [0, 0, 16, 16], {"fill": "#00f", "border": "#f00", "border_width": 2}, "circle", false])",
       "○", {255, 0, 0, 255}, {0, 0, 0, 255}},
      {"circle_checked", R"(["marker", [0, 0, 16, 16], {"fill": "#00f", "foreground": "#0f0"}, "circle", true])",
       "◉", {0, 255, 0, 255}, {0, 0, 0, 255}},
      {"circle_unchecked", R"(["marker", [0, 0, 16, 16], {"fill": "#00f", "foreground": "#0f0"}, "circle", false])",
       "●", {0, 0, 255, 255}, {0, 0, 0, 255}},
      {"circle_border_without_colour", R"(["marker", [0, 0, 16, 16], {"foreground": "#0f0", "border_width": 1}, "circle", false])",
       "●", {0, 0, 0, 0}, {0, 0, 0, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    frame_ = make_cell_frame(10, 5);
    draw(c.command);
    // The centre of a 16 × 16 rect at the origin is cell (0, 0).
    if (c.foreground.a == 0) {
      EXPECT_STREQ(cell(0, 0).glyph, " ");
      continue;
    }
    EXPECT_STREQ(cell(0, 0).glyph, c.glyph);
    EXPECT_EQ(cell(0, 0).kind, CellKind::text);
    EXPECT_EQ(cell(0, 0).foreground(), c.foreground);
    EXPECT_EQ(cell(0, 0).background(), c.background);
    EXPECT_STREQ(cell(1, 0).glyph, " ");
  }
}

TEST_F(BoxesTest, MarkerSitsOnTheCentreCellInsideTheClip) {
  draw(R"(["marker", [16, 16, 32, 32], {"foreground": "#fff"}, "circle", true])");
  // Centre (32, 32): ceil(4) − 1 = 3, ceil(2) − 1 = 1.
  EXPECT_STREQ(cell(3, 1).glyph, "◉");
  frame_->clip = CellRect{0, 0, 3, 5};
  draw(R"(["marker", [32, 48, 16, 16], {"fill": "#fff"}, "square", true])");
  EXPECT_STREQ(cell(4, 3).glyph, " ");
  EXPECT_EQ(cell(4, 3).background(), kBlack);  // no fill outside the clip either
}

TEST_F(BoxesTest, FocusRingOverTwoRowsShowsCorners) {
  draw(R"(["focus_ring", [0, 0, 48, 32], "#fff", 4])");
  EXPECT_EQ(row_text(0), "╭    ╮    ");
  EXPECT_EQ(row_text(1), "╰    ╯    ");
  EXPECT_EQ(underlines(0), "..........");
}

TEST_F(BoxesTest, MonochromeFocusRingIsUnderlined) {
  frame_->monochrome = true;
  draw(R"(["focus_ring", [0, 0, 48, 32], "#fff", 0])");
  EXPECT_EQ(row_text(0), "┌    ┐    ");
  EXPECT_EQ(underlines(0), "______....");
  EXPECT_EQ(underlines(1), "______....");
  frame_ = make_cell_frame(10, 5);
  frame_->monochrome = true;
  draw(R"(["focus_ring", [8, 0, 32, 64], "#fff", 0])");
  EXPECT_EQ(row_text(1), " │  │     ");
  EXPECT_EQ(underlines(0), ".____.....");
  EXPECT_EQ(underlines(1), "._.._.....");
  EXPECT_EQ(underlines(2), "._.._.....");
  EXPECT_EQ(underlines(3), ".____.....");
  EXPECT_EQ(underlines(4), "..........");
}

}  // namespace
}  // namespace lumora::terminal
