#include "window/scene/segment_damage.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace lumora::window {

void PrintTo(const Rect& rect, std::ostream* out);

namespace {

// A 100 × 50 logical area at scale 1 unless a case says otherwise.
std::vector<Rect> damage_of(const std::vector<Rect>& added, double scale = 1) {
  std::vector<Rect> damage;
  for (const Rect& r : added) add_damage(damage, r, scale, 100, 50);
  return damage;
}

bool same(const Rect& a, const Rect& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

TEST(SegmentDamageTest, RectanglesGrowByOnePixelMergeOnOverlapAndStayInTheArea) {
  struct Case {
    const char* name;
    std::vector<Rect> added;
    double scale;
    std::vector<Rect> expected;
  };
  const Case cases[] = {
      {"grown by one pixel", {{10, 10, 5, 5}}, 1, {{9, 9, 7, 7}}},
      {"a pixel is half a unit at scale 2", {{10, 10, 5, 5}}, 2, {{9.5, 9.5, 6, 6}}},
      {"clipped to the area", {{-20, 40, 30, 30}}, 1, {{0, 39, 11, 11}}},
      {"empty and outside ignored", {{10, 10, 0, 5}, {10, 10, 5, -1}, {200, 10, 5, 5}}, 1, {}},
      {"overlapping merged", {{10, 10, 5, 5}, {14, 14, 5, 5}}, 1, {{9, 9, 11, 11}}},
      // Grown, they end at 16 and start at 16: touching is no overlap.
      {"touching kept apart", {{10, 10, 5, 5}, {17, 10, 5, 5}}, 1, {{9, 9, 7, 7}, {16, 9, 7, 7}}},
      // The third joins the first two, whose union then also meets nothing else.
      {"a union rescans", {{0, 0, 2, 2}, {40, 0, 2, 2}, {1, 0, 40, 1}}, 1, {{0, 0, 43, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Rect> damage = damage_of(c.added, c.scale);
    ASSERT_EQ(damage.size(), c.expected.size());
    for (std::size_t i = 0; i < damage.size(); ++i) {
      EXPECT_TRUE(same(damage[i], c.expected[i])) << i;
    }
  }
}

TEST(SegmentDamageTest, MoreThanTheLimitCollapsesIntoOneBoundingRectangle) {
  std::vector<Rect> added;
  for (int i = 0; i < static_cast<int>(kMaxDamageRects); ++i) added.push_back({(i % 16) * 6.0 + 1, (i / 16) * 6.0 + 1, 1, 1});
  std::vector<Rect> damage = damage_of(added);
  EXPECT_EQ(damage.size(), kMaxDamageRects);
  add_damage(damage, {90, 45, 1, 1}, 1, 100, 50);
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_TRUE(same(damage[0], Rect{0, 0, 93, 47}));
}

TEST(SegmentDamageTest, PixelsReachOutwardToWholePixels) {
  const PixelRect cases[] = {damage_pixels({1.5, 2.25, 3, 1}, 1), damage_pixels({1.5, 2.25, 3, 1}, 2),
                             damage_pixels({0, 0, 10, 10}, 1)};
  EXPECT_EQ(cases[0], (PixelRect{1, 2, 4, 2}));
  EXPECT_EQ(cases[1], (PixelRect{3, 4, 6, 3}));
  EXPECT_EQ(cases[2], (PixelRect{0, 0, 10, 10}));
}

TEST(SegmentDamageTest, OnlyAPositiveAreaOverlaps) {
  EXPECT_TRUE(rects_overlap({0, 0, 2, 2}, {1, 1, 2, 2}));
  EXPECT_FALSE(rects_overlap({0, 0, 2, 2}, {2, 0, 2, 2}));
  EXPECT_FALSE(rects_overlap({0, 0, 2, 2}, {1, 1, 0, 5}));
}

}  // namespace
}  // namespace lumora::window
