#include "window/scene/segment_damage.h"

#include <algorithm>
#include <cmath>

#include "window/scene/bounds.h"

namespace lumora::window {

bool rects_overlap(const Rect& a, const Rect& b) {
  if (rect_empty(a) || rect_empty(b)) return false;
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

void add_damage(std::vector<Rect>& damage, Rect r, double scale, double logical_width, double logical_height) {
  if (rect_empty(r)) return;
  const double pixel = 1 / scale;
  const double x0 = std::max(0.0, r.x - pixel);
  const double y0 = std::max(0.0, r.y - pixel);
  const double x1 = std::min(logical_width, r.x + r.w + pixel);
  const double y1 = std::min(logical_height, r.y + r.h + pixel);
  r = Rect{x0, y0, x1 - x0, y1 - y0};
  if (rect_empty(r)) return;
  for (std::size_t i = 0; i < damage.size();) {
    if (!rects_overlap(damage[i], r)) {
      ++i;
      continue;
    }
    // The union may now overlap rectangles already passed: scan again.
    r = unite_rects(r, damage[i]);
    damage[i] = damage.back();
    damage.pop_back();
    i = 0;
  }
  if (damage.size() >= kMaxDamageRects) {
    for (const Rect& other : damage) r = unite_rects(r, other);
    damage.clear();
  }
  damage.push_back(r);
}

PixelRect damage_pixels(const Rect& r, double scale) {
  const auto x0 = static_cast<std::int64_t>(std::floor(r.x * scale));
  const auto y0 = static_cast<std::int64_t>(std::floor(r.y * scale));
  const auto x1 = static_cast<std::int64_t>(std::ceil((r.x + r.w) * scale));
  const auto y1 = static_cast<std::int64_t>(std::ceil((r.y + r.h) * scale));
  return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace lumora::window
