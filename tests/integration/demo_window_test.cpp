// lumora-demo --window without a display: it renders the showcase offscreen,
// writes a PNG capture of the window's pixel size that shows the scene, prints
// the statistics and exits 0, whether asked to with --headless or because no
// display is set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "client/controller.h"
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
                      // Larger than the offscreen display at scale 2: the window keeps its logical size.
                      DemoCase{"ScaleTwo",
                               {},
                               {"--window", "--headless", "--scale", "2"},
                               demo::kWindowWidth * 2,
                               demo::kWindowHeight * 2}),
    [](const ::testing::TestParamInfo<DemoCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumora
