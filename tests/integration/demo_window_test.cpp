// lumora-demo --window without a display: it renders the showcase offscreen,
// writes a PNG capture of the window's pixel size that shows the scene, prints
// the statistics and exits 0, whether asked to with --headless or because no
// display is set. Under a private Xvfb it runs interactively: hovering the
// button, typing and Escape reach it as a user's input would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "client/controller.h"
#include "support/xvfb_server.h"
#include "support/window_fixture.h"
#include "tools/demo/window_scene.h"

namespace lumora {
namespace {

struct DemoCase {
  const char* name;
  std::vector<std::string> prefix;  // run through env to clear the display variables, or not
  std::vector<std::string> flags;
  int width;
  int height;
};

std::filesystem::path demo_path() { return std::filesystem::path(LUMORA_HOST_PATH).parent_path() / "lumora-demo"; }

std::size_t distinct_colours(const test::CapturedPixels& pixels) {
  std::set<std::uint32_t> colours;
  for (std::size_t i = 0; i + 3 < pixels.rgba.size(); i += 4) {
    colours.insert(static_cast<std::uint32_t>(pixels.rgba[i]) << 24 | pixels.rgba[i + 1] << 16 |
                   pixels.rgba[i + 2] << 8 | pixels.rgba[i + 3]);
  }
  return colours.size();
}

class DemoWindowTest : public ::testing::TestWithParam<DemoCase> {};

TEST_P(DemoWindowTest, WritesACaptureThatShowsTheScene) {
  const DemoCase& c = GetParam();
  if (!std::filesystem::exists(demo_path())) GTEST_SKIP() << "lumora-demo is not built next to the host";
  test::TempPath capture(".png");
  std::vector<std::string> args = c.prefix;
  args.push_back(demo_path().string());
  args.insert(args.end(), c.flags.begin(), c.flags.end());
  args.insert(args.end(), {"--capture", capture.path()});
  const std::string program = args.front();
  args.erase(args.begin());

  const client::ProcessResult result = client::run_process(program, args, 60);
  ASSERT_FALSE(result.timed_out);
  ASSERT_EQ(result.exit_code, 0) << result.standard_error;
  EXPECT_NE(result.standard_output.find("PNG capture written to " + capture.path()), std::string::npos)
      << result.standard_output;
  EXPECT_NE(result.standard_output.find("stats: {"), std::string::npos);
  EXPECT_NE(result.standard_output.find("\"backend\":\"window\""), std::string::npos);

  test::CapturedPixels pixels;
  ASSERT_TRUE(test::read_capture(capture.path(), pixels));
  EXPECT_EQ(pixels.width, c.width);
  EXPECT_EQ(pixels.height, c.height);
  // Gradients, shadows, images and anti-aliased text give thousands of
  // colours; a blank or single-colour frame gives one or two.
  EXPECT_GT(distinct_colours(pixels), 500u);
  // The header's gradient starts at its first colour (#1d3160) on the left.
  const test::Rgba corner = pixels.at(1, 1);
  EXPECT_NEAR(corner[0], 0x1d, 3) << test::rgba_text(corner);
  EXPECT_NEAR(corner[1], 0x31, 3) << test::rgba_text(corner);
  EXPECT_NEAR(corner[2], 0x60, 3) << test::rgba_text(corner);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DemoWindowTest,
    ::testing::Values(DemoCase{"Headless", {}, {"--window", "--headless"}, demo::kWindowWidth, demo::kWindowHeight},
                      DemoCase{"NoDisplay",
                               {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"},
                               {"--window"},
                               demo::kWindowWidth,
                               demo::kWindowHeight},
                      // --headless with a display set touches nothing of the desktop.
                      DemoCase{"HeadlessWithADisplaySet",
                               {"/usr/bin/env", "DISPLAY=:87654"},
                               {"--window", "--headless"},
                               demo::kWindowWidth,
                               demo::kWindowHeight},
                      // A display that names no server: the desktop drivers fail, the demo renders offscreen.
                      DemoCase{"UnreachableDisplay",
                               {"/usr/bin/env", "-u", "WAYLAND_DISPLAY", "-u", "SDL_VIDEODRIVER", "DISPLAY=:87654"},
                               {"--window"},
                               demo::kWindowWidth,
                               demo::kWindowHeight},
                      // Larger than the offscreen display at scale 2: the window keeps its logical size.
                      DemoCase{"ScaleTwo",
                               {},
                               {"--window", "--headless", "--scale", "2"},
                               demo::kWindowWidth * 2,
                               demo::kWindowHeight * 2}),
    [](const ::testing::TestParamInfo<DemoCase>& info) { return std::string(info.param.name); });

constexpr double kCommandSeconds = 30;

using test::XvfbServer;

using test::program_installed;

// How many pixels of the rectangle pass `test`: text and marks on the demo's
// dark panels.
template <typename Test>
int pixels_where(const test::CapturedPixels& pixels, int x, int y, int w, int h, Test test) {
  int count = 0;
  for (int row = y; row < y + h; ++row) {
    for (int column = x; column < x + w; ++column) count += test(pixels.at(column, row)) ? 1 : 0;
  }
  return count;
}

TEST(DemoWindowInteractiveTest, HoverTypingAndEscapeReachTheDemo) {
  if (!std::filesystem::exists(demo_path())) GTEST_SKIP() << "lumora-demo is not built next to the host";
  if (!program_installed("Xvfb") || !program_installed("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
  XvfbServer server("1280x1024x24");
  if (server.display().empty()) GTEST_SKIP() << "Xvfb could not start";
  test::TempPath capture(".png");
  // SDL's x11 driver opens a D-Bus connection that libdbus keeps until the
  // host ends; the leak checker of sanitizer builds must not count it.
  const std::string suppressions = testing::TempDir() + "lumora-demo-x11-leaks.supp";
  std::ofstream(suppressions) << "leak:libdbus-1.so\n";

  // The pointer rests on the button (window coordinates are logical units at
  // scale 1 on X11); the second's wait lets the hover patch and its
  // cross-fade finish, and the typed text arrive, before Escape.
  const std::string script =
      "export DISPLAY=" + server.display() + " SDL_RENDER_DRIVER=software LSAN_OPTIONS=suppressions=" +
      suppressions + "\n'" + demo_path().string() + "' --window --capture '" + capture.path() +
      "' & demo=$!\n"
      "window=$(xdotool search --sync --name 'Lumora demo' | head -n 1)\n"
      "xdotool mousemove --window \"$window\" --sync 427 264\n"
      "sleep 0.5; xdotool type --delay 30 hi; sleep 1; xdotool key Escape\n"
      "wait $demo; echo \"demo-exit=$?\"\n";
  const client::ProcessResult result = client::run_process("sh", {"-c", script}, 60);
  ASSERT_FALSE(result.timed_out);
  ASSERT_NE(result.standard_output.find("demo-exit=0"), std::string::npos)
      << result.standard_output << result.standard_error;

  test::CapturedPixels pixels;
  ASSERT_TRUE(test::read_capture(capture.path(), pixels));
  ASSERT_EQ(pixels.width, demo::kWindowWidth);
  ASSERT_EQ(pixels.height, demo::kWindowHeight);
  // Hovered, the button has faded from blue to orange.
  const test::Rgba button = pixels.at(365, 264);
  EXPECT_GT(button[0], 200) << test::rgba_text(button);
  EXPECT_LT(button[2], 120) << test::rgba_text(button);
  // "hi" stands in the field in near-white, where the placeholder was grey
  // (and the caret is yellow).
  const auto white = [](const test::Rgba& p) { return p[0] > 180 && p[1] > 180 && p[2] > 180; };
  EXPECT_GT(pixels_where(pixels, 356, 304, 60, 26, white), 5);
  // The events panel lists the keys, the text and the pointer's moves; before
  // any input it holds one grey line.
  const auto bright = [](const test::Rgba& p) { return p[0] > 160 || p[1] > 160 || p[2] > 160; };
  EXPECT_GT(pixels_where(pixels, 660, 436, 276, 170, bright), 300);
}

}  // namespace
}  // namespace lumora
