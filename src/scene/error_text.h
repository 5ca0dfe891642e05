// The caller-owned error text that a failing operation writes its one fixed
// message into. A message longer than the buffer is cut at a UTF-8 character
// boundary, so that no reply ever carries invalid UTF-8.
#pragma once

#include <cstddef>
#include <string_view>

namespace lumora::scene {

// Length of the longest prefix of `text` that fits in `max_bytes` bytes and
// does not end inside a UTF-8 sequence.
std::size_t utf8_prefix_length(std::string_view text, std::size_t max_bytes);

// A borrowed view of a caller's buffer (data, size including the NUL).
class ErrorText {
 public:
  ErrorText(char* data, std::size_t size) : data_(data), size_(size) {}

  // Replaces the text with `message`, cut to fit.
  void set(std::string_view message);
  // printf-style; the result is cut to fit like set().
  void format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void clear() {
    if (size_ > 0) data_[0] = '\0';
  }

  bool empty() const { return size_ == 0 || data_[0] == '\0'; }
  const char* c_str() const { return data_; }
  std::string_view view() const { return size_ == 0 ? std::string_view() : std::string_view(data_); }
  std::size_t capacity() const { return size_; }

 private:
  char* data_;
  std::size_t size_;
};

// An owned, zeroed buffer of N bytes; the host's error texts are 1,024 bytes.
template <std::size_t N>
struct ErrorBuffer {
  static_assert(N > 0);
  char data[N] = {};
  ErrorText text() { return ErrorText(data, N); }
  bool empty() const { return data[0] == '\0'; }
  const char* c_str() const { return data; }
};

inline constexpr std::size_t kErrorTextSize = 1024;
using HostErrorBuffer = ErrorBuffer<kErrorTextSize>;

}  // namespace lumora::scene
