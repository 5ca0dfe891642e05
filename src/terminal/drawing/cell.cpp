#include "terminal/drawing/cell.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "text/hash.h"

namespace lumora::terminal {

struct GlyphPool::Entry {
  Entry* next;
  std::uint32_t hash;
  std::uint32_t length;
  char bytes[1];  // length bytes and the NUL
};

// Entries are bump-allocated from blocks, so a frame full of glyphs costs a
// handful of allocations rather than one per glyph.
struct GlyphPool::Block {
  Block* next;
  std::size_t used;
  std::size_t size;
  alignas(std::max_align_t) unsigned char data[1];
};

namespace {
constexpr std::size_t kBlockBytes = 64 * 1024;

// Process-wide tallies behind cell_frame_allocations(). Relaxed: they count,
// they order nothing.
std::atomic<std::uint64_t> frames_created{0};
std::atomic<std::uint64_t> frames_live{0};
std::atomic<std::uint64_t> pool_blocks_created{0};
std::atomic<std::uint64_t> pool_blocks_live{0};

void free_block_count() { pool_blocks_live.fetch_sub(1, std::memory_order_relaxed); }
}  // namespace

GlyphPool::GlyphPool() {
  for (Entry*& bucket : buckets_) bucket = nullptr;
  for (const char*& glyph : ascii_) glyph = nullptr;
}

GlyphPool::~GlyphPool() {
  while (blocks_ != nullptr) {
    Block* next = blocks_->next;
    std::free(blocks_);
    free_block_count();
    blocks_ = next;
  }
}

void GlyphPool::clear() {
  // One block of the usual size is kept; larger ones held single huge glyphs
  // and go, so that a recycled pool holds little memory.
  Block* kept = nullptr;
  while (blocks_ != nullptr) {
    Block* next = blocks_->next;
    if (kept == nullptr && blocks_->size == kBlockBytes) {
      kept = blocks_;
    } else {
      std::free(blocks_);
      free_block_count();
    }
    blocks_ = next;
  }
  if (kept != nullptr) {
    kept->next = nullptr;
    kept->used = 0;
  }
  blocks_ = kept;
  // A frame interns a few dozen distinct glyphs: forgetting the buckets they
  // took is cheaper than clearing all of them.
  for (std::size_t i = 0; i < used_count_; ++i) buckets_[used_buckets_[i]] = nullptr;
  used_count_ = 0;
  std::memset(ascii_, 0, sizeof ascii_);
  total_bytes_ = 0;
}

void* GlyphPool::allocate(std::size_t size) {
  constexpr std::size_t kAlign = alignof(Entry);
  size = (size + kAlign - 1) / kAlign * kAlign;
  if (blocks_ == nullptr || blocks_->size - blocks_->used < size) {
    std::size_t capacity = size > kBlockBytes ? size : kBlockBytes;
    void* memory = std::malloc(offsetof(Block, data) + capacity);
    if (memory == nullptr) return nullptr;
    pool_blocks_created.fetch_add(1, std::memory_order_relaxed);
    pool_blocks_live.fetch_add(1, std::memory_order_relaxed);
    Block* block = static_cast<Block*>(memory);
    block->next = blocks_;
    block->used = 0;
    block->size = capacity;
    blocks_ = block;
  }
  void* result = blocks_->data + blocks_->used;
  blocks_->used += size;
  return result;
}

namespace {
// Every one-byte glyph as a constant string.
struct AsciiGlyphs {
  char text[128][2];
  constexpr AsciiGlyphs() : text{} {
    for (int i = 0; i < 128; ++i) text[i][0] = static_cast<char>(i);
  }
};
constexpr AsciiGlyphs kAsciiGlyphText;
}  // namespace

const char* GlyphPool::intern(std::string_view bytes) {
  // Most text is ASCII. A one-byte glyph is stored and charged like any
  // other, but handed out as a constant: found again by its byte, and the
  // same address in every frame, so that the encoder finds unchanged text
  // rows equal byte for byte.
  const bool ascii = bytes.size() == 1 && static_cast<unsigned char>(bytes[0]) < kAsciiGlyphs;
  if (!ascii) return intern_hashed(bytes);
  const unsigned char byte = static_cast<unsigned char>(bytes[0]);
  if (ascii_[byte] == nullptr && intern_hashed(bytes) != nullptr) ascii_[byte] = kAsciiGlyphText.text[byte];
  return ascii_[byte];
}

const char* GlyphPool::intern_hashed(std::string_view bytes) {
  std::uint32_t hash = text::fnv1a32(bytes);
  Entry*& bucket = buckets_[hash & (kBucketCount - 1)];
  for (Entry* entry = bucket; entry != nullptr; entry = entry->next) {
    if (entry->hash == hash && entry->length == bytes.size() && std::memcmp(entry->bytes, bytes.data(), bytes.size()) == 0) {
      return entry->bytes;
    }
  }
  std::uint64_t charge = bytes.size() + kEntryOverhead;
  if (bytes.size() > kMaxBytes || total_bytes_ + charge > kMaxBytes) return nullptr;
  void* memory = allocate(offsetof(Entry, bytes) + bytes.size() + 1);
  if (memory == nullptr) return nullptr;
  Entry* entry = static_cast<Entry*>(memory);
  entry->next = bucket;
  entry->hash = hash;
  entry->length = static_cast<std::uint32_t>(bytes.size());
  std::memcpy(entry->bytes, bytes.data(), bytes.size());
  entry->bytes[bytes.size()] = '\0';
  // A bucket is taken once between clears, so the list never outgrows them.
  if (bucket == nullptr) used_buckets_[used_count_++] = static_cast<std::uint16_t>(hash & (kBucketCount - 1));
  bucket = entry;
  total_bytes_ += charge;
  return entry->bytes;
}

const char* intern_glyph(CellFrame& frame, std::string_view glyph) {
  const char* stored = frame.pool.intern(glyph);
  if (stored == nullptr) {
    frame.pool_exhausted = true;
    return kRefusedGlyph;
  }
  return stored;
}

void retain_frame(CellFrame* frame) {
  if (frame != nullptr) ++frame->refcount;
}

void release_frame(CellFrame* frame) {
  if (frame != nullptr && --frame->refcount == 0) {
    delete frame;
    frames_live.fetch_sub(1, std::memory_order_relaxed);
  }
}

CellFrameRef& CellFrameRef::operator=(const CellFrameRef& other) {
  retain_frame(other.frame_);
  release_frame(frame_);
  frame_ = other.frame_;
  return *this;
}

CellFrameRef& CellFrameRef::operator=(CellFrameRef&& other) noexcept {
  if (this != &other) {
    release_frame(frame_);
    frame_ = other.frame_;
    other.frame_ = nullptr;
  }
  return *this;
}

void CellFrameRef::reset() {
  release_frame(frame_);
  frame_ = nullptr;
}

CellFrameRef make_cell_frame(std::int32_t columns, std::int32_t rows, scene::ColorValue background) {
  if (columns < 1 || rows < 1 || columns > kMaxGridSide || rows > kMaxGridSide ||
      static_cast<std::int64_t>(columns) * rows > kMaxGridCells) {
    return {};
  }
  CellFrame* frame = new (std::nothrow) CellFrame;
  if (frame == nullptr) return {};
  frame->cells.reset(new (std::nothrow) Cell[static_cast<std::size_t>(columns) * rows]);
  if (!frame->cells) {
    delete frame;
    return {};
  }
  frames_created.fetch_add(1, std::memory_order_relaxed);
  frames_live.fetch_add(1, std::memory_order_relaxed);
  frame->columns = columns;
  frame->rows = rows;
  frame->refcount = 1;
  frame->clip = frame->whole_grid();
  fill_blank(*frame, background);
  return CellFrameRef::adopt(frame);
}

void fill_cell_run(Cell* first, std::size_t count, const Cell& value) {
  // The record's bytes, padding included (callers zero it), stored four
  // cells at a time: each cell is a few whole-register stores, and the
  // unrolled loop pays its counting once per four.
  unsigned char pattern[sizeof(Cell)];
  std::memcpy(pattern, &value, sizeof pattern);
  unsigned char* out = reinterpret_cast<unsigned char*>(first);
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4, out += 4 * sizeof(Cell)) {
    std::memcpy(out, pattern, sizeof(Cell));
    std::memcpy(out + sizeof(Cell), pattern, sizeof(Cell));
    std::memcpy(out + 2 * sizeof(Cell), pattern, sizeof(Cell));
    std::memcpy(out + 3 * sizeof(Cell), pattern, sizeof(Cell));
  }
  for (; i < count; ++i, out += sizeof(Cell)) std::memcpy(out, pattern, sizeof(Cell));
}

