// Styles of "styled_rect" and "marker": the members a style object may have,
// their validation, the parsed `RectStyle`, and the serialised form in which
// a parsed style is written back into a command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <cjson/cJSON.h>

#include "json/json.h"
#include "scene/colour.h"
#include "scene/limits.h"

namespace lumora::scene {

enum class GradientAxis : int { vertical = 0, horizontal = 1 };
enum class Bevel : int { none = 0, raised = 1, sunken = 2 };
enum class Pattern : int { none = 0, scanlines = 1, grid = 2 };

inline constexpr double kDefaultBevelWidth = 2;
inline constexpr double kDefaultPatternSpacing = 6;

struct RectStyle {
  ColorValue fill, foreground, border, fill_end, border_end, bevel_light, bevel_dark, highlight, inner_border, glow,
      pattern_color, shadow;
  double radius = 0;
  double border_width = 0;
  double glow_width = 0;
  double bevel_width = kDefaultBevelWidth;
  double pattern_spacing = kDefaultPatternSpacing;
  double shadow_blur = 0;
  double shadow_x = 0;
  double shadow_y = 0;
  GradientAxis gradient_axis = GradientAxis::vertical;
  Bevel bevel = Bevel::none;
  Pattern pattern = Pattern::none;
};

// Accepts a style object: known member names only, each once, values null,
// bool, number or string, colours that parse, and every other member of its
// type and within its range.
bool validate_rect_style(const cJSON* value);

// The looser check of a terminal: an object whose members are style member
// names, each once, with values null, bool, number or string.
bool style_names_acceptable(const cJSON* value);
// True for the 12 colour members ("fill", "border", "shadow", ...).
bool is_style_colour_member(const char* name);

// Never fails; a value that is not an object gives every default. Ranges are
// not clamped here: validation enforces them and drawing clamps to the rect.
RectStyle parse_rect_style(const cJSON* value);

// A new object with the present colours, the eight numbers, and the three
// enumerations, in that fixed order; null when memory runs out.
json::JsonPtr serialize_rect_style(const RectStyle& style);

}  // namespace lumora::scene
