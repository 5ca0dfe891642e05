#include "window/render/soft_shadow.h"

#include <algorithm>
#include <cmath>

#include "window/render/coverage_mask.h"
#include "window/render/geometry.h"

namespace lumora::window {

namespace {

// Blurred edge at a position t from −1 (blur outside) to 1 (blur inside):
// a Gaussian of standard deviation blur ÷ 3, rescaled to reach 0 and 1.
double rescaled_edge(double three_sigmas) {
  const double raw = std::erfc(three_sigmas / std::sqrt(2.0)) / 2;
  return std::clamp((raw - kBlurTail / 2) / (1 - kBlurTail), 0.0, 1.0);
}

}  // namespace

double blurred_edge_coverage(double distance, double blur) { return rescaled_edge(3 * distance / blur); }

std::uint8_t blurred_mask_coverage(std::int64_t width, std::int64_t height, double radius, std::int64_t blur,
                                   std::int64_t column, std::int64_t row) {
  const double b = static_cast<double>(blur);
  const double iw = static_cast<double>(width) - 2 * b;
  const double ih = static_cast<double>(height) - 2 * b;
  const double u = std::max(0.0, std::min(radius, std::min(iw, ih) / 2));
  const double qx = std::fabs(static_cast<double>(column) + 0.5 - b - iw / 2) - (iw / 2 - u);
  const double qy = std::fabs(static_cast<double>(row) + 0.5 - b - ih / 2) - (ih / 2 - u);
  const double d = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - u;
  const double coverage = blur > 0 ? blurred_edge_coverage(d, b) : (d <= 0 ? 1.0 : 0.0);
  return static_cast<std::uint8_t>(round_half_even(coverage * 255));
}

ShadowPlan plan_soft_shadow(std::int64_t area_w, std::int64_t area_h, std::int64_t radius, std::int64_t blur) {
  ShadowPlan plan;
  const std::int64_t extent = std::max(radius, blur) + blur;
  plan.mask_w = area_w;
  plan.mask_h = area_h;
  if (area_w * area_h >= kNineSliceMaskPixels) {
    plan.corner_x = std::min(area_w / 2, extent);
    plan.corner_y = std::min(area_h / 2, extent);
    plan.mask_w = std::min(area_w, 2 * plan.corner_x + 1);
    plan.mask_h = std::min(area_h, 2 * plan.corner_y + 1);
    plan.sliced = plan.mask_w != area_w || plan.mask_h != area_h;
  }
  const std::int64_t corner_area = std::min(plan.mask_w / 2, extent) * std::min(plan.mask_h / 2, extent);
  plan.rings = plan.mask_w > kMaxMaskRequestSide || plan.mask_h > kMaxMaskRequestSide ||
               plan.mask_w * plan.mask_h > kMaxMaskRequestPixels || corner_area > kMaxMaskCornerPixels;
  return plan;
}

std::int64_t shadow_ring_count(std::int64_t blur) { return std::min(kMaxShadowRings, std::max<std::int64_t>(1, 2 * blur)); }

ShadowRing shadow_ring(std::int64_t blur, std::int64_t index, std::uint8_t alpha) {
  const std::int64_t n = shadow_ring_count(blur);
  ShadowRing ring;
  ring.outer = blur - index * 2 * blur / n;
  ring.inner = blur - (2 * index + 2) * blur / n;
  const double position = 1 - (static_cast<double>(index) + 0.5) * 2 / static_cast<double>(n);
  ring.alpha = static_cast<std::uint8_t>(round_half_even(rescaled_edge(position * 3) * alpha));
  return ring;
}

}  // namespace lumora::window
