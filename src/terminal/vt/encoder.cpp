#include "terminal/vt/encoder.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "terminal/vt/channel_digits.h"
#include "text/unicode_properties.h"
#include "text/utf8.h"

namespace lumora::terminal {

namespace {

// The grid is at most this wide, so one row of dirty marks fits on the stack
// and encoding allocates nothing but the output's growth.
constexpr int kMaxEncodedColumns = 16384;

constexpr std::string_view kBeginSynchronizedUpdate = "\x1b[?2026h";
constexpr std::string_view kEndFrame = "\x1b[0m\x1b[?2026l";
constexpr std::string_view kUnderlineOn = "\x1b[4m";
constexpr std::string_view kUnderlineOff = "\x1b[24m";

constexpr std::array<std::uint32_t, 256> make_palette() {
  std::array<std::uint32_t, 256> palette{};
  constexpr std::uint32_t kBase[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                       0x008080, 0xc0c0c0, 0x808080, 0xff0000, 0x00ff00, 0xffff00,
                                       0x0000ff, 0xff00ff, 0x00ffff, 0xffffff};
  constexpr std::uint32_t kLevels[6] = {0x00, 0x5f, 0x87, 0xaf, 0xd7, 0xff};
  for (int i = 0; i < 16; ++i) palette[i] = kBase[i];
  for (int i = 16; i < 232; ++i) {
    int m = i - 16;
    palette[i] = kLevels[m / 36] << 16 | kLevels[(m / 6) % 6] << 8 | kLevels[m % 6];
  }
  for (int i = 232; i < 256; ++i) {
    std::uint32_t grey = static_cast<std::uint32_t>(8 + 10 * (i - 232));
    palette[i] = grey << 16 | grey << 8 | grey;
  }
  return palette;
}

constexpr std::array<std::uint32_t, 256> kPalette = make_palette();

// Direct-mapped: a colour's slot is the top bits of a Fibonacci hash. The key
// is the colour plus one so that a zeroed slot reads as empty.
constexpr int kCacheSlotBits = 10;
constexpr std::size_t kCacheSlots = std::size_t{1} << kCacheSlotBits;

struct CacheSlot {
  std::uint32_t key = 0;
  std::uint8_t index = 0;
};

std::array<CacheSlot, kCacheSlots> palette256_cache;
std::array<CacheSlot, kCacheSlots> palette16_cache;

int clamp_channel(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

int search_palette(int red, int green, int blue, int palette_size) {
  int best = 0;
  long best_distance = -1;
  for (int i = 0; i < palette_size; ++i) {
    int dr = red - static_cast<int>(kPalette[i] >> 16);
    int dg = green - static_cast<int>(kPalette[i] >> 8 & 0xff);
    int db = blue - static_cast<int>(kPalette[i] & 0xff);
    long distance = static_cast<long>(dr) * dr + static_cast<long>(dg) * dg + static_cast<long>(db) * db;
    if (best_distance < 0 || distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  return best;
}

bool same_colours(const Cell& a, const Cell& b) {
  return a.fg_r == b.fg_r && a.fg_g == b.fg_g && a.fg_b == b.fg_b && a.bg_r == b.bg_r && a.bg_g == b.bg_g &&
         a.bg_b == b.bg_b;
}

// Glyphs of two frames live in two pools, so equal text usually sits at
// different addresses; glyphs are a few bytes, compared inline.
bool same_glyph(const char* a, const char* b) {
  if (a == b) return true;
  while (*a == *b) {
    if (*a == '\0') return true;
    ++a;
    ++b;
  }
  return false;
}

// The eight colour channels are adjacent, so equal colours (the usual case
// between two frames of one scene) are found by one block comparison; only
// when that fails are the channels shown compared (the alphas are not).
static_assert(offsetof(Cell, bg_a) - offsetof(Cell, fg_r) == 7 * sizeof(std::int32_t));
constexpr std::size_t kColourBytes = 8 * sizeof(std::int32_t);

// Cells compared as one block before they are compared one by one.
constexpr int kCompareBlockCells = 8;

// Whether the cell must be written again, given what the terminal shows.
bool cell_differs(const Cell& now, const Cell& before, bool compare_colours) {
  if (now.width != before.width || now.underline != before.underline) return true;
  if (compare_colours && std::memcmp(&now.fg_r, &before.fg_r, kColourBytes) != 0 && !same_colours(now, before)) {
    return true;
  }
  return !same_glyph(now.glyph, before.glyph);
}

// A wide character is written whole: a dirty half makes its other half dirty,
// in the new frame and in the old one (whose character is being overwritten).
void widen_dirty_marks(const Cell* row, const Cell* previous_row, int columns, unsigned char* dirty) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (int c = 0; c < columns; ++c) {
      if (!dirty[c]) continue;
      for (const Cell* cells : {row, previous_row}) {
        if (cells == nullptr) continue;
        if (cells[c].width == 0 && c > 0 && !dirty[c - 1]) {
          dirty[c - 1] = 1;
          changed = true;
        }
        if (cells[c].width == 2 && c + 1 < columns && !dirty[c + 1]) {
          dirty[c + 1] = 1;
          changed = true;
        }
      }
    }
  }
}

// ---- Clusters whose width terminals dispute ----
//
// Our widths are one choice; a terminal counts with its own tables, and for
// some clusters no two terminals agree: any cluster of more than one code
// point (emoji with a variation selector, a keycap, a skin tone or a joiner,
// flags, Indic conjuncts, a combining mark shown on its own), and single code
// points whose width changed across Unicode versions or depends on the
// terminal's emoji support (the table's disputed-width flag). Such a cluster
// is written so that nothing else depends on the terminal's count:
//   - the cells it covers are erased first, in its colours, so that a
//     terminal that counts it narrower shows a blank there, not what was
//     there before;
//   - the cursor is moved to the next cell with an absolute move;
//   - a terminal that counts it wider writes over the cells to its right:
//     the cluster and the cells it may reach (see fitting_code_points) are
//     rewritten together, so that a change of either rewrites the other, in
//     the new frame and the old one;
//   - at the right margin it keeps only the code points that fit however
//     wide they are drawn, since some terminals wrap rather than clip.
// Frames without such clusters are written exactly as before.

// Two columns per stored code point (at most 64 of them).
constexpr int kMaxDisputedReach = 128;

// Which blocks of 64 code points hold any code point with the disputed-width
// property: most glyphs of a frame (box drawing, CJK, Latin) lie in blocks
// without one and are decided by one bit, not a table search.
constexpr std::size_t kDisputedBlockBits = 6;
constexpr std::size_t kDisputedBlockCount = (text::kMaxCodePoint + 1) >> kDisputedBlockBits;

struct DisputedBlocks {
  std::array<std::uint64_t, kDisputedBlockCount / 64> bits{};
  bool holds_block(std::size_t block) const { return (bits[block / 64] >> (block % 64) & 1) != 0; }
};

DisputedBlocks make_disputed_blocks() {
  DisputedBlocks blocks;
  for (const text::CharacterProperties& record : text::kCharacterPropertyTable) {
    if ((record.flags & text::kPropertyDisputedWidth) == 0) continue;
    for (std::size_t block = record.first >> kDisputedBlockBits; block <= record.last >> kDisputedBlockBits; ++block) {
      blocks.bits[block / 64] |= std::uint64_t{1} << (block % 64);
    }
  }
  return blocks;
}

const DisputedBlocks kDisputedBlocks = make_disputed_blocks();

// How many columns a terminal may give each code point of a disputed
// cluster: a first code point that is narrow and undisputed one, every other
// two (the widest any terminal draws a code point). Walks `glyph` until the
// sum would pass `room`; returns the bytes that fit and sets `reach` to
// their sum.
std::string_view fitting_code_points(std::string_view glyph, int room, int* reach) {
  std::size_t end = 0;
  int used = 0;
  std::string_view rest = glyph;
  while (!rest.empty()) {
    const text::Utf8Char next = text::decode_utf8_final(rest);
    const std::size_t length = next.length > 0 ? next.length : 1;
    int bound = 2;
    if (end == 0 && (text::character_properties(next.code_point).flags &
                     (text::kPropertyWide | text::kPropertyDisputedWidth)) == 0) {
      bound = 1;
    }
    if (used + bound > room) break;
    used += bound;
    end += length;
    rest.remove_prefix(length);
  }
  *reach = used;
  return glyph.substr(0, end);
}

// The reach of a cluster of several code points.
[[gnu::noinline]] int multiple_code_point_reach(std::string_view glyph) {
  int reach = 0;
  fitting_code_points(glyph, kMaxDisputedReach, &reach);
  return reach;
}

// 0 when every terminal counts the cluster as we do; otherwise how many
// columns, from its first, a terminal's output of it may reach (at least its
// own width). Glyphs come from the grapheme reader, well-formed.
[[gnu::always_inline]] inline int disputed_reach(std::string_view glyph) {
  // Blanks, ASCII and right halves: the common case, decided by the length.
  if (glyph.size() <= 1) return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(glyph.data());
  const unsigned char lead = bytes[0];
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (glyph.size() != length) return multiple_code_point_reach(glyph);
  // One code point of two, three or four bytes. All but its last byte give
  // its block of 64, which for most glyphs settles the question.
  std::size_t block = lead & (length == 4 ? 0x07 : length == 3 ? 0x0F : 0x1F);
  for (std::size_t k = 1; k + 1 < length; ++k) block = block << 6 | (bytes[k] & 0x3F);
  if (!kDisputedBlocks.holds_block(block)) return 0;
  const char32_t code_point = static_cast<char32_t>(block << 6 | (bytes[length - 1] & 0x3F));
  return (text::character_properties(code_point).flags & text::kPropertyDisputedWidth) != 0 ? 2 : 0;
}

inline std::string_view glyph_of(const Cell& cell) {
  return cell.glyph != nullptr ? std::string_view(cell.glyph) : std::string_view();
}

// Rewrites a disputed cluster and the cells it may reach as one: a dirty cell
// anywhere in that span makes the whole span dirty, in the current frame
// (whose cluster is about to be written) and the previous one (whose output
// may still cover those cells). Runs together with the widening of wide
// characters until neither changes anything. `reach` holds the larger reach
// of the two frames per column (0 where neither holds a disputed cluster).
void join_disputed_spans(const Cell* row, const Cell* previous_row, int columns, const unsigned char* reach,
                         unsigned char* dirty) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (int c = 0; c < columns; ++c) {
      if (reach[c] == 0) continue;
      const int end = c + reach[c] < columns ? c + reach[c] : columns;
      bool any = false;
      bool all = true;
      for (int k = c; k < end; ++k) {
        any |= dirty[k] != 0;
        all &= dirty[k] != 0;
      }
      if (!any || all) continue;
      for (int k = c; k < end; ++k) dirty[k] = 1;
      changed = true;
    }
    if (changed) widen_dirty_marks(row, previous_row, columns, dirty);
  }
}

// The colour and underline state last sent within one encoding.
struct EmittedState {
  bool colour_sent = false;
  int fg_r = 0, fg_g = 0, fg_b = 0;
  int bg_r = 0, bg_g = 0, bg_b = 0;
  bool underline = false;
};

// Builds one escape sequence on the stack so that it reaches the output in a
// single append; the longest (truecolor) is 36 bytes.
class Sequence {
 public:
  Sequence& put(std::string_view text) {
    std::memcpy(bytes_ + length_, text.data(), text.size());
    length_ += text.size();
    return *this;
  }
  // `value` is a channel, a palette code or a 1-based grid position: 0..16384.
  Sequence& put_decimal(int value) {
    auto number = static_cast<unsigned>(value);
    if (number >= 10000) bytes_[length_++] = static_cast<char>('0' + number / 10000 % 10);
    if (number >= 1000) bytes_[length_++] = static_cast<char>('0' + number / 1000 % 10);
    if (number >= 100) bytes_[length_++] = static_cast<char>('0' + number / 100 % 10);
    if (number >= 10) bytes_[length_++] = static_cast<char>('0' + number / 10 % 10);
    bytes_[length_++] = static_cast<char>('0' + number % 10);
    return *this;
  }
  // `value` is a channel: 0..255.
  Sequence& put_channel(int value) {
    length_ = static_cast<std::size_t>(put_channel_digits(bytes_ + length_, value) - bytes_);
    return *this;
  }
  std::string_view view() const { return std::string_view(bytes_, length_); }