void fill_blank(CellFrame& frame, scene::ColorValue background) {
  Cell blank;
  std::memset(static_cast<void*>(&blank), 0, sizeof blank);  // the padding too
  blank_cell(blank);
  blank.set_background(background);
  frame.background = background;
  fill_cell_run(frame.cells.get(), static_cast<std::size_t>(frame.columns) * static_cast<std::size_t>(frame.rows),
                blank);
}

// ---- FrameRecycler ------------------------------------------------------------

void FrameRecycler::keep(CellFrameRef frame) {
  if (!frame) return;
  if (count_ == kMaxKept) {
    for (std::size_t i = 1; i < count_; ++i) kept_[i - 1] = std::move(kept_[i]);
    --count_;
  }
  kept_[count_++] = std::move(frame);
}

CellFrameRef FrameRecycler::take(std::int32_t columns, std::int32_t rows, scene::ColorValue background) {
  CellFrameRef found = take_kept(columns, rows);
  if (!found) return make_cell_frame(columns, rows, background);
  fill_blank(*found, background);
  return found;
}

CellFrameRef FrameRecycler::take_uncleared(std::int32_t columns, std::int32_t rows) {
  CellFrameRef found = take_kept(columns, rows);
  return found ? std::move(found) : make_cell_frame(columns, rows);
}

// A kept frame of that size that no one else holds, emptied but for its
// cells, or an empty reference; kept frames of another size go.
CellFrameRef FrameRecycler::take_kept(std::int32_t columns, std::int32_t rows) {
  CellFrameRef found;
  std::size_t remaining = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    CellFrameRef& frame = kept_[i];
    const bool same_size = frame->columns == columns && frame->rows == rows;
    if (!same_size) {
      frame.reset();
    } else if (!found && frame->refcount == 1) {
      found = std::move(frame);
    } else {
      kept_[remaining++] = std::move(frame);
    }
  }
  count_ = remaining;
  if (!found) return {};
  CellFrame& frame = *found;
  frame.pool.clear();
  frame.pool_exhausted = false;
  frame.monochrome = false;
  frame.clip = frame.whole_grid();
  return found;
}

void FrameRecycler::clear() {
  for (std::size_t i = 0; i < count_; ++i) kept_[i].reset();
  count_ = 0;
}

CellFrameAllocations cell_frame_allocations() {
  return {frames_created.load(std::memory_order_relaxed), frames_live.load(std::memory_order_relaxed),
          pool_blocks_created.load(std::memory_order_relaxed), pool_blocks_live.load(std::memory_order_relaxed)};
}

}  // namespace lumora::terminal
