#include "window/render/motion.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "scene/animation_timing.h"
#include "scene/rounding.h"
#include "window/render/geometry.h"
#include "window/window_backend.h"

namespace lumora::window {

namespace {

scene::ColorValue faded(scene::ColorValue colour, double opacity) {
  if (!colour.present) return colour;
  colour.a = static_cast<std::uint8_t>(scene::round_half_even(colour.a * opacity));
  return colour;
}

}  // namespace

AnimationHorizon animation_horizon(std::span<const DrawCommand> commands, std::span<const double> start_times,
                                   double floor) {
  AnimationHorizon horizon{floor, false};
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const DrawCommand& command = commands[i];
    const double start = i < start_times.size() ? start_times[i] : floor;
    double run = 0;
    if (command.kind == DrawKind::sprite) {
      // Validation keeps the rate at 0.01 or above; a record decoded from an
      // unvalidated list must still not divide by zero.
      if (!(command.a > 0)) continue;
      run = scene::sprite_run_seconds(command.frame_count, command.a);
    } else if (command.kind == DrawKind::animated_rect) {
      run = scene::animated_rect_run_seconds(command.duration, command.yoyo != 0);
    } else {
      continue;
    }
    horizon.end = std::max(horizon.end, start + run);
    horizon.loops = horizon.loops || command.flag != 0;
  }
  return horizon;
}

AnimatedBox animated_box(const DrawCommand& command, double elapsed, bool reduced_motion) {
  const double phase =
      scene::animation_phase(elapsed, command.duration, command.flag != 0, command.yoyo != 0, reduced_motion);
  const double value = scene::animated_value(command.from, command.to, phase);
  AnimatedBox box{command.rect, command.color, command.color2};
  const std::string_view property = command.mode != nullptr ? command.mode : "x";
  if (property == "x") {
    box.rect.x = value;
  } else if (property == "y") {
    box.rect.y = value;
  } else {
    const double opacity = std::clamp(value, 0.0, 1.0);
    box.fill = faded(box.fill, opacity);
    box.border = faded(box.border, opacity);
  }
  return box;
}

bool draw_animated_rect(WindowBackend& backend, const DrawCommand& command, double elapsed, bool reduced_motion) {
  const AnimatedBox box = animated_box(command, elapsed, reduced_motion);
  return backend.draw_box(box.rect, box.fill, command.a, box.border, command.b);
}

bool draw_sprite(WindowBackend& backend, const DrawCommand& command, double elapsed, bool reduced_motion) {
  if (command.text == nullptr) return true;
  TextureRef texture = backend.get_image_texture(command.text, std::strlen(command.text));
  if (texture == nullptr) return true;  // reported once as a resource event
  // The sheet is checked before anything is skipped as invisible, so that a
  // broken sheet fails wherever the sprite stands.
  if (!scene::sprite_sheet_valid(texture->width, texture->height, command.frame_width, command.frame_height,
                                 command.frame_count)) {
    backend.set_error(kSpriteFramesExceedImage);
    return false;
  }
  const std::int32_t frame =
      scene::sprite_frame_index(elapsed, command.a, command.frame_count, command.flag != 0, reduced_motion);
  const scene::FrameRect cell = scene::sprite_frame_rect(frame, texture->width, command.frame_width,
                                                         command.frame_height);
  const SDL_Rect source{cell.x, cell.y, cell.w, cell.h};
  return backend.draw_texture(texture, pixel_rect_of(command.rect, backend.scale()), &source, command.color);
}

}  // namespace lumora::window
