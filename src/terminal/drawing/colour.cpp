#include "terminal/drawing/colour.h"

#include <cmath>

#include "text/hex.h"

namespace lumora::terminal {
namespace {

std::int32_t lerp_channel(std::int32_t a, std::int32_t b, double t) {
  // nearbyint rounds ties to even in the default rounding mode.
  double value = std::nearbyint(a + (b - a) * t);
  if (!(value > 0)) return 0;  // NaN included
  if (value > 255) return 255;
  return static_cast<std::int32_t>(value);
}

}  // namespace

bool parse_colour_text(std::string_view text, scene::ColorValue& out) {
  // The empty string is the way to say "no fill" or "no border": transparent.
  if (text.empty()) {
    out = kTransparent;
    return true;
  }
  // "#rrggbb", the spelling nearly every command uses, is read directly:
  // a composition parses thousands of colours.
  if (text.size() == 7 && text[0] == '#') {
    int digits[6];
    for (int i = 0; i < 6; ++i) {
      digits[i] = text::hex_digit_value(text[static_cast<std::size_t>(i) + 1]);
      if (digits[i] < 0) return false;
    }
    out = scene::rgba(digits[0] * 16 + digits[1], digits[2] * 16 + digits[3], digits[4] * 16 + digits[5], 255);
    return true;
  }
  const scene::ColorValue colour = scene::parse_color(text);
  if (!colour.present) return false;
  out = colour;
  return true;
}

bool parse_colour(const cJSON* value, scene::ColorValue& out) {
  if (!cJSON_IsString(value) || value->valuestring == nullptr) return false;
  // Only the first 10 bytes can matter; a longer string fails without being
  // measured in full.
  const char* text = value->valuestring;
  std::size_t length = 0;
  while (length < 10 && text[length] != '\0') ++length;
  return parse_colour_text(std::string_view(text, length), out);
}

scene::ColorValue lerp_colour(scene::ColorValue a, scene::ColorValue b, double t) {
  return scene::rgba(lerp_channel(a.r, b.r, t), lerp_channel(a.g, b.g, t), lerp_channel(a.b, b.b, t),
                     lerp_channel(a.a, b.a, t));
}

}  // namespace lumora::terminal
