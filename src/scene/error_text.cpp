#include "scene/error_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace lumora::scene {

std::size_t utf8_prefix_length(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text.size();
  // The byte at max_bytes is the first one left out; if it continues a
  // character, step back to that character's lead byte and leave it out too.
  std::size_t lead = max_bytes;
  while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
  return lead;
}

void ErrorText::set(std::string_view message) {
  if (size_ == 0) return;
  std::size_t length = utf8_prefix_length(message, size_ - 1);
  std::memcpy(data_, message.data(), length);
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
