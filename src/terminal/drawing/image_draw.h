// PNG images in cells: each cell shows "▀" with its foreground sampled from
// the upper half of the cell's area and its background from the lower half,
// or a character of the luminance ramp in monochrome frames. Images that
// cannot be loaded show the "[image]" placeholder.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <cjson/cJSON.h>

#include "terminal/drawing/cell.h"
#include "terminal/drawing/colour.h"
#include "terminal/drawing/raster_context.h"

namespace lumora::terminal {

struct ImageSource;

enum class ImageFit { stretch, contain, cover };

// Maps a source rectangle (source pixels) onto a destination rectangle
// (virtual pixels relative to the image's top-left corner).
struct ImageRegion {
  double sx = 0, sy = 0, sw = 0, sh = 0;
  double dx = 0, dy = 0, dw = 0, dh = 0;
};

struct ImageInsets {
  double left = 0, top = 0, right = 0, bottom = 0;
};

inline constexpr std::size_t kMaxImageRegions = 9;
using ImageRegions = std::array<ImageRegion, kMaxImageRegions>;

inline constexpr const char* kImagePlaceholderText = "[image]";

// The regions of an image of `image_width` × `image_height` pixels drawn into
// a rect of `width` × `height` virtual pixels: one for a fit mode, up to nine
// (top-left, top, top-right, left, centre, right, bottom-left, bottom,
// bottom-right) with insets. Returns how many were written.
std::size_t build_image_regions(std::int32_t image_width, std::int32_t image_height, double width, double height,
                                ImageFit fit, const ImageInsets* insets, ImageRegions& regions);

// Draws `source` into the rect (virtual pixels) with the tint; `insets`
// selects nine-slice drawing, otherwise `fit` applies. Loads through `cache`
// (null draws the placeholder) and reports a failing load through `events`.
void draw_image(CellFrame& frame, ImageSourceCache* cache, RasterEventSink* events, std::string_view source,
                double x, double y, double width, double height, scene::ColorValue tint, ImageFit fit,
                const ImageInsets* insets);

// Drawers for already validated commands:
// ["image", source, [x, y, w, h], tint, fit] and
// ["image_nine", source, [x, y, w, h], [left, top, right, bottom], tint].
void draw_image_command(const RasterContext& context, CellFrame& frame, const cJSON* command);
void draw_image_nine_command(const RasterContext& context, CellFrame& frame, const cJSON* command);

}  // namespace lumora::terminal
