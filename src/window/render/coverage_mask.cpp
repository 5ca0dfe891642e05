#include "window/render/coverage_mask.h"

#include <algorithm>
#include <cmath>

#include "window/render/geometry.h"

namespace lumora::window {

namespace {

// Signed distance from a pixel centre to a rounded box centred in the mask.
double rounded_box_distance(double px, double py, double half_w, double half_h, double radius) {
  const double qx = std::fabs(px) - (half_w - radius);
  const double qy = std::fabs(py) - (half_h - radius);
  return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - radius;
}

}  // namespace

RoundedPlan plan_rounded(std::int64_t w, std::int64_t h, double radius, double ring_width) {
  RoundedPlan plan;
  const double half = static_cast<double>(std::min(w, h)) * 0.5;
  plan.ring = std::clamp(ring_width, 0.0, half);
  plan.radius = std::clamp(radius, 0.0, half);
  const double extent = std::max(plan.radius, plan.ring) + 1;
  const std::int64_t corner = static_cast<std::int64_t>(std::ceil(extent));
  plan.mask_w = w;
  plan.mask_h = h;
  if (w * h >= kNineSliceMaskPixels) {
    plan.corner_x = std::min(w / 2, corner);
    plan.corner_y = std::min(h / 2, corner);
    plan.mask_w = std::min(w, 2 * plan.corner_x + 1);
    plan.mask_h = std::min(h, 2 * plan.corner_y + 1);
    plan.sliced = plan.mask_w != w || plan.mask_h != h;
  }
  const bool circle = plan.mask_w == plan.mask_h && !plan.sliced && plan.radius * 2 >= static_cast<double>(plan.mask_w);
  if (circle) plan.radius = static_cast<double>(plan.mask_w) * 0.5;
  const std::int64_t corner_area = std::min(plan.mask_h / 2, corner) * std::min(plan.mask_w / 2, corner);
  plan.scanlines = plan.mask_w > kMaxMaskRequestSide || plan.mask_h > kMaxMaskRequestSide ||
                   plan.mask_w * plan.mask_h > kMaxMaskRequestPixels || (!circle && corner_area > kMaxMaskCornerPixels);
  return plan;
}

CornerPlan plan_corners(std::int64_t w, std::int64_t h, const RoundedPlan& plan) {
  CornerPlan corners;
  if (plan.scanlines) return corners;
  const auto c = static_cast<std::int64_t>(std::ceil(std::max(plan.radius, plan.ring) + 1));
  corners.corner = c;
  corners.mask_side = 2 * c + 1;
  // A circle's radius is half its side: no straight edge is left.
  corners.usable = corners.mask_side <= w && corners.mask_side <= h && plan.radius * 2 < static_cast<double>(std::min(w, h));
  return corners;
}

void band_alphas(const CornerPlan& corners, const RoundedPlan& plan, std::uint8_t* alphas) {
  const std::int64_t side = corners.mask_side, c = corners.corner;
  for (std::int64_t row = 0; row <= c; ++row) alphas[row] = mask_coverage(side, side, plan.radius, plan.ring, c, row);
}

std::uint8_t mask_coverage(std::int64_t width, std::int64_t height, double radius, double ring, std::int64_t column,
                           std::int64_t row) {
  const double w = static_cast<double>(width);
  const double h = static_cast<double>(height);
  const double px = static_cast<double>(column) + 0.5 - w / 2;
  const double py = static_cast<double>(row) + 0.5 - h / 2;
  const double outer = std::clamp(0.5 - rounded_box_distance(px, py, w / 2, h / 2, radius), 0.0, 1.0);
  double inner = 0;
  if (ring > 0 && ring < std::min(w, h) / 2) {
    const double inner_radius = std::max(0.0, radius - ring);
    inner = std::clamp(0.5 - rounded_box_distance(px, py, w / 2 - ring, h / 2 - ring, inner_radius), 0.0, 1.0);
  }
  return static_cast<std::uint8_t>(round_half_even(std::max(0.0, outer - inner) * 255));
}

std::vector<std::uint8_t> mask_alphas(std::int64_t width, std::int64_t height, double radius, double ring) {
  std::vector<std::uint8_t> alphas(static_cast<std::size_t>(width * height));
  for (std::int64_t row = 0; row < height; ++row) {
    for (std::int64_t column = 0; column < width; ++column) {
      alphas[static_cast<std::size_t>(row * width + column)] = mask_coverage(width, height, radius, ring, column, row);
    }
  }
  return alphas;
}

ScanlinePieces scanline_pieces(std::int64_t w, std::int64_t h, double radius, double ring, std::int64_t offset) {
  const double r = radius;
  const double m = static_cast<double>(offset) + 0.5;
  const double hd = static_cast<double>(h);
  const double k = std::max({m - (hd - r), r - m, 0.0});
  const auto u = static_cast<std::int64_t>(std::ceil(r - std::sqrt(std::max(0.0, r * r - k * k)) - 0.5));
  ScanlinePieces pieces;
  if (ring > 0 && ring < m && m < hd - ring) {
    const double ri = std::max(0.0, r - ring);
    const double k2 = std::max({ri + ring - m, m - (hd - ring - ri), 0.0});
    const auto v = static_cast<std::int64_t>(std::ceil(ri + ring - std::sqrt(std::max(0.0, ri * ri - k2 * k2)) - 0.5));
    pieces.count = 2;
    pieces.x[0] = u;
    pieces.w[0] = std::max<std::int64_t>(0, v - u);
    pieces.x[1] = w - v;
    pieces.w[1] = std::max<std::int64_t>(0, v - u);
  } else {
    pieces.count = 1;
    pieces.x[0] = u;
    pieces.w[0] = w - 2 * u;
  }
  return pieces;
}

}  // namespace lumora::window
