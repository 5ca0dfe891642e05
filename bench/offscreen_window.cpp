#include "offscreen_window.h"

#include <SDL.h>

#include "host/backend.h"
#include "json/json.h"
#include "scene/error_text.h"

namespace lumora::bench {

std::string bench_font_dir() {
  const std::string host_path = LUMORA_HOST_PATH;
  return host_path.substr(0, host_path.rfind('/')) + "/assets";
}

std::unique_ptr<window::WindowBackend> open_offscreen_window(bool cache_scene) {
  SDL_setenv("SDL_VIDEODRIVER", "offscreen", 1);
  SDL_setenv("SDL_RENDER_DRIVER", "software", 1);
  const std::string open = R"({"hidden":true,"vsync":false,"cache_scene":)" + std::string(cache_scene ? "true" : "false") +
                           R"(,"font_dir":")" + bench_font_dir() + "\"}";
  host::HostErrorBuffer error;
  json::JsonPtr command(cJSON_Parse(open.c_str()));
  auto backend = window::WindowBackend::open(command.get(), error.text());
  if (!backend) return nullptr;
  // Opening fits the window to the display; resizing does not.
  const std::string size = R"({"op":"set_size","width":)" + std::to_string(kBenchWindowWidth) + R"(,"height":)" +
                           std::to_string(kBenchWindowHeight) + "}";
  json::JsonPtr resize(cJSON_Parse(size.c_str()));
  if (!backend->run_operation(resize.get(), error.text())) return nullptr;
  return backend;
}

}  // namespace lumora::bench
