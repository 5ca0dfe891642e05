// Styled rectangles and markers, read back as pixels from the software
// renderer: each layer on its own, shadows hard and blurred (whole mask,
// sliced mask and rings), effect clips, and the marks of markers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window/render/soft_shadow.h"
#include "window/window_test_helpers.h"

namespace lumora::window {
namespace {

using namespace test_helpers;

struct Area {
  int x, y, w, h;
  Rgba colour;
};

// A rectangle that must hold some ink, whatever its exact rasterisation.
struct Region {
  int x, y, w, h;
};

struct LayerCase {
  const char* name;
  double scale;
  std::string commands;  // drawn over ["begin","#000000"]
  std::vector<Area> areas;
  std::vector<Region> inked = {};
};

constexpr Rgba kDarkGrey = {64, 64, 64, 255};

class StyledRectTest : public WindowTest {
 protected:
  void expect_areas(const CapturedPixels& pixels, const std::vector<Area>& areas) {
    for (const Area& area : areas) {
      EXPECT_EQ(pixels.count(area.x, area.y, area.w, area.h, area.colour), area.w * area.h)
          << "area " << area.x << "," << area.y << " " << area.w << "x" << area.h << " expected "
          << lumora::test::rgba_text(area.colour) << "; row " << area.y << ": "
          << row_text(pixels, area.y, area.x, area.x + area.w);
    }
  }

