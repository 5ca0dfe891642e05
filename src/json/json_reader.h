// Parses JSON text into cJSON items held in storage that the reader owns and
// reuses. The items read exactly as a cJSON_ParseWithLengthOpts tree does
// (the same types, numbers, key and value strings, and next/prev/child
// links), so everything that reads commands works on them unchanged; but a
// parse allocates nothing per item once the storage has grown, and dropping
// the items frees nothing per item. Every command the host receives is read
// here, so its cost is the floor under every request.
//
// The grammar is cJSON's for a text that must be one value and nothing more:
// leading bytes up to 0x20 and a UTF-8 byte order mark are skipped, trailing
// bytes are not; a number is what strtod reads from the run of number
// characters. It is stricter in three ways: arrays and objects nest at most
// `max_nesting` deep; a \u escape needs four hexadecimal digits (cJSON reads
// a malformed one as code point 0, cutting the string); and a zero byte in a
// string, raw or escaped, ends the parse, because a C string cannot hold it.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumora::json {

enum class JsonReadStatus {
  parsed,
  invalid,
  nul_in_string,  // the text up to a zero byte in a string was valid
  out_of_memory,
};

class JsonReader {
 public:
  // Storage kept across reads; a larger document's extra storage is freed
  // when it is cleared, so one huge command does not pin its memory.
  static constexpr std::size_t kRetainedBytes = 1024 * 1024;

  JsonReader() = default;
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;

  // Replaces the items with those of `text`. On any status but parsed,
  // root() is null.
  JsonReadStatus read(const char* text, std::size_t length, std::size_t max_nesting);

  // The parsed value. Its items are read-only: never cJSON_Delete, detach or
  // attach them (cJSON_Duplicate makes an owned copy). They stay valid
  // until the next read or clear.
  const cJSON* root() const { return root_; }

  // Drops the items, keeping at most kRetainedBytes of storage.
  void clear();

  // Bytes of storage held now (for tests of the retention bound).
  std::size_t storage_bytes() const;

  // Hands out `bytes` of storage aligned to `alignment` (a power of two at
  // most 16); null when memory runs out. Used by the parser.
  void* allocate(std::size_t bytes, std::size_t alignment) {
    std::size_t padding = (0 - reinterpret_cast<std::uintptr_t>(next_)) & (alignment - 1);
    if (padding + bytes <= static_cast<std::size_t>(limit_ - next_)) {
      unsigned char* start = next_ + padding;
      next_ = start + bytes;
      return make_usable(start, bytes);
    }
    return allocate_from_next_block(bytes);
  }

 private:
  struct Block {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
  };

  void* allocate_from_next_block(std::size_t bytes);
  // Under AddressSanitizer storage is poisoned until handed out, so that an
  // item read after its document was dropped is reported as it would be
  // for a freed cJSON tree; elsewhere these do nothing.
  static void* make_usable(unsigned char* start, std::size_t bytes);
  static void make_unusable(unsigned char* start, std::size_t bytes);

  std::vector<Block> blocks_;
  std::size_t next_block_ = 0;       // the first block not yet filled from
  unsigned char* next_ = nullptr;   // the free part of the block being filled
  unsigned char* limit_ = nullptr;
  const cJSON* root_ = nullptr;
};

}  // namespace lumora::json
