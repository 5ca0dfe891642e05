#include "terminal/drawing/primitives.h"
#include "terminal/terminal_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace lumora::terminal {
namespace {

using test::row_text;

constexpr scene::ColorValue kRed = scene::rgba(255, 0, 0, 255);
constexpr scene::ColorValue kGreen = scene::rgba(0, 255, 0, 255);
constexpr scene::ColorValue kTranslucentBlue = scene::rgba(0, 0, 255, 100);

// A frame `columns` wide with a red wide character at column 1.
CellFrameRef frame_with_wide(int columns) {
  CellFrameRef frame = make_cell_frame(columns, 1);
  EXPECT_TRUE(frame);
  put_glyph(*frame, 1, 0, "界", 2, kRed, CellKind::text);
  return frame;
}

TEST(PixelToCell, NearestCellHalvesRoundDownAndHugeCoordinatesClamp) {
  const std::pair<double, std::int64_t> columns[] = {{4, 0}, {4.01, 1}, {12, 1}, {-4, -1}, {1e300, 9000000000000000},
                                                     {-1e300, -9000000000000000}};
  for (const auto& [x, column] : columns) EXPECT_EQ(column_of(x), column) << x;
  EXPECT_EQ(row_of(8), 0);
  EXPECT_EQ(row_of(8.5), 1);
  EXPECT_EQ(pixel_to_cell(16, 32), (CellPoint{2, 2}));
}

TEST(PutGlyph, BlendsTheForegroundOverTheBackgroundAndSkipsTransparentColours) {
  CellFrameRef frame = make_cell_frame(4, 1);
  frame->at(1, 0).set_background(scene::rgba(0, 0, 200, 255));
  put_glyph(*frame, 1, 0, "x", 1, scene::rgba(255, 0, 0, 128), CellKind::text);
  put_glyph(*frame, 2, 0, "y", 1, scene::rgba(255, 0, 0, 0), CellKind::text);
  const Cell& cell = frame->at(1, 0);
  EXPECT_EQ(row_text(*frame, 0), " x  ");
  EXPECT_EQ(cell.foreground(), (scene::rgba(128, 0, 100, 255)));
  EXPECT_EQ(cell.background(), (scene::rgba(0, 0, 200, 255)));
  EXPECT_EQ(cell.kind, CellKind::text);
}

TEST(PutGlyph, OverwritingEitherHalfBlanksBothAndKeepsBackgrounds) {
  CellFrameRef frame = frame_with_wide(4);
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

TEST(FillCell, OpaqueBlanksTranslucentBlendsBothColoursOfTheWholeCharacter) {
  CellFrameRef frame = make_cell_frame(4, 1);
  put_glyph(*frame, 0, 0, "x", 1, kRed, CellKind::text);
  fill_cell(*frame, 0, 0, kTranslucentBlue);
  const Cell& cell = frame->at(0, 0);
  EXPECT_EQ(std::make_tuple(std::string(cell.glyph), cell.foreground(), cell.background(), cell.kind),
            std::make_tuple(std::string("x"), scene::rgba(155, 0, 100, 255), scene::rgba(0, 0, 100, 255), CellKind::text));
  fill_cell(*frame, 0, 0, kGreen);
  EXPECT_EQ(std::make_tuple(std::string(cell.glyph), cell.background(), cell.kind),
            std::make_tuple(std::string(" "), kGreen, CellKind::plain));
  // A right half blends its whole character; composing tests show each is blended once.
  frame = frame_with_wide(4);
  fill_cell(*frame, 2, 0, kTranslucentBlue);
  EXPECT_EQ(frame->at(1, 0).background(), (scene::rgba(0, 0, 100, 255)));
}

TEST(MarkUnderline, UnderlinesTheWholeCharacterInsideTheClipAndColoursBlanks) {
  CellFrameRef frame = frame_with_wide(4);
  frame->clip = CellRect{2, 0, 4, 1};
  mark_underline(*frame, 2, 0, nullptr);
  frame->clip = CellRect{0, 0, 2, 1};
  mark_underline(*frame, 1, 0, nullptr);
  EXPECT_EQ(frame->at(1, 0).underline, 0);  // each time half of it lay outside
  EXPECT_EQ(frame->at(2, 0).underline, 0);

  frame->clip = CellRect{0, 0, 4, 1};
  scene::ColorValue colour = kGreen;
  mark_underline(*frame, 2, 0, &colour);
  EXPECT_EQ(frame->at(1, 0).underline, 1);
  EXPECT_EQ(frame->at(2, 0).underline, 1);
  EXPECT_EQ(frame->at(1, 0).foreground(), kRed);  // not blank
  mark_underline(*frame, 3, 0, &colour);
  EXPECT_EQ(frame->at(3, 0).foreground(), kGreen);
}

TEST(PlotLineGlyph, MergesBoxGlyphsIntoSquareJoins) {
  const char* cases[][3] = {{"─", "│", "┼"}, {"╭", "─", "┬"}, {"└", "┌", "├"}, {"╱", "─", "─"}, {"x", "─", "─"}};
  for (const auto& c : cases) {
    CellFrameRef frame = make_cell_frame(1, 1);
    frame->at(0, 0).glyph = c[0];
    plot_line_glyph(*frame, 0, 0, c[1], kRed, true);
    EXPECT_STREQ(frame->at(0, 0).glyph, c[2]) << c[0] << " + " << c[1];
  }
  CellFrameRef frame = make_cell_frame(1, 1);
  frame->at(0, 0).glyph = "─";
  plot_line_glyph(*frame, 0, 0, "│", kRed, false);
  EXPECT_STREQ(frame->at(0, 0).glyph, "│");
}

TEST(PlotLineGlyph, LeavesTextUnderlinedAndTranslucentCoveredCellsAlone) {
  CellFrameRef frame = make_cell_frame(4, 1);
  put_glyph(*frame, 0, 0, "t", 1, kRed, CellKind::text);
  frame->at(1, 0).underline = 1;
  frame->at(2, 0).glyph = "@";
  frame->at(2, 0).kind = CellKind::image;
  for (int c = 0; c < 4; ++c) plot_line_glyph(*frame, c, 0, "─", scene::rgba(0, 255, 0, 127), true);
  EXPECT_EQ(row_text(*frame, 0), "t @─");
  plot_line_glyph(*frame, 2, 0, "─", kGreen, true);  // opaque covers the image cell
  EXPECT_EQ(row_text(*frame, 0), "t ──");
}

}  // namespace
}  // namespace lumora::terminal