 private:
  char bytes_[48];
  std::size_t length_ = 0;
};

void append_colour(const Cell& cell, ColourMode mode, ByteBuffer& out) {
  Sequence sequence;
  switch (mode) {
    case ColourMode::truecolor:
      sequence.put("\x1b[38;2;").put_channel(clamp_channel(cell.fg_r)).put(";").put_channel(clamp_channel(cell.fg_g));
      sequence.put(";").put_channel(clamp_channel(cell.fg_b)).put(";48;2;").put_channel(clamp_channel(cell.bg_r));
      sequence.put(";").put_channel(clamp_channel(cell.bg_g)).put(";").put_channel(clamp_channel(cell.bg_b)).put("m");
      break;
    case ColourMode::indexed256:
      sequence.put("\x1b[38;5;").put_decimal(nearest_palette_index(cell.fg_r, cell.fg_g, cell.fg_b, kPalette256));
      sequence.put(";48;5;").put_decimal(nearest_palette_index(cell.bg_r, cell.bg_g, cell.bg_b, kPalette256)).put("m");
      break;
    case ColourMode::indexed16: {
      int fg = nearest_palette_index(cell.fg_r, cell.fg_g, cell.fg_b, kPalette16);
      int bg = nearest_palette_index(cell.bg_r, cell.bg_g, cell.bg_b, kPalette16);
      sequence.put("\x1b[").put_decimal(fg < 8 ? 30 + fg : 90 + (fg - 8)).put(";");
      sequence.put_decimal(bg < 8 ? 40 + bg : 100 + (bg - 8)).put("m");
      break;
    }
    case ColourMode::none:
      return;
  }
  out.append(sequence.view());
}

[[gnu::always_inline]] inline void append_attributes(const Cell& cell, ColourMode mode, EmittedState& state,
                                                     ByteBuffer& out) {
  if (mode != ColourMode::none) {
    bool changed = !state.colour_sent || cell.fg_r != state.fg_r || cell.fg_g != state.fg_g ||
                   cell.fg_b != state.fg_b || cell.bg_r != state.bg_r || cell.bg_g != state.bg_g ||
                   cell.bg_b != state.bg_b;
    if (changed) {
      append_colour(cell, mode, out);
      state.colour_sent = true;
      state.fg_r = cell.fg_r;
      state.fg_g = cell.fg_g;
      state.fg_b = cell.fg_b;
      state.bg_r = cell.bg_r;
      state.bg_g = cell.bg_g;
      state.bg_b = cell.bg_b;
    }
  }
  bool underline = cell.underline != 0;
  if (underline != state.underline) {
    out.append(underline ? kUnderlineOn : kUnderlineOff);
    state.underline = underline;
  }
}

void append_cursor_move(int row, int column, ByteBuffer& out) {
  Sequence cursor_move;
  cursor_move.put("\x1b[").put_decimal(row + 1).put(";").put_decimal(column + 1).put("H");
  out.append(cursor_move.view());
}

// Erases the cells a disputed cluster covers (ECH, in the colours just
// sent), so that a terminal that counts it narrower shows blanks there.
[[gnu::noinline]] void append_disputed_erase(const Cell& cell, ByteBuffer& out) {
  out.append(cell.width == 2 ? std::string_view("\x1b[2X") : std::string_view("\x1b[1X"));
}

// A disputed cluster whose output might pass the right margin is cut to the
// code points that cannot: some terminals wrap (and scroll) rather than
// clip a character that does not fit, auto-wrap off or not. A cell left
// with nothing that fits shows a blank.
[[gnu::noinline]] void append_fitting(std::string_view glyph, int room, ByteBuffer& out) {
  int reach = 0;
  const std::string_view fitting = fitting_code_points(glyph, room, &reach);
  out.append(fitting.empty() ? std::string_view(" ") : fitting);
}

}  // namespace

