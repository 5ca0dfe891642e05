// The primitive cell operations every terminal drawing routine is built on,
// and the mapping from virtual pixels (8 × 16 per cell) to cells.
//
// Text, icons, images, boxes and lines all end up here, so the rules that
// keep a grid consistent live in one place: a wide character is always
// cleared as a pair, translucent lines never cover text or images, and
// every write except clear_wide_pair and fill_cell respects the frame's clip.
// Coordinates are signed 64-bit so that clamped far-away positions are
// ordinary values that simply lie outside the grid.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "terminal/drawing/cell.h"
#include "terminal/drawing/colour.h"

namespace lumora::terminal {

// ---- Coordinates ----------------------------------------------------------

// Pixel-derived coordinates are clamped to this before becoming cell indices.
inline constexpr double kMaxCellCoordinate = 9e15;

struct CellPoint {
  std::int64_t column = 0;
  std::int64_t row = 0;
  friend bool operator==(const CellPoint&, const CellPoint&) = default;
};

// The nearest cell, halves rounded down: ceil(x / 8 − 0.5), ceil(y / 16 − 0.5).
std::int64_t column_of(double x);
std::int64_t row_of(double y);
inline CellPoint pixel_to_cell(double x, double y) { return {column_of(x), row_of(y)}; }

// Half-open cell rectangle of a pixel rectangle; (0, 0, 0, 0) unless w > 0
// and h > 0. May be empty or lie outside the grid.
CellRect rect_to_cells(double x, double y, double w, double h);

// The cell holding the rectangle's centre: ceil((x + w/2) / 8) − 1,
// ceil((y + h/2) / 16) − 1.
CellPoint centre_cell(double x, double y, double w, double h);

// Intersection of two cell rectangles (possibly empty).
CellRect intersect(const CellRect& a, const CellRect& b);

// ---- Glyph tables ---------------------------------------------------------

struct BoxGlyph {
  const char* glyph;
  std::uint8_t mask;  // connections: up 1, right 2, down 4, left 8
};
// The `box glyph table`, in its fixed order: entries 0..10 square, 11..14 rounded.
extern const std::array<BoxGlyph, 15> kBoxGlyphTable;
// Index into kBoxGlyphTable, or −1 when `glyph` is not a box glyph.
int box_glyph_index(std::string_view glyph);

// The `luminance ramp`, darkest first, for image cells of monochrome frames.
inline constexpr std::array<const char*, 10> kLuminanceRamp = {" ", ".", ":", "-", "=", "+", "*", "#", "%", "@"};
// The ramp character for the average Rec. 709 luminance of the two colours.
// Inline: image drawing asks for it once per cell of a monochrome frame.
inline const char* luminance_ramp_glyph(scene::ColorValue foreground, scene::ColorValue background) {
  const double numerator = static_cast<double>(foreground.g + background.g) * 7152 +
                           static_cast<double>(foreground.r + background.r) * 2126 +
                           static_cast<double>(foreground.b + background.b) * 722;
  double index = std::nearbyint(numerator / 5100000.0 * 9.0);
  if (!(index > 0)) index = 0;
  if (index > 9) index = 9;
  return kLuminanceRamp[static_cast<std::size_t>(index)];
}

// ---- Primitive cell operations ----------------------------------------------

// Blanks the cells of the character at (column, row): column−1..column for a
// right half, column..column+1 for a left half, else the cell alone; only
// cells inside the grid; no clip test. Backgrounds stay.
void clear_wide_pair(CellFrame& frame, std::int64_t column, std::int64_t row);

// Writes `glyph` as a character `n` (1 or 2) cells wide, foreground = colour
// blended over the cell's background. Nothing when the colour is transparent
// or any of the n cells lies outside the clip.
void put_glyph(CellFrame& frame, std::int64_t column, std::int64_t row, std::string_view glyph, int n,
               scene::ColorValue colour, CellKind kind);

// Fills one cell; no clip test (callers clip). Opaque: blank cell with that
// background. Translucent: both colours of the character blended towards it.
void fill_cell(CellFrame& frame, std::int64_t column, std::int64_t row, scene::ColorValue colour);

// fill_cell over every cell of `area` (inside the grid; callers clip), row
// by row; a translucent colour skips right halves except in the area's first
// column, so that each wide character is blended once. An opaque colour
// writes whole rows at once: the area becomes blank over the colour, and a
// wide character cut by its left or right edge loses its outer half too, as
// cell by cell.
void fill_cells(CellFrame& frame, const CellRect& area, scene::ColorValue colour);

// Underlines the character at (column, row) when it lies wholly in the clip;
// with a colour, its blank cells also take that foreground.
void mark_underline(CellFrame& frame, std::int64_t column, std::int64_t row, const scene::ColorValue* colour);

// One cell of a line or outline: leaves text, underlined cells and (for
// translucent colours) anything but blanks and box glyphs alone; with
// `merge`, two box glyphs join into the square-cornered glyph of both masks.
// Outlines use merge = false.
void plot_line_glyph(CellFrame& frame, std::int64_t column, std::int64_t row, std::string_view glyph,
                     scene::ColorValue colour, bool merge);

// A line between two cells, already clipped, walked cell by cell as
// Bresenham's algorithm steps (both ends included).
struct CellLine {
  std::int64_t column = 0, row = 0;
  std::int64_t end_column = 0, end_row = 0;
};

// plot_line_glyph on every cell of `line`, in walking order, at a cost per
// cell of a few comparisons: what stays the same is only read. Lines merge;
// the straight edges of outlines do not.
void plot_line_cells(CellFrame& frame, const CellLine& line, std::string_view glyph, scene::ColorValue colour,
                     bool merge = true);

// The `box outline` of a cell rectangle in colour `a` (or, with `gradient`,
// interpolated from a to b along columns when `horizontal`, else along rows),
// rounded corners when radius > 0, and the two-row `bracket form` when
// `bracket` is set. Glyphs go through plot_line_glyph without merging.
struct BoxOutline {
  scene::ColorValue a;
  scene::ColorValue b;
  bool gradient = false;
  bool horizontal = false;
  double radius = 0;
  bool bracket = false;
};
void draw_box_outline(CellFrame& frame, const CellRect& rect, const BoxOutline& outline);

}  // namespace lumora::terminal
