// The colour syntax of the scene language: an optional "#" and exactly 3, 4,
// 6 or 8 hexadecimal digits (rgb, rgba, rrggbb, rrggbbaa), straight alpha.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumora::scene {

// A parsed colour: straight RGBA of 8 bits each, and whether there is one.
struct ColorValue {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  bool present = false;
  friend bool operator==(const ColorValue&, const ColorValue&) = default;
};

// A present colour from channels already in 0..255: a parsed, blended or
// interpolated one.
constexpr ColorValue rgba(int r, int g, int b, int a) {
  return {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b),
          static_cast<std::uint8_t>(a), true};
}

// Anything but the syntax above, the empty string included, is no colour.
ColorValue parse_color(std::string_view text);
// "#rrggbbaa" in lower case, or "" for no colour.
std::string format_color(const ColorValue& colour);

}  // namespace lumora::scene
