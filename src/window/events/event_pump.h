// Translation of SDL's input and window events into the host's event
// records: the parts that need no window, kept apart so that they can be
// checked one by one. The pump itself (event_pump.cpp) is a member of the
// window backend, which owns the sizes and the caches an event may touch.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <string>

namespace lumora::window {

// One pump reads at most this many SDL events, so that a flood of pointer
// motion cannot starve the protocol loop; the rest waits for the next turn.
inline constexpr int kMaxEventsPerPump = 256;
// Key names are SDL's short names; the bound keeps a hostile keymap from
// sending long strings with every key press.
inline constexpr std::size_t kMaxKeyNameBytes = 127;

// The controller's name for a key code: the named keys by their fixed
// names, function keys as SDL spells them ("F5"), every other key by SDL's
// name with ASCII capitals made small ("a"), "" when SDL has none.
std::string key_name(SDL_Keycode key);

// "shift" and "ctrl" of an SDL modifier state; GUI (super) counts as ctrl.
struct Modifiers {
  bool shift = false;
  bool ctrl = false;
};
Modifiers modifiers_of(Uint16 mod);

// A wheel step: the larger axis wins, up and left are negative, and a
// platform that flips its scrolling direction is flipped back.
struct WheelMotion {
  double delta = 0;  // 0: nothing to report
  bool horizontal = false;
};
WheelMotion wheel_motion(float horizontal_amount, float vertical_amount, bool flipped);

// Frees the heap text of long compositions still in SDL's queue, which SDL
// itself would drop without freeing; called before the window closes.
void free_queued_compositions();

}  // namespace lumora::window
