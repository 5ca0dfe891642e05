#include "scene/error_text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "text/utf8.h"

namespace lumora::scene {
namespace {

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";
constexpr std::size_t kReplacementLength = sizeof kReplacementUtf8 - 1;

// Length of the run of ASCII bytes at the start of `text`: the common case,
// which needs no decoding. Eight bytes are tested at once while none has
// its high bit set; every reply is checked, snapshots of a megabyte too.
std::size_t ascii_prefix_length(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  std::size_t length = 0;
  while (text.size() - length >= sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + length, sizeof word);
    if ((word & kHighBits) != 0) break;
    length += sizeof word;
  }
  while (length < text.size() && static_cast<unsigned char>(text[length]) < 0x80) ++length;
  return length;
}

}  // namespace

std::size_t utf8_prefix_length(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text.size();
  // The byte at max_bytes is the first one left out; if it continues a
  // character, step back to that character's lead byte and leave it out too.
  std::size_t lead = max_bytes;
  while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
  return lead;
}

std::size_t first_ill_formed_utf8(std::string_view text) {
  std::size_t index = 0;
  while (index < text.size()) {
    index += ascii_prefix_length(text.substr(index));
    if (index == text.size()) break;
    text::Utf8Char decoded = text::decode_utf8_final(text.substr(index));
    if (decoded.status != text::Utf8Status::valid) return index;
    index += decoded.length;
  }
  return text.size();
}

std::size_t append_valid_utf8(std::string_view text, char* out, std::size_t capacity) {
  std::size_t written = 0;
  while (!text.empty()) {
    std::size_t ascii = ascii_prefix_length(text);
    if (ascii > 0) {
      std::size_t taken = ascii < capacity - written ? ascii : capacity - written;
      if (out != nullptr) std::memcpy(out + written, text.data(), taken);
      written += taken;
      if (taken < ascii) break;
      text.remove_prefix(ascii);
      continue;
    }
    text::Utf8Char decoded = text::decode_utf8_final(text);
    bool valid = decoded.status == text::Utf8Status::valid;
    std::size_t length = valid ? decoded.length : kReplacementLength;
    // A character that does not fit whole is left out, with everything after it.
    if (length > capacity - written) break;
    if (out != nullptr) std::memcpy(out + written, valid ? text.data() : kReplacementUtf8, length);
    written += length;
    text.remove_prefix(decoded.length);
  }
  return written;
}

std::string to_valid_utf8(std::string_view text) {
  std::size_t clean = first_ill_formed_utf8(text);
  if (clean == text.size()) return std::string(text);
  std::string out(text.substr(0, clean));
  text.remove_prefix(clean);
  // Every ill-formed byte becomes at most one three-byte replacement.
  std::size_t capacity = text.size() * kReplacementLength;
  std::size_t start = out.size();
  out.resize(start + capacity);
  out.resize(start + append_valid_utf8(text, out.data() + start, capacity));
  return out;
}

void ErrorText::set(std::string_view message) {
  if (size_ == 0) return;
  // Messages echo what the controller sent (kinds, ids, paths): whatever
  // bytes came in, the text that leaves is well-formed and cut whole.
  std::size_t length = append_valid_utf8(message, data_, size_ - 1);
  data_[length] = '\0';
}

void ErrorText::format(const char* format, ...) {
  if (size_ == 0) return;
  char scratch[2048];
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(scratch, sizeof scratch, format, args);
  va_end(args);
  if (written < 0) {
    clear();
    return;
  }
  set(std::string_view(scratch, std::strlen(scratch)));
}

}  // namespace lumora::scene
