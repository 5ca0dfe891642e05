#include "terminal/colour.h"

#include <cmath>

namespace lumora::terminal {
namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::int32_t lerp_channel(std::int32_t a, std::int32_t b, double t) {
  // nearbyint rounds ties to even in the default rounding mode.
  double value = std::nearbyint(a + (b - a) * t);
  if (!(value > 0)) return 0;  // NaN included
  if (value > 255) return 255;
  return static_cast<std::int32_t>(value);
}

}  // namespace

bool parse_colour_text(std::string_view text, Rgba& out) {
  if (text.empty()) {
    out = Rgba{0, 0, 0, 0};
    return true;
  }
  if (text.front() == '#') text.remove_prefix(1);
  std::size_t n = text.size();
  if (n != 3 && n != 4 && n != 6 && n != 8) return false;
  int digits[8];
  for (std::size_t i = 0; i < n; ++i) {
    digits[i] = hex_digit(text[i]);
    if (digits[i] < 0) return false;
  }
  std::int32_t channels[4] = {0, 0, 0, 255};
  if (n <= 4) {
    for (std::size_t i = 0; i < n; ++i) channels[i] = digits[i] * 17;
  } else {
    for (std::size_t i = 0; i < n / 2; ++i) channels[i] = digits[2 * i] * 16 + digits[2 * i + 1];
  }
  out = Rgba{channels[0], channels[1], channels[2], channels[3]};
  return true;
}

bool parse_colour(const cJSON* value, Rgba& out) {
  if (!cJSON_IsString(value) || value->valuestring == nullptr) return false;
  // Only the first 10 bytes can matter; a longer string fails without being
  // measured in full.
  const char* text = value->valuestring;
  std::size_t length = 0;
  while (length < 10 && text[length] != '\0') ++length;
  return parse_colour_text(std::string_view(text, length), out);
}

Rgba lerp_colour(Rgba a, Rgba b, double t) {
  return Rgba{lerp_channel(a.r, b.r, t), lerp_channel(a.g, b.g, t), lerp_channel(a.b, b.b, t),
              lerp_channel(a.a, b.a, t)};
}

Rgba blend_over(Rgba over, Rgba under) {
  return Rgba{blend_channel(over.a, over.r, under.r), blend_channel(over.a, over.g, under.g),
              blend_channel(over.a, over.b, under.b), 255};
}

}  // namespace lumora::terminal
