// The caller-owned error text that a failing operation writes its one fixed
// message into. Ill-formed UTF-8 in a message (a kind, an id or a path the
// controller sent, echoed) becomes U+FFFD, and a message longer than the
// buffer is cut at a character boundary, so that no reply ever carries
// invalid UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumora::scene {

// Length of the longest prefix of `text` that fits in `max_bytes` bytes and
// does not end inside a UTF-8 sequence.
std::size_t utf8_prefix_length(std::string_view text, std::size_t max_bytes);

// Offset of the first ill-formed UTF-8 sequence, or text.size() when there is none.
std::size_t first_ill_formed_utf8(std::string_view text);

// Writes `text` into `out` with every ill-formed sequence as U+FFFD, stopping
// before the first character that does not fit whole in `capacity` bytes;
// returns the bytes written (out may be null to count them).
std::size_t append_valid_utf8(std::string_view text, char* out, std::size_t capacity);

// `text` with every ill-formed sequence as U+FFFD.
std::string to_valid_utf8(std::string_view text);

// A borrowed view of a caller's buffer (data, size including the NUL).
class ErrorText {
 public:
  ErrorText(char* data, std::size_t size) : data_(data), size_(size) {}

  // Replaces the text with `message`, made well-formed and cut to fit.
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

// An owned, zeroed buffer of N bytes.
template <std::size_t N>
struct ErrorBuffer {
  static_assert(N > 0);
  char data[N] = {};
  ErrorText text() { return ErrorText(data, N); }
  bool empty() const { return data[0] == '\0'; }
  const char* c_str() const { return data; }
};

}  // namespace lumora::scene
