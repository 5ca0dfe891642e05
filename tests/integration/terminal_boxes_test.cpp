// UI chrome in a headless terminal driven through the real host, as the
// snapshot shows it: styled rectangles with gradient fills and outlines,
// gradient rectangles, check-box and radio markers, and focus rings, which
// monochrome frames underline as well.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace lumora {
namespace {

using test::number_member;
using test::reply_ok;

class TerminalBoxesTest : public testing::Test {
 protected:
  void open(int columns, int rows) {
    host = test::launch_default_host();
    ASSERT_TRUE(host);
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"open","backend":"terminal","headless":true,"columns":)" +
                                       std::to_string(columns) + R"(,"rows":)" + std::to_string(rows) +
                                       R"(,"color":"truecolor"})")));
  }

  void commit(const std::vector<std::string>& commands) {
    std::string text = R"({"op":"frame","commands":[)";
    for (std::size_t i = 0; i < commands.size(); ++i) text += (i == 0 ? "" : ",") + commands[i];
    text += "]}";
    ASSERT_TRUE(reply_ok(host->request(text))) << text;
  }

  void take_snapshot() {
    auto reply = host->request(R"({"op":"snapshot"})");
    ASSERT_TRUE(reply_ok(reply));
    snapshot = std::move(reply->result);
  }

  std::string cell(int column, int row) const { return test::snapshot_cell(snapshot.get(), column, row); }
  std::string row_text(int row) const { return test::snapshot_row(snapshot.get(), row); }

  // One character per cell of a row: 'u' for an underlined cell, '.' otherwise.
  std::string underlines(int row) const {
    const int columns = static_cast<int>(number_member(snapshot.get(), "columns"));
    std::string marks;
    for (int column = 0; column < columns; ++column) {
      const cJSON* item = cJSON_GetArrayItem(test::member(snapshot.get(), "cells"), column + row * columns);
      marks += cJSON_IsTrue(test::member(item, "underline")) ? 'u' : '.';
    }
    return marks;
  }

  std::unique_ptr<client::Controller> host;
  scene::JsonPtr snapshot;
};

TEST_F(TerminalBoxesTest, StyledAndGradientRectsFillAndOutlineCellByCell) {
  open(12, 4);
  commit({
      R"(["begin","#102030"])",
      // Vertical gradients in fill and rounded outline over three rows.
      R"(["styled_rect",[0,0,40,48],{"fill":"#000000","fill_end":"#ffffff","border":"#ff0000",)"
      R"("border_end":"#0000ff","border_width":1,"radius":4}])",
      // A horizontal fill; a border colour without a width draws no outline.
      R"(["styled_rect",[48,0,24,16],{"fill":"#000000","fill_end":"#ffffff","gradient_axis":"horizontal",)"
      R"("border":"#ff0000"}])",
      // Six units high: a thin bar on the centre row in the middle of fill and fill_end.
      R"(["styled_rect",[48,16,48,6],{"fill":"#ff0000","fill_end":"#0000ff"}])",
      R"(["gradient_rect",[0,48,24,16],"#000000","#ffffff","horizontal",0,0])",
      R"(["gradient_rect",[32,48,24,16],"#000000","#ffffff","horizontal",0,-2])",
      // One row with a border: the bracket form.
      R"(["styled_rect",[56,48,40,16],{"border":"#00ff00","border_width":1,"radius":4}])",
  });
  take_snapshot();
  EXPECT_EQ(row_text(0), "╭───╮       ");
  EXPECT_EQ(row_text(1), "│   │ ──────");
  EXPECT_EQ(row_text(2), "╰───╯       ");
  EXPECT_EQ(row_text(3), "       [   ]");

  // Fill rows at t = 0, 0.5 and 1 (127.5 rounds to the even 128); the
  // outline runs from red to blue along the same axis over the fill.
  EXPECT_EQ(cell(0, 0), "╭ 255,0,0 / 0,0,0");
  EXPECT_EQ(cell(2, 0), "─ 255,0,0 / 0,0,0");
  EXPECT_EQ(cell(2, 1), "  255,255,255 / 128,128,128");
  EXPECT_EQ(cell(4, 1), "│ 128,0,128 / 128,128,128");
  EXPECT_EQ(cell(4, 2), "╯ 0,0,255 / 255,255,255");

  EXPECT_EQ(cell(6, 0), "  255,255,255 / 0,0,0");
  EXPECT_EQ(cell(7, 0), "  255,255,255 / 128,128,128");
  EXPECT_EQ(cell(8, 0), "  255,255,255 / 255,255,255");
  EXPECT_EQ(cell(9, 0), "  255,255,255 / 16,32,48");

  EXPECT_EQ(cell(6, 1), "─ 128,0,128 / 16,32,48");
  EXPECT_EQ(cell(11, 1), "─ 128,0,128 / 16,32,48");

  EXPECT_EQ(cell(0, 3), "  255,255,255 / 0,0,0");
  EXPECT_EQ(cell(1, 3), "  255,255,255 / 128,128,128");
  EXPECT_EQ(cell(2, 3), "  255,255,255 / 255,255,255");
  EXPECT_EQ(cell(4, 3), "  255,255,255 / 16,32,48");  // negative border width: nothing
  EXPECT_EQ(cell(7, 3), "[ 0,255,0 / 16,32,48");
  EXPECT_EQ(cell(11, 3), "] 0,255,0 / 16,32,48");
}

