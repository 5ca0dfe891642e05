// The area a command or a list may touch on screen, in logical units: what
// the window damages and redraws when a segment changes. Plain geometry:
// the scale and the text measurement are passed in, so no window is needed.
#pragma once

#include <algorithm>
#include <span>

#include <cjson/cJSON.h>

#include "window/scene/draw_command.h"

namespace lumora::window {

// Measures `text` at `size` logical units with the monospace or the
// proportional font: the widest line's width and the font height times the
// number of lines, in logical units. False when measuring fails.
using MeasureTextFn = bool (*)(void* context, const char* text, double size, bool mono, double& width,
                               double& height);

struct BoundsContext {
  double scale = 1;  // device pixels per logical unit
  MeasureTextFn measure_text = nullptr;  // null: every text counts as failing to measure
  void* measure_context = nullptr;
};

// The clip every list starts with, and that "clip" null restores: larger
// than anything the coordinate range can place.
inline constexpr Rect kUnclippedArea{-3000000, -3000000, 6000000, 6000000};

// Inline: bounds unite and intersect several rects for every command.
inline bool rect_empty(const Rect& rect) { return !(rect.w > 0) || !(rect.h > 0); }

// The overlap; an empty rect (width or height 0) placed at the overlap's
// corner when there is none.
inline Rect intersect_rects(const Rect& a, const Rect& b) {
  const double x0 = std::max(a.x, b.x);
  const double y0 = std::max(a.y, b.y);
  return {x0, y0, std::max(0.0, std::min(a.x + a.w, b.x + b.w) - x0),
          std::max(0.0, std::min(a.y + a.h, b.y + b.h) - y0)};
}

// The smallest rect holding both; an empty one is ignored.
inline Rect unite_rects(const Rect& a, const Rect& b) {
  if (rect_empty(a)) return b;
  if (rect_empty(b)) return a;
  const double x0 = std::min(a.x, b.x);
  const double y0 = std::min(a.y, b.y);
  return {x0, y0, std::max(a.x + a.w, b.x + b.w) - x0, std::max(a.y + a.h, b.y + b.h) - y0};
}

// The area one decoded command may touch when drawn under `clip`. A text
// that cannot be measured covers the whole clip, so that it is redrawn
// rather than missed. "begin" clears the whole surface whatever the clip.
Rect command_bounds(const DrawCommand& command, const Rect& clip, const BoundsContext& context);

// The union of command_bounds over a decoded list, following the list's own
// "clip" commands (each replaces the clip; null restores kUnclippedArea,
// and so does "begin", which removes the clip).
Rect list_bounds(std::span<const DrawCommand> list, const BoundsContext& context);

// The same for JSON commands and lists (a transition snapshot has no
// decoded form); a command is read as decoding would read it.
Rect command_bounds(const cJSON* command, const Rect& clip, const BoundsContext& context);
Rect list_bounds(const cJSON* list, const BoundsContext& context);

}  // namespace lumora::window
