#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/drawing/primitives.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

// A grid holding one of everything a line may cross: blanks on two
// backgrounds, box glyphs (constant and pooled), text, an underline, a wide
// character, image cells and a non-box glyph; the clip leaves out the last
// column and the last row.
CellFrameRef crowded_frame() {
  CellFrameRef frame = make_cell_frame(12, 6);
  for (std::int64_t row = 0; row < 6; ++row) {
    for (std::int64_t column = 0; column < 12; ++column) {
      if ((row + column) % 3 == 0) frame->at(column, row).set_background(scene::rgba(40, 80, 120, 255));
    }
  }
  const char* boxes[] = {"─", "│", "┌", "┘", "├", "╭", "┼"};
  for (std::int64_t i = 0; i < 7; ++i) frame->at(i + 1, 1).glyph = boxes[i];
  put_glyph(*frame, 9, 1, "─", 1, scene::rgba(1, 2, 3, 255), CellKind::plain);  // a pooled copy
  put_glyph(*frame, 2, 2, "t", 1, scene::rgba(255, 0, 0, 255), CellKind::text);
  frame->at(4, 2).underline = 1;
  put_glyph(*frame, 6, 2, "\xE4\xB8\x80", 2, scene::rgba(0, 255, 0, 255), CellKind::plain);  // 一, two cells
  put_glyph(*frame, 3, 3, "@", 1, scene::rgba(9, 9, 9, 255), CellKind::image);
  put_glyph(*frame, 5, 3, "\xE2\x96\x80", 1, scene::rgba(9, 9, 9, 255), CellKind::image);  // ▀
  put_glyph(*frame, 7, 4, "x", 1, scene::rgba(200, 200, 0, 255), CellKind::plain);
  frame->at(8, 4).glyph = "\xE2\x95\xB2";  // ╲
  frame->clip = CellRect{0, 0, 11, 5};
  return frame;
}

// The walk the line takes, each cell plotted on its own: what lines did
// before they were drawn a line at a time.
void plot_cell_by_cell(CellFrame& frame, const CellLine& line, const char* glyph, scene::ColorValue colour) {
  std::int64_t column = line.column, row = line.row;
  const std::int64_t delta_column = std::abs(line.end_column - column), delta_row = std::abs(line.end_row - row);
  const std::int64_t step_column = line.end_column > column ? 1 : -1, step_row = line.end_row > row ? 1 : -1;
  std::int64_t err = delta_column - delta_row;
  for (;;) {
    plot_line_glyph(frame, column, row, glyph, colour, true);
    if (column == line.end_column && row == line.end_row) break;
    std::int64_t e2 = 2 * err;
    if (e2 > -delta_row) err -= delta_row, column += step_column;
    if (e2 < delta_column) err += delta_column, row += step_row;
  }
}

std::string describe(const Cell& cell) {
  scene::ColorValue fg = cell.foreground(), bg = cell.background();
  return std::string(cell.glyph) + " fg " + std::to_string(fg.r) + "," + std::to_string(fg.g) + "," +
         std::to_string(fg.b) + "," + std::to_string(fg.a) + " bg " + std::to_string(bg.r) + "," +
         std::to_string(bg.g) + "," + std::to_string(bg.b) + " w" + std::to_string(cell.width) + " u" +
         std::to_string(cell.underline) + " k" + std::to_string(static_cast<int>(cell.kind));
}

TEST(PlotLineCells, EveryCellEndsAsPlottingItAloneWouldLeaveIt) {
  const CellLine lines[] = {
      {0, 1, 11, 1},  // across the box glyphs, out of the clip
      {11, 2, 0, 2},  // right to left over text, underline and the wide character
      {0, 0, 11, 5},  {11, 0, 0, 5}, {3, 0, 3, 5}, {6, 5, 6, 0}, {7, 2, 7, 2}, {0, 3, 11, 4},
      {8, 0, 9, 5},   {-3, -2, 14, 8},  // ends outside the grid
      // Straight lines cut by the clip or the grid on either side, both ways.
      {-5, 3, 20, 3}, {20, 4, -5, 4}, {5, -4, 5, 12}, {10, 12, 10, -4}, {11, 1, 11, 4}, {2, 5, 9, 5},
      {-9, 2, -1, 2}, {4, -9, 4, -1}, {12, 0, 12, 5}, {10, 3, 11, 3}, {0, 4, 0, 5}, {-1, 0, 0, 0},
  };
  const char* glyphs[] = {"─", "│", "\xE2\x95\xB2", "\xE2\x95\xB1", "┌", "x"};
  const scene::ColorValue colours[] = {scene::rgba(255, 255, 255, 255), scene::rgba(0, 128, 255, 128), scene::rgba(255, 0, 0, 127), scene::rgba(10, 20, 30, 0)};
  for (const CellLine& line : lines) {
    for (const char* glyph : glyphs) {
      for (const scene::ColorValue& colour : colours) {
        SCOPED_TRACE(std::to_string(line.column) + "," + std::to_string(line.row) + " → " +
                     std::to_string(line.end_column) + "," + std::to_string(line.end_row) + " " + glyph +
                     " alpha " + std::to_string(colour.a));
        CellFrameRef expected = crowded_frame();
        CellFrameRef actual = crowded_frame();
        // Twice: the second pass meets the cells the first one wrote.
        for (int pass = 0; pass < 2; ++pass) {
          plot_cell_by_cell(*expected, line, glyph, colour);
          plot_line_cells(*actual, line, glyph, colour);
        }
        for (std::int64_t row = 0; row < 6; ++row) {
          for (std::int64_t column = 0; column < 12; ++column) {
            ASSERT_EQ(describe(expected->at(column, row)), describe(actual->at(column, row)))
                << "cell " << column << "," << row;
          }
        }
        EXPECT_EQ(expected->pool_exhausted, actual->pool_exhausted);
      }
    }
  }
}

// A clip that is empty, or lies outside the grid, takes every cell out.
TEST(PlotLineCells, NothingIsPlottedOutsideAnEmptyOrDistantClip) {
  const CellRect clips[] = {{4, 2, 4, 5}, {6, 3, 2, 1}, {-8, -8, -2, -2}, {20, 0, 30, 6}};
  for (const CellRect& clip : clips) {
    CellFrameRef frame = crowded_frame();
    CellFrameRef untouched = crowded_frame();
    frame->clip = clip;
    plot_line_cells(*frame, {0, 2, 11, 2}, "─", scene::rgba(255, 255, 255, 255));
    plot_line_cells(*frame, {3, 0, 3, 5}, "│", scene::rgba(255, 255, 255, 255));
    for (std::int64_t row = 0; row < 6; ++row) {
      for (std::int64_t column = 0; column < 12; ++column) {
        ASSERT_EQ(describe(untouched->at(column, row)), describe(frame->at(column, row)));
      }
    }
  }
}

// Crossing lines of one list meet each other's glyphs: a horizontal and a
// vertical line join, a diagonal replaces what it crosses.
TEST(PlotLineCells, CrossingLinesJoinOrReplace) {
  CellFrameRef frame = make_cell_frame(5, 3);
  const scene::ColorValue white = scene::rgba(255, 255, 255, 255);
  plot_line_cells(*frame, {0, 1, 4, 1}, "─", white);
  plot_line_cells(*frame, {2, 0, 2, 2}, "│", white);
  plot_line_cells(*frame, {0, 0, 2, 2}, "\xE2\x95\xB2", white);
  EXPECT_EQ("╲ │/─╲┼──/  ╲", test::drawn(*frame));
}

}  // namespace
}  // namespace lumora::terminal
