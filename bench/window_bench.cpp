// Presenting a 1,000-command dashboard (rounded panels with borders, text
// lines, bars) in a 1280 × 800 window, offscreen with the software renderer:
// through the scene cache, beside its floor (one full-window copy of a
// texture of that size), and drawn in full every present. Each run also
// reports the TTF calls, mask builds and PNG decodes of the settled presents,
// which must stay 0.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <memory>
#include <string>

#include "scene/error_text.h"
#include "scene/json.h"
#include "window/window_backend.h"

namespace {

namespace window = lumora::window;
using lumora::scene::JsonPtr;

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

std::string dashboard() {
  std::string list = R"([["begin","#101418"])";
  for (int i = 0; i < 333; ++i) {
    const int x = (i % 12) * 106, y = (i / 12) * 28;
    const std::string xs = std::to_string(x), ys = std::to_string(y);
    list += R"(,["rect",[)" + xs + "," + ys + R"(,100,24],"#202a34",6,"#4080c0",1])";
    list += R"(,["text","Panel )" + std::to_string(i) + R"(",)" + std::to_string(x + 6) + "," + std::to_string(y + 4) +
            R"(,"#e0e0e0",12,false])";
    list += R"(,["rect",[)" + std::to_string(x + 60) + "," + std::to_string(y + 16) + "," +
            std::to_string(10 + i % 30) + R"(,4],"#40c060",0,"",0])";
  }
  return list + "]";
}

std::unique_ptr<window::WindowBackend> open_window(bool cache_scene) {
  SDL_setenv("SDL_VIDEODRIVER", "offscreen", 1);
  SDL_setenv("SDL_RENDER_DRIVER", "software", 1);
  const std::string host_path = LUMORA_HOST_PATH;
  const std::string open = R"({"hidden":true,"vsync":false,"cache_scene":)" + std::string(cache_scene ? "true" : "false") +
                           R"(,"font_dir":")" + host_path.substr(0, host_path.rfind('/')) + "/assets\"}";
  lumora::scene::HostErrorBuffer error;
  JsonPtr command = parse(open);
  auto backend = window::WindowBackend::open(command.get(), error.text());
  if (!backend) return nullptr;
  // Opening fits the window to the display; resizing does not.
  JsonPtr size = parse(R"({"op":"set_size","width":1280,"height":800})");
  backend->run_operation(size.get(), error.text());
  JsonPtr list = parse(dashboard());
  if (!backend->commit_scene(list.get(), error.text())) return nullptr;
  return backend;
}

void present_repeatedly(benchmark::State& state, bool cache_scene) {
  auto backend = open_window(cache_scene);
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  lumora::scene::HostErrorBuffer error;
  backend->draw_retained_scene(error.text());  // the first frame builds textures and masks
  backend->present_frame(error.text());
  const std::uint64_t ttf = backend->ttf_calls(), masks = backend->masks_built();
  const std::uint64_t decodes = backend->counters().image_decode_attempts;
  for (auto _ : state) {
    if (!backend->draw_retained_scene(error.text()) || !backend->present_frame(error.text())) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  state.counters["ttf_calls"] = static_cast<double>(backend->ttf_calls() - ttf);
  state.counters["masks_built"] = static_cast<double>(backend->masks_built() - masks);
  state.counters["png_decodes"] = static_cast<double>(backend->counters().image_decode_attempts - decodes);
  state.counters["pixels"] = backend->pixel_width() * backend->pixel_height();
}

void BM_WindowPresentFromSceneCache(benchmark::State& state) { present_repeatedly(state, true); }
void BM_WindowPresentDrawnInFull(benchmark::State& state) { present_repeatedly(state, false); }

// The floor of a cached present: one full-window copy of a 1280 × 800
// texture, and the present itself.
void BM_WindowFullWindowCopyFloor(benchmark::State& state) {
  auto backend = open_window(true);
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  SDL_Renderer* renderer = backend->renderer();
  SDL_Texture* texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA8888, SDL_TEXTUREACCESS_TARGET,
                                           backend->pixel_width(), backend->pixel_height());
  SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_NONE);
  for (auto _ : state) {
    SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer);
  }
  SDL_DestroyTexture(texture);
}

BENCHMARK(BM_WindowPresentFromSceneCache)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowFullWindowCopyFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowPresentDrawnInFull)->Unit(benchmark::kMillisecond);

}  // namespace
