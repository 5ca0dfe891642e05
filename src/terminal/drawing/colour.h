// Terminal colours: parsing the scene's colour syntax into 0..255 channels,
// interpolating, and the integer blend every cell operation uses.
//
// Colour arithmetic on cells is integer so that a frame composes the same on
// every machine; only interpolation goes through floating point.
#pragma once

#include <cstdint>
#include <string_view>

#include <cjson/cJSON.h>

namespace lumora::terminal {

// Straight (not premultiplied) RGBA, each channel 0..255.
struct Rgba {
  std::int32_t r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

inline constexpr Rgba kOpaqueBlack{0, 0, 0, 255};

// A value that is not a string fails; "" is transparent black and succeeds;
// otherwise an optional "#" and exactly 3, 4, 6 or 8 hexadecimal digits.
bool parse_colour(const cJSON* value, Rgba& out);
// The same rules for text already known to be a string.
bool parse_colour_text(std::string_view text, Rgba& out);

// Each channel a + (b − a) × t, rounded to nearest with ties to even, then
// clamped to 0..255.
Rgba lerp_colour(Rgba a, Rgba b, double t);

// (alpha × new + (255 − alpha) × old + 127) / 255, truncating.
inline std::int32_t blend_channel(std::int32_t alpha, std::int32_t new_value, std::int32_t old_value) {
  return (alpha * new_value + (255 - alpha) * old_value + 127) / 255;
}

// `over` blended onto `under` with over's alpha; the result's alpha is 255.
Rgba blend_over(Rgba over, Rgba under);

}  // namespace lumora::terminal
