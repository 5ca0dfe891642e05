#include "terminal/drawing/cell.h"

#include <cstdlib>
#include <cstring>
#include <new>

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
}  // namespace

void blank_cell(Cell& cell) {
  cell.glyph = kBlankGlyph;
  cell.fg_r = cell.fg_g = cell.fg_b = cell.fg_a = 255;
  cell.width = 1;
  cell.underline = 0;
  cell.kind = CellKind::plain;
}

GlyphPool::GlyphPool() {
  for (Entry*& bucket : buckets_) bucket = nullptr;
}

GlyphPool::~GlyphPool() {
  while (blocks_ != nullptr) {
    Block* next = blocks_->next;
    std::free(blocks_);
    blocks_ = next;
  }
}

void* GlyphPool::allocate(std::size_t size) {
  constexpr std::size_t kAlign = alignof(Entry);
  size = (size + kAlign - 1) / kAlign * kAlign;
  if (blocks_ == nullptr || blocks_->size - blocks_->used < size) {
    std::size_t capacity = size > kBlockBytes ? size : kBlockBytes;
    void* memory = std::malloc(offsetof(Block, data) + capacity);
    if (memory == nullptr) return nullptr;
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

const char* GlyphPool::intern(std::string_view bytes) {
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
  if (frame != nullptr && --frame->refcount == 0) delete frame;
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

CellFrameRef make_cell_frame(std::int32_t columns, std::int32_t rows) {
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
  frame->columns = columns;
  frame->rows = rows;
  frame->refcount = 1;
  frame->clip = frame->whole_grid();
  return CellFrameRef::adopt(frame);
}

}  // namespace lumora::terminal
