#include "terminal/primitives.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::terminal {
namespace {

constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kTranslucentBlue{0, 0, 255, 100};

std::string row_text(const CellFrame& frame, int row) {
  std::string text;
  for (int c = 0; c < frame.columns; ++c) text += frame.at(c, row).glyph;
  return text;
}

CellFrameRef frame_of(int columns, int rows) {
  CellFrameRef frame = make_cell_frame(columns, rows);
  EXPECT_TRUE(frame);
  return frame;
}

TEST(PixelToCell, NearestCellHalvesRoundDown) {
  EXPECT_EQ(column_of(4), 0);
  EXPECT_EQ(column_of(4.01), 1);
  EXPECT_EQ(column_of(12), 1);
  EXPECT_EQ(column_of(-4), -1);
  EXPECT_EQ(row_of(8), 0);
  EXPECT_EQ(row_of(8.5), 1);
  EXPECT_EQ(pixel_to_cell(16, 32), (CellPoint{2, 2}));
}

TEST(PixelToCell, HugeCoordinatesClamp) {
  EXPECT_EQ(column_of(1e300), 9000000000000000);
  EXPECT_EQ(column_of(-1e300), -9000000000000000);
  EXPECT_EQ(row_of(1e300), 9000000000000000);
}

TEST(RectToCells, EmptyUnlessPositiveExtents) {
  CellRect r = rect_to_cells(8, 16, 16, 32);
  EXPECT_EQ(r.x0, 1);
  EXPECT_EQ(r.y0, 1);
  EXPECT_EQ(r.x1, 3);
  EXPECT_EQ(r.y1, 3);
  EXPECT_TRUE(rect_to_cells(8, 16, 0, 32).empty());
  EXPECT_EQ(rect_to_cells(8, 16, -5, 32).x1, 0);
  EXPECT_TRUE(rect_to_cells(8, 16, 16, -1).empty());
}

TEST(CentreCell, MatchesFormula) {
  EXPECT_EQ(centre_cell(0, 0, 16, 16), (CellPoint{0, 0}));
  EXPECT_EQ(centre_cell(0, 0, 24, 48), (CellPoint{1, 1}));
}

TEST(BoxGlyphs, TableAndLookup) {
  EXPECT_EQ(box_glyph_index("┼"), 10);
  EXPECT_EQ(box_glyph_index("╭"), 11);
  EXPECT_EQ(box_glyph_index("╱"), -1);
  EXPECT_EQ(box_glyph_index(" "), -1);
  EXPECT_EQ(kBoxGlyphTable[2].mask, 6);
}

TEST(LuminanceRamp, EndsOfTheRamp) {
  EXPECT_STREQ(luminance_ramp_glyph(Rgba{255, 255, 255, 255}, Rgba{255, 255, 255, 255}), "@");
  EXPECT_STREQ(luminance_ramp_glyph(Rgba{0, 0, 0, 255}, Rgba{0, 0, 0, 255}), " ");
}

TEST(PutGlyph, WritesForegroundBlendedOverBackgroundAndKeepsBackground) {
  CellFrameRef frame = frame_of(4, 1);
  frame->at(1, 0).set_background(Rgba{0, 0, 200, 255});
  put_glyph(*frame, 1, 0, "x", 1, Rgba{255, 0, 0, 128}, CellKind::text);
  const Cell& cell = frame->at(1, 0);
  EXPECT_STREQ(cell.glyph, "x");
  EXPECT_EQ(cell.foreground(), (Rgba{128, 0, 100, 255}));
  EXPECT_EQ(cell.background(), (Rgba{0, 0, 200, 255}));
  EXPECT_EQ(cell.kind, CellKind::text);
}

TEST(PutGlyph, TransparentColourDrawsNothing) {
  CellFrameRef frame = frame_of(2, 1);
  put_glyph(*frame, 0, 0, "x", 1, Rgba{255, 0, 0, 0}, CellKind::text);
  EXPECT_STREQ(frame->at(0, 0).glyph, " ");
}

TEST(PutGlyph, WideCharacterNeedsBothHalvesInsideTheClip) {
  CellFrameRef frame = frame_of(4, 1);
  frame->clip = CellRect{0, 0, 3, 1};
  put_glyph(*frame, 2, 0, "界", 2, kRed, CellKind::text);
  EXPECT_EQ(row_text(*frame, 0), "    ");
  put_glyph(*frame, 1, 0, "界", 2, kRed, CellKind::text);
  EXPECT_EQ(row_text(*frame, 0), " 界 ");
  EXPECT_EQ(frame->at(1, 0).width, 2);
  EXPECT_EQ(frame->at(2, 0).width, 0);
  EXPECT_STREQ(frame->at(2, 0).glyph, "");
  EXPECT_EQ(frame->at(2, 0).foreground(), frame->at(1, 0).foreground());
}

TEST(PutGlyph, OverwritingEitherHalfBlanksBothAndKeepsBackgrounds) {
  CellFrameRef frame = frame_of(4, 1);
  put_glyph(*frame, 1, 0, "界", 2, kRed, CellKind::text);
  frame->at(2, 0).set_background(kGreen);
  put_glyph(*frame, 2, 0, "a", 1, kRed, CellKind::text);
  EXPECT_EQ(row_text(*frame, 0), "  a ");
  EXPECT_EQ(frame->at(1, 0).width, 1);
  EXPECT_EQ(frame->at(2, 0).background(), kGreen);
  put_glyph(*frame, 0, 0, "界", 2, kRed, CellKind::text);
  put_glyph(*frame, 0, 0, "b", 1, kRed, CellKind::text);
  EXPECT_EQ(row_text(*frame, 0), "b a ");
  EXPECT_EQ(frame->at(1, 0).width, 1);
}

TEST(ClearWidePair, BlanksTheWholeCharacterWithoutClipTest) {
  CellFrameRef frame = frame_of(3, 1);
  put_glyph(*frame, 1, 0, "界", 2, kRed, CellKind::text);
  frame->clip = CellRect{};
  clear_wide_pair(*frame, 2, 0);
  EXPECT_EQ(row_text(*frame, 0), "   ");
  EXPECT_EQ(frame->at(1, 0).width, 1);
  EXPECT_EQ(frame->at(2, 0).width, 1);
  clear_wide_pair(*frame, 99, 0);  // outside the grid: ignored
}

TEST(FillCell, OpaqueBlanksTranslucentBlendsBothColours) {
  CellFrameRef frame = frame_of(4, 1);
  put_glyph(*frame, 0, 0, "x", 1, kRed, CellKind::text);
  fill_cell(*frame, 0, 0, kTranslucentBlue);
  const Cell& blended = frame->at(0, 0);
  EXPECT_STREQ(blended.glyph, "x");
  EXPECT_EQ(blended.foreground(), (Rgba{155, 0, 100, 255}));
  EXPECT_EQ(blended.background(), (Rgba{0, 0, 100, 255}));
  EXPECT_EQ(blended.kind, CellKind::text);
  fill_cell(*frame, 0, 0, kGreen);
  EXPECT_STREQ(frame->at(0, 0).glyph, " ");
  EXPECT_EQ(frame->at(0, 0).background(), kGreen);
  EXPECT_EQ(frame->at(0, 0).kind, CellKind::plain);
}

TEST(FillCell, TranslucentOverWideCharacterWritesBothHalves) {
  CellFrameRef frame = frame_of(4, 1);
  put_glyph(*frame, 1, 0, "界", 2, kRed, CellKind::text);
  fill_cell(*frame, 2, 0, kTranslucentBlue);
  EXPECT_EQ(frame->at(1, 0).background(), (Rgba{0, 0, 100, 255}));
  EXPECT_EQ(frame->at(2, 0).background(), (Rgba{0, 0, 100, 255}));
  EXPECT_EQ(frame->at(1, 0).width, 2);
  EXPECT_STREQ(frame->at(1, 0).glyph, "界");
}

TEST(FillCell, MonochromeImageCellRechoosesRampGlyph) {
  CellFrameRef frame = frame_of(1, 1);
  frame->monochrome = true;
  Cell& cell = frame->at(0, 0);
  cell.glyph = "@";
  cell.kind = CellKind::image;
  cell.set_foreground(Rgba{255, 255, 255, 255});
  cell.set_background(Rgba{255, 255, 255, 255});
  fill_cell(*frame, 0, 0, Rgba{0, 0, 0, 254});
  EXPECT_STREQ(frame->at(0, 0).glyph, " ");
}

TEST(MarkUnderline, UnderlinesWholeCharacterAndColoursBlanks) {
  CellFrameRef frame = frame_of(4, 1);
  put_glyph(*frame, 1, 0, "界", 2, kRed, CellKind::text);
  Rgba colour = kGreen;
  mark_underline(*frame, 2, 0, &colour);
  EXPECT_EQ(frame->at(1, 0).underline, 1);
  EXPECT_EQ(frame->at(2, 0).underline, 1);
  EXPECT_EQ(frame->at(1, 0).foreground(), (Rgba{255, 0, 0, 255}));  // not blank
  mark_underline(*frame, 3, 0, &colour);
  EXPECT_EQ(frame->at(3, 0).foreground(), kGreen);
}

TEST(MarkUnderline, CharacterMustLieWhollyInTheClip) {
  CellFrameRef frame = frame_of(4, 1);
  put_glyph(*frame, 1, 0, "界", 2, kRed, CellKind::text);
  frame->clip = CellRect{2, 0, 4, 1};
  mark_underline(*frame, 2, 0, nullptr);
  EXPECT_EQ(frame->at(2, 0).underline, 0);
  frame->clip = CellRect{0, 0, 2, 1};
  mark_underline(*frame, 1, 0, nullptr);
  EXPECT_EQ(frame->at(1, 0).underline, 0);
}

TEST(PlotLineGlyph, MergesBoxGlyphsIntoSquareJoins) {
  struct Case {
    const char* existing;
    const char* incoming;
    const char* expected;
  };
  const Case cases[] = {
      {"─", "│", "┼"}, {"╭", "─", "┬"}, {"┌", "┘", "┼"}, {"│", "─", "┼"}, {"└", "┌", "├"},
      {"╱", "─", "─"}, {"─", "╲", "╲"}, {"x", "─", "─"},
  };
  for (const Case& c : cases) {
    CellFrameRef frame = frame_of(1, 1);
    frame->at(0, 0).glyph = c.existing;
    plot_line_glyph(*frame, 0, 0, c.incoming, kRed, true);
    EXPECT_STREQ(frame->at(0, 0).glyph, c.expected) << c.existing << " + " << c.incoming;
  }
  CellFrameRef frame = frame_of(1, 1);
  frame->at(0, 0).glyph = "─";
  plot_line_glyph(*frame, 0, 0, "│", kRed, false);
  EXPECT_STREQ(frame->at(0, 0).glyph, "│");
}

TEST(PlotLineGlyph, LeavesTextUnderlinedAndTranslucentCoveredCellsAlone) {
  CellFrameRef frame = frame_of(4, 1);
  put_glyph(*frame, 0, 0, "t", 1, kRed, CellKind::text);
  frame->at(1, 0).underline = 1;
  frame->at(2, 0).glyph = "@";
  frame->at(2, 0).kind = CellKind::image;
  const Rgba faint{0, 255, 0, 127};
  for (int c = 0; c < 4; ++c) plot_line_glyph(*frame, c, 0, "─", faint, true);
  EXPECT_EQ(row_text(*frame, 0), "t @─");
  plot_line_glyph(*frame, 2, 0, "─", kGreen, true);  // opaque covers the image cell
  EXPECT_EQ(row_text(*frame, 0), "t ──");
}

TEST(PlotLineGlyph, RespectsClip) {
  CellFrameRef frame = frame_of(3, 1);
  frame->clip = CellRect{1, 0, 2, 1};
  for (int c = 0; c < 3; ++c) plot_line_glyph(*frame, c, 0, "─", kRed, true);
  EXPECT_EQ(row_text(*frame, 0), " ─ ");
}

TEST(BoxOutline, SquareRoundedAndDegenerateShapes) {
  CellFrameRef frame = frame_of(5, 3);
  BoxOutline square{kRed, kRed};
  draw_box_outline(*frame, CellRect{0, 0, 4, 3}, square);
  EXPECT_EQ(row_text(*frame, 0), "┌──┐ ");
  EXPECT_EQ(row_text(*frame, 1), "│  │ ");
  EXPECT_EQ(row_text(*frame, 2), "└──┘ ");

  CellFrameRef rounded = frame_of(3, 2);
  BoxOutline round{kRed, kRed};
  round.radius = 2;
  draw_box_outline(*rounded, CellRect{0, 0, 3, 2}, round);
  EXPECT_EQ(row_text(*rounded, 0), "╭─╮");
  EXPECT_EQ(row_text(*rounded, 1), "╰─╯");

  CellFrameRef line = frame_of(3, 2);
  draw_box_outline(*line, CellRect{0, 0, 3, 1}, square);
  draw_box_outline(*line, CellRect{0, 1, 1, 2}, square);
  EXPECT_EQ(row_text(*line, 0), "───");
  EXPECT_EQ(row_text(*line, 1), "│  ");
}

TEST(BoxOutline, BracketFormAndGradient) {
  CellFrameRef frame = frame_of(4, 1);
  BoxOutline bracket{kRed, kGreen};
  bracket.bracket = true;
  bracket.gradient = true;
  bracket.horizontal = true;
  draw_box_outline(*frame, CellRect{0, 0, 4, 1}, bracket);
  EXPECT_EQ(row_text(*frame, 0), "[  ]");
  EXPECT_EQ(frame->at(0, 0).foreground(), kRed);
  EXPECT_EQ(frame->at(3, 0).foreground(), kGreen);
}

}  // namespace
}  // namespace lumora::terminal
