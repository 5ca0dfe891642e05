// Character cells: the `Cell` record, the composed grid `CellFrame` and the
// per-frame `GlyphPool` that owns the text every cell points at.
//
// A frame is composed once (rasterizer.h) and then only read: the backend's
// current frame and the encoder's last written frame share it through its
// reference count (`CellFrameRef`), so that an unchanged scene is neither
// composed nor copied again. Glyph strings live in the frame's pool, so a
// frame's memory is bounded (16 MiB of glyph text) and comparing two cells is
// a short string comparison. Frames the backend stopped showing go to a
// `FrameRecycler`, so that a stream of updates composes into the same few
// frames and pools instead of allocating a grid for each.
//
// Everything here runs on the main thread; the reference count takes no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>

#include "terminal/drawing/colour.h"

namespace lumora::terminal {

// Who wrote a cell's glyph; line drawing never covers `text`, image drawing
// blends over earlier `image` cells.
enum class CellKind : std::uint8_t { plain = 0, text = 1, image = 2 };

// Constant glyphs that need no pool entry.
inline constexpr const char* kBlankGlyph = " ";
inline constexpr const char* kRightHalfGlyph = "";  // right half of a wide character
inline constexpr const char* kRefusedGlyph = "?";   // what a full pool hands back

struct Cell {
  const char* glyph = kBlankGlyph;  // NUL-terminated UTF-8, pooled or constant
  std::int32_t fg_r = 255, fg_g = 255, fg_b = 255, fg_a = 255;
  std::int32_t bg_r = 0, bg_g = 0, bg_b = 0, bg_a = 255;
  std::uint8_t width = 1;      // 1 normal, 2 left half of a wide character, 0 right half
  std::uint8_t underline = 0;  // 0 or 1
  CellKind kind = CellKind::plain;

  scene::ColorValue foreground() const { return scene::rgba(fg_r, fg_g, fg_b, fg_a); }
  scene::ColorValue background() const { return scene::rgba(bg_r, bg_g, bg_b, bg_a); }
  void set_foreground(scene::ColorValue c) { fg_r = c.r, fg_g = c.g, fg_b = c.b, fg_a = c.a; }
  void set_background(scene::ColorValue c) { bg_r = c.r, bg_g = c.g, bg_b = c.b, bg_a = c.a; }
  // Foreground = `over` blended onto `under`'s background, alpha 255: the
  // blend of every glyph write, done on the stored channels, since a frame
  // makes it thousands of times.
  void set_foreground_over(scene::ColorValue over, const Cell& under) {
    // Opaque, the usual case, is the colour itself: the blend's rounding
    // term never reaches a whole unit.
    if (over.a == 255) {
      fg_r = over.r, fg_g = over.g, fg_b = over.b, fg_a = 255;
      return;
    }
    fg_r = blend_channel(over.a, over.r, under.bg_r);
    fg_g = blend_channel(over.a, over.g, under.bg_g);
    fg_b = blend_channel(over.a, over.b, under.bg_b);
    fg_a = 255;
  }
};

// The encoder compares rows of cells as bytes first; frames keep the padding
// of their cells zero (fill_blank) so that equal cells are equal bytes.
static_assert(std::is_trivially_copyable_v<Cell>, "cells are compared as bytes");

// Makes `cell` blank (glyph " ", white opaque foreground, width 1, no
// underline, kind plain); its background stays. Inline: fills and wide
// characters blank cells one at a time.
inline void blank_cell(Cell& cell) {
  cell.glyph = kBlankGlyph;
  cell.fg_r = cell.fg_g = cell.fg_b = cell.fg_a = 255;
  cell.width = 1;
  cell.underline = 0;
  cell.kind = CellKind::plain;
}

// Every glyph written into one frame, stored once. Entries live as long as
// the pool; each is charged its byte length + 16 against a 16 MiB total.
class GlyphPool {
 public:
  static constexpr std::size_t kBucketCount = 4096;  // the hash's low 12 bits
  static constexpr std::uint64_t kMaxBytes = 16777216;
  static constexpr std::uint64_t kEntryOverhead = 16;

  GlyphPool();
  ~GlyphPool();
  GlyphPool(const GlyphPool&) = delete;
  GlyphPool& operator=(const GlyphPool&) = delete;

  // The stored copy of `bytes` (NUL-terminated; for a one-byte glyph a
  // constant string, charged all the same), or nullptr when the entry would
  // bring the total above kMaxBytes or cannot be allocated.
  const char* intern(std::string_view bytes);
  std::uint64_t total_bytes() const { return total_bytes_; }
  // Forgets every entry, as a new pool; one block of storage is kept for the
  // entries that follow, so a recycled frame usually allocates nothing.
  void clear();

 private:
  static constexpr std::size_t kAsciiGlyphs = 128;

  struct Entry;
  struct Block;
  const char* intern_hashed(std::string_view bytes);

  Entry* buckets_[kBucketCount];
  std::uint16_t used_buckets_[kBucketCount];  // the buckets taken since the last clear, in order
  std::size_t used_count_ = 0;
  const char* ascii_[kAsciiGlyphs];           // the constant of each one-byte glyph stored, or null
  Block* blocks_ = nullptr;  // bump-allocated storage for the entries
  std::uint64_t total_bytes_ = 0;

