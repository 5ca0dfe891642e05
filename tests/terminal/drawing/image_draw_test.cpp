#include "terminal/drawing/image_draw.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/png_writer.h"
#include "terminal/drawing/image_cache.h"
#include "terminal/drawing/primitives.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

using test::RecordingSink;

using test_support::Bytes;

constexpr scene::ColorValue kWhite = scene::rgba(255, 255, 255, 255);

class ImageDrawTest : public ::testing::Test {
 protected:
  CellFrameRef frame_ = make_cell_frame(12, 6);
  ImageSourceCache cache_;
  RecordingSink sink_;

  void draw(const std::string& source, double x, double y, double w, double h, scene::ColorValue tint = kWhite) {
    draw_image(*frame_, &cache_, &sink_, source, x, y, w, h, tint, ImageFit::stretch, nullptr);
  }
  const Cell& cell(int column, int row) const { return frame_->at(column, row); }
  std::string glyphs(int row) const { return test::row_text(*frame_, row); }
};

// Red above blue: the rows of a 2 × 2 image.
std::string red_over_blue() {
  return test_support::png_data_uri(
      test_support::png_rgba8(2, 2, {255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 255}));
}

TEST(ImageRegionsTest, NineSliceRegionsInOrder) {
  ImageRegions regions;
  const ImageInsets insets{2, 3, 4, 5};
  ASSERT_EQ(build_image_regions(10, 20, 40, 60, ImageFit::contain, &insets, regions), 9u);
  // top-left, top, top-right, left, centre, right, bottom-left, bottom, bottom-right
  const double expected[9][8] = {
      {0, 0, 2, 3, 0, 0, 2, 3},   {2, 0, 4, 3, 2, 0, 34, 3},   {6, 0, 4, 3, 36, 0, 4, 3},
      {0, 3, 2, 12, 0, 3, 2, 52}, {2, 3, 4, 12, 2, 3, 34, 52}, {6, 3, 4, 12, 36, 3, 4, 52},
      {0, 15, 2, 5, 0, 55, 2, 5}, {2, 15, 4, 5, 2, 55, 34, 5}, {6, 15, 4, 5, 36, 55, 4, 5},
  };
  for (int i = 0; i < 9; ++i) {
    const ImageRegion& r = regions[i];
    EXPECT_EQ((std::vector<double>{r.sx, r.sy, r.sw, r.sh, r.dx, r.dy, r.dw, r.dh}),
              std::vector<double>(expected[i], expected[i] + 8))
        << "region " << i;
  }
}

TEST(ImageRegionsTest, OversizedInsetsKeepOnlyPositiveRegionsAndFractionalRectsScaleCorners) {
  ImageRegions regions;
  const ImageInsets wide{8, 0, 8, 0};  // wider than the 10-pixel image
  ASSERT_EQ(build_image_regions(10, 10, 40, 16, ImageFit::stretch, &wide, regions), 2u);
  EXPECT_EQ(regions[0].sx, 0);  // left column
  EXPECT_EQ(regions[1].sx, 2);  // right column; the centre has negative width
  EXPECT_EQ(regions[1].dx, 32);

  const ImageInsets ones{1, 1, 1, 1};
  ASSERT_EQ(build_image_regions(4, 4, 10.5, 16, ImageFit::stretch, &ones, regions), 9u);
  // kx = 10.5 / round(10.5) = 10.5 / 11
  EXPECT_DOUBLE_EQ(regions[0].dw, 10.5 / 11);
  EXPECT_DOUBLE_EQ(regions[2].dx, 10.5 - 10.5 / 11);
}

TEST_F(ImageDrawTest, TransparentTintOrEmptyAreaDrawsAndLoadsNothing) {
  draw(red_over_blue(), 0, 0, 8, 16, scene::rgba(255, 255, 255, 0));
  draw(red_over_blue(), 0, 0, 0, 16);
  frame_->clip = CellRect{5, 5, 5, 5};
  draw(red_over_blue(), 0, 0, 8, 16);
  EXPECT_EQ(cache_.image_count(), 0);
  EXPECT_EQ(glyphs(0), std::string(12, ' '));
}

TEST_F(ImageDrawTest, PlaceholderKeepsTheBackgroundAndTheClip) {
  fill_cell(*frame_, 0, 1, scene::rgba(0, 0, 80, 255));
  draw("https://example.invalid/x.png", 0, 16, 32, 16, scene::rgba(200, 200, 0, 255));
  EXPECT_EQ(glyphs(1), "[ima        ");
  EXPECT_EQ(cell(0, 1).kind, CellKind::text);
  EXPECT_EQ(cell(0, 1).background(), (scene::rgba(0, 0, 80, 255)));
  EXPECT_EQ(frame_->clip.x1, 12);
  EXPECT_EQ(sink_.texts.size(), 1u);
}

TEST_F(ImageDrawTest, ImagesComposeOverEarlierImageCells) {
  // A half-transparent white over a red-over-blue cell: the upper half blends
  // over the earlier image's foreground, not the background.
  draw(red_over_blue(), 0, 0, 8, 16);
  draw(test_support::png_data_uri(test_support::png_solid(1, 1, {255, 255, 255, 128})), 0, 0, 8, 16);
  EXPECT_EQ(cell(0, 0).foreground(), (scene::rgba(255, 128, 128, 255)));
  EXPECT_EQ(cell(0, 0).background(), (scene::rgba(128, 128, 255, 255)));
}

TEST_F(ImageDrawTest, WideCharactersUnderAnImageAreCleared) {
  put_glyph(*frame_, 0, 0, "界", 2, kWhite, CellKind::text);
  draw(red_over_blue(), 8, 0, 8, 16);
  EXPECT_STREQ(cell(0, 0).glyph, " ");
  EXPECT_EQ(cell(0, 0).width, 1);
  EXPECT_STREQ(cell(1, 0).glyph, "▀");
  EXPECT_EQ(cell(1, 0).width, 1);
}

}  // namespace
}  // namespace lumora::terminal
