#include "scene/animation_timing.h"

#include <algorithm>
#include <cmath>

#include "scene/rounding.h"

namespace lumora::scene {

double eased_progress(double now, double start, double duration, bool reduced_motion) {
  if (reduced_motion || !(duration > 0)) return 1;
  double p = (now - start) / duration;
  if (!(p > 0)) p = 0;  // NaN included: a clock that went wrong shows the start
  if (p > 1) p = 1;
  const double rest = 1 - p;
  const double eased = 1 - rest * rest * rest;
  return round_half_even(eased * kTransitionSteps) / kTransitionSteps;
}

double animation_phase(double elapsed, double duration, bool loop, bool yoyo, bool reduced_motion) {
  if (reduced_motion || !(duration > 0)) return 1;
  if (!(elapsed > 0)) elapsed = 0;
  const double u = elapsed / duration;
  const double period = yoyo ? 2 : 1;
  // An elapsed time too large to divide into periods counts as ended.
  if ((!loop && u >= period) || !std::isfinite(u)) return yoyo ? 0 : 1;
  double phase = std::fmod(u, period);
  if (phase > 1) phase = 2 - phase;
  return phase;
}

std::int32_t sprite_frame_index(double elapsed, double frames_per_second, std::int32_t frame_count, bool loop,
                                bool reduced_motion) {
  if (reduced_motion || frame_count <= 1) return 0;
  double k = std::floor(frames_per_second * elapsed);
  if (!(k > 0)) return 0;
  const double n = frame_count;
  if (loop) {
    if (!std::isfinite(k)) return 0;
    return static_cast<std::int32_t>(std::fmod(k, n));
  }
  return static_cast<std::int32_t>(std::min(n - 1, k));
}

bool sprite_sheet_valid(std::int32_t image_width, std::int32_t image_height, std::int32_t frame_width,
                        std::int32_t frame_height, std::int32_t frame_count) {
  if (frame_width <= 0 || frame_height <= 0 || image_width < 0 || image_height < 0) return false;
  const std::int64_t columns = image_width / frame_width;
  const std::int64_t rows = image_height / frame_height;
  return columns >= 1 && image_height >= frame_height && columns * rows >= frame_count;
}

FrameRect sprite_frame_rect(std::int32_t frame, std::int32_t image_width, std::int32_t frame_width,
                            std::int32_t frame_height) {
  if (frame_width <= 0 || frame_height <= 0) return {};
  const std::int32_t columns = std::max(1, image_width / frame_width);
  return {frame_width * (frame % columns), frame_height * (frame / columns), frame_width, frame_height};
}

}  // namespace lumora::scene
