// Rectangles that a character grid can only suggest: gradients filled cell by
// cell, styled rectangles reduced to a fill and an outline, check-box and
// radio markers as single glyphs, and focus rings. Outlines themselves are
// drawn by draw_box_outline (primitives.h).
#pragma once

#include <cjson/cJSON.h>

#include "terminal/drawing/cell.h"
#include "terminal/drawing/colour.h"
#include "terminal/drawing/raster_context.h"

namespace lumora::terminal {

// Fills every cell of `rect` inside the clip with `lerp_colour`(a, b, t), t
// running from 0 at the first column (row) to 1 at the last. A translucent
// colour blends each wide character once, through its left half or the
// loop's first column.
void draw_gradient_fill(CellFrame& frame, const CellRect& rect, scene::ColorValue a, scene::ColorValue b,
                        bool horizontal);

// Drawers for already validated commands:
// ["gradient_rect", rect, start, end, axis, radius, border_width]
// ["styled_rect", rect, style(, effect clip)]
// ["marker", rect, style, shape, checked(, effect clip)]
// ["focus_ring", rect, colour, radius]
void draw_gradient_rect_command(const RasterContext& context, CellFrame& frame, const cJSON* command);
void draw_styled_rect_command(const RasterContext& context, CellFrame& frame, const cJSON* command);
void draw_marker_command(const RasterContext& context, CellFrame& frame, const cJSON* command);
void draw_focus_ring_command(const RasterContext& context, CellFrame& frame, const cJSON* command);

}  // namespace lumora::terminal
