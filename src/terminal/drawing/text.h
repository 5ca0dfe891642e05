// Text and icons in terminal cells: drawing UTF-8 text cluster by cluster,
// measuring it in virtual pixels (8 × 16 per cell), drawing a named icon's
// glyph centred in its box, and the "measure" and "measure_many" operations.
//
// Text never wraps: one text row per cell row, clusters beyond the clip are
// dropped, a wide cluster whole when its right half would leave the clip.
#pragma once

#include <cstdint>
#include <string_view>

#include <cjson/cJSON.h>

#include "json/json.h"
#include "scene/error_text.h"
#include "scene/limits.h"
#include "terminal/drawing/cell.h"
#include "terminal/drawing/colour.h"
#include "terminal/drawing/raster_context.h"

namespace lumora::terminal {

// The longest text one "measure" entry may hold.
inline constexpr std::size_t kMaxMeasureTextBytes = 8388608;
using scene::kMaxMeasureBatch;

// Width of the widest line and height of all lines, in virtual pixels.
struct TextSize {
  double width = 0;
  double height = 0;
};

// Tabs advance to the next multiple of 4 columns; "" measures 0 × 16.
TextSize measure_text(std::string_view text);

// Draws `text` with its first cluster at the cell of pixel (x, y); tabs are
// relative to that column, a line feed returns to it one row down.
void draw_text(CellFrame& frame, std::string_view text, double x, double y, scene::ColorValue colour);
// The same from a cell position.
void draw_text_at_cell(CellFrame& frame, std::string_view text, std::int64_t column, std::int64_t row,
                       scene::ColorValue colour);

// Draws an icon's glyph centred in the box (x, y, size, size), kept inside
// the box and clipped to it; nothing when the box cannot hold the glyph.
void draw_icon(CellFrame& frame, std::string_view glyph, double x, double y, double size, scene::ColorValue colour);

// Drawers for commands that rasterize_command has validated:
// ["text", string, x, y, colour, size, mono] and ["icon", name, x, y, size, colour].
void draw_text_command(const RasterContext& context, CellFrame& frame, const cJSON* command);
void draw_icon_command(const RasterContext& context, CellFrame& frame, const cJSON* command);

// The operations on the whole command object: [width, height], or an array of
// them, in virtual pixels; null with the message in `error` on failure.
json::JsonPtr measure_operation(const cJSON* command, scene::ErrorText error);
json::JsonPtr measure_many_operation(const cJSON* command, scene::ErrorText error);

}  // namespace lumora::terminal
