#include "scene/colour.h"

#include <array>
#include <cstdio>

#include "text/hex.h"

namespace lumora::scene {

namespace {

// hex_digit_value of every byte, looked up rather than computed: colours are
// parsed for every colour item of every command.
constexpr std::array<std::int8_t, 256> kHexDigits = [] {
  std::array<std::int8_t, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<std::int8_t>(text::hex_digit_value(static_cast<char>(c)));
  return table;
}();

}  // namespace

ColorValue parse_color(std::string_view text) {
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  const std::size_t digits = text.size();
  if (digits != 3 && digits != 4 && digits != 6 && digits != 8) return {};
  int values[8];
  int invalid = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    values[i] = kHexDigits[static_cast<unsigned char>(text[i])];
    invalid |= values[i];
  }
  if (invalid < 0) return {};
  if (digits <= 4) {
    return rgba(values[0] * 17, values[1] * 17, values[2] * 17, digits == 4 ? values[3] * 17 : 255);
  }
  return rgba(values[0] * 16 + values[1], values[2] * 16 + values[3], values[4] * 16 + values[5],
              digits == 8 ? values[6] * 16 + values[7] : 255);
}

std::string format_color(const ColorValue& colour) {
  if (!colour.present) return {};
  char text[10];
  std::snprintf(text, sizeof text, "#%02x%02x%02x%02x", colour.r, colour.g, colour.b, colour.a);
  return text;
}

}  // namespace lumora::scene
