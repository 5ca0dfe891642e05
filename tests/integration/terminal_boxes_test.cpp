// Focus rings in a headless terminal driven through the real host: the
// outline forms, fills and markers are unit tests in tests/terminal/; this
// checks that a colour-mode change through the host re-composes the rings
// underlined in monochrome frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace lumora {
namespace {

using test::reply_ok;

TEST(TerminalBoxesTest, FocusRingIsUnderlinedOnlyInMonochromeFrames) {
  auto host = test::launch_headless_host(10, 5);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[)"
                                     R"(["text","ab",8,32,"#ffffff",14,false],)"
                                     R"(["focus_ring",[0,0,40,48],"#00ff00",0],)"
                                     R"(["focus_ring",[48,0,32,32],"#00ff00",0],)"  // two rows: corners only
                                     R"(["focus_ring",[0,64,40,16],"#ffffff",4]]})")));  // one row: brackets
  json::JsonPtr snapshot;
  // One character per cell of a row: 'u' for an underlined cell, '.' otherwise.
  auto underlines = [&](int row) {
    std::string marks;
    for (int column = 0; column < 10; ++column) {
      marks += test::snapshot_cell(snapshot.get(), column, row).ends_with(" underlined") ? 'u' : '.';
    }
    return marks;
  };
  const std::vector<std::string> rows = {"┌───┐ ┌  ┐", "│   │ └  ┘", "└ab─┘     ", "          ", "[   ]     "};
  auto expect_rows = [&](const std::vector<std::string>& underlined) {
    auto reply = host->request(R"({"op":"snapshot"})");
    ASSERT_TRUE(reply_ok(reply));
    snapshot = std::move(reply->result);
    for (std::size_t row = 0; row < rows.size(); ++row) {
      EXPECT_EQ(test::snapshot_row(snapshot.get(), static_cast<int>(row)), rows[row]) << row;
      EXPECT_EQ(underlines(static_cast<int>(row)), underlined[row]) << row;
    }
  };
  expect_rows(std::vector<std::string>(rows.size(), ".........."));

  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","color":"none"})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  // Top and bottom rows of each ring and the sides between them; a two-row
  // ring has no rows between, and its blank middle cells are underlined too.
  expect_rows({"uuuuu.uuuu", "u...u.uuuu", "uuuuu.....", "..........", "uuuuu....."});
  // Underlining keeps the colours, and the text under the ring stays.
  EXPECT_EQ(test::snapshot_cell(snapshot.get(), 0, 0), "┌ 0,255,0 / 0,0,0 underlined");
  EXPECT_EQ(test::snapshot_cell(snapshot.get(), 1, 2), "a 255,255,255 / 0,0,0 underlined");
}

}  // namespace
}  // namespace lumora
