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

// A rounded shape of at least 2c + 1 pixels on each side (c = the corner
// extent of its plan) is the same, pixel for pixel, as its four c × c
// corners taken from a (2c + 1)² mask and plain fills elsewhere: outside the
// corners each row of the top and bottom bands, and each column of the side
// bands, has one coverage, and the interior has the coverage of the mask's
// centre. Circles and smaller shapes keep their whole mask.
struct CornerPlan {
  bool usable = false;
  std::int64_t corner = 0;     // c
  std::int64_t mask_side = 0;  // 2c + 1
};

CornerPlan plan_corners(std::int64_t w, std::int64_t h, const RoundedPlan& plan);

// Coverage of the band rows 0 … c − 1 (the same for the band columns, and
// mirrored on the far sides), then of the interior: c + 1 values.
void band_alphas(const CornerPlan& corners, const RoundedPlan& plan, std::uint8_t* alphas);

// The fills of a w × h shape outside its corners, relative to its top-left
// pixel: runs of equal coverage merged, coverage 0 left out. `emit(x, y,
// w, h, alpha)` returns false to stop; so does this function then.
template <typename Emit>
bool for_each_straight_fill(std::int64_t w, std::int64_t h, std::int64_t c, const std::uint8_t* alphas, Emit&& emit) {
  // The middle strip, top to bottom: band rows, the interior, band rows mirrored.
  auto alpha_at = [&](std::int64_t offset, std::int64_t extent) {
    if (offset < c) return alphas[offset];
    if (offset >= extent - c) return alphas[extent - 1 - offset];
    return alphas[c];
  };
  for (int pass = 0; pass < 2; ++pass) {
    // Pass 0: the middle columns over the whole height; pass 1: the side
    // columns between the corners.
    const std::int64_t extent = pass == 0 ? h : w;
    std::int64_t start = 0;
    while (start < extent) {
      if (pass == 1 && start == c) {
        start = w - c;
        continue;
      }
      const std::uint8_t alpha = alpha_at(start, extent);
      std::int64_t end = start + 1;
      while (end < extent && !(pass == 1 && end == c) && alpha_at(end, extent) == alpha) ++end;
      if (alpha != 0) {
        const bool ok = pass == 0 ? emit(c, start, w - 2 * c, end - start, alpha)
                                  : emit(start, c, end - start, h - 2 * c, alpha);
        if (!ok) return false;
      }
      start = end;
    }
  }
  return true;
}

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
