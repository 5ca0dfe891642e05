// The decimal digits of 0..255, looked up: colour channels are written by
// the thousand, into escape sequences and into snapshots.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lumora::terminal {

struct ChannelDigits {
  char digits[3];
  std::uint8_t length;
};

inline constexpr std::array<ChannelDigits, 256> kChannelDigits = [] {
  std::array<ChannelDigits, 256> table{};
  for (int value = 0; value < 256; ++value) {
    ChannelDigits& entry = table[static_cast<std::size_t>(value)];
    if (value >= 100) entry.digits[entry.length++] = static_cast<char>('0' + value / 100);
    if (value >= 10) entry.digits[entry.length++] = static_cast<char>('0' + value / 10 % 10);
    entry.digits[entry.length++] = static_cast<char>('0' + value % 10);
  }
  return table;
}();

// Writes the digits of `value` (0..255) at `out`, which has room for three
// bytes whatever the length; returns the end of the digits.
inline char* put_channel_digits(char* out, int value) {
  const ChannelDigits& entry = kChannelDigits[static_cast<std::size_t>(value)];
  std::memcpy(out, entry.digits, sizeof entry.digits);
  return out + entry.length;
}

}  // namespace lumora::terminal
