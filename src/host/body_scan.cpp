#include "host/body_scan.h"

namespace lumora::host {

bool has_embedded_nul(const char* body, std::size_t length) {
  bool in_string = false;
  for (std::size_t i = 0; i < length; ++i) {
    char byte = body[i];
    if (!in_string) {
      if (byte == '"') in_string = true;
      continue;
    }
    if (byte == '\0') return true;
    if (byte == '"') {
      in_string = false;
      continue;
    }
    if (byte != '\\') continue;
    if (i + 1 >= length) return false;
    ++i;
    if (body[i] != 'u') continue;
    if (length - (i + 1) < 4) return false;
    const char* digits = body + i + 1;
    bool all_zero_digits = true;
    for (int k = 0; k < 4; ++k) {
      if (digits[k] == '\0') return true;
      if (digits[k] != '0') all_zero_digits = false;
    }
    if (all_zero_digits) return true;
    // The digits are scanned as ordinary string bytes from here on.
  }
  return false;
}

}  // namespace lumora::host