  CapturedPixels draw(double scale, const std::string& commands, int width = 60, int height = 40) {
    open("\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height) +
         ",\"scale\":" + std::to_string(scale));
    commit(R"([["begin","#000000"],)" + commands + "]");
    return capture();
  }
};

TEST_F(StyledRectTest, EachLayerAloneAndAllInOrder) {
  const LayerCase cases[] = {
      {"an empty style draws nothing", 1, R"(["styled_rect",[2,2,10,10],{}])", {{0, 0, 60, 40, kBlack}}},
      {"a fill is one box", 1, R"(["styled_rect",[2,2,10,10],{"fill":"#ff0000"}])",
       {{2, 2, 10, 10, kRed}, {1, 1, 12, 1, kBlack}, {12, 2, 1, 10, kBlack}}},
      {"a fill_end equal to the fill is a plain fill", 1,
       R"(["styled_rect",[2,2,10,10],{"fill":"#ff0000","fill_end":"#f00"}])", {{2, 2, 10, 10, kRed}}},
      {"a different fill_end is a vertical gradient", 1,
       R"(["styled_rect",[0,0,4,2],{"fill":"#ff0000","fill_end":"#0000ff"}])",
       {{0, 0, 4, 1, kRed}, {0, 1, 4, 1, kBlue}, {0, 2, 4, 1, kBlack}}},
      {"a horizontal gradient runs left to right", 1,
       R"(["styled_rect",[0,0,2,3],{"fill":"#ff0000","fill_end":"#0000ff","gradient_axis":"horizontal"}])",
       {{0, 0, 1, 3, kRed}, {1, 0, 1, 3, kBlue}}},
      {"a grid on 10 x 10 has one line each way at the inset 2", 1,
       R"(["styled_rect",[5,5,10,10],{"pattern":"grid","pattern_color":"#ffffff"}])",
       {{7, 7, 6, 1, kWhite}, {7, 8, 1, 5, kWhite}, {8, 8, 5, 5, kBlack}, {5, 5, 10, 2, kBlack}, {13, 7, 2, 8, kBlack},
        {5, 13, 10, 2, kBlack}}},
      {"scanlines are horizontal only, spaced by the spacing", 1,
       R"(["styled_rect",[0,0,20,12],{"pattern":"scanlines","pattern_color":"#ffffff","pattern_spacing":3}])",
       // content 16 x 8 at (2, 2): lines at rows 2, 5, 8 (ceil(8 / 3) = 3)
       {{2, 2, 16, 1, kWhite}, {2, 5, 16, 1, kWhite}, {2, 8, 16, 1, kWhite}, {2, 3, 16, 2, kBlack},
        {2, 9, 16, 3, kBlack}, {0, 2, 2, 1, kBlack}, {18, 2, 2, 1, kBlack}}},
      {"a pattern without its colour draws nothing", 1, R"(["styled_rect",[0,0,20,12],{"pattern":"grid"}])",
       {{0, 0, 60, 40, kBlack}}},
      {"a border lies inside the rect, over the fill", 1,
       R"(["styled_rect",[2,2,10,10],{"fill":"#ff0000","border":"#00ff00","border_width":2}])",
       {{2, 2, 10, 2, kGreen}, {2, 10, 10, 2, kGreen}, {2, 4, 2, 6, kGreen}, {10, 4, 2, 6, kGreen},
        {4, 4, 6, 6, kRed}}},
      {"a border without a width draws nothing", 1, R"(["styled_rect",[2,2,10,10],{"border":"#00ff00"}])",
       {{0, 0, 60, 40, kBlack}}},
      {"a gradient border runs from border to border_end", 1,
       R"(["styled_rect",[0,0,10,2],{"border":"#ff0000","border_end":"#0000ff","border_width":1}])",
       {{0, 0, 10, 1, kRed}, {0, 1, 10, 1, kBlue}}},
      {"an inner border is a 1-unit outline 3 inside the border", 1,
       R"(["styled_rect",[2,2,10,10],{"inner_border":"#ffffff"}])",
       {{5, 5, 4, 1, kWhite}, {5, 8, 4, 1, kWhite}, {5, 6, 1, 2, kWhite}, {8, 6, 1, 2, kWhite}, {6, 6, 2, 2, kBlack},
        {4, 4, 6, 1, kBlack}}},
      {"a raised bevel on 20 x 20 with radius 4 lies in the 12 x 12 square at (4, 4)", 1,
       R"(["styled_rect",[0,0,20,20],{"bevel":"raised","radius":4}])",
       {{4, 4, 10, 2, kWhite}, {4, 6, 2, 8, kWhite}, {4, 14, 12, 2, kDarkGrey}, {14, 4, 2, 10, kDarkGrey},
        {6, 6, 8, 8, kBlack}, {0, 0, 20, 4, kBlack}, {16, 0, 4, 20, kBlack}}},
      {"a sunken bevel swaps its colours", 1,
       R"(["styled_rect",[0,0,20,20],{"bevel":"sunken","radius":4,"bevel_light":"#00ff00","bevel_dark":"#0000ff"}])",
       {{4, 4, 10, 2, kBlue}, {4, 6, 2, 8, kBlue}, {4, 14, 12, 2, kGreen}, {14, 4, 2, 10, kGreen}}},
      {"a bevel at scale 2 keeps its logical geometry", 2,
       R"(["styled_rect",[0,0,20,20],{"bevel":"raised","radius":4,"bevel_width":1}])",
       {{8, 8, 22, 2, kWhite}, {8, 10, 2, 20, kWhite}, {8, 30, 24, 2, kDarkGrey}, {30, 8, 2, 22, kDarkGrey},
        {10, 10, 20, 20, kBlack}}},
      {"a highlight is one line along the inner top edge", 1,
       R"(["styled_rect",[2,2,20,10],{"highlight":"#ffffff"}])",
       {{4, 4, 16, 1, kWhite}, {2, 2, 20, 2, kBlack}, {2, 5, 20, 7, kBlack}, {2, 4, 2, 1, kBlack},
        {20, 4, 2, 1, kBlack}}},
      {"a highlight moves below a wide border", 1,
       R"(["styled_rect",[0,0,20,12],{"highlight":"#ffffff","border_width":3}])",
       {{3, 3, 14, 1, kWhite}, {0, 0, 20, 3, kBlack}, {0, 4, 20, 8, kBlack}}},
      {"the layers stack: shadow, fill, border, inner border, bevel, highlight", 1,
       R"(["styled_rect",[0,0,30,20],{"shadow":"#ff00ff","shadow_x":2,"shadow_y":2,"fill":"#ff0000","border":"#00ff00",
           "border_width":2,"inner_border":"#0000ff","bevel":"raised","bevel_width":1,"highlight":"#ffffff"}])",
       {{30, 2, 2, 20, {255, 0, 255, 255}}, {2, 20, 28, 2, {255, 0, 255, 255}}, {0, 20, 2, 2, kBlack},
        {30, 0, 2, 2, kBlack}, {0, 0, 29, 1, kWhite}, {0, 1, 1, 18, kWhite}, {0, 19, 30, 1, kDarkGrey},
        {29, 0, 1, 19, kDarkGrey}, {1, 1, 28, 1, kGreen}, {1, 18, 28, 1, kGreen}, {1, 2, 1, 16, kGreen},
        {28, 2, 1, 16, kGreen}, {2, 2, 26, 1, kWhite}, {2, 3, 26, 2, kRed}, {5, 5, 20, 1, kBlue},
        {5, 14, 20, 1, kBlue}, {5, 6, 1, 8, kBlue}, {24, 6, 1, 8, kBlue}, {6, 6, 18, 8, kRed}}},
      {"a zero-size rect draws nothing, shadow included", 1,
       R"(["styled_rect",[5,5,0,10],{"fill":"#ff0000","shadow":"#00ff00","shadow_blur":4}])",
       {{0, 0, 60, 40, kBlack}}},
  };
  for (const LayerCase& c : cases) {
    SCOPED_TRACE(c.name);
    expect_areas(draw(c.scale, c.commands), c.areas);
    backend.reset();
  }
}

TEST_F(StyledRectTest, HardShadowIsTheRectMovedByItsOffsets) {
  for (int scale : {1, 2}) {
    SCOPED_TRACE(scale);
    const int s = scale;
    const CapturedPixels pixels =
        draw(scale, R"(["styled_rect",[10,10,10,10],{"fill":"#ff0000","shadow":"#00ff00","shadow_x":3,"shadow_y":-4}])");
    // The shadow covers (13, 6, 10, 10); the fill covers (10, 10, 10, 10) over it.
    expect_areas(pixels, {{10 * s, 10 * s, 10 * s, 10 * s, kRed},
                          {13 * s, 6 * s, 10 * s, 4 * s, kGreen},
                          {20 * s, 10 * s, 3 * s, 6 * s, kGreen},
                          {20 * s, 16 * s, 3 * s, 4 * s, kBlack},
                          {13 * s, 5 * s, 10 * s, 1 * s, kBlack},
                          {23 * s, 6 * s, 1 * s, 10 * s, kBlack},
                          {10 * s, 6 * s, 3 * s, 4 * s, kBlack}});
    backend.reset();
  }
}

// The green channel of a row of pixels.
std::vector<int> green_row(const CapturedPixels& pixels, int y, int x0, int x1) {
  std::vector<int> values;
  for (int x = x0; x < x1; ++x) values.push_back(pixels.at(x, y)[1]);
  return values;
}

TEST_F(StyledRectTest, BlurredShadowFallsOffMonotonicallyAcrossItsBlur) {
  const CapturedPixels pixels = draw(1, R"(["styled_rect",[20,10,20,20],{"shadow":"#00ff00","shadow_blur":8}])");
  EXPECT_TRUE(has_texture("mask:36:36:0:0:8"));
  // Row 20 crosses the right edge at x = 40: opaque 8 inside, nothing 8 outside.
  const std::vector<int> right = green_row(pixels, 20, 30, 52);
  EXPECT_EQ(right.front(), 255);
  EXPECT_EQ(pixels.at(31, 20)[1], 255);  // exactly 8 pixels inside the edge
  EXPECT_EQ(pixels.at(48, 20), kBlack);  // exactly 8 pixels outside
  for (std::size_t i = 1; i < right.size(); ++i) EXPECT_LE(right[i], right[i - 1]) << "x " << 30 + i;
  EXPECT_GT(pixels.at(39, 20)[1], 128);
  EXPECT_LT(pixels.at(40, 20)[1], 128);
  // The left edge mirrors the right.
  for (int k = 0; k < 10; ++k) EXPECT_EQ(pixels.at(20 + k, 20)[1], pixels.at(39 - k, 20)[1]) << k;
  // Drawn again, the mask comes from the cache.
  const std::uint64_t masks = backend->masks_built();
  backend->invalidate_scene_cache();
  capture();
  EXPECT_EQ(backend->masks_built(), masks);
}

TEST_F(StyledRectTest, ShadowMasksAreKeyedInDevicePixels) {
  struct Case {
    const char* name;
    double scale;
    const char* style;  // of a styled_rect at [20, 10, 20, 20]
    const char* key;
  };
  const Case cases[] = {
      {"blur and radius scale", 2, R"({"shadow":"#00ff00","shadow_blur":8,"radius":3})", "mask:72:72:6:0:16"},
      {"the radius is clamped to half the smaller side", 1, R"({"shadow":"#00ff00","shadow_blur":2,"radius":50})",
       "mask:24:24:10:0:2"},
      {"a glow blurs over 1.5 times its width", 1, R"({"glow":"#00ff00","glow_width":4})", "mask:32:32:0:0:6"},
      {"a blur in pixels is rounded up", 2, R"({"glow":"#00ff00","glow_width":3})", "mask:58:58:0:0:9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    draw(c.scale, std::string(R"(["styled_rect",[20,10,20,20],)") + c.style + "]");
    EXPECT_TRUE(has_texture(c.key));
    backend.reset();
  }
}

TEST_F(StyledRectTest, LargeShadowUsesASlicedMask) {
  const CapturedPixels pixels =
      draw(1, R"(["styled_rect",[10,10,300,300],{"shadow":"#00ff00","shadow_blur":4,"radius":10}])", 330, 330);
  // 308 × 308 pixels of mask area: corners of max(10, 4) + 4 = 14, one 29 × 29 mask.
  EXPECT_TRUE(has_texture("mask:29:29:10:0:4"));
  EXPECT_EQ(pixels.count(20, 20, 280, 280, kGreen), 280 * 280);
  EXPECT_EQ(pixels.at(160, 5), kBlack);
  const std::vector<int> edge = green_row(pixels, 160, 300, 316);
  for (std::size_t i = 1; i < edge.size(); ++i) EXPECT_LE(edge[i], edge[i - 1]);
  EXPECT_EQ(edge.front(), 255);
  EXPECT_EQ(edge.back(), 0);
}

TEST_F(StyledRectTest, ShadowTooLargeForAMaskIsStackedFromRings) {
  // Radius 300 and blur 24 need corners of 324 pixels: beyond any mask.
  const CapturedPixels pixels =
      draw(1, R"(["styled_rect",[-800,-200,1000,800],{"shadow":"#00ff00","shadow_blur":24,"radius":300}])", 400, 400);
  EXPECT_EQ(backend->masks_built(), 0u);
  // Row 200 meets the straight right edge at x = 200.
  const std::vector<int> edge = green_row(pixels, 200, 150, 240);
  for (std::size_t i = 1; i < edge.size(); ++i) EXPECT_LE(edge[i], edge[i - 1]) << "x " << 150 + i;
  EXPECT_EQ(pixels.at(150, 200), kGreen);  // the solid core
  EXPECT_GT(pixels.at(190, 200)[1], 128);
  EXPECT_LT(pixels.at(210, 200)[1], 128);
  EXPECT_EQ(pixels.at(230, 200), kBlack);
}

TEST_F(StyledRectTest, GlowBlursOutwardAndStrokesInward) {
  // Outer glow alone (the fill hides its inner half): 6 units at 55 % of the alpha.
  CapturedPixels pixels =
      draw(1, R"(["styled_rect",[20,10,20,20],{"fill":"#000000","glow":"#00ff00","glow_width":4},[0,0,60,40]])");
  const std::vector<int> outside = green_row(pixels, 20, 40, 48);
  EXPECT_GT(outside.front(), 20);
  EXPECT_LT(outside.front(), 255 * 55 / 100 / 2 + 2);  // half coverage at the edge, 55 % alpha
  for (std::size_t i = 1; i < outside.size(); ++i) EXPECT_LE(outside[i], outside[i - 1]);
  EXPECT_EQ(pixels.at(46, 20), kBlack);  // the blur ends 6 units out
  backend.reset();

  // Inner strokes alone (an empty effect clip hides the outer glow): widths
  // 4, 3, 2 and 1 at 16 %, so the glow is densest at the edge.
  pixels = draw(1, R"(["styled_rect",[20,10,20,20],{"glow":"#00ff00","glow_width":4},[0,0,0,0]])");
  const std::vector<int> inside = green_row(pixels, 20, 36, 42);  // offsets 3, 2, 1, 0 inside, then outside
  EXPECT_NEAR(inside[0], 41, 1);                                  // one stroke of round(255 × 0.16)
  EXPECT_LT(inside[0], inside[1]);
  EXPECT_LT(inside[1], inside[2]);
  EXPECT_LT(inside[2], inside[3]);
  EXPECT_EQ(inside[4], 0);
  EXPECT_EQ(pixels.at(35, 20), kBlack);
  EXPECT_EQ(pixels.at(30, 20), kBlack);

  // Outside the rect the glow is exactly a shadow of 1.5 × its width at
  // round(0.55 × 255) = 140 = 0x8c of alpha.
  backend.reset();
  const CapturedPixels glow = draw(1, R"(["styled_rect",[20,10,20,20],{"glow":"#00ff00","glow_width":4}])");
  backend.reset();
  const CapturedPixels shadow = draw(1, R"(["styled_rect",[20,10,20,20],{"shadow":"#00ff008c","shadow_blur":6}])");
  EXPECT_EQ(green_row(glow, 20, 40, 48), green_row(shadow, 20, 40, 48));
  EXPECT_EQ(green_row(glow, 5, 10, 50), green_row(shadow, 5, 10, 50));

  // A glow without a width draws nothing.
  backend.reset();
  expect_areas(draw(1, R"(["styled_rect",[20,10,20,20],{"glow":"#00ff00"}])"), {{0, 0, 60, 40, kBlack}});
}

TEST_F(StyledRectTest, EffectClipGovernsOnlyShadowsAndTheListClipReturns) {
  struct Case {
    const char* name;
    const char* effect_clip;  // the fourth item, or "" for none
    std::vector<Area> areas;
  };
  // The list clips to (0, 0, 10, 10); the rect sits at (5, 5), its hard
  // shadow 10 to the right; afterwards a blue rect is drawn over everything.
  const Case cases[] = {
      {"null ignores the list's clip", ",null",
       {{15, 5, 10, 10, kGreen}, {0, 0, 10, 10, kBlue}, {10, 5, 5, 10, kBlack}, {0, 10, 10, 5, kBlack}}},
      {"absent keeps the list's clip", "", {{10, 0, 50, 40, kBlack}, {0, 0, 10, 10, kBlue}}},
      {"a rect applies for the shadow alone", ",[17,0,3,40]",
       {{17, 5, 3, 10, kGreen}, {15, 5, 2, 10, kBlack}, {20, 5, 5, 10, kBlack}, {0, 0, 10, 10, kBlue},
        {10, 10, 5, 5, kBlack}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CapturedPixels pixels =
        draw(1, std::string(R"(["clip",[0,0,10,10]],["styled_rect",[5,5,10,10],{"fill":"#ff0000","shadow":"#00ff00","shadow_x":10})") +
                    c.effect_clip + R"(],["rect",[0,0,60,40],"#0000ff",0,"",0])");
    expect_areas(pixels, c.areas);
    backend.reset();
  }
}

TEST_F(StyledRectTest, MarkersDrawTheirMarksWhenChecked) {
  const LayerCase cases[] = {
      {"a checked circle has a dot of 8 x 8 at (6, 6)", 1,
       R"(["marker",[0,0,20,20],{"foreground":"#ffffff"},"circle",true])",
       {{8, 8, 4, 4, kWhite}, {7, 9, 6, 2, kWhite}, {9, 7, 2, 6, kWhite}, {5, 0, 1, 20, kBlack}, {14, 0, 1, 20, kBlack},
        {0, 5, 20, 1, kBlack}, {0, 14, 20, 1, kBlack}, {6, 6, 1, 1, kBlack}}},
      {"a circle is rounded to half its side", 1, R"(["marker",[0,0,20,20],{"fill":"#ff0000"},"circle",false])",
       {{0, 0, 2, 2, kBlack}, {18, 18, 2, 2, kBlack}, {4, 4, 12, 12, kRed}}},
      {"a checked marker without area has no mark", 1,
       R"(["marker",[10,10,0,24],{"foreground":"#ffffff"},"square",true],["marker",[30,10,0,0],{"foreground":"#ffffff"},"circle",true])",
       {{0, 0, 60, 60, kBlack}}},
      {"an unchecked marker has no mark", 1, R"(["marker",[0,0,24,24],{"foreground":"#ffffff"},"square",false])",
       {{0, 0, 60, 40, kBlack}}},
      // Diagonal strokes are rasterised by the renderer's own rules, so
      // only their regions are checked: the short stroke runs from (4, 12)
      // to (9, 17), the long one from there to (20, 6).
      {"a checked square has a check mark on a 24-unit grid", 1,
       R"(["marker",[0,0,24,24],{"foreground":"#ffffff"},"square",true])",
       {{0, 0, 24, 4, kBlack}, {0, 20, 24, 4, kBlack}, {22, 0, 2, 24, kBlack}, {0, 0, 2, 24, kBlack},
        {14, 14, 4, 4, kBlack}, {4, 4, 6, 5, kBlack}},
       {{3, 11, 4, 4}, {6, 14, 4, 4}, {10, 10, 4, 4}, {16, 4, 4, 4}}},
      {"the mark scales with the smaller side", 1,
       R"(["marker",[0,0,48,60],{"foreground":"#ffffff"},"square",true])",
       {{0, 40, 48, 20, kBlack}, {44, 0, 4, 60, kBlack}, {28, 28, 8, 8, kBlack}},
       {{8, 24, 6, 6}, {16, 30, 4, 4}, {36, 10, 4, 4}}},
  };
  for (const LayerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const CapturedPixels pixels = draw(c.scale, c.commands, 60, 60);
    expect_areas(pixels, c.areas);
    for (const Region& area : c.inked) {
      EXPECT_LT(pixels.count(area.x, area.y, area.w, area.h, kBlack), area.w * area.h) << "no ink at " << area.x << "," << area.y;
    }
    backend.reset();
  }
}

TEST(SoftShadowGeometry, MaskPlans) {
  struct Case {
    std::int64_t w, h, radius, blur;
    bool rings, sliced;
    std::int64_t mask_w, mask_h, corner;
  };
  const Case cases[] = {
      {36, 36, 0, 8, false, false, 36, 36, 0},         // below the slicing threshold: the whole area
      {308, 308, 10, 4, false, true, 29, 29, 14},      // corners of max(radius, blur) + blur
      {12, 6000, 6, 2, false, true, 12, 17, 8},        // a thin side stays whole
      {1048, 848, 300, 24, true, true, 649, 649, 324},  // corners beyond any mask
      {5000, 300, 0, 0, false, true, 1, 1, 0},         // a hard square shadow needs one pixel
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    const ShadowPlan plan = plan_soft_shadow(c.w, c.h, c.radius, c.blur);
    EXPECT_EQ(plan.rings, c.rings);
    EXPECT_EQ(plan.sliced, c.sliced);
    EXPECT_EQ(plan.mask_w, c.mask_w);
    EXPECT_EQ(plan.mask_h, c.mask_h);
    if (c.sliced) {
      EXPECT_EQ(plan.corner_y, c.corner);
    }
  }
}

TEST(SoftShadowGeometry, RingsTileTheBlurFromOutsideInAndGrowDenser) {
  for (std::int64_t blur : {0, 1, 5, 16, 24, 100}) {
    SCOPED_TRACE(blur);
    const std::int64_t n = shadow_ring_count(blur);
    EXPECT_EQ(n, std::min<std::int64_t>(32, std::max<std::int64_t>(1, 2 * blur)));
    ShadowRing previous = shadow_ring(blur, 0, 255);
    EXPECT_EQ(previous.outer, blur);
    for (std::int64_t i = 1; i < n; ++i) {
      const ShadowRing ring = shadow_ring(blur, i, 255);
      EXPECT_EQ(ring.outer, previous.inner) << i;  // no gap, no overlap
      EXPECT_GE(ring.alpha, previous.alpha) << i;
      previous = ring;
    }
    EXPECT_EQ(previous.inner, -blur);
  }
  // Symmetric about the edge: the two middle rings share the half alpha.
  const ShadowRing a = shadow_ring(4, 3, 200), b = shadow_ring(4, 4, 200);
  EXPECT_EQ(a.alpha + b.alpha, 200);
}

TEST(SoftShadowGeometry, BlurredMaskReachesItsEndsAtTheBlur) {
  // 40 × 40 with blur 6: the box is 28 × 28 at (6, 6).
  EXPECT_EQ(blurred_mask_coverage(40, 40, 0, 6, 0, 20), 0);
  EXPECT_EQ(blurred_mask_coverage(40, 40, 0, 6, 20, 20), 255);
  EXPECT_EQ(blurred_mask_coverage(40, 40, 0, 6, 20, 0), 0);
  EXPECT_EQ(blurred_mask_coverage(40, 40, 0, 6, 11, 20), 255);  // 5.5 inside: within rounding of full
  // Half coverage straddles the edge: pixels just inside and outside sum to one.
  EXPECT_NEAR(blurred_mask_coverage(40, 40, 0, 6, 5, 20) + blurred_mask_coverage(40, 40, 0, 6, 6, 20), 255, 1);
  // Blur 0 is the hard box; a radius rounds its corners.
  EXPECT_EQ(blurred_mask_coverage(40, 20, 0, 0, 0, 0), 255);
  EXPECT_EQ(blurred_mask_coverage(40, 20, 8, 0, 0, 0), 0);
  EXPECT_EQ(blurred_mask_coverage(40, 20, 8, 0, 20, 0), 255);
  for (std::int64_t column = 0; column < 20; ++column) {
    EXPECT_LE(blurred_mask_coverage(40, 40, 4, 6, column, 20), blurred_mask_coverage(40, 40, 4, 6, column + 1, 20));
  }
}

}  // namespace
}  // namespace lumora::window
