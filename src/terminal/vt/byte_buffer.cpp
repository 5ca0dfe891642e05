#include "terminal/vt/byte_buffer.h"

#include <cstring>
#include <limits>
#include <new>

namespace lumora::terminal {

bool ByteBuffer::grow(std::size_t needed) {
  std::size_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
  while (capacity < needed) {
    if (capacity > std::numeric_limits<std::size_t>::max() / 2) {
      failed_ = true;
      return false;
    }
    capacity *= 2;
  }
  std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity]);
  if (!grown) {
    failed_ = true;
    return false;
  }
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
  grown[size_] = '\0';
  data_ = std::move(grown);
  capacity_ = capacity;
  return true;
}

bool ByteBuffer::reserve_extra(std::size_t extra) {
  if (failed_) return false;
  // One more byte than the content keeps room for the terminating NUL.
  if (extra >= std::numeric_limits<std::size_t>::max() - size_) {
    failed_ = true;
    return false;
  }
  std::size_t needed = size_ + extra + 1;
  return needed <= capacity_ || grow(needed);
}

void ByteBuffer::append_growing(std::string_view bytes) {
  if (!reserve_extra(bytes.size())) return;
  if (!bytes.empty()) std::memcpy(data_.get() + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  data_[size_] = '\0';
}

void ByteBuffer::append(char byte) {
  if (!reserve_extra(1)) return;
  data_[size_++] = byte;
  data_[size_] = '\0';
}

void ByteBuffer::append_decimal(std::uint32_t value) {
  char digits[10];
  std::size_t count = 0;
  do {
    digits[sizeof digits - 1 - count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  append(std::string_view(digits + sizeof digits - count, count));
}

void ByteBuffer::release() {
  data_.reset();
  size_ = 0;
  capacity_ = 0;
  failed_ = false;
}

}  // namespace lumora::terminal
