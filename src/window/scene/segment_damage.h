// The damage of a segmented scene: the logical rectangles that changed since
// the last composition, kept few and disjoint so that a redraw tests each
// segment against a handful of rectangles. Plain geometry, no window.
#pragma once

#include <cstddef>
#include <vector>

#include "window/render/geometry.h"

namespace lumora::window {

// Beyond this many rectangles the damage collapses into their bounding
// rectangle: testing every segment against more costs more than it saves.
inline constexpr std::size_t kMaxDamageRects = 64;

// Overlap with a positive area; rectangles that only touch do not overlap.
bool rects_overlap(const Rect& a, const Rect& b);

// Adds `r` to `damage`: grown by one device pixel (antialiased edges reach
// into the next pixel), clipped to the logical area, merged with every
// rectangle it overlaps; an empty `r` is ignored.
void add_damage(std::vector<Rect>& damage, Rect r, double scale, double logical_width, double logical_height);

// The device pixels a damaged rectangle covers: outward to whole pixels.
PixelRect damage_pixels(const Rect& r, double scale);

}  // namespace lumora::window
