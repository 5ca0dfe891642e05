#include "terminal/drawing/primitives.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "scene/limits.h"

namespace lumora::terminal {
namespace {

std::int64_t clamp_to_cell_index(double value) {
  if (!(value > -kMaxCellCoordinate)) return static_cast<std::int64_t>(-kMaxCellCoordinate);  // NaN too
  if (value > kMaxCellCoordinate) return static_cast<std::int64_t>(kMaxCellCoordinate);
  return static_cast<std::int64_t>(value);
}

bool is_translucent_safe(const CellFrame& frame, std::int64_t column, std::int64_t row) {
  const Cell* shown = &frame.at(column, row);
  if (shown->width == 0 && column > 0) shown = &frame.at(column - 1, row);
  const char* glyph = shown->glyph;
  return std::strcmp(glyph, " ") == 0 || glyph[0] == '\0' || box_glyph_index(glyph) >= 0;
}

}  // namespace

const std::array<BoxGlyph, 15> kBoxGlyphTable = {{
    {"│", 5},  {"─", 10}, {"┌", 6},  {"┐", 12}, {"└", 3},  {"┘", 9},  {"├", 7},  {"┤", 13},
    {"┬", 14}, {"┴", 11}, {"┼", 15}, {"╭", 6},  {"╮", 12}, {"╰", 3},  {"╯", 9},
}};

int box_glyph_index(std::string_view glyph) {
  // Every box glyph is three bytes starting E2 94 or E2 95.
  if (glyph.size() != 3 || static_cast<unsigned char>(glyph[0]) != 0xE2) return -1;
  for (std::size_t i = 0; i < kBoxGlyphTable.size(); ++i) {
    if (glyph == kBoxGlyphTable[i].glyph) return static_cast<int>(i);
  }
  return -1;
}

std::int64_t column_of(double x) { return clamp_to_cell_index(std::ceil(x * scene::kColumnsPerUnit - 0.5)); }
std::int64_t row_of(double y) { return clamp_to_cell_index(std::ceil(y * scene::kRowsPerUnit - 0.5)); }

CellRect rect_to_cells(double x, double y, double w, double h) {
  if (!(w > 0) || !(h > 0)) return {};
  return {column_of(x), row_of(y), column_of(x + w), row_of(y + h)};
}

CellPoint centre_cell(double x, double y, double w, double h) {
  return {clamp_to_cell_index(std::ceil((x + w * 0.5) * scene::kColumnsPerUnit)) - 1,
          clamp_to_cell_index(std::ceil((y + h * 0.5) * scene::kRowsPerUnit)) - 1};
}

CellRect intersect(const CellRect& a, const CellRect& b) {
  return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

void clear_wide_pair(CellFrame& frame, std::int64_t column, std::int64_t row) {
  if (!frame.in_grid(column, row)) return;
  std::int64_t first = column;
  std::int64_t last = column;
  std::uint8_t width = frame.at(column, row).width;
  if (width == 0) first = column - 1;
  if (width == 2) last = column + 1;
  for (std::int64_t c = first; c <= last; ++c) {
    if (frame.in_grid(c, row)) blank_cell(frame.at(c, row));
  }
}

void put_glyph(CellFrame& frame, std::int64_t column, std::int64_t row, std::string_view glyph, int n,
               scene::ColorValue colour, CellKind kind) {
  if (colour.a == 0 || (n != 1 && n != 2)) return;
  const CellRect& clip = frame.clip;
  if (column < clip.x0 || column + n > clip.x1 || row < clip.y0 || row >= clip.y1) return;
  if (!frame.in_grid(column, row) || !frame.in_grid(column + n - 1, row)) return;
  for (int i = 0; i < n; ++i) {
    if (frame.at(column + i, row).width != 1) clear_wide_pair(frame, column + i, row);
  }
  const char* stored = intern_glyph(frame, glyph);
  Cell& cell = frame.at(column, row);
  cell.glyph = stored;
  cell.set_foreground_over(colour, cell);
  cell.width = static_cast<std::uint8_t>(n);
  cell.underline = 0;
  cell.kind = kind;
  if (n == 2) {
    Cell& right = frame.at(column + 1, row);
    right = cell;
    right.glyph = kRightHalfGlyph;
    right.width = 0;
  }
}

void fill_cell(CellFrame& frame, std::int64_t column, std::int64_t row, scene::ColorValue colour) {
  if (colour.a == 0 || !frame.in_grid(column, row)) return;
  if (colour.a >= 255) {
    if (frame.at(column, row).width != 1) clear_wide_pair(frame, column, row);
    Cell& cell = frame.at(column, row);
    blank_cell(cell);
    cell.set_background(scene::rgba(colour.r, colour.g, colour.b, 255));
    return;
  }
  Cell& cell = frame.at(column, row);
  scene::ColorValue foreground = blend_over(colour, cell.foreground());
  scene::ColorValue background = blend_over(colour, cell.background());
  if (cell.width == 1) {
    cell.set_foreground(foreground);
    cell.set_background(background);
    if (frame.monochrome && cell.kind == CellKind::image) {
      cell.glyph = luminance_ramp_glyph(foreground, background);
    }
    return;
  }
  std::int64_t partner = cell.width == 0 ? column - 1 : column + 1;
  cell.set_foreground(foreground);
  cell.set_background(background);
  if (frame.in_grid(partner, row)) {
    Cell& other = frame.at(partner, row);
    other.set_foreground(foreground);
    other.set_background(background);
  }
}

void mark_underline(CellFrame& frame, std::int64_t column, std::int64_t row, const scene::ColorValue* colour) {
  const CellRect& clip = frame.clip;
  if (!clip.contains(column, row) || !frame.in_grid(column, row)) return;
  std::int64_t left = frame.at(column, row).width == 0 ? column - 1 : column;
  if (left < clip.x0 || !frame.in_grid(left, row)) return;
  std::int64_t width = frame.at(left, row).width == 2 ? 2 : 1;
  if (left + width > clip.x1 || !frame.in_grid(left + width - 1, row)) return;
  const Cell& left_half = frame.at(left, row);
  for (std::int64_t c = left; c < left + width; ++c) {
    Cell& cell = frame.at(c, row);
    cell.underline = 1;
    if (colour != nullptr && std::strcmp(cell.glyph, " ") == 0) cell.set_foreground_over(*colour, left_half);
  }
}

void plot_line_glyph(CellFrame& frame, std::int64_t column, std::int64_t row, std::string_view glyph,
                     scene::ColorValue colour, bool merge) {
  if (!frame.clip.contains(column, row) || !frame.in_grid(column, row)) return;
  const Cell& cell = frame.at(column, row);
  if (cell.kind == CellKind::text || cell.underline != 0) return;
  if (colour.a < 128 && !is_translucent_safe(frame, column, row)) return;
  if (merge) {
    int existing = box_glyph_index(cell.glyph);
    int incoming = box_glyph_index(glyph);
    if (existing >= 0 && incoming >= 0) {
      std::uint8_t mask = kBoxGlyphTable[existing].mask | kBoxGlyphTable[incoming].mask;
      for (int i = 0; i <= 10; ++i) {
        if (kBoxGlyphTable[i].mask == mask) {
          glyph = kBoxGlyphTable[i].glyph;
          break;
        }
      }
    }
  }
  put_glyph(frame, column, row, glyph, 1, colour, CellKind::plain);
}

void draw_box_outline(CellFrame& frame, const CellRect& rect, const BoxOutline& outline) {
  const std::int64_t x0 = rect.x0, y0 = rect.y0, x1 = rect.x1, y1 = rect.y1;
  const std::int64_t xl = x1 - 1, yl = y1 - 1;
  if (xl < x0 || yl < y0) return;
  const bool rounded = outline.radius > 0;
  const char* top_left = rounded ? "╭" : "┌";
  const char* top_right = rounded ? "╮" : "┐";
  const char* bottom_left = rounded ? "╰" : "└";
  const char* bottom_right = rounded ? "╯" : "┘";
  const double column_span = static_cast<double>(std::max<std::int64_t>(1, x1 - x0 - 1));
  const double row_span = static_cast<double>(std::max<std::int64_t>(1, y1 - y0 - 1));
  auto plot = [&](std::int64_t column, std::int64_t row, const char* glyph) {
    scene::ColorValue colour = outline.a;
    if (outline.gradient) {
      double t = outline.horizontal ? static_cast<double>(column - x0) / column_span
                                    : static_cast<double>(row - y0) / row_span;
      colour = lerp_colour(outline.a, outline.b, t);
    }
    plot_line_glyph(frame, column, row, glyph, colour, false);
  };
  const CellRect& clip = frame.clip;
  const std::int64_t row_begin = std::max(y0, clip.y0), row_end = std::min(y1, clip.y1);
  const std::int64_t column_begin = std::max(x0, clip.x0), column_end = std::min(x1, clip.x1);
  const bool one_row = y1 - y0 == 1;
  const bool one_column = x1 - x0 == 1;

  if (outline.bracket && y1 - y0 <= 2 && x1 - x0 >= 2) {
    for (std::int64_t i = row_begin; i < row_end; ++i) {
      if (one_row) {
        plot(x0, i, "[");
        plot(xl, i, "]");
      } else {
        plot(x0, i, i == y0 ? top_left : bottom_left);
        plot(xl, i, i == y0 ? top_right : bottom_right);
      }
    }
    return;
  }
  for (std::int64_t j = column_begin; j < column_end; ++j) {
    if ((x0 < j && j < xl) || one_row) {
      plot(j, y0, "─");
      if (yl != y0) plot(j, yl, "─");
    }
  }
  for (std::int64_t i = row_begin; i < row_end; ++i) {
    if ((y0 < i && i < yl) || one_column) {
      plot(x0, i, "│");
      if (xl != x0) plot(xl, i, "│");
    }
  }
  if (!one_row && !one_column) {
    plot(x0, y0, top_left);
    plot(xl, y0, top_right);
    plot(x0, yl, bottom_left);
    plot(xl, yl, bottom_right);
  }
}

}  // namespace lumora::terminal
