#include "host/backend.h"
#include "terminal/snapshot.h"
#include "terminal/terminal_helpers.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
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
  host::HostErrorBuffer error;
  EXPECT_EQ(print(make_snapshot(frame.get(), 5, 7, error.text()).get()),
            R"({"columns":5,"rows":7,"cells":[{"text":"\"","foreground":[255,255,255],"background":[0,0,0],)"
            R"("width":1,"underline":true}],"rows_text":["\""]})");
  EXPECT_EQ(print(make_snapshot(nullptr, 80, 24, error.text()).get()), R"({"columns":80,"rows":24,"cells":[],"rows_text":[]})");
}

// The object the snapshot stands for, built item by item and printed by
// cJSON: the written text must match it byte for byte.
std::string printed_as_items(const CellFrame& frame, int columns, int rows) {
  json::JsonPtr object(cJSON_CreateObject());
  cJSON_AddNumberToObject(object.get(), "columns", columns);
  cJSON_AddNumberToObject(object.get(), "rows", rows);
  cJSON* cells = cJSON_AddArrayToObject(object.get(), "cells");
  cJSON* rows_text = cJSON_AddArrayToObject(object.get(), "rows_text");
  for (int row = 0; row < frame.rows; ++row) {
    std::string text;
    for (int column = 0; column < frame.columns; ++column) {
      const Cell& cell = frame.at(column, row);
      cJSON* item = cJSON_CreateObject();
      cJSON_AddStringToObject(item, "text", cell.width == 0 || cell.glyph == nullptr ? "" : cell.glyph);
      const int fg[3] = {cell.fg_r, cell.fg_g, cell.fg_b};
      const int bg[3] = {cell.bg_r, cell.bg_g, cell.bg_b};
      cJSON_AddItemToObject(item, "foreground", cJSON_CreateIntArray(fg, 3));
      cJSON_AddItemToObject(item, "background", cJSON_CreateIntArray(bg, 3));
      cJSON_AddNumberToObject(item, "width", cell.width);
      cJSON_AddBoolToObject(item, "underline", cell.underline != 0);
      cJSON_AddItemToArray(cells, item);
      if (cell.width != 0 && cell.glyph != nullptr) text += cell.glyph;
    }
    cJSON_AddItemToArray(rows_text, cJSON_CreateString(text.c_str()));
  }
  return print(object.get());
}

TEST(SnapshotTest, WrittenTextMatchesTheObjectItStandsFor) {
  static const char* const kGlyphs[] = {" ", "a", "\"", "\\", "\x01", "\x1f\t", "é", "漢", "👍🏽", "\x7f", "e\xcc\x81"};
  std::mt19937 random(7);
  CellFrameRef frame = make_cell_frame(13, 5);
  ASSERT_TRUE(frame);
  for (int i = 0; i < 13 * 5; ++i) {
    Cell& cell = frame->cells[i];
    cell.glyph = random() % 5 == 0 ? nullptr : kGlyphs[random() % std::size(kGlyphs)];
    cell.width = static_cast<std::uint8_t>(random() % 3);
    cell.underline = static_cast<std::uint8_t>(random() % 2);
    cell.fg_r = static_cast<std::int32_t>(random() % 256);
    cell.bg_b = static_cast<std::int32_t>(random() % 256);
  }
  host::HostErrorBuffer error;
  EXPECT_EQ(print(make_snapshot(frame.get(), 13, 5, error.text()).get()), printed_as_items(*frame, 13, 5));
}

// Channels keep to 0..255 and widths to 0..2; anything else still prints as
// the printer prints the number.
TEST(SnapshotTest, ChannelsOutsideTheirRangePrintAsThePrinterPrintsThem) {
  CellFrameRef frame = make_cell_frame(6, 1);
  ASSERT_TRUE(frame);
  frame->cells[0].fg_g = -7;
  frame->cells[1].bg_r = 256;
  frame->cells[2].fg_b = std::numeric_limits<std::int32_t>::min();
  frame->cells[3].bg_g = std::numeric_limits<std::int32_t>::max();
  frame->cells[4].fg_r = 100;
  frame->cells[4].bg_b = 9;
  frame->cells[5].width = 255;
  host::HostErrorBuffer error;
  EXPECT_EQ(print(make_snapshot(frame.get(), 6, 1, error.text()).get()), printed_as_items(*frame, 6, 1));
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
    host::HostErrorBuffer error;
    EXPECT_FALSE(make_snapshot(frame, frame->columns, frame->rows, error.text()));
    EXPECT_STREQ(error.c_str(), "Terminal snapshot exceeds the 16 MiB reply budget; use a smaller viewport");
  }
}

}  // namespace
}  // namespace lumora::terminal
