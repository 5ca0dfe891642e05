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

// The glyphs of lines: the box glyphs and the two diagonals. Lines plot
// millions of cells, so these are stored as constants (as the blank is) and
// found by their bytes, never measured, hashed or pooled.
constexpr const char* kDiagonalDown = "╲";  // ╲
constexpr const char* kDiagonalUp = "╱";    // ╱

// Index into kBoxGlyphTable by the last two bytes of a glyph E2 94 xx or
// E2 95 xx: (second − 0x94) × 64 + (third − 0x80); −1 for none.
struct BoxGlyphLookup {
  std::int8_t index[128];
  BoxGlyphLookup();
  int find(unsigned char second, unsigned char third) const {
    if ((second != 0x94 && second != 0x95) || (third & 0xC0) != 0x80) return -1;
    return index[(second - 0x94) * 64 + (third - 0x80)];
  }
};

int box_glyph_index_of_tail(unsigned char second, unsigned char third);

// box_glyph_index of a cell's NUL-terminated glyph, without measuring it.
int stored_box_glyph_index(const char* glyph) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(glyph);
  // Each test reads the next byte only once the previous one was no NUL.
  if (bytes[0] != 0xE2 || bytes[1] == 0 || bytes[2] == 0 || bytes[3] != 0) return -1;
  return box_glyph_index_of_tail(bytes[1], bytes[2]);
}

bool glyph_equals(const char* stored, std::string_view glyph) {
  for (char byte : glyph) {
    if (*stored == '\0' || *stored != byte) return false;
    ++stored;
  }
  return *stored == '\0';
}

}  // namespace

const std::array<BoxGlyph, 15> kBoxGlyphTable = {{
    {"│", 5},  {"─", 10}, {"┌", 6},  {"┐", 12}, {"└", 3},  {"┘", 9},  {"├", 7},  {"┤", 13},
    {"┬", 14}, {"┴", 11}, {"┼", 15}, {"╭", 6},  {"╮", 12}, {"╰", 3},  {"╯", 9},
}};

namespace {

BoxGlyphLookup::BoxGlyphLookup() {
  for (std::int8_t& entry : index) entry = -1;
  for (std::size_t i = 0; i < kBoxGlyphTable.size(); ++i) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(kBoxGlyphTable[i].glyph);
    index[(bytes[1] - 0x94) * 64 + (bytes[2] - 0x80)] = static_cast<std::int8_t>(i);
  }
}

// Built after kBoxGlyphTable, which is constant-initialised.
const BoxGlyphLookup kBoxGlyphLookup;

int box_glyph_index_of_tail(unsigned char second, unsigned char third) { return kBoxGlyphLookup.find(second, third); }

// What a line's box glyph merging into a cell's box glyph gives, by their
// indexes in kBoxGlyphTable: the first of entries 0..10 with both masks
// joined. Built once, since lines are drawn by the thousand and most are a
// few cells long.
struct BoxMergeTable {
  const char* merged[kBoxGlyphTable.size()][kBoxGlyphTable.size()];
  BoxMergeTable() {
    for (std::size_t incoming = 0; incoming < kBoxGlyphTable.size(); ++incoming) {
      for (std::size_t existing = 0; existing < kBoxGlyphTable.size(); ++existing) {
        const std::uint8_t mask = kBoxGlyphTable[existing].mask | kBoxGlyphTable[incoming].mask;
        merged[incoming][existing] = kBoxGlyphTable[incoming].glyph;
        for (std::size_t i = 0; i <= 10; ++i) {
          if (kBoxGlyphTable[i].mask == mask) {
            merged[incoming][existing] = kBoxGlyphTable[i].glyph;
            break;
          }
        }
      }
    }
  }
};

const BoxMergeTable kBoxMerge;

// The constant copy of a line glyph, or null for any other glyph.
const char* constant_line_glyph(std::string_view glyph) {
  if (glyph.size() != 3 || static_cast<unsigned char>(glyph[0]) != 0xE2) return nullptr;
  int box = box_glyph_index_of_tail(static_cast<unsigned char>(glyph[1]), static_cast<unsigned char>(glyph[2]));
  if (box >= 0) return kBoxGlyphTable[static_cast<std::size_t>(box)].glyph;
  if (glyph == kDiagonalDown) return kDiagonalDown;
  if (glyph == kDiagonalUp) return kDiagonalUp;
  return nullptr;
}

}  // namespace

