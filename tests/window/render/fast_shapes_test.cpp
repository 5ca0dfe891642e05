// Random scenes drawn twice: once through the fast paths (rounded shapes and
// rings as corner pieces and plain fills, text rasterised in its colour) and
// once through the plain ones (a coverage mask over the whole shape, or nine
// slices of it; white text tinted). The two must agree within one level per
// channel everywhere.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "window/window_test_helpers.h"

namespace lumora::window {
namespace {

using test_helpers::WindowTest;

class FastShapesTest : public WindowTest {
 protected:
  static std::string colour(std::mt19937& random, bool translucent) {
    char text[16];
    std::uniform_int_distribution<int> channel(0, 255);
    const int alpha = translucent ? channel(random) : 255;
    std::snprintf(text, sizeof text, "#%02x%02x%02x%02x", channel(random), channel(random), channel(random), alpha);
    return text;
  }

  // Rounded rects of every size from thin bars to panels, with fractional
  // radii and borders, some translucent, some under a clip, some passing
  // the window's edges; styled rects add shadows, glows and inner borders.
  static std::string random_scene(std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> position(-30, 150), size(1, 120), radius(0, 30), border(0, 6);
    std::uniform_int_distribution<int> coin(0, 3);
    std::string list = R"([["begin","#203040"])";
    for (int i = 0; i < 24; ++i) {
      const double x = position(random), y = position(random), w = size(random), h = size(random);
      char rect[512];
      if (coin(random) == 0) {
        std::snprintf(rect, sizeof rect, R"(,["clip",[%.3f,%.3f,%.3f,%.3f]])", position(random), position(random),
                      size(random), size(random));
        list += rect;
      }
      if (coin(random) == 1) {
        std::snprintf(rect, sizeof rect,
                      R"(,["styled_rect",[%.3f,%.3f,%.3f,%.3f],{"fill":"%s","radius":%.3f,"border":"%s",)"
                      R"("border_width":%.3f,"inner_border":"%s","glow":"%s","glow_width":%.3f}])",
                      x, y, w, h, colour(random, coin(random) == 0).c_str(), radius(random),
                      colour(random, true).c_str(), border(random), colour(random, true).c_str(),
                      colour(random, true).c_str(), border(random));
      } else {
        std::snprintf(rect, sizeof rect, R"(,["rect",[%.3f,%.3f,%.3f,%.3f],"%s",%.3f,"%s",%.3f])", x, y, w, h,
                      colour(random, coin(random) == 0).c_str(), radius(random), colour(random, coin(random) != 0).c_str(),
                      border(random));
      }
      list += rect;
      if (coin(random) == 2) list += R"(,["clip",null])";
    }
    return list + "]";
  }

  // The largest difference of any channel between the two ways of drawing.
  int largest_difference(const std::string& list) {
    commit(list);
    backend->set_fast_shapes_for_testing(true);
    backend->set_fast_text_for_testing(true);
    backend->invalidate_scene_cache();
    const test_helpers::CapturedPixels fast = capture();
    backend->set_fast_shapes_for_testing(false);
    backend->set_fast_text_for_testing(false);
    backend->invalidate_scene_cache();
    const test_helpers::CapturedPixels plain = capture();
    backend->set_fast_shapes_for_testing(true);
    backend->set_fast_text_for_testing(true);
    EXPECT_EQ(fast.rgba.size(), plain.rgba.size());
    int largest = 0;
    for (std::size_t i = 0; i < fast.rgba.size() && i < plain.rgba.size(); ++i) {
      largest = std::max(largest, std::abs(int{fast.rgba[i]} - int{plain.rgba[i]}));
    }
    return largest;
  }
};

TEST_F(FastShapesTest, RandomScenesMatchTheWholeMaskDrawingWithinOneLevel) {
  for (const double scale : {1.0, 1.5, 2.0}) {
    open(R"("width":160,"height":160,"scale":)" + std::to_string(scale));
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
      SCOPED_TRACE("scale " + std::to_string(scale) + ", seed " + std::to_string(seed));
      const std::string list = random_scene(seed * 7919 + static_cast<std::uint32_t>(scale * 10));
      EXPECT_LE(largest_difference(list), 1) << list;
    }
    backend.reset();
  }
}

TEST_F(FastShapesTest, TextInItsOwnColourMatchesTintedWhiteText) {
  open(R"("width":240,"height":120)");
  std::mt19937 random(4242);
  std::string list = R"([["begin","#102030"],["rect",[0,60,240,60],"#e0e0e0",0,"",0])";
  for (int i = 0; i < 12; ++i) {
    char line[200];
    std::snprintf(line, sizeof line, R"(,["text","Line %d: 0123 ÄÖÜ gy",%d,%d,"%s",%d,%s])", i, (i % 3) * 70,
                  i * 10, colour(random, i % 4 == 0).c_str(), 9 + i % 5, i % 2 ? "true" : "false");
    list += line;
  }
  // A copy without modulation blends through SDL's own fast path, which
  // rounds once where the modulated one rounds twice: glyph edges may
  // differ by a few levels, nothing else.
  EXPECT_LE(largest_difference(list + "]"), 3);
}

TEST_F(FastShapesTest, LargeShapesMatchTheirSlicedMasks) {
  open(R"("width":400,"height":300)");
  // Large enough for sliced masks on the plain path; one passes every edge.
  EXPECT_LE(largest_difference(R"([["begin","#000000"],["rect",[10,10,300,200],"#80c0ff",12.5,"#ffffff",1.5],)"
                               R"(["rect",[-50,-50,600,500],"#ff000080",40,"#00ff00c0",3],)"
                               R"(["rect",[20,220,350,60],"#00000000",8,"#ffff00",1]])"),
            1);
}

}  // namespace
}  // namespace lumora::window
