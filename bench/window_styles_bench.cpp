// 200 styled rectangles with soft shadows, glows, rounded fills and borders
// in a 1280 × 800 window, offscreen with the software renderer: presented
// again from the scene cache (one copy), and drawn in full every present
// ("cache_scene" off), in the same run. The masks are made by the first
// frame; the counters show that no later frame builds one, measures or
// renders text, or decodes an image.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <memory>
#include <string>

#include "host/backend.h"
#include "json/json.h"
#include "offscreen_window.h"
#include "scene/error_text.h"
#include "window/window_backend.h"

namespace {

namespace window = lumora::window;
using lumora::json::JsonPtr;

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

// A 20 × 10 grid of cards, each with a blurred drop shadow and an outer glow.
std::string styled_scene() {
  std::string list = R"([["begin","#101418"])";
  for (int i = 0; i < 200; ++i) {
    const int x = (i % 20) * 64 + 10, y = (i / 20) * 80 + 14;
    list += R"(,["styled_rect",[)" + std::to_string(x) + "," + std::to_string(y) +
            R"(,44,50],{"fill":"#2a3440","fill_end":"#1c232c","border":"#5080c0","border_width":1,"radius":6,)"
            R"("shadow":"#00000090","shadow_blur":8,"shadow_y":3,"glow":"#40a0ff60","glow_width":4}])";
  }
  return list + "]";
}

std::unique_ptr<window::WindowBackend> open_window(bool cache_scene) {
  auto backend = lumora::bench::open_offscreen_window(cache_scene);
  if (!backend) return nullptr;
  lumora::host::HostErrorBuffer error;
  JsonPtr list = parse(styled_scene());
  if (!backend->commit_scene(list.get(), error.text())) return nullptr;
  return backend;
}

void present_styled(benchmark::State& state, bool cache_scene) {
  auto backend = open_window(cache_scene);
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  lumora::host::HostErrorBuffer error;
  if (!backend->draw_retained_scene(error.text()) || !backend->present_frame(error.text())) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::uint64_t first_frame_masks = backend->masks_built();
  const std::uint64_t ttf = backend->ttf_calls();
  const window::WindowCounters before = backend->counters();
  for (auto _ : state) {
    if (!backend->draw_retained_scene(error.text()) || !backend->present_frame(error.text())) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  const window::WindowCounters& after = backend->counters();
  const double n = static_cast<double>(state.iterations());
  state.counters["first_frame_masks"] = static_cast<double>(first_frame_masks);
  state.counters["masks_built"] = static_cast<double>(backend->masks_built() - first_frame_masks);
  state.counters["ttf_calls"] = static_cast<double>(backend->ttf_calls() - ttf);
  state.counters["png_decodes"] = static_cast<double>(after.image_decode_attempts - before.image_decode_attempts);
  state.counters["cache_hits_per_present"] = static_cast<double>(after.scene_cache_hits - before.scene_cache_hits) / n;
  state.counters["commands_per_present"] = static_cast<double>(after.commands_replayed - before.commands_replayed) / n;
}

void BM_WindowStyledFromSceneCache(benchmark::State& state) { present_styled(state, true); }
void BM_WindowStyledDrawnInFull(benchmark::State& state) { present_styled(state, false); }

BENCHMARK(BM_WindowStyledFromSceneCache)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStyledDrawnInFull)->Unit(benchmark::kMillisecond);

}  // namespace
