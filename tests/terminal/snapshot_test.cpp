#include "terminal/snapshot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::terminal {
namespace {

std::string print(const cJSON* value) {
  scene::JsonText text = scene::print_json(value);
  return text ? std::string(text.get()) : "<null>";
}

std::vector<std::string> member_names(const cJSON* object) {
  std::vector<std::string> names;
  for (const cJSON* item = object ? object->child : nullptr; item != nullptr; item = item->next) {
    names.push_back(item->string);
  }
  return names;
}

TEST(SnapshotEstimateTest, CountsCellsRowsAndEachGlyphByteByItsEscapedCost) {
  CellFrameRef frame = make_cell_frame(2, 1);
  ASSERT_TRUE(frame);
  // Two blank cells: 2 × 94 + 1 × 3 + 128, and 2 for each " ".
  EXPECT_EQ(estimate_snapshot_bytes(*frame, kMaxSnapshotBytes), 2u * 94 + 3 + 128 + 2 * 2);
  frame->at(0, 0).glyph = "\"\x01";  // a quote (4) and a control byte (12)
  frame->at(1, 0).glyph = "\\ab";    // a backslash (4) and two plain bytes (2 each)
  EXPECT_EQ(estimate_snapshot_bytes(*frame, kMaxSnapshotBytes), 2u * 94 + 3 + 128 + 16 + 8);
}

TEST(SnapshotEstimateTest, StopsAsSoonAsTheLimitIsPassed) {
  CellFrameRef frame = make_cell_frame(3, 1);
  ASSERT_TRUE(frame);
  std::uint64_t base = 3u * 94 + 3 + 128;
  EXPECT_GT(estimate_snapshot_bytes(*frame, base - 1), base - 1);
  EXPECT_EQ(estimate_snapshot_bytes(*frame, base + 6), base + 6);
  EXPECT_GT(estimate_snapshot_bytes(*frame, base + 5), base + 5);
}

TEST(SnapshotTest, WithoutAFrameBothArraysAreEmpty) {
  scene::HostErrorBuffer error;
  scene::JsonPtr snapshot = make_snapshot(nullptr, 80, 24, error.text());
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(print(snapshot.get()), R"({"columns":80,"rows":24,"cells":[],"rows_text":[]})");
}

TEST(SnapshotTest, ReportsEveryCellInOrderWithWideCharactersAsTwoCells) {
  CellFrameRef frame = make_cell_frame(3, 2);
  ASSERT_TRUE(frame);
  Cell& wide = frame->at(0, 1);
  wide.glyph = "世";
  wide.width = 2;
  wide.underline = 1;
  wide.set_foreground({1, 2, 3, 40});  // alphas and kinds are not reported
  wide.set_background({4, 5, 6, 50});
  wide.kind = CellKind::text;
  frame->at(1, 1) = wide;
  frame->at(1, 1).glyph = "";
  frame->at(1, 1).width = 0;
  frame->at(2, 1).glyph = "\"";

  scene::HostErrorBuffer error;
  // The grid size reported is the terminal's, which may differ from a frame
  // composed before a resize.
  scene::JsonPtr snapshot = make_snapshot(frame.get(), 5, 7, error.text());
  ASSERT_TRUE(snapshot) << error.c_str();
  EXPECT_EQ(member_names(snapshot.get()), (std::vector<std::string>{"columns", "rows", "cells", "rows_text"}));
  EXPECT_EQ(print(cJSON_GetObjectItemCaseSensitive(snapshot.get(), "columns")), "5");
  const cJSON* cells = cJSON_GetObjectItemCaseSensitive(snapshot.get(), "cells");
  ASSERT_EQ(cJSON_GetArraySize(cells), 6);
  EXPECT_EQ(member_names(cJSON_GetArrayItem(cells, 0)),
            (std::vector<std::string>{"text", "foreground", "background", "width", "underline"}));
  EXPECT_EQ(print(cJSON_GetArrayItem(cells, 0)),
            R"({"text":" ","foreground":[255,255,255],"background":[0,0,0],"width":1,"underline":false})");
  EXPECT_EQ(print(cJSON_GetArrayItem(cells, 3)),
            R"({"text":"世","foreground":[1,2,3],"background":[4,5,6],"width":2,"underline":true})");
  EXPECT_EQ(print(cJSON_GetArrayItem(cells, 4)),
            R"({"text":"","foreground":[1,2,3],"background":[4,5,6],"width":0,"underline":true})");
  EXPECT_EQ(print(cJSON_GetObjectItemCaseSensitive(snapshot.get(), "rows_text")), R"(["   ","世\""])");
}

TEST(SnapshotTest, AFrameBeyondTheReplyBudgetIsRefusedBeforeBuilding) {
  // 16384 × 11 cells estimate 16.9 MB from the cells alone.
  CellFrameRef frame = make_cell_frame(16384, 11);
  ASSERT_TRUE(frame);
  scene::HostErrorBuffer error;
  EXPECT_FALSE(make_snapshot(frame.get(), 16384, 11, error.text()));
  EXPECT_STREQ(error.c_str(), "Terminal snapshot exceeds the 16 MiB reply budget; use a smaller viewport");
}

TEST(SnapshotTest, LongGlyphsCountTowardsTheBudget) {
  // Small enough by cells (about 9.4 MB) but each control byte in the glyphs costs 12.
  CellFrameRef frame = make_cell_frame(1000, 100);
  ASSERT_TRUE(frame);
  static const std::string kControls(8, '\x01');
  for (int i = 0; i < 1000 * 100; ++i) frame->cells[i].glyph = kControls.c_str();
  scene::HostErrorBuffer error;
  EXPECT_FALSE(make_snapshot(frame.get(), 1000, 100, error.text()));
  EXPECT_STREQ(error.c_str(), "Terminal snapshot exceeds the 16 MiB reply budget; use a smaller viewport");
}

}  // namespace
}  // namespace lumora::terminal
