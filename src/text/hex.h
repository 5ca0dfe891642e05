// Hexadecimal digits, as colours and the input operation spell bytes.
#pragma once

namespace lumora::text {

// 0..15 for a hexadecimal digit in either case, −1 for any other character.
constexpr int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace lumora::text
