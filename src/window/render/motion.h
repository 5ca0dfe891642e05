// What moves in the window without a new commit: sprites (one frame of a
// sheet chosen by the elapsed time) and animated rectangles (x, y or opacity
// between two values), and the animation horizon that tells the host how
// long a retained list keeps moving. Both drawings are recomputed from the
// clock every time; nothing is kept between frames.
#pragma once

#include <cstdint>
#include <span>

#include "scene/colour.h"
#include "window/scene/draw_command.h"

namespace lumora::window {

class WindowBackend;

inline constexpr const char* kSpriteFramesExceedImage = "Sprite frames exceed image bounds";

// The latest end time of a list's finite animations and whether any of its
// sprites or animated rectangles loops. A looping command extends the end
// as well; the loop flag is what keeps the list moving.
struct AnimationHorizon {
  double end = 0;
  bool loops = false;
};

// The horizon of decoded commands started at `start_times` (one per
// command; missing entries read as `floor`). `floor` is the end when nothing
// animates: the time the list was retained.
AnimationHorizon animation_horizon(std::span<const DrawCommand> commands, std::span<const double> start_times,
                                   double floor);

// Seconds since a command started; a start in the future reads as 0.
inline double elapsed_since(double now, double start) { return now > start ? now - start : 0; }

// What an animated rectangle draws at one moment: its rectangle with x or y
// moved, or its colours faded for "opacity".
struct AnimatedBox {
  Rect rect;
  scene::ColorValue fill;
  scene::ColorValue border;
};
AnimatedBox animated_box(const DrawCommand& command, double elapsed, bool reduced_motion);

// Both succeed without drawing what has nothing to show. A sprite whose
// image is not available draws nothing (the cache reports it once); one whose
// sheet holds too few frames fails with kSpriteFramesExceedImage in the
// backend's error text.
bool draw_sprite(WindowBackend& backend, const DrawCommand& command, double elapsed, bool reduced_motion);
bool draw_animated_rect(WindowBackend& backend, const DrawCommand& command, double elapsed, bool reduced_motion);

}  // namespace lumora::window
