#include "terminal/drawing/image_draw.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "scene/limits.h"
#include "terminal/drawing/image_cache.h"
#include "terminal/drawing/primitives.h"
#include "terminal/drawing/rasterizer.h"

namespace lumora::terminal {
namespace {

constexpr const char* kUpperHalfBlock = "▀";

// num / den rounded to nearest, ties to even; den > 0. The sums of one half
// cell stay below 2^32 (255 × 4 × 255 × 255 at most), so 32-bit division,
// much cheaper than 64-bit on common processors, is exact here.
std::uint32_t divide_half_even(std::uint32_t num, std::uint32_t den) {
  std::uint32_t quotient = num / den;
  const std::uint32_t twice_remainder = 2 * (num - quotient * den);
  if (twice_remainder > den || (twice_remainder == den && (quotient & 1u) != 0)) ++quotient;
  return quotient;
}

// Source pixel index of a mapped coordinate: truncated towards zero, then
// clamped into 0..limit − 1.
std::int32_t source_index(double value, std::int32_t limit) {
  if (!(value >= 1.0)) return 0;  // also NaN; truncation of (−1, 1) is 0
  if (value >= static_cast<double>(limit)) return limit - 1;
  return static_cast<std::int32_t>(value);
}

// One sample coordinate mapped through every region at once: which regions
// contain it along this axis, and the source pixel index in each. A point
// lies in region i when both axes have bit i; the regions are independent in
// x and y, so a cell's 8 sample points need only 2 x and 4 y mappings.
struct AxisSample {
  std::uint32_t mask = 0;
  std::int32_t index[kMaxImageRegions] = {};
};

struct Sampler {
  const ImageSource& image;
  const ImageRegion* regions;
  std::size_t region_count;
  scene::ColorValue tint;

  AxisSample map_x(double x) const {
    AxisSample sample;
    for (std::size_t i = 0; i < region_count; ++i) {
      const ImageRegion& r = regions[i];
      if (!(r.dx <= x && x < r.dx + r.dw)) continue;
      sample.mask |= 1u << i;
      sample.index[i] = source_index((x - r.dx) / r.dw * r.sw + r.sx, image.width);
    }
    return sample;
  }

  AxisSample map_y(double y) const {
    AxisSample sample;
    for (std::size_t i = 0; i < region_count; ++i) {
      const ImageRegion& r = regions[i];
      if (!(r.dy <= y && y < r.dy + r.dh)) continue;
      sample.mask |= 1u << i;
      sample.index[i] = source_index((y - r.dy) / r.dh * r.sh + r.sy, image.height);
    }
    return sample;
  }

  // Adds the pixel under a point to the sums; the last region containing the
  // point decides, and a point outside every region adds nothing.
  void accumulate(const AxisSample& x, const AxisSample& y, std::uint32_t& alpha, std::uint32_t& red,
                  std::uint32_t& green, std::uint32_t& blue) const {
    const std::uint32_t both = x.mask & y.mask;
    if (both == 0) return;
    const int region = 31 - std::countl_zero(both);
    const std::uint8_t* pixel =
        image.pixels.get() + (static_cast<std::size_t>(y.index[region]) * static_cast<std::size_t>(image.width) +
                              static_cast<std::size_t>(x.index[region])) * 4;
    const std::uint32_t a = pixel[3];
    alpha += a;
    red += a * pixel[0];
    green += a * pixel[1];
    blue += a * pixel[2];
  }

