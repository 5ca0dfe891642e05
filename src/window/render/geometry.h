// Logical and device-pixel rectangles of the window backend and the
// conversions between them. Pure arithmetic: no SDL here, so that the
// rounding rules can be tested on their own.
#pragma once

#include <cmath>
#include <cstdint>

#include "scene/rounding.h"
#include "window/scene/draw_command.h"

namespace lumora::window {

// The same in whole device pixels.
struct PixelRect {
  std::int64_t x = 0, y = 0, w = 0, h = 0;
  bool empty() const { return w <= 0 || h <= 0; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

using scene::round_half_even;

// Converts a double that may be huge or not finite to a pixel coordinate
// without undefined behaviour: out-of-range values saturate.
std::int64_t saturate_to_pixels(double value);

// Both edges rounded, then subtracted, so that abutting rectangles share an
// edge without gap or overlap at any scale.
PixelRect pixel_rect_of(const Rect& rect, double scale);

// Rounded outwards (with a tiny tolerance for edges that land on a pixel
// boundary after scaling), so that a clip never cuts into shapes touching it.
PixelRect clip_rect_of(const Rect& rect, double scale);

// Intersection; empty (w = h = 0 at a's corner) when they do not overlap.
PixelRect intersect(const PixelRect& a, const PixelRect& b);

// Whether two rectangles with positive area share at least one pixel.
bool overlaps(const PixelRect& a, const PixelRect& b);

}  // namespace lumora::window