TEST_F(TerminalBoxesTest, MarkersShowTheirStateInGlyphAndColour) {
  open(8, 2);
  const std::string bordered =
      R"({"fill":"#ff0000","fill_end":"#0000ff","foreground":"#ffff00","border":"#00ff00","border_width":1})";
  const std::string plain = R"({"fill":"#ff0000","fill_end":"#0000ff","foreground":"#ffff00"})";
  const std::string no_foreground = R"({"fill":"#ff0000","fill_end":"#0000ff"})";
  struct Case {
    std::string style;
    const char* shape;
    bool checked;
    const char* expected;
  };
  // The middle of red and blue is 128, 0, 128; the background 16, 32, 48.
  const std::vector<Case> cases = {
      {bordered, "square", true, "✓ 255,255,0 / 128,0,128"},
      {bordered, "square", false, "□ 0,255,0 / 128,0,128"},
      {plain, "square", false, "□ 255,255,0 / 128,0,128"},
      {bordered, "circle", true, "◉ 0,255,0 / 16,32,48"},
      {bordered, "circle", false, "○ 0,255,0 / 16,32,48"},
      {plain, "circle", false, "● 128,0,128 / 16,32,48"},
      {plain, "circle", true, "◉ 255,255,0 / 16,32,48"},
      {no_foreground, "square", true, "✓ 128,0,128 / 128,0,128"},
  };
  std::vector<std::string> commands = {R"(["begin","#102030"])"};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    commands.push_back(R"(["marker",[)" + std::to_string(8 * i) + ",0,8,16]," + cases[i].style + ",\"" +
                       cases[i].shape + "\"," + (cases[i].checked ? "true" : "false") + "]");
  }
  // A larger rect: the marker takes its centre cell, column 1 of row 1.
  commands.push_back(R"(["marker",[0,16,32,16],)" + bordered + R"(,"circle",true,null])");
  commit(commands);
  take_snapshot();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cell(static_cast<int>(i), 0), cases[i].expected)
        << cases[i].shape << (cases[i].checked ? " checked " : " unchecked ") << cases[i].style;
  }
  EXPECT_EQ(row_text(1), " ◉      ");
}

TEST_F(TerminalBoxesTest, FocusRingIsUnderlinedOnlyInMonochromeFrames) {
  open(10, 5);
  commit({
      R"(["text","ab",8,32,"#ffffff",14,false])",
      R"(["focus_ring",[0,0,40,48],"#00ff00",0])",
      // Two rows: only the corners.
      R"(["focus_ring",[48,0,32,32],"#00ff00",0])",
      // One row: brackets.
      R"(["focus_ring",[0,64,40,16],"#ffffff",4])",
  });
  take_snapshot();
  const std::vector<std::string> expected_rows = {"┌───┐ ┌  ┐", "│   │ └  ┘", "└ab─┘     ", "          ",
                                                  "[   ]     "};
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(row_text(row), expected_rows[static_cast<std::size_t>(row)]) << "row " << row;
    EXPECT_EQ(underlines(row), "..........") << "row " << row;
  }
  EXPECT_EQ(cell(0, 0), "┌ 0,255,0 / 0,0,0");
  EXPECT_EQ(cell(1, 2), "a 255,255,255 / 0,0,0");  // the text under the ring stays

  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","color":"none"})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  take_snapshot();
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(row_text(row), expected_rows[static_cast<std::size_t>(row)]) << "row " << row;
  }
  // Top and bottom rows of each ring, and the sides between them; a
  // two-row ring has no rows between, and its blank middle cells are
  // underlined too.
  EXPECT_EQ(underlines(0), "uuuuu.uuuu");
  EXPECT_EQ(underlines(1), "u...u.uuuu");
  EXPECT_EQ(underlines(2), "uuuuu.....");
  EXPECT_EQ(underlines(3), "..........");
  EXPECT_EQ(underlines(4), "uuuuu.....");
  // Underlining keeps the colours.
  EXPECT_EQ(cell(0, 0), "┌ 0,255,0 / 0,0,0 underlined");
  EXPECT_EQ(cell(7, 0), "  255,255,255 / 0,0,0 underlined");
  EXPECT_EQ(cell(1, 2), "a 255,255,255 / 0,0,0 underlined");
}

}  // namespace
}  // namespace lumora
