#include "scene/colour.h"

#include <array>
#include <cstdio>

#include "text/hex.h"

namespace lumora::scene {

ColorValue parse_color(std::string_view text) {
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  const std::size_t digits = text.size();
  if (digits != 3 && digits != 4 && digits != 6 && digits != 8) return {};
  std::array<int, 8> values{};
  for (std::size_t i = 0; i < digits; ++i) {
    values[i] = text::hex_digit_value(text[i]);
    if (values[i] < 0) return {};
  }
  ColorValue colour;
  colour.present = true;
  colour.a = 255;
  std::uint8_t* channels[4] = {&colour.r, &colour.g, &colour.b, &colour.a};
  if (digits <= 4) {
    for (std::size_t i = 0; i < digits; ++i) *channels[i] = static_cast<std::uint8_t>(values[i] * 17);
  } else {
    for (std::size_t i = 0; i < digits / 2; ++i) {
      *channels[i] = static_cast<std::uint8_t>(values[2 * i] * 16 + values[2 * i + 1]);
    }
  }
  return colour;
}

std::string format_color(const ColorValue& colour) {
  if (!colour.present) return {};
  char text[10];
  std::snprintf(text, sizeof text, "#%02x%02x%02x%02x", colour.r, colour.g, colour.b, colour.a);
  return text;
}

}  // namespace lumora::scene
