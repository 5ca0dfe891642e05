// The growable byte buffer behind every string the terminal sends to the
// console: encoded frames, the enter and leave strings, title sequences.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace lumora::terminal {

// Pointer, length, capacity and an error flag. The capacity starts at
// kInitialCapacity and doubles until what is appended fits. After one failed
// allocation the buffer refuses every further append until clear(), so that a
// caller may append a whole frame and look at failed() once at the end.
class ByteBuffer {
 public:
  static constexpr std::size_t kInitialCapacity = 1024;

  ByteBuffer() = default;
  ByteBuffer(ByteBuffer&&) noexcept = default;
  ByteBuffer& operator=(ByteBuffer&&) noexcept = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  // Inline when the bytes fit: an encoding appends every cell's glyph.
  void append(std::string_view bytes) {
    if (!failed_ && bytes.size() < capacity_ - size_) {
      if (!bytes.empty()) std::memcpy(data_.get() + size_, bytes.data(), bytes.size());
      size_ += bytes.size();
      data_[size_] = '\0';
      return;
    }
    append_growing(bytes);
  }
  void append(char byte);
  // Decimal digits of `value`, without a sign.
  void append_decimal(std::uint32_t value);
  // Makes room for `extra` more bytes (plus the NUL); false once failed.
  bool reserve_extra(std::size_t extra);

  // Empties the buffer and clears the error flag, keeping the storage so that
  // the next frame of similar size allocates nothing.
  void clear() {
    size_ = 0;
    failed_ = false;
    if (data_) data_[0] = '\0';
  }
  // Frees the storage as well.
  void release();
  // Marks the buffer failed (an allocation elsewhere in the same output failed).
  void set_failed() { failed_ = true; }

  bool failed() const { return failed_; }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  // Always NUL-terminated once anything was appended; "" before.
  const char* c_str() const { return data_ ? data_.get() : ""; }
  std::string_view view() const { return std::string_view(c_str(), size_); }

 private:
  bool grow(std::size_t needed);
  void append_growing(std::string_view bytes);

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool failed_ = false;
};

}  // namespace lumora::terminal