  void* allocate(std::size_t size);
};

// A half-open rectangle of cell coordinates; also the frame's clip.
struct CellRect {
  std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool empty() const { return x0 >= x1 || y0 >= y1; }
  bool contains(std::int64_t column, std::int64_t row) const {
    return column >= x0 && column < x1 && row >= y0 && row < y1;
  }
};

// Grid limits, enforced by whoever sets the backend's size.
inline constexpr std::int32_t kMaxGridSide = 16384;
inline constexpr std::int64_t kMaxGridCells = 1048576;

struct CellFrame {
  std::unique_ptr<Cell[]> cells;  // columns × rows, row-major
  std::int32_t columns = 0;
  std::int32_t rows = 0;
  std::int32_t refcount = 1;
  bool pool_exhausted = false;  // the pool refused a glyph; the drawing command fails
  bool monochrome = false;      // composed under the colour mode "none"
  CellRect clip;                // composition state: the current clip
  scene::ColorValue background = scene::rgba(0, 0, 0, 255);  // colour of the last clear, premultiplied, a = 255
  GlyphPool pool;

  bool in_grid(std::int64_t column, std::int64_t row) const {
    return column >= 0 && column < columns && row >= 0 && row < rows;
  }
  // Callers check in_grid first.
  Cell& at(std::int64_t column, std::int64_t row) { return cells[column + row * columns]; }
  const Cell& at(std::int64_t column, std::int64_t row) const { return cells[column + row * columns]; }
  CellRect whole_grid() const { return {0, 0, columns, rows}; }
};

// The pooled copy of `glyph`, or "?" with pool_exhausted set when the pool
// refuses it.
const char* intern_glyph(CellFrame& frame, std::string_view glyph);

// Reference counting by hand, for code that keeps raw pointers.
void retain_frame(CellFrame* frame);
void release_frame(CellFrame* frame);  // frees the frame and its pool at 0; null is ignored

// A counted reference to a frame: copying takes a reference, destruction or
// reset() drops it.
class CellFrameRef {
 public:
  CellFrameRef() = default;
  // Adopts the reference that `frame` already carries (a new frame's 1).
  static CellFrameRef adopt(CellFrame* frame) { return CellFrameRef(frame); }
  CellFrameRef(const CellFrameRef& other) : frame_(other.frame_) { retain_frame(frame_); }
  CellFrameRef(CellFrameRef&& other) noexcept : frame_(other.frame_) { other.frame_ = nullptr; }
  CellFrameRef& operator=(const CellFrameRef& other);
  CellFrameRef& operator=(CellFrameRef&& other) noexcept;
  ~CellFrameRef() { release_frame(frame_); }

  void reset();
  CellFrame* get() const { return frame_; }
  CellFrame* operator->() const { return frame_; }
  CellFrame& operator*() const { return *frame_; }
  explicit operator bool() const { return frame_ != nullptr; }

 private:
  explicit CellFrameRef(CellFrame* frame) : frame_(frame) {}
  CellFrame* frame_ = nullptr;
};

// A new frame of blank cells over `background` (taken as it is, opaque black
// by default) with refcount 1 and the whole grid as clip, or an empty
// reference when the size is outside the grid limits or the cells cannot be
// allocated.
CellFrameRef make_cell_frame(std::int32_t columns, std::int32_t rows,
                             scene::ColorValue background = scene::rgba(0, 0, 0, 255));

// `count` copies of `value` from `first` on, as whole-record stores (three
// vector stores a cell, where blanking field by field costs a dozen).
void fill_cell_run(Cell* first, std::size_t count, const Cell& value);

// Every cell of `frame` blank over `background`, and frame.background set to it.
void fill_blank(CellFrame& frame, scene::ColorValue background);

// Frames kept for composing into again. The backend hands over each frame it
// stops showing; the frame becomes reusable once no one else holds it (the
// encoder lets go of its last written frame at the next present). Reusing
// one costs a pass over its cells instead of a new grid, its pages and a
// fresh glyph pool.
class FrameRecycler {
 public:
  // The current frame, the frame last written and one spare cover a commit
  // between two presents; more would only hold memory.
  static constexpr std::size_t kMaxKept = 2;

  // Keeps a reference to `frame` (an empty reference is ignored); when full,
  // the longest kept frame is let go first.
  void keep(CellFrameRef frame);
  // A frame exactly as make_cell_frame(columns, rows, background) gives:
  // a kept frame of that size that no one else holds, emptied, or else a new
  // one. Kept frames of another size are let go, since the grid changed.
  CellFrameRef take(std::int32_t columns, std::int32_t rows, scene::ColorValue background);
  // The same, except that a kept frame's cells are left as it showed them:
  // for a composition that clears every cell before drawing.
  CellFrameRef take_uncleared(std::int32_t columns, std::int32_t rows);
  // Lets every kept frame go.
  void clear();
  std::size_t kept() const { return count_; }

 private:
  CellFrameRef take_kept(std::int32_t columns, std::int32_t rows);

  CellFrameRef kept_[kMaxKept];  // oldest first
  std::size_t count_ = 0;
};

// How many frames and glyph-pool blocks were made and how many exist now,
// over the whole process: tests read them to see that frames are recycled,
// not leaked.
struct CellFrameAllocations {
  std::uint64_t frames_created = 0;
  std::uint64_t frames_live = 0;
  std::uint64_t pool_blocks_created = 0;
  std::uint64_t pool_blocks_live = 0;
};
CellFrameAllocations cell_frame_allocations();

}  // namespace lumora::terminal
