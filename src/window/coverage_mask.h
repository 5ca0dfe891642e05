// The geometry of rounded shapes: the coverage that a mask pixel receives,
// the size of the mask a shape needs (whole, nine-sliced, or none when rows
// must be filled one by one) and the row insets of that scanline path. Pure
// arithmetic, so that shapes can be checked without a renderer.
#pragma once

#include <cstdint>
#include <vector>

namespace lumora::window {

// A mask request at or above this many pixels is cut down to a nine-slice
// mask, whose size then depends on the radius only.
inline constexpr std::int64_t kNineSliceMaskPixels = 65536;
// Per draw request: larger masks are not made, rows are filled instead.
inline constexpr std::int64_t kMaxMaskRequestSide = 4096;
inline constexpr std::int64_t kMaxMaskRequestPixels = 4194304;
inline constexpr std::int64_t kMaxMaskCornerPixels = 65536;
// Per mask surface, whoever asks.
inline constexpr std::int64_t kMaxMaskSide = 8192;
inline constexpr std::int64_t kMaxMaskPixels = 16777216;

// How one rounded shape of w × h pixels is drawn.
struct RoundedPlan {
  bool scanlines = false;       // too large for a mask: one fill per row piece
  bool sliced = false;          // the mask is drawn as nine slices with insets (cx, cy)
  std::int64_t mask_w = 0, mask_h = 0;
  std::int64_t corner_x = 0, corner_y = 0;
  double radius = 0;            // clamped to the shape, a circle's is half its side
  double ring = 0;              // 0 for a filled shape
};

RoundedPlan plan_rounded(std::int64_t w, std::int64_t h, double radius, double ring_width);

// Alpha (0..255) of the pixel in column `column`, row `row` of a W × H mask
// with corner radius r and ring width a (0 for a filled shape).
std::uint8_t mask_coverage(std::int64_t width, std::int64_t height, double radius, double ring, std::int64_t column,
                           std::int64_t row);

// Every alpha of the mask, row by row.
std::vector<std::uint8_t> mask_alphas(std::int64_t width, std::int64_t height, double radius, double ring);

// One row of a shape drawn by scanlines: up to two horizontal pieces
// relative to the shape's left edge (x offset, width); a piece of width 0 is
// drawn as nothing.
struct ScanlinePieces {
  int count = 0;
  std::int64_t x[2] = {0, 0};
  std::int64_t w[2] = {0, 0};
};

// Row `offset` (0 = the shape's top row) of a w × h shape with radius r and
// ring width a.
ScanlinePieces scanline_pieces(std::int64_t w, std::int64_t h, double radius, double ring, std::int64_t offset);

}  // namespace lumora::window
