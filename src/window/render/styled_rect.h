// Styled rectangles and markers in the window: a stack of layers (shadow,
// outer glow, fill or gradient, pattern lines, inner glow, border or
// gradient border, inner border, bevel strips, highlight) drawn with the
// backend's primitives, soft shadows through cached blurred masks.
#pragma once

#include <cjson/cJSON.h>

#include "scene/style.h"
#include "window/scene/draw_command.h"

namespace lumora::window {

class WindowBackend;

// Where a command's shadow and glow may be drawn: absent keeps the clip in
// force, unclipped draws them whatever clip the list applied (a JSON null),
// a rect applies that clip for them alone.
struct EffectClip {
  enum class Kind { absent, unclipped, rect } kind = Kind::absent;
  Rect rect;
};

// The effect clip of a decoded command's item (null pointer: absent).
EffectClip effect_clip_of(const cJSON* item);

// A glow's outer blur is drawn at 55 % and its inner strokes at 16 % of the
// glow colour's alpha.
inline constexpr double kOuterGlowAlpha = 0.55;
inline constexpr double kInnerGlowAlpha = 0.16;
// Pattern lines are bounded per direction whatever the spacing and size.
inline constexpr int kMaxPatternLines = 128;

// All three succeed without drawing what is invisible or has no colour; a
// failing layer stops the rest with that layer's message in the backend's
// error text. The clip is restored after every shadow and glow.
bool draw_styled_rect(WindowBackend& backend, const Rect& rect, const scene::RectStyle& style, const EffectClip& clip);
bool draw_soft_shadow(WindowBackend& backend, const Rect& rect, double radius, scene::ColorValue colour, double blur,
                      double dx, double dy, const EffectClip& clip);
// `shape` "circle" is a radio button (a dot when checked), anything else a
// check box (a check mark).
bool draw_marker(WindowBackend& backend, const Rect& rect, const scene::RectStyle& style, const char* shape,
                 bool checked, const EffectClip& clip);

}  // namespace lumora::window
