// Timing of what moves without a new commit: the eased progress of a
// transition, the phase of an "animated_rect", and the frame a "sprite"
// shows. Pure functions of times the caller reads; each takes the reduced-
// motion setting so that no caller can forget the fixed state it implies.
#pragma once

#include <cstdint>

namespace lumora::scene {

// A transition's progress moves in steps of 1/64, so that a slow transition
// redraws only when its picture changes.
inline constexpr double kTransitionSteps = 64;

// The progress of a transition that started at `start` and lasts `duration`
// seconds, at `now`: cubic ease-out of the elapsed fraction, quantised to
// 1/64. 1 when the duration is not above 0 or with reduced motion (callers
// without a snapshot use 1 as well). 1 means the transition is over.
double eased_progress(double now, double start, double duration, bool reduced_motion);

// The phase in [0, 1] of an "animated_rect" `elapsed` seconds after its
// start (negative elapsed times read as 0): a yoyo runs there and back in
// twice the duration; without loop it rests at the end (1), or for a yoyo
// back at the start (0). 1 with reduced motion.
double animation_phase(double elapsed, double duration, bool loop, bool yoyo, bool reduced_motion);

// The animated value between `from` and `to` at `phase`.
inline double animated_value(double from, double to, double phase) { return from + (to - from) * phase; }

// The frame index in [0, frame_count) a sprite shows `elapsed` seconds after
// its start: a looping sprite starts over, another one stays on its last
// frame. 0 with reduced motion.
std::int32_t sprite_frame_index(double elapsed, double frames_per_second, std::int32_t frame_count, bool loop,
                                bool reduced_motion);

// Whether an image of image_width × image_height pixels holds frame_count
// frames of frame_width × frame_height, laid out row by row; drawing
// reports "Sprite frames exceed image bounds" when it does not.
bool sprite_sheet_valid(std::int32_t image_width, std::int32_t image_height, std::int32_t frame_width,
                        std::int32_t frame_height, std::int32_t frame_count);

// The source rectangle of a frame, in image pixels, on a valid sheet.
struct FrameRect {
  std::int32_t x = 0, y = 0, w = 0, h = 0;
  friend bool operator==(const FrameRect&, const FrameRect&) = default;
};
FrameRect sprite_frame_rect(std::int32_t frame, std::int32_t image_width, std::int32_t frame_width,
                            std::int32_t frame_height);

// How long a finite animation runs, for the scene's animation horizon.
inline double sprite_run_seconds(std::int32_t frame_count, double frames_per_second) {
  return frame_count / frames_per_second;
}
inline double animated_rect_run_seconds(double duration, bool yoyo) { return duration * (yoyo ? 2 : 1); }

}  // namespace lumora::scene
