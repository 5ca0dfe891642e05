#include "terminal/snapshot.h"
#include "terminal/terminal_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::terminal {
namespace {

using test::print;

// Cell by cell contents are checked through a host; here the grid size,
// which is the terminal's even for a frame composed before a resize, and the budget.
TEST(SnapshotTest, ReportsTheTerminalsGridSize) {
  CellFrameRef frame = make_cell_frame(1, 1);
  ASSERT_TRUE(frame);
  frame->at(0, 0).glyph = "\"";
  frame->at(0, 0).underline = 1;
  scene::HostErrorBuffer error;
  EXPECT_EQ(print(make_snapshot(frame.get(), 5, 7, error.text()).get()),
            R"({"columns":5,"rows":7,"cells":[{"text":"\"","foreground":[255,255,255],"background":[0,0,0],)"
            R"("width":1,"underline":true}],"rows_text":["\""]})");
  EXPECT_EQ(print(make_snapshot(nullptr, 80, 24, error.text()).get()), R"({"columns":80,"rows":24,"cells":[],"rows_text":[]})");
}

TEST(SnapshotEstimateTest, CountsEachGlyphByteByItsEscapedCostAndStopsPastTheLimit) {
  CellFrameRef frame = make_cell_frame(2, 1);
  ASSERT_TRUE(frame);
  // Two cells: 2 × 94 + 1 × 3 + 128, and each glyph byte 2, a quote or backslash 4, a control byte 12.
  const std::uint64_t base = 2u * 94 + 3 + 128;
  EXPECT_EQ(estimate_snapshot_bytes(*frame, kMaxSnapshotBytes), base + 2 * 2);
  frame->at(0, 0).glyph = "\"\x01";
  frame->at(1, 0).glyph = "\\ab";
  EXPECT_EQ(estimate_snapshot_bytes(*frame, kMaxSnapshotBytes), base + 16 + 8);
  EXPECT_EQ(estimate_snapshot_bytes(*frame, base + 24), base + 24);
  EXPECT_GT(estimate_snapshot_bytes(*frame, base + 23), base + 23);
}

TEST(SnapshotTest, AFrameBeyondTheReplyBudgetIsRefusedBeforeBuilding) {
  // 16384 × 11 cells estimate 16.9 MB from the cells alone; 1000 × 100 cells
  // are small enough (about 9.4 MB) but each control byte in a glyph costs 12.
  CellFrameRef many_cells = make_cell_frame(16384, 11);
  CellFrameRef long_glyphs = make_cell_frame(1000, 100);
  ASSERT_TRUE(many_cells && long_glyphs);
  static const std::string kControls(8, '\x01');
  for (int i = 0; i < 1000 * 100; ++i) long_glyphs->cells[i].glyph = kControls.c_str();
  for (const CellFrame* frame : {many_cells.get(), long_glyphs.get()}) {
    scene::HostErrorBuffer error;
    EXPECT_FALSE(make_snapshot(frame, frame->columns, frame->rows, error.text()));
    EXPECT_STREQ(error.c_str(), "Terminal snapshot exceeds the 16 MiB reply budget; use a smaller viewport");
  }
}

}  // namespace
}  // namespace lumora::terminal