bool cluster_width_disputed(const char* glyph) {
  return glyph != nullptr && disputed_reach(std::string_view(glyph)) != 0;
}

std::uint32_t palette_colour(int index) { return kPalette[static_cast<std::size_t>(index & 0xff)]; }

int nearest_palette_index(int red, int green, int blue, int palette_size) {
  red = clamp_channel(red);
  green = clamp_channel(green);
  blue = clamp_channel(blue);
  std::array<CacheSlot, kCacheSlots>& cache = palette_size == kPalette16 ? palette16_cache : palette256_cache;
  std::uint32_t colour = static_cast<std::uint32_t>(red) << 16 | static_cast<std::uint32_t>(green) << 8 |
                         static_cast<std::uint32_t>(blue);
  std::uint32_t slot = (colour * 0x9E3779B1u) >> (32 - kCacheSlotBits);
  CacheSlot& entry = cache[slot];
  if (entry.key == colour + 1) return entry.index;
  int index = search_palette(red, green, blue, palette_size == kPalette16 ? kPalette16 : kPalette256);
  entry.key = colour + 1;
  entry.index = static_cast<std::uint8_t>(index);
  return index;
}

bool encode_frame(const CellFrame* current, const CellFrame* previous, ColourMode mode, ByteBuffer& out) {
  out.clear();
  if (current == nullptr || current->columns < 1 || current->rows < 1 || current->columns > kMaxEncodedColumns) {
    out.set_failed();
    return false;
  }
  if (previous == current) return true;
  const CellFrame* reference =
      previous != nullptr && previous->columns == current->columns && previous->rows == current->rows ? previous
                                                                                                        : nullptr;
  const int columns = current->columns;
  const bool compare_colours = mode != ColourMode::none;
  std::array<unsigned char, kMaxEncodedColumns> dirty;
  std::array<unsigned char, kMaxEncodedColumns> reach;
  EmittedState state;
  bool started = false;

  for (int row = 0; row < current->rows; ++row) {
    const Cell* cells = &current->cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns)];
    const Cell* old_cells =
        reference ? &reference->cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns)] : nullptr;
    // Rows without text hold only constant glyphs (the blank, line and box
    // glyphs), so an unchanged row is usually byte for byte the same as
    // before: one block comparison settles it. Any difference, if only in
    // a pooled glyph's address or in what the encoding ignores, is decided
    // cell by cell.
    if (old_cells != nullptr &&
        std::memcmp(static_cast<const void*>(cells), static_cast<const void*>(old_cells),
                    static_cast<std::size_t>(columns) * sizeof(Cell)) == 0) {
      continue;
    }
    // The same, a few cells at a time, in rows that hold text.
    bool any_dirty = false;
    for (int c = 0; c < columns;) {
      const int block_end = c + kCompareBlockCells < columns ? c + kCompareBlockCells : columns;
      if (old_cells != nullptr &&
          std::memcmp(static_cast<const void*>(cells + c), static_cast<const void*>(old_cells + c),
                      static_cast<std::size_t>(block_end - c) * sizeof(Cell)) == 0) {
        std::memset(dirty.data() + c, 0, static_cast<std::size_t>(block_end - c));
        c = block_end;
        continue;
      }
      for (; c < block_end; ++c) {
        bool is_dirty = old_cells == nullptr || cell_differs(cells[c], old_cells[c], compare_colours);
        dirty[c] = is_dirty;
        any_dirty |= is_dirty;
      }
    }
    if (!any_dirty) continue;
    // Without a reference every cell is dirty already.
    if (old_cells != nullptr) {
      widen_dirty_marks(cells, old_cells, columns, dirty.data());
      bool any_disputed = false;
      for (int c = 0; c < columns; ++c) {
        const int now = disputed_reach(glyph_of(cells[c]));
        const int before = disputed_reach(glyph_of(old_cells[c]));
        reach[c] = static_cast<unsigned char>(now > before ? now : before);
        any_disputed |= reach[c] != 0;
      }
      if (any_disputed) join_disputed_spans(cells, old_cells, columns, reach.data(), dirty.data());
    }

    for (int c = 0; c < columns;) {
      if (!dirty[c]) {
        ++c;
        continue;
      }
      if (!started) {
        out.append(kBeginSynchronizedUpdate);
        started = true;
      }
      append_cursor_move(row, c, out);
      for (; c < columns && dirty[c]; ++c) {
        const Cell& cell = cells[c];
        if (cell.width == 0) continue;
        const std::string_view glyph = glyph_of(cell);
        append_attributes(cell, mode, state, out);
        if (disputed_reach(glyph) != 0) [[unlikely]] {
          append_disputed_erase(cell, out);
          append_fitting(glyph, columns - c, out);
          // Wherever the terminal left the cursor, the next cell of the run
          // starts where the frame has it.
          const int next = c + (cell.width == 2 ? 2 : 1);
          if (next < columns && dirty[next]) append_cursor_move(row, next, out);
          continue;
        }
        out.append(glyph);
      }
    }
    if (out.failed()) return false;
  }
  if (started) out.append(kEndFrame);
  return !out.failed();
}

}  // namespace lumora::terminal
