#include "window/render/geometry.h"

#include <algorithm>

namespace lumora::window {

namespace {

// Far beyond any drawable (16384 × 16 pixels) and small enough that the
// product of two saturated sides still fits an int64.
constexpr double kPixelCoordinateLimit = 1e9;

// Keeps edges off exact pixel boundaries that scaling lands a hair beyond.
constexpr double kClipEdgeTolerance = 0.0000001;

}  // namespace

std::int64_t saturate_to_pixels(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<std::int64_t>(std::clamp(value, -kPixelCoordinateLimit, kPixelCoordinateLimit));
}

PixelRect pixel_rect_of(const Rect& rect, double scale) {
  PixelRect p;
  p.x = saturate_to_pixels(round_half_even(scale * rect.x));
  p.y = saturate_to_pixels(round_half_even(scale * rect.y));
  p.w = rect.w > 0 ? saturate_to_pixels(round_half_even(scale * (rect.x + rect.w))) - p.x : 0;
  p.h = rect.h > 0 ? saturate_to_pixels(round_half_even(scale * (rect.y + rect.h))) - p.y : 0;
  return p;
}

PixelRect clip_rect_of(const Rect& rect, double scale) {
  PixelRect p;
  p.x = saturate_to_pixels(std::floor(scale * rect.x + kClipEdgeTolerance));
  p.y = saturate_to_pixels(std::floor(scale * rect.y + kClipEdgeTolerance));
  p.w = rect.w > 0 ? saturate_to_pixels(std::ceil(scale * (rect.x + rect.w) - kClipEdgeTolerance)) - p.x : 0;
  p.h = rect.h > 0 ? saturate_to_pixels(std::ceil(scale * (rect.y + rect.h) - kClipEdgeTolerance)) - p.y : 0;
  return p;
}

PixelRect intersect(const PixelRect& a, const PixelRect& b) {
  const std::int64_t x0 = std::max(a.x, b.x);
  const std::int64_t y0 = std::max(a.y, b.y);
  const std::int64_t x1 = std::min(a.x + a.w, b.x + b.w);
  const std::int64_t y1 = std::min(a.y + a.h, b.y + b.h);
  if (x1 <= x0 || y1 <= y0) return PixelRect{x0, y0, 0, 0};
  return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

bool overlaps(const PixelRect& a, const PixelRect& b) {
  return !a.empty() && !b.empty() && !intersect(a, b).empty();
}

}  // namespace lumora::window