  // The colour of one half of a cell from its four sample points.
  scene::ColorValue half(const AxisSample xs[2], const AxisSample& y_top, const AxisSample& y_bottom) const {
    std::uint32_t alpha = 0, red = 0, green = 0, blue = 0;
    accumulate(xs[0], y_top, alpha, red, green, blue);
    accumulate(xs[1], y_top, alpha, red, green, blue);
    accumulate(xs[0], y_bottom, alpha, red, green, blue);
    accumulate(xs[1], y_bottom, alpha, red, green, blue);
    if (alpha == 0) return kTransparent;
    const std::uint32_t denominator = alpha * 255;
    auto channel = [](std::uint32_t value) { return static_cast<std::int32_t>(std::min<std::uint32_t>(value, 255)); };
    // Tint channels are 0..255 (parsed colours), so each product fits too.
    const auto tint_r = static_cast<std::uint32_t>(tint.r), tint_g = static_cast<std::uint32_t>(tint.g),
               tint_b = static_cast<std::uint32_t>(tint.b), tint_a = static_cast<std::uint32_t>(tint.a);
    return scene::rgba(channel(divide_half_even(tint_r * red, denominator)),
                       channel(divide_half_even(tint_g * green, denominator)),
                       channel(divide_half_even(tint_b * blue, denominator)),
                       channel(divide_half_even(tint_a * alpha, 1020)));
  }
};

// "[image]" in the tint at the rect's own position, confined to the image's
// area, so that it shows only as far as the area is wide.
void draw_placeholder(CellFrame& frame, const CellRect& area, double x, double y, scene::ColorValue tint) {
  const CellRect saved = frame.clip;
  frame.clip = area;
  const std::string_view text = kImagePlaceholderText;
  const std::int64_t column = column_of(x);
  const std::int64_t row = row_of(y);
  for (std::size_t i = 0; i < text.size(); ++i) {
    put_glyph(frame, column + static_cast<std::int64_t>(i), row, text.substr(i, 1), 1, tint, CellKind::text);
  }
  frame.clip = saved;
}

void draw_pixels(CellFrame& frame, const ImageSource& image, const CellRect& area, double x, double y, double width,
                 double height, scene::ColorValue tint, ImageFit fit, const ImageInsets* insets) {
  ImageRegions regions;
  const std::size_t region_count = build_image_regions(image.width, image.height, width, height, fit, insets, regions);
  if (region_count == 0) return;
  const Sampler sampler{image, regions.data(), region_count, tint};
  const char* upper_half_glyph = nullptr;  // interned on first use
  for (std::int64_t row = area.y0; row < area.y1; ++row) {
    const double row_f = static_cast<double>(row);
    const AxisSample upper_top = sampler.map_y((row_f + 0.125) * scene::kCellHeightUnits - y);
    const AxisSample upper_bottom = sampler.map_y((row_f + 0.375) * scene::kCellHeightUnits - y);
    const AxisSample lower_top = sampler.map_y((row_f + 0.125 + 0.5) * scene::kCellHeightUnits - y);
    const AxisSample lower_bottom = sampler.map_y((row_f + 0.375 + 0.5) * scene::kCellHeightUnits - y);
    if ((upper_top.mask | upper_bottom.mask | lower_top.mask | lower_bottom.mask) == 0) continue;
    for (std::int64_t column = area.x0; column < area.x1; ++column) {
      const double column_f = static_cast<double>(column);
      const AxisSample xs[2] = {sampler.map_x((column_f + 0.25) * scene::kCellWidthUnits - x),
                                   sampler.map_x((column_f + 0.75) * scene::kCellWidthUnits - x)};
      const scene::ColorValue upper = sampler.half(xs, upper_top, upper_bottom);
      const scene::ColorValue lower = sampler.half(xs, lower_top, lower_bottom);
      if (upper.a == 0 && lower.a == 0) continue;
      Cell& cell = frame.at(column, row);
      const scene::ColorValue under_upper = cell.kind == CellKind::image ? cell.foreground() : cell.background();
      const scene::ColorValue foreground = blend_over(upper, under_upper);
      const scene::ColorValue background = blend_over(lower, cell.background());
      if (cell.width != 1) clear_wide_pair(frame, column, row);
      if (frame.monochrome) {
        cell.glyph = luminance_ramp_glyph(foreground, background);
      } else {
        if (upper_half_glyph == nullptr) upper_half_glyph = intern_glyph(frame, kUpperHalfBlock);
        cell.glyph = upper_half_glyph;
      }
      cell.set_foreground(foreground);
      cell.set_background(background);
      cell.fg_a = 255;
      cell.bg_a = 255;
      cell.width = 1;
      cell.underline = 0;
      cell.kind = CellKind::image;
    }
  }
}

// The rect [x, y, w, h] of a validated command.
void read_rect(const cJSON* rect, double out[4]) {
  const cJSON* item = rect != nullptr ? rect->child : nullptr;
  for (int i = 0; i < 4; ++i) {
    out[i] = item != nullptr ? item->valuedouble : 0;
    item = item != nullptr ? item->next : nullptr;
  }
}

ImageFit fit_of(const cJSON* value) {
  const char* text = cJSON_GetStringValue(value);
  if (text != nullptr && std::strcmp(text, "contain") == 0) return ImageFit::contain;
  if (text != nullptr && std::strcmp(text, "cover") == 0) return ImageFit::cover;
  return ImageFit::stretch;
}

}  // namespace

std::size_t build_image_regions(std::int32_t image_width, std::int32_t image_height, double width, double height,
                                ImageFit fit, const ImageInsets* insets, ImageRegions& regions) {
  if (image_width <= 0 || image_height <= 0) return 0;
  const double W = image_width;
  const double H = image_height;
  if (insets == nullptr) {
    ImageRegion& r = regions[0];
    r = {0, 0, W, H, 0, 0, width, height};
    if (width <= 0 || height <= 0 || fit == ImageFit::stretch) return 1;
    if (fit == ImageFit::contain) {
      const double s = std::min(width / W, height / H);
      r = {0, 0, W, H, (width - W * s) / 2, (height - H * s) / 2, W * s, H * s};
    } else {
      const double s = std::max(width / W, height / H);
      r = {(W - width / s) / 2, (H - height / s) / 2, width / s, height / s, 0, 0, width, height};
    }
    return 1;
  }
  // Corners keep their source pixel size (one virtual pixel per source
  // pixel, corrected so the slices add up to the rect); edges and centre
  // stretch.
  const double kx = width / std::max(1.0, std::round(width));
  const double ky = height / std::max(1.0, std::round(height));
  const double source_columns[4] = {0, insets->left, W - insets->right, W};
  const double source_rows[4] = {0, insets->top, H - insets->bottom, H};
  const double destination_columns[4] = {0, insets->left * kx, width - insets->right * kx, width};
  const double destination_rows[4] = {0, insets->top * ky, height - insets->bottom * ky, height};
  std::size_t count = 0;
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      ImageRegion r{source_columns[column],
                    source_rows[row],
                    source_columns[column + 1] - source_columns[column],
                    source_rows[row + 1] - source_rows[row],
                    destination_columns[column],
                    destination_rows[row],
                    destination_columns[column + 1] - destination_columns[column],
                    destination_rows[row + 1] - destination_rows[row]};
      if (r.sw > 0 && r.sh > 0 && r.dw > 0 && r.dh > 0) regions[count++] = r;
    }
  }
  return count;
}

