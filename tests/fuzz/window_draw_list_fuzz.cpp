// Fuzz target for the window's draw-command pipeline: a random JSON list is
// validated command by command, the accepted commands decoded and measured,
// and pairs of them blended. Whatever validation accepts must decode into
// records that agree with the JSON, have finite bounds that the JSON form
// agrees with, and blend into commands that validation accepts again; what
// it rejects must still decode and measure without harm. Finally the list is
// committed to a real window backend on the offscreen driver and drawn.
#include <cjson/cJSON.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "host/backend.h"
#include "json/json.h"
#include "scene/blend.h"
#include "scene/draw_validation.h"
#include "scene/error_text.h"
#include "host/backend.h"
#include "json/json.h"
#include "window/scene/bounds.h"
#include "window/scene/draw_command.h"
#include "window/window_backend.h"

namespace {

using lumora::json::JsonPtr;
namespace window = lumora::window;

bool fake_measure(void*, const char* text, double size, bool mono, double& width, double& height) {
  std::size_t length = 0;
  while (text[length] != '\0' && length < 64) ++length;
  if (length == 13) return false;  // some texts fail to measure
  width = static_cast<double>(length) * size * (mono ? 0.6 : 0.5);
  height = size;
  return true;
}

bool finite(const window::Rect& rect) {
  return std::isfinite(rect.x) && std::isfinite(rect.y) && std::isfinite(rect.w) && std::isfinite(rect.h);
}

void check(bool condition) {
  if (!condition) std::abort();
}

// One small offscreen window for the whole run, with the fonts the build
// links next to the host (LUMORA_FONT_DIR) or the system's DejaVu fonts.
lumora::host::Backend* drawing_backend() {
  static std::unique_ptr<lumora::host::Backend> backend = [] {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("SDL_RENDER_DRIVER", "software", 1);
    const char* fonts = std::getenv("LUMORA_FONT_DIR");
    JsonPtr open(cJSON_CreateObject());
    cJSON_AddNumberToObject(open.get(), "width", 160);
    cJSON_AddNumberToObject(open.get(), "height", 120);
    cJSON_AddStringToObject(open.get(), "font_dir", fonts != nullptr ? fonts : "/usr/share/fonts/truetype/dejavu");
    lumora::host::HostErrorBuffer error;
    return window::open_window_backend(open.get(), error.text());
  }();
  return backend.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte steers the scale and the blend progress.
  const std::uint8_t steer = data[0];
  const window::BoundsContext context{0.5 + (steer & 7) * 0.5, fake_measure, nullptr};
  const double progress = (steer >> 3) / 31.0;
  JsonPtr input(cJSON_ParseWithLength(reinterpret_cast<const char*>(data) + 1, size - 1));
  if (!input) return 0;

  // Unvalidated input decodes and measures too, with defaults for what it lacks.
  {
    window::DecodedList raw;
    check(window::decode_draw_commands(input.get(), raw));
    (void)window::list_bounds(raw.commands(), context);
    (void)window::list_bounds(input.get(), context);
  }
  if (!cJSON_IsArray(input.get())) return 0;

  JsonPtr accepted(cJSON_CreateArray());
  if (!accepted) return 0;
  int index = 0;
  for (const cJSON* command = input->child; command != nullptr; command = command->next, ++index) {
    if (!lumora::scene::validate_draw_command(command)) {
      lumora::scene::ErrorBuffer<64> error;
      lumora::scene::report_invalid_draw_command(error.text(), static_cast<std::size_t>(index), command);
      check(!error.empty());
      continue;
    }
    cJSON* copy = cJSON_Duplicate(command, 1);
    if (copy == nullptr) return 0;
    cJSON_AddItemToArray(accepted.get(), copy);
  }

  window::DecodedList decoded;
  check(window::decode_draw_commands(accepted.get(), decoded));
  check(decoded.size() == static_cast<std::size_t>(cJSON_GetArraySize(accepted.get())));
  std::uint64_t points = 0;
  std::size_t position = 0;
  for (const cJSON* command = accepted->child; command != nullptr; command = command->next, ++position) {
    const window::DrawCommand& record = decoded[position];
    check(record.kind != window::DrawKind::unknown);
    if (record.kind == window::DrawKind::lines) {
      check(record.point_count == cJSON_GetArraySize(cJSON_GetArrayItem(command, 1)));
      check((record.point_count == 0) == (record.points == nullptr));
      points += static_cast<std::uint64_t>(record.point_count);
    }
    check(finite(window::command_bounds(record, window::kUnclippedArea, context)));
  }
  check(decoded.point_total() == points);
  check(decoded.charge() == window::decoded_charge(decoded.size(), points));
  const window::Rect from_records = window::list_bounds(decoded.commands(), context);
  check(finite(from_records));
  check(from_records == window::list_bounds(accepted.get(), context));

  // Blending neighbours: what comes out is still a valid command.
  const cJSON* previous = nullptr;
  for (const cJSON* command = accepted->child; command != nullptr; previous = command, command = command->next) {
    if (previous == nullptr) continue;
    JsonPtr blended(cJSON_Duplicate(command, 1));
    if (!blended) return 0;
    (void)lumora::scene::transition_mask(blended.get(), previous);
    (void)lumora::scene::pair_needs_transition(blended.get(), previous);
    if (!lumora::scene::blend_command_back(blended.get(), previous, progress)) return 0;
    check(lumora::scene::validate_draw_command(blended.get()));
  }

  // Drawn for real: a commit of the raw input may fail with its message, a
  // commit of the accepted commands may fail only on a budget, and a draw
  // may fail only with a message; none may crash.
  if (lumora::host::Backend* backend = drawing_backend()) {
    for (const cJSON* list : {static_cast<const cJSON*>(input.get()), static_cast<const cJSON*>(accepted.get())}) {
      lumora::host::HostErrorBuffer error;
      if (!backend->commit_scene(list, error.text())) {
        check(!error.empty());
        continue;
      }
      lumora::host::HostErrorBuffer draw_error;
      if (backend->draw_retained_scene(draw_error.text())) {
        check(backend->present_frame(draw_error.text()));
      } else {
        check(!draw_error.empty());
      }
      JsonPtr events = backend->drain_events();
    }
  }
  return 0;
}
