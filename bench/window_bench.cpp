// Presenting a 1,000-command dashboard (rounded panels with borders, text
// lines, bars) in a 1280 × 800 window, offscreen with the software renderer:
// through the scene cache, beside its floor (one full-window copy of a
// texture of that size), and drawn in full every present (independent
// programs drawing a dashboard are measured in dashboard_peers_bench.cpp).
// Each run also reports the TTF calls, mask builds and PNG decodes of the
// settled presents, which must stay 0. Committing the
// dashboard is measured beside the terminal's commit of the same list.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <ctime>
#include <memory>
#include <string>

#include "host/backend.h"
#include "json/json.h"
#include "offscreen_window.h"
#include "scene/error_text.h"
#include "terminal/terminal_backend.h"
#include "window/scene/bounds.h"
#include "window/window_backend.h"

namespace {

namespace window = lumora::window;
using lumora::json::JsonPtr;

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

// `variant` changes the bars' lengths, so that two variants differ in a
// third of their commands, as consecutive frames of a live dashboard do.
std::string dashboard(int variant = 0) {
  std::string list = R"([["begin","#101418"])";
  for (int i = 0; i < 333; ++i) {
    const int x = (i % 12) * 106, y = (i / 12) * 28;
    const std::string xs = std::to_string(x), ys = std::to_string(y);
    list += R"(,["rect",[)" + xs + "," + ys + R"(,100,24],"#202a34",6,"#4080c0",1])";
    list += R"(,["text","Panel )" + std::to_string(i) + R"(",)" + std::to_string(x + 6) + "," + std::to_string(y + 4) +
            R"(,"#e0e0e0",12,false])";
    list += R"(,["rect",[)" + std::to_string(x + 60) + "," + std::to_string(y + 16) + "," +
            std::to_string(10 + (i + variant) % 30) + R"(,4],"#40c060",0,"",0])";
  }
  return list + "]";
}

std::unique_ptr<window::WindowBackend> open_window(bool cache_scene) {
  auto backend = lumora::bench::open_offscreen_window(cache_scene);
  if (!backend) return nullptr;
  lumora::host::HostErrorBuffer error;
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
  lumora::host::HostErrorBuffer error;
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

// ---- Commit -----------------------------------------------------------------

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool measure_through(void* backend, const char* text, double size, bool mono, double& width, double& height) {
  return static_cast<window::WindowBackend*>(backend)->measure_text(text, size, mono, width, height);
}

// The dashboard committed again and again (two variants in turn): the window's commit (validation,
// charge, copy, start times, decoding) and, since a committed list needs no
// bounds but a segment does, the bounds of the decoded list with the
// window's own text measurement; beside them the terminal's commit of the
// same list to a headless terminal of the same logical size (160 × 50
// cells), which validates, copies and composes its cells. Processor time of
// this thread, alternately, so that both see the same machine load.
void BM_WindowDashboardCommitVsTerminal(benchmark::State& state) {
  auto backend = open_window(true);
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  lumora::host::HostErrorBuffer error;
  JsonPtr open_terminal = parse(R"({"backend":"terminal","headless":true,"columns":160,"rows":50})");
  auto terminal = lumora::terminal::TerminalBackend::open(open_terminal.get(), error.text());
  if (!terminal) {
    state.SkipWithError(("cannot open the terminal: " + std::string(error.c_str())).c_str());
    return;
  }
  // Two variants in turn: the terminal keeps an identical list without
  // composing it again, so each commit brings a changed one.
  JsonPtr lists[2] = {parse(dashboard(1)), parse(dashboard(2))};
  JsonPtr list = parse(dashboard());
  const double commands = static_cast<double>(cJSON_GetArraySize(list.get()));
  window::DecodedList decoded;
  if (!window::decode_draw_commands(list.get(), decoded)) {
    state.SkipWithError("cannot decode the dashboard");
    return;
  }
  const window::BoundsContext bounds{backend->scale(), measure_through, backend.get()};
  double window_seconds = 0, bounds_seconds = 0, terminal_seconds = 0;
  int turn = 0;
  for (auto _ : state) {
    const cJSON* next = lists[turn++ % 2].get();
    const double start = thread_seconds();
    const bool committed = backend->commit_scene(next, error.text());
    const double committed_at = thread_seconds();
    benchmark::DoNotOptimize(window::list_bounds(decoded.commands(), bounds));
    const double bounded_at = thread_seconds();
    const bool composed = terminal->commit_scene(next, error.text());
    const double end = thread_seconds();
    if (!committed || !composed) {
      state.SkipWithError(error.c_str());
      return;
    }
    window_seconds += committed_at - start;
    bounds_seconds += bounded_at - committed_at;
    terminal_seconds += end - bounded_at;
  }
  const double per = 1e9 / (static_cast<double>(state.iterations()) * commands);
  state.counters["window_commit_ns_per_command"] = window_seconds * per;
  state.counters["window_bounds_ns_per_command"] = bounds_seconds * per;
  state.counters["terminal_commit_ns_per_command"] = terminal_seconds * per;
  state.counters["commit_over_terminal"] = terminal_seconds > 0 ? window_seconds / terminal_seconds : 0;
  state.counters["commit_and_bounds_over_terminal"] =
      terminal_seconds > 0 ? (window_seconds + bounds_seconds) / terminal_seconds : 0;
  state.SetLabel("target commit_and_bounds_over_terminal at most 1.5");
}
BENCHMARK(BM_WindowDashboardCommitVsTerminal)->Unit(benchmark::kMillisecond);

}  // namespace
