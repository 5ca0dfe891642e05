// The terminal rasterizer: validates draw commands by the terminal's own
// rules and draws them into a `CellFrame`.
//
// compose_frame builds a whole frame from one committed list or from the
// retained segments; a failing command discards the frame and reports
// "Invalid terminal command %zu (%s), geometry, color, or allocation budget",
// so the caller keeps showing what it had. Kinds drawn by other modules
// (text, icons, images, boxes) are validated here in full and then handed to
// their drawers, which read the items without checking them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include <cjson/cJSON.h>

#include "scene/error_text.h"
#include "terminal/drawing/cell.h"
#include "terminal/drawing/colour.h"
#include "terminal/drawing/raster_context.h"

namespace lumora::terminal {

// Limits of one command.
inline constexpr std::size_t kMaxTerminalPoints = 100000;  // "lines", "segments"
inline constexpr std::size_t kCommandErrorBytes = 200;     // incl. the NUL

// A rect by the terminal's rule with width and height at least 0: four finite
// numbers whose sums x + width and y + height are finite. The effect clip of
// "styled_rect" and "marker", and the "bounds" of a segment entry.
bool rect_without_negative_extent(const cJSON* item);

// The 38 icon names and their glyphs; nullptr for any other name.
const char* icon_glyph(std::string_view name);

// Validates one command and draws it; false when it is malformed, of a kind
// the terminal does not draw, or exhausted the frame's glyph pool.
bool rasterize_command(const RasterContext& context, CellFrame& frame, const cJSON* command);

// Draws every command of `list` in order. On the first failure (or a "begin"
// when `in_segment`), writes the per-command message with the command's
// position in its own list and stops. `drawn`, when given, counts the
// commands that were drawn successfully.
bool draw_command_list(const RasterContext& context, CellFrame& frame, const cJSON* list, bool in_segment,
                       scene::ErrorText error, std::uint64_t* drawn = nullptr);

// A frame of context.columns × context.rows cleared to `clear`, with one
// list drawn into it; an empty reference and the message in `error` on
// failure ("Cannot allocate terminal cells" or the per-command message).
// The frame comes from context.frames when given, and a frame that failed
// goes back there.
CellFrameRef compose_frame(const RasterContext& context, const cJSON* list, scene::ColorValue clear,
                           scene::ErrorText error);
// The same from segment lists in drawing order; each starts with the whole
// grid as clip and may not contain "begin".
CellFrameRef compose_frame(const RasterContext& context, std::span<const cJSON* const> segment_lists,
                           scene::ColorValue clear, scene::ErrorText error);

// Drawing steps shared with the other drawing modules.
// The clear of "begin": premultiplied background, every cell blank, whole-grid clip.
void clear_frame(CellFrame& frame, scene::ColorValue colour);
// The background a clear to `colour` leaves: premultiplied by its alpha, opaque.
scene::ColorValue cleared_background(scene::ColorValue colour);
// A line one cell wide in virtual pixels (width ≤ 0 draws nothing), clipped,
// walked cell by cell with merging box glyphs.
void draw_line(CellFrame& frame, double x1, double y1, double x2, double y2, scene::ColorValue colour, double width);
// The fill of "rect", including its thin-bar and narrow-column cases; returns
// true when one of those cases drew a line instead (no border then).
bool draw_rect_fill(CellFrame& frame, double x, double y, double w, double h, scene::ColorValue fill);

}  // namespace lumora::terminal