int box_glyph_index(std::string_view glyph) {
  // Every box glyph is three bytes starting E2 94 or E2 95.
  if (glyph.size() != 3 || static_cast<unsigned char>(glyph[0]) != 0xE2) return -1;
  return box_glyph_index_of_tail(static_cast<unsigned char>(glyph[1]), static_cast<unsigned char>(glyph[2]));
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

void fill_cells(CellFrame& frame, const CellRect& area, scene::ColorValue colour) {
  if (colour.a == 0 || area.empty()) return;
  if (colour.a <= 254) {
    for (std::int64_t row = area.y0; row < area.y1; ++row) {
      for (std::int64_t column = area.x0; column < area.x1; ++column) {
        if (column != area.x0 && frame.at(column, row).width == 0) continue;
        fill_cell(frame, column, row, colour);
      }
    }
    return;
  }
  // Cell by cell, an opaque fill blanks the pair of every wide character it
  // meets before writing the cell; inside the area the other half is written
  // over anyway, so only halves outside its two edges need blanking.
  Cell filled;
  std::memset(static_cast<void*>(&filled), 0, sizeof filled);  // the padding too
  blank_cell(filled);
  filled.set_background(scene::rgba(colour.r, colour.g, colour.b, 255));
  const std::size_t width = static_cast<std::size_t>(area.x1 - area.x0);
  for (std::int64_t row = area.y0; row < area.y1; ++row) {
    Cell* cells = &frame.at(0, row);
    if (cells[area.x0].width == 0 && area.x0 > 0) blank_cell(cells[area.x0 - 1]);
    if (cells[area.x1 - 1].width == 2 && area.x1 < frame.columns) blank_cell(cells[area.x1]);
    fill_cell_run(cells + area.x0, width, filled);
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
  if (colour.a == 0 || !frame.clip.contains(column, row) || !frame.in_grid(column, row)) return;
  Cell& cell = frame.at(column, row);
  if (cell.kind == CellKind::text || cell.underline != 0) return;
  if (colour.a < 128 && !is_translucent_safe(frame, column, row)) return;
  if (merge) {
    int existing = stored_box_glyph_index(cell.glyph);
    int incoming = existing >= 0 ? box_glyph_index(glyph) : -1;
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
  // A long line, or many crossing the same cells, mostly rewrites a cell
  // with the glyph it already holds, or with another line glyph: then only
  // the glyph pointer and the colour change, as put_glyph would change them.
  if (cell.width == 1) {
    const char* constant = glyph_equals(cell.glyph, glyph) ? cell.glyph : constant_line_glyph(glyph);
    if (constant != nullptr) {
      scene::ColorValue foreground = blend_over(colour, cell.background());
      // Unchanged cells are only read: writing them back costs as much again.
      if (cell.glyph == constant && cell.kind == CellKind::plain && cell.foreground() == foreground) return;
      cell.glyph = constant;
      cell.set_foreground(foreground);
      cell.kind = CellKind::plain;
      return;
    }
  }
  put_glyph(frame, column, row, glyph, 1, colour, CellKind::plain);
}

namespace {

// The cells from `from` to `to` (either way round) that lie in [lo, hi).
struct ClippedSpan {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t step = 1;
  bool empty = true;
};

ClippedSpan clip_span(std::int64_t from, std::int64_t to, std::int64_t lo, std::int64_t hi) {
  ClippedSpan span;
  span.step = to > from ? 1 : -1;
  span.first = std::clamp(from, lo - 1, hi);
  span.last = std::clamp(to, lo - 1, hi);
  if (span.step > 0 ? span.first < lo : span.first >= hi) span.first += span.step;
  if (span.step > 0 ? span.last >= hi : span.last < lo) span.last -= span.step;
  span.empty = span.step > 0 ? span.first > span.last : span.first < span.last;
  return span;
}

}  // namespace

void plot_line_cells(CellFrame& frame, const CellLine& line, std::string_view glyph, scene::ColorValue colour,
                     bool merge) {
  if (colour.a == 0) return;
  // Everything that depends only on the glyph and the colour is settled once
  // per line: the constant glyph, and what merging it gives with each box
  // glyph a cell may already hold (without merging, nothing: the glyph).
  const char* constant = constant_line_glyph(glyph);
  const int incoming = merge ? box_glyph_index(glyph) : -1;
  const char* const* merged = incoming >= 0 ? kBoxMerge.merged[incoming] : nullptr;
  const bool opaque_enough = colour.a >= 128;
  // The foreground depends on the cell's background, which lines never
  // change: remember the last one blended.
  scene::ColorValue last_background = frame.in_grid(line.column, line.row) ? frame.at(line.column, line.row).background() : scene::ColorValue{};
  scene::ColorValue last_foreground = blend_over(colour, last_background);

  const char* last_glyph = nullptr;
  int last_existing = -1;

  // Inlined into each walk below, so that the caches stay in registers.
  auto plot = [&](std::int64_t column, std::int64_t row) __attribute__((always_inline)) {
    Cell& cell = frame.at(column, row);
    const char* result = nullptr;
    if (cell.width == 1 && cell.kind == CellKind::plain && cell.underline == 0 && constant != nullptr &&
        (opaque_enough || is_translucent_safe(frame, column, row))) {
      // Most cells hold one of a few glyph pointers (the blank, this
      // line's glyph): remember the last one looked up.
      if (incoming >= 0 && cell.glyph != last_glyph) {
        last_glyph = cell.glyph;
        last_existing = stored_box_glyph_index(cell.glyph);
      }
      int existing = incoming >= 0 ? last_existing : -1;
      result = existing >= 0 ? merged[existing] : constant;
    }
    if (result != nullptr) {
      scene::ColorValue background = cell.background();
      if (!(background == last_background)) {
        last_background = background;
        last_foreground = blend_over(colour, background);
      }
      if (cell.glyph != result || !(cell.foreground() == last_foreground)) {
        cell.glyph = result;
        cell.set_foreground(last_foreground);
      }
    } else {
      // Wide characters, image cells and the rest take the general path.
      plot_line_glyph(frame, column, row, glyph, colour, merge);
    }
  };

  const CellRect clip = intersect(frame.clip, frame.whole_grid());
  if (clip.empty()) return;
  std::int64_t column = line.column, row = line.row;
  // A straight line visits each cell between its ends in order: only the
  // part inside the clip and the grid is walked, without a test per cell.
  if (row == line.end_row && column != line.end_column) {
    if (row < clip.y0 || row >= clip.y1) return;
    ClippedSpan span = clip_span(column, line.end_column, clip.x0, clip.x1);
    for (std::int64_t c = span.first; !span.empty;) {
      plot(c, row);
      if (c == span.last) break;
      c += span.step;
    }
    return;
  }
  if (column == line.end_column && row != line.end_row) {
    if (column < clip.x0 || column >= clip.x1) return;
    ClippedSpan span = clip_span(row, line.end_row, clip.y0, clip.y1);
    for (std::int64_t r = span.first; !span.empty;) {
      plot(column, r);
      if (r == span.last) break;
      r += span.step;
    }
    return;
  }

  const std::int64_t delta_column = line.end_column > column ? line.end_column - column : column - line.end_column;
  const std::int64_t delta_row = line.end_row > row ? line.end_row - row : row - line.end_row;
  const std::int64_t step_column = line.end_column > column ? 1 : -1;
  const std::int64_t step_row = line.end_row > row ? 1 : -1;
  std::int64_t err = delta_column - delta_row;
  const std::int64_t limit = std::max(delta_column, delta_row) + 1;
  for (std::int64_t n = 0; n < limit; ++n) {
    if (clip.contains(column, row)) plot(column, row);
    if (column == line.end_column && row == line.end_row) break;
    std::int64_t e2 = 2 * err;
    if (e2 > -delta_row) {
      err -= delta_row;
      column += step_column;
    }
    if (e2 < delta_column) {
      err += delta_column;
      row += step_row;
    }
  }
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
  if (!outline.gradient) {
    // One colour: each straight edge is a run of cells, plotted as a line
    // without merging. Edges touch other rows or columns than each other
    // except at the corners, which come last, so the order of the runs
    // changes nothing.
    const std::int64_t h0 = one_row ? column_begin : std::max(x0 + 1, column_begin);
    const std::int64_t h1 = one_row ? column_end - 1 : std::min(xl - 1, column_end - 1);
    if (h0 <= h1) {
      plot_line_cells(frame, CellLine{h0, y0, h1, y0}, "─", outline.a, false);
      if (yl != y0) plot_line_cells(frame, CellLine{h0, yl, h1, yl}, "─", outline.a, false);
    }
    const std::int64_t v0 = one_column ? row_begin : std::max(y0 + 1, row_begin);
    const std::int64_t v1 = one_column ? row_end - 1 : std::min(yl - 1, row_end - 1);
    if (v0 <= v1) {
      plot_line_cells(frame, CellLine{x0, v0, x0, v1}, "│", outline.a, false);
      if (xl != x0) plot_line_cells(frame, CellLine{xl, v0, xl, v1}, "│", outline.a, false);
    }
  } else {
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
  }
  if (!one_row && !one_column) {
    plot(x0, y0, top_left);
    plot(xl, y0, top_right);
    plot(x0, yl, bottom_left);
    plot(xl, yl, bottom_right);
  }
}

}  // namespace lumora::terminal
