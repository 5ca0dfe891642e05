#include "terminal/drawing/boxes.h"

#include <algorithm>
#include <cstring>

#include "json/json.h"
#include "scene/style.h"
#include "terminal/drawing/primitives.h"
#include "terminal/drawing/rasterizer.h"

namespace lumora::terminal {
namespace {

struct PixelRect {
  double x = 0, y = 0, w = 0, h = 0;
};

PixelRect read_rect(const cJSON* rect) {
  double values[4] = {0, 0, 0, 0};
  const cJSON* item = rect != nullptr ? rect->child : nullptr;
  for (double& value : values) {
    if (item == nullptr) break;
    value = item->valuedouble;
    item = item->next;
  }
  return {values[0], values[1], values[2], values[3]};
}

double number_or(const cJSON* value, double fallback) { return cJSON_IsNumber(value) ? value->valuedouble : fallback; }

// The style members the terminal draws with: the scene's parsed style, read
// the terminal's way where it differs.
struct CellStyle {
  scene::RectStyle parsed;
  // A border needs a width: "border" alone draws nothing, any non-zero width
  // (even a negative one) draws the one-cell outline.
  bool has_border = false;
  // The fill is a gradient when "fill_end" differs from "fill" as text, byte
  // for byte, not as a colour: "#fff" to "#ffffff" fills cell by cell, as a
  // gradient does, where a plain fill would turn a narrow tall rect into a line.
  bool gradient_fill = false;

