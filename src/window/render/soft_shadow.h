// The geometry of soft shadows and glows: the coverage of a blurred box, the
// size of the mask a shadow needs (whole or nine-sliced) or whether it must
// be stacked from rings, and those rings. Pure arithmetic, so that shadows
// can be checked without a renderer.
#pragma once

#include <cstdint>

namespace lumora::window {

// erfc(3 / √2): the tail of a Gaussian beyond three standard deviations,
// removed so that a blurred edge reaches exactly 0 and 1 at ±blur.
inline constexpr double kBlurTail = 0.0026997960632601913;
// More rings than this would not be visibly smoother.
inline constexpr std::int64_t kMaxShadowRings = 32;

// Coverage (0..1) at signed distance `distance` from the edge of a box
// blurred over `blur` pixels on each side (blur > 0).
double blurred_edge_coverage(double distance, double blur);

// Alpha (0..255) of the pixel in column `column`, row `row` of a W × H
// blurred mask: a box inset by `blur` pixels, corner radius `radius`.
// A blur of 0 gives the hard-edged box.
std::uint8_t blurred_mask_coverage(std::int64_t width, std::int64_t height, double radius, std::int64_t blur,
                                   std::int64_t column, std::int64_t row);

// How a shadow whose mask area is area_w × area_h pixels is drawn.
struct ShadowPlan {
  bool rings = false;   // too large for a mask: stacked rings and a solid core
  bool sliced = false;  // the mask is drawn as nine slices with insets (cx, cy)
  std::int64_t mask_w = 0, mask_h = 0;
  std::int64_t corner_x = 0, corner_y = 0;
};

ShadowPlan plan_soft_shadow(std::int64_t area_w, std::int64_t area_h, std::int64_t radius, std::int64_t blur);

// One ring of the fallback, in pixels outside the shadow's edge (negative
// inside it): it spans from `inner` to `outer`; nothing when inner ≥ outer.
struct ShadowRing {
  std::int64_t outer = 0, inner = 0;
  std::uint8_t alpha = 0;
};

std::int64_t shadow_ring_count(std::int64_t blur);
// Ring `index` of shadow_ring_count(blur), for a colour of alpha `alpha`.
ShadowRing shadow_ring(std::int64_t blur, std::int64_t index, std::uint8_t alpha);

}  // namespace lumora::window
