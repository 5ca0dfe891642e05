// Long point lists in a headless terminal driven through the real host.
#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"

namespace lumora {
namespace {

using test::reply_ok;

// Points zigzagging between the grid's left and right edges, slowly downwards
// and back up: x alternates 0 and 1600, y = 7k mod 960. The list repeats
// every 960 points.
std::string zigzag_frame(int points) {
  std::string text = R"({"op":"frame","commands":[["begin","#000000"],["lines",[)";
  for (int k = 0; k < points; ++k) {
    text += (k == 0 ? "[" : ",[") + std::to_string((k % 2) * 1600) + "," + std::to_string((k * 7) % 960) + "]";
  }
  return text + R"(],"#ffcc00",1]]})";
}

// One list of 100,000 points crosses every cell of a 200 × 60 grid hundreds
// of times. Each cell's glyph follows only from the writes of one period of
// the list (a line glyph replaces, box glyphs join), so the whole list leaves
// the grid exactly as its first full period and the remainder do.
TEST(TerminalLinesTest, LongZigzagLeavesWhatOnePeriodAndTheRemainderLeave) {
  constexpr int kPoints = 100000, kPeriod = 960;
  auto host = test::launch_headless_host(200, 60);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(zigzag_frame(kPoints), 120)));
  std::optional<client::Reply> whole = host->request(R"({"op":"snapshot"})");
  ASSERT_TRUE(reply_ok(whole));
  ASSERT_TRUE(reply_ok(host->request(zigzag_frame(kPeriod + kPoints % kPeriod))));
  std::optional<client::Reply> short_list = host->request(R"({"op":"snapshot"})");
  ASSERT_TRUE(reply_ok(short_list));
  EXPECT_EQ(short_list->body, whole->body);
  // The lines are there, in their colour, on every row.
  for (int row = 0; row < 60; ++row) {
    EXPECT_NE(std::string::npos, test::snapshot_row(whole->result.get(), row).find("─")) << row;
    std::string cell = test::snapshot_cell(whole->result.get(), 100, row);
    EXPECT_EQ(" 255,204,0 / 0,0,0", cell.substr(cell.find(' '))) << row;
  }
  EXPECT_TRUE(host->close());
}

}  // namespace
}  // namespace lumora