void draw_image(CellFrame& frame, ImageSourceCache* cache, RasterEventSink* events, std::string_view source,
                double x, double y, double width, double height, scene::ColorValue tint, ImageFit fit,
                const ImageInsets* insets) {
  const CellRect area = intersect(rect_to_cells(x, y, width, height), frame.clip);
  if (tint.a == 0 || area.empty()) return;
  const ImageHandle handle = cache != nullptr ? cache->get_source(source, events) : ImageHandle();
  if (!handle || !handle->loaded()) {
    draw_placeholder(frame, area, x, y, tint);
    return;
  }
  draw_pixels(frame, *handle.get(), area, x, y, width, height, tint, fit, insets);
}

void draw_image_command(const RasterContext& context, CellFrame& frame, const cJSON* command) {
  const cJSON* source = cJSON_GetArrayItem(command, 1);
  double rect[4];
  read_rect(cJSON_GetArrayItem(command, 2), rect);
  scene::ColorValue tint;
  if (!parse_colour(cJSON_GetArrayItem(command, 3), tint)) return;
  const char* text = cJSON_GetStringValue(source);
  if (text == nullptr) return;
  draw_image(frame, context.image_cache, context.events, text, rect[0], rect[1], rect[2], rect[3], tint,
             fit_of(cJSON_GetArrayItem(command, 4)), nullptr);
}

void draw_image_nine_command(const RasterContext& context, CellFrame& frame, const cJSON* command) {
  const cJSON* source = cJSON_GetArrayItem(command, 1);
  double rect[4];
  read_rect(cJSON_GetArrayItem(command, 2), rect);
  double inset_values[4];
  read_rect(cJSON_GetArrayItem(command, 3), inset_values);
  scene::ColorValue tint;
  if (!parse_colour(cJSON_GetArrayItem(command, 4), tint)) return;
  const char* text = cJSON_GetStringValue(source);
  if (text == nullptr) return;
  const ImageInsets insets{inset_values[0], inset_values[1], inset_values[2], inset_values[3]};
  draw_image(frame, context.image_cache, context.events, text, rect[0], rect[1], rect[2], rect[3], tint,
             ImageFit::stretch, &insets);
}

}  // namespace lumora::terminal
