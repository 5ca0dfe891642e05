// The terminal demo in a terminal emulator with width tables of its own
// (libvterm behind a pseudo-terminal): at each size it lays itself out for,
// every panel's border stays straight on every row, emoji rows included, and
// the Events panel and the quit hint are on screen.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/process.h"
#include "support/host_fixture.h"
#include "support/pty.h"
#include "support/vterm_screen.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;

bool shows(const test::VtermScreen& screen, int column, int row, char32_t glyph) {
  const test::VtermCell cell = screen.cell(column, row);
  return cell.chars.size() == 1 && cell.chars[0] == glyph;
}

bool screen_contains(const test::VtermScreen& screen, int rows, const std::string& text) {
  for (int row = 0; row < rows; ++row) {
    if (screen.row_text(row).find(text) != std::string::npos) return true;
  }
  return false;
}

std::string all_rows(const test::VtermScreen& screen, int rows) {
  std::string text;
  for (int row = 0; row < rows; ++row) text += screen.row_text(row) + "\n";
  return text;
}

// Every rounded box: from each top-left corner, the top-right corner on its
// row, then straight sides down to the bottom corners. A box without a
// top-right corner is cut by a panel's edge and left out. Returns the count
// of boxes found, or -1 with `problem` set.
int check_boxes(const test::VtermScreen& screen, int columns, int rows, std::string* problem) {
  int boxes = 0;
  for (int top = 0; top < rows; ++top) {
    for (int left = 0; left < columns; ++left) {
      if (!shows(screen, left, top, U'╭')) continue;
      int right = left + 1;
      while (right < columns && !shows(screen, right, top, U'╮')) ++right;
      if (right == columns) continue;
      int row = top + 1;
      for (; row < rows && !shows(screen, left, row, U'╰'); ++row) {
        if (!shows(screen, left, row, U'│') || !shows(screen, right, row, U'│')) {
          *problem = "side not straight on row " + std::to_string(row) + " (columns " + std::to_string(left) +
                     " and " + std::to_string(right) + "): " + screen.row_text(row);
          return -1;
        }
      }
      // A box cut by the bottom of the screen has no bottom corners.
      if (row < rows && !shows(screen, right, row, U'╯')) {
        *problem = "bottom-right corner missing on row " + std::to_string(row) + ": " + screen.row_text(row);
        return -1;
      }
      ++boxes;
    }
  }
  return boxes;
}

struct DemoSize {
  const char* name;
  int columns;
  int rows;
};

class TerminalDemoVtermTest : public ::testing::TestWithParam<DemoSize> {};

TEST_P(TerminalDemoVtermTest, PanelBordersStayStraightOnEveryRow) {
  const std::filesystem::path host = LUMORA_HOST_PATH;
  const std::filesystem::path demo = test::built_demo_path();
  if (demo.empty()) GTEST_SKIP() << "lumora-demo is not built next to " << host;
  const DemoSize& size = GetParam();
  test::Pty pty;
  ASSERT_TRUE(pty.valid());
  ASSERT_TRUE(pty.set_size(size.columns, size.rows));
  ASSERT_TRUE(pty.make_output_transparent());
  platform::SpawnOptions options;
  options.path = demo.string();
  options.args = {"--host", host.string()};
  options.controlling_tty = pty.device_path();
  std::string error;
  std::unique_ptr<platform::ChildProcess> process = platform::ChildProcess::spawn(options, &error);
  ASSERT_TRUE(process) << error;

  test::VtermScreen screen(size.columns, size.rows);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  // The clock and the progress bar change ten times a second; wait until the
  // whole layout is there, then look at a few more frames.
  int frames_after_layout = 0;
  while (std::chrono::steady_clock::now() < deadline && frames_after_layout < 5) {
    screen.feed(pty.read_some(200ms));
    if (screen_contains(screen, size.rows, "q, Esc or Ctrl+Q quits") &&
        screen_contains(screen, size.rows, " Events (type, click, scroll, paste) ")) {
      ++frames_after_layout;
    }
  }
  EXPECT_TRUE(screen_contains(screen, size.rows, " Events (type, click, scroll, paste) "))
      << all_rows(screen, size.rows);
  EXPECT_NE(screen.row_text(size.rows - 1).find("q, Esc or Ctrl+Q quits"), std::string::npos)
      << all_rows(screen, size.rows);
  std::string problem;
  // Controls, scripts, progress, clock and events.
  EXPECT_GE(check_boxes(screen, size.columns, size.rows, &problem), 5) << problem << "\n"
                                                                        << all_rows(screen, size.rows);
  ASSERT_TRUE(pty.type("q"));
  EXPECT_EQ(process->wait_exit(10), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TerminalDemoVtermTest,
                         ::testing::Values(DemoSize{"Full", 100, 32}, DemoSize{"Columns81Rows24", 81, 24},
                                           DemoSize{"Columns60Rows20", 60, 20}),
                         [](const ::testing::TestParamInfo<DemoSize>& info) { return info.param.name; });

}  // namespace
}  // namespace lumora
