// Blending between what was on screen and a newly committed list: which
// items of a command pair may blend, how colours and styles interpolate,
// and writing a running transition's blend back into a snapshot copy so a
// new transition starts from what is shown.
#pragma once

#include <cstdint>

#include <cjson/cJSON.h>

#include "scene/colour.h"
#include "scene/style.h"

namespace lumora::scene {

// From `old_colour` to `new_colour` at t in [0, 1]. An absent end takes the
// other end's colour at alpha 0, so a colour that appears fades in and one
// that disappears fades out. Premultiplied weighs each colour by its alpha
// (a fade from nothing to blue stays blue, not a darkened blue); straight
// interpolates the channels as they are. Present when either end is.
ColorValue blend_color(const ColorValue& old_colour, const ColorValue& new_colour, double t, bool premultiplied);

// Straight interpolation without the fade rule, for gradient bands.
ColorValue mix_color(const ColorValue& from, const ColorValue& to, double t);

// Starts from `new_style`: colours blended premultiplied, the gradient ends
// from their own colour or, when absent, the colour they continue; the
// sizes interpolated (the shadow blur to whole units); spacing and the
// enumerations taken from `new_style`.
RectStyle blend_style(const RectStyle& old_style, const RectStyle& new_style, double t);

// Bit i set: item i of the pair may blend (a colour). Empty unless both are
// arrays with the same number of items, of a kind whose colours blend, and
// every other item (the kind included) is deeply equal.
using TransitionMask = std::uint16_t;
TransitionMask transition_mask(const cJSON* new_command, const cJSON* old_command);

// Whether a pair needs a transition: they differ, and either are both
// "styled_rect", both "marker", or have a non-empty mask.
bool pair_needs_transition(const cJSON* new_command, const cJSON* old_command);
// The same over two lists, position by position, as far as both reach.
bool lists_need_transition(const cJSON* new_list, const cJSON* old_list);

// Writes into `command` what it shows at `progress` of a transition from
// `older`: for "styled_rect" and "marker" of the same kind the rect (four
// numbers) and the style (serialised); otherwise each blending colour item
// that differs, as "#rrggbbaa" text ("" for no colour). Items that do not
// blend are left alone. False only when memory runs out; `command` may then
// be partly blended, so callers blend a copy they can drop.
bool blend_command_back(cJSON* command, const cJSON* older, double progress);
// Every command of `list` that has a counterpart at its position in
// `older_list`; false when memory runs out.
bool blend_list_back(cJSON* list, const cJSON* older_list, double progress);

}  // namespace lumora::scene
