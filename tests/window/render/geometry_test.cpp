// Pixel and clip rectangles of logical ones, and how rounded shapes are
// planned: whole masks, nine-sliced masks, circles and the scanline path.
#include <gtest/gtest.h>

#include "window/render/coverage_mask.h"
#include "window/render/geometry.h"

namespace lumora::window {
namespace {

TEST(GeometryTest, PixelAndClipRectangles) {
  struct Case {
    Rect rect;
    double scale;
    PixelRect pixel, clip;
  };
  const Case cases[] = {
      // Both edges rounded, ties to even: abutting halves at scale 3.
      {{0, 0, 0.5, 1}, 3, {0, 0, 2, 3}, {0, 0, 2, 3}},
      {{0.5, 0, 0.5, 1}, 3, {2, 0, 1, 3}, {1, 0, 2, 3}},
      {{1.25, 1.25, 1, 1}, 2, {2, 2, 2, 2}, {2, 2, 3, 3}},
      // A width of 0 is empty in both forms.
      {{3, 3, 0, 5}, 1, {3, 3, 0, 5}, {3, 3, 0, 5}},
      // Hostile coordinates saturate instead of overflowing.
      {{-1e300, 0, 1e300, 1}, 16, {-1000000000, 0, 1000000000, 16}, {-1000000000, 0, 1000000000, 16}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rect.x << "," << c.rect.y << " " << c.rect.w << "x" << c.rect.h << " @" << c.scale);
    EXPECT_EQ(pixel_rect_of(c.rect, c.scale), c.pixel);
    EXPECT_EQ(clip_rect_of(c.rect, c.scale), c.clip);
  }
}

TEST(GeometryTest, RoundedShapePlans) {
  struct Case {
    std::int64_t w, h;
    double radius, ring;
    bool scanlines, sliced;
    std::int64_t mask_w, mask_h;
    double planned_radius;
  };
  const Case cases[] = {
      {300, 300, 10, 0, false, true, 23, 23, 10},     // large: corners only
      {100, 100, 50, 0, false, false, 100, 100, 50},  // a circle, whole
      {100, 100, 80, 0, false, false, 100, 100, 50},  // radius clamped to half
      {50, 30, 5, 2, false, false, 50, 30, 5},        // small: its own size
      {5000, 5000, 2500, 0, true, false, 5000, 5000, 2500},
      {9000, 20, 4, 0, false, true, 11, 11, 4},       // long and thin: sliced both ways
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " r" << c.radius);
    const RoundedPlan plan = plan_rounded(c.w, c.h, c.radius, c.ring);
    EXPECT_EQ(plan.scanlines, c.scanlines);
    EXPECT_EQ(plan.sliced, c.sliced);
    EXPECT_EQ(plan.mask_w, c.mask_w);
    EXPECT_EQ(plan.mask_h, c.mask_h);
    EXPECT_EQ(plan.radius, c.planned_radius);
  }
}

TEST(GeometryTest, MaskCoverageAndScanlinesAgree) {
  // A filled 20 × 20 shape of radius 6: corners transparent, the middle
  // opaque, and each scanline row covering what the mask covers half or more.
  EXPECT_EQ(mask_coverage(20, 20, 6, 0, 0, 0), 0);
  EXPECT_EQ(mask_coverage(20, 20, 6, 0, 10, 10), 255);
  EXPECT_EQ(mask_coverage(20, 20, 6, 0, 10, 0), 255);
  for (std::int64_t row = 0; row < 20; ++row) {
    const ScanlinePieces pieces = scanline_pieces(20, 20, 6, 0, row);
    ASSERT_EQ(pieces.count, 1);
    for (std::int64_t column = 0; column < 20; ++column) {
      const bool inside = column >= pieces.x[0] && column < pieces.x[0] + pieces.w[0];
      const int alpha = mask_coverage(20, 20, 6, 0, column, row);
      if (inside) {
        EXPECT_GE(alpha, 96) << row << "," << column;
      } else {
        EXPECT_LE(alpha, 160) << row << "," << column;
      }
    }
  }
  // A ring of width 3: the middle of a row is open.
  EXPECT_EQ(mask_coverage(20, 20, 6, 3, 10, 10), 0);
  EXPECT_EQ(mask_coverage(20, 20, 6, 3, 1, 10), 255);
  const ScanlinePieces ring_row = scanline_pieces(20, 20, 6, 3, 10);
  ASSERT_EQ(ring_row.count, 2);
  EXPECT_EQ(ring_row.x[0], 0);
  EXPECT_EQ(ring_row.w[0], 3);
  EXPECT_EQ(ring_row.x[1], 17);
}

}  // namespace
}  // namespace lumora::window
