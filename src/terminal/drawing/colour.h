// How the terminal reads colours into cells, and the integer blend every cell
// operation uses. The colour type and its syntax are the scene language's
// (scene/colour.h); what the terminal adds is its reading of a command item.
//
// Colour arithmetic on cells is integer so that a frame composes the same on
// every machine; only interpolation goes through floating point.
#pragma once

#include <cstdint>
#include <string_view>

#include <cjson/cJSON.h>

#include "scene/colour.h"

namespace lumora::terminal {

inline constexpr scene::ColorValue kOpaqueBlack = scene::rgba(0, 0, 0, 255);
inline constexpr scene::ColorValue kTransparent = scene::rgba(0, 0, 0, 0);

// A value that is not a string fails; otherwise the scene's colour syntax,
// with one difference: "" is transparent black (alpha 0) and succeeds, where
// the scene's parser returns no colour. Cells have no absent colour, and a
// patch background of "" must compare equal to "#0000", so every colour the
// terminal reads is present.
bool parse_colour(const cJSON* value, scene::ColorValue& out);
// The same rules for text already known to be a string.
bool parse_colour_text(std::string_view text, scene::ColorValue& out);

// Each channel a + (b − a) × t, rounded to nearest with ties to even, then
// clamped to 0..255.
scene::ColorValue lerp_colour(scene::ColorValue a, scene::ColorValue b, double t);

// (alpha × new + (255 − alpha) × old + 127) / 255, truncating.
inline std::int32_t blend_channel(std::int32_t alpha, std::int32_t new_value, std::int32_t old_value) {
  return (alpha * new_value + (255 - alpha) * old_value + 127) / 255;
}

// `over` blended onto `under` with over's alpha; the result's alpha is 255.
inline scene::ColorValue blend_over(scene::ColorValue over, scene::ColorValue under) {
  return scene::rgba(blend_channel(over.a, over.r, under.r), blend_channel(over.a, over.g, under.g),
                     blend_channel(over.a, over.b, under.b), 255);
}

}  // namespace lumora::terminal