  scene::ColorValue fill_colour() const { return parsed.fill.present ? parsed.fill : kTransparent; }
  scene::ColorValue fill_end_colour() const { return parsed.fill_end.present ? parsed.fill_end : fill_colour(); }
};

CellStyle read_style(const cJSON* style) {
  CellStyle cells;
  cells.parsed = scene::parse_rect_style(style);
  cells.has_border = cells.parsed.border.present && cells.parsed.border_width != 0;
  cells.gradient_fill = cells.parsed.fill.present && cells.parsed.fill_end.present &&
                        json::string_member(style, "fill") != json::string_member(style, "fill_end");
  return cells;
}

double gradient_t(std::int64_t position, std::int64_t first, std::int64_t end) {
  return static_cast<double>(position - first) / static_cast<double>(std::max<std::int64_t>(1, end - first - 1));
}

}  // namespace

void draw_gradient_fill(CellFrame& frame, const CellRect& rect, scene::ColorValue a, scene::ColorValue b,
                        bool horizontal) {
  const CellRect area = intersect(rect, frame.clip);
  for (std::int64_t row = area.y0; row < area.y1; ++row) {
    for (std::int64_t column = area.x0; column < area.x1; ++column) {
      const double t = horizontal ? gradient_t(column, rect.x0, rect.x1) : gradient_t(row, rect.y0, rect.y1);
      const scene::ColorValue colour = lerp_colour(a, b, t);
      if (colour.a <= 254 && column != area.x0 && frame.at(column, row).width == 0) continue;
      fill_cell(frame, column, row, colour);
    }
  }
}

void draw_gradient_rect_command(const RasterContext&, CellFrame& frame, const cJSON* command) {
  const PixelRect rect = read_rect(cJSON_GetArrayItem(command, 1));
  scene::ColorValue start, end;
  if (!parse_colour(cJSON_GetArrayItem(command, 2), start) || !parse_colour(cJSON_GetArrayItem(command, 3), end)) return;
  const char* axis = cJSON_GetStringValue(cJSON_GetArrayItem(command, 4));
  const bool horizontal = axis != nullptr && std::strcmp(axis, "horizontal") == 0;
  const double radius = number_or(cJSON_GetArrayItem(command, 5), 0);
  const double border_width = number_or(cJSON_GetArrayItem(command, 6), 0);
  const CellRect cells = rect_to_cells(rect.x, rect.y, rect.w, rect.h);
  if (border_width == 0) {
    draw_gradient_fill(frame, cells, start, end, horizontal);
  } else if (border_width > 0) {
    draw_box_outline(frame, cells, BoxOutline{start, end, true, horizontal, radius, false});
  }
}

void draw_styled_rect_command(const RasterContext&, CellFrame& frame, const cJSON* command) {
  const PixelRect rect = read_rect(cJSON_GetArrayItem(command, 1));
  if (!(rect.w > 0) || !(rect.h > 0)) return;
  const cJSON* style_object = cJSON_GetArrayItem(command, 2);
  const CellStyle style = read_style(style_object);
  const bool horizontal = style.parsed.gradient_axis == scene::GradientAxis::horizontal;
  const double radius = std::min({style.parsed.radius, rect.w * 0.5, rect.h * 0.5});
  const CellRect cells = rect_to_cells(rect.x, rect.y, rect.w, rect.h);
  const scene::ColorValue border = style.parsed.border.present ? style.parsed.border : kTransparent;
  const scene::ColorValue border_end = style.parsed.border_end.present ? style.parsed.border_end : border;

  // A rect lower than half a cell is a single bar through its centre row.
  if (rect.h < 8 && rect.w >= 8) {
    const std::int64_t row = centre_cell(rect.x, rect.y, rect.w, rect.h).row;
    const scene::ColorValue a = style.has_border ? border : style.fill_colour();
    const scene::ColorValue b = style.has_border ? border_end : style.fill_end_colour();
    const std::int64_t first = std::max(cells.x0, frame.clip.x0);
    const std::int64_t last = std::min(cells.x1, frame.clip.x1);
    for (std::int64_t column = first; column < last; ++column) {
      const double t = horizontal ? gradient_t(column, cells.x0, cells.x1) : 0.5;
      plot_line_glyph(frame, column, row, "─", lerp_colour(a, b, t), false);
    }
    return;
  }

  if (style.parsed.fill.present) {
    if (style.gradient_fill) {
      draw_gradient_fill(frame, cells, style.parsed.fill, style.parsed.fill_end, horizontal);
    } else {
      draw_rect_fill(frame, rect.x, rect.y, rect.w, rect.h, style.parsed.fill);
    }
  }
  if (style.has_border) {
    draw_box_outline(frame, cells,
                     BoxOutline{border, border_end, style.parsed.border_end.present, horizontal, radius, true});
  }
}

void draw_marker_command(const RasterContext&, CellFrame& frame, const cJSON* command) {
  const PixelRect rect = read_rect(cJSON_GetArrayItem(command, 1));
  if (!(rect.w > 0) || !(rect.h > 0)) return;
  const CellPoint cell = centre_cell(rect.x, rect.y, rect.w, rect.h);
  if (!frame.clip.contains(cell.column, cell.row)) return;
  const CellStyle style = read_style(cJSON_GetArrayItem(command, 2));
  const char* shape = cJSON_GetStringValue(cJSON_GetArrayItem(command, 3));
  const bool checked = cJSON_IsTrue(cJSON_GetArrayItem(command, 4));

  const scene::ColorValue mid = lerp_colour(style.fill_colour(), style.fill_end_colour(), 0.5);
  const scene::ColorValue foreground = style.parsed.foreground.present ? style.parsed.foreground : mid;
  const scene::ColorValue border = style.parsed.border.present ? style.parsed.border : foreground;

  const bool circle = shape != nullptr && std::strcmp(shape, "circle") == 0;
  const char* glyph;
  scene::ColorValue colour;
  if (circle) {
    glyph = checked ? "◉" : style.has_border ? "○" : "●";
    colour = style.has_border ? border : checked ? foreground : mid;
  } else {
    fill_cell(frame, cell.column, cell.row, mid);
    glyph = checked ? "✓" : "□";
    colour = style.has_border && !checked ? border : foreground;
  }
  put_glyph(frame, cell.column, cell.row, glyph, 1, colour, CellKind::text);
}

void draw_focus_ring_command(const RasterContext&, CellFrame& frame, const cJSON* command) {
  const PixelRect rect = read_rect(cJSON_GetArrayItem(command, 1));
  scene::ColorValue colour;
  if (!parse_colour(cJSON_GetArrayItem(command, 2), colour)) return;
  const double radius = number_or(cJSON_GetArrayItem(command, 3), 0);
  const CellRect cells = rect_to_cells(rect.x, rect.y, rect.w, rect.h);
  draw_box_outline(frame, cells, BoxOutline{colour, colour, false, false, radius, true});
  // Without colour a ring of thin glyphs is easy to miss; underlining its
  // edge cells keeps the focus visible.
  if (!frame.monochrome || cells.empty()) return;
  const CellRect& clip = frame.clip;
  for (std::int64_t column = std::max(cells.x0, clip.x0); column < std::min(cells.x1, clip.x1); ++column) {
    mark_underline(frame, column, cells.y0, nullptr);
    if (cells.y1 != cells.y0 + 1) mark_underline(frame, column, cells.y1 - 1, nullptr);
  }
  const std::int64_t row_end = std::min({cells.y1, clip.y1, cells.y1 - 1});
  for (std::int64_t row = std::max(cells.y0 + 1, clip.y0); row < row_end; ++row) {
    mark_underline(frame, cells.x0, row, nullptr);
    if (cells.x1 != cells.x0 + 1) mark_underline(frame, cells.x1 - 1, row, nullptr);
  }
}

}  // namespace lumora::terminal
