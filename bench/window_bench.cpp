// Presenting a 1,000-command dashboard (rounded panels with borders, text
// lines, bars) in a 1280 × 800 window, offscreen with the software renderer:
// through the scene cache, beside its floor (one full-window copy of a
// texture of that size), and drawn in full every present, beside a plain
// SDL2 program drawing the same primitives with the same cached text
// textures and masks. Each run also reports the TTF calls, mask builds and
// PNG decodes of the settled presents, which must stay 0. Committing the
// dashboard is measured beside the terminal's commit of the same list.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "offscreen_window.h"
#include "scene/error_text.h"
#include "scene/json.h"
#include "terminal/terminal_backend.h"
#include "window/scene/bounds.h"
#include "window/render/coverage_mask.h"
#include "window/render/geometry.h"
#include "window/window_backend.h"

namespace {

namespace window = lumora::window;
using lumora::scene::JsonPtr;

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
  lumora::scene::HostErrorBuffer error;
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

// ---- The plain SDL2 program ------------------------------------------------

// One SDL call group of the plain program: a tinted texture copy (a whole
// mask, one slice of a nine-sliced mask, a text line) or a filled rectangle.
struct PlainStep {
  SDL_Texture* texture = nullptr;  // null: a fill
  bool has_source = false;
  SDL_Rect source{};
  SDL_FRect target{};
  SDL_Color colour{};
};

SDL_FRect frect(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
  return SDL_FRect{static_cast<float>(x), static_cast<float>(y), static_cast<float>(w), static_cast<float>(h)};
}

SDL_Color sdl_colour(const char* text) {
  const lumora::scene::ColorValue c = lumora::scene::parse_color(text);
  return SDL_Color{c.r, c.g, c.b, c.a};
}

// A rounded shape as the backend's mask cache holds it: the whole mask, or
// nine slices of it, straight SDL copies.
bool plan_rounded_steps(window::WindowBackend& backend, const window::PixelRect& p, double radius, double ring,
                        SDL_Color colour, std::vector<PlainStep>& steps) {
  const window::RoundedPlan plan = window::plan_rounded(p.w, p.h, radius, ring);
  if (plan.scanlines) return false;  // the dashboard's panels are small enough for masks
  window::TextureRef mask = backend.get_mask(plan.mask_w, plan.mask_h, plan.radius, plan.ring, -1);
  if (mask == nullptr) return false;
  if (!plan.sliced) {
    steps.push_back({mask->texture.get(), false, {}, frect(p.x, p.y, p.w, p.h), colour});
    return true;
  }
  const std::int64_t l = plan.corner_x, t = plan.corner_y, tw = mask->width, th = mask->height;
  const std::int64_t sx[4] = {0, l, tw - l, tw}, sy[4] = {0, t, th - t, th};
  const std::int64_t dx[4] = {p.x, p.x + l, p.x + p.w - l, p.x + p.w}, dy[4] = {p.y, p.y + t, p.y + p.h - t, p.y + p.h};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      const std::int64_t sw = sx[column + 1] - sx[column], sh = sy[row + 1] - sy[row];
      const std::int64_t dw = dx[column + 1] - dx[column], dh = dy[row + 1] - dy[row];
      if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) continue;
      steps.push_back({mask->texture.get(), true,
                       SDL_Rect{static_cast<int>(sx[column]), static_cast<int>(sy[row]), static_cast<int>(sw),
                                static_cast<int>(sh)},
                       frect(dx[column], dy[row], dw, dh), colour});
    }
  }
  return true;
}

// Every SDL call of one dashboard frame, worked out once from the
// dashboard's own numbers, with the textures the backend made for it.
bool plan_plain_dashboard(window::WindowBackend& backend, std::vector<PlainStep>& steps) {
  const double s = backend.scale();
  const SDL_Color panel = sdl_colour("#202a34"), border = sdl_colour("#4080c0");
  const SDL_Color bar = sdl_colour("#40c060");
  const int text_pixels = static_cast<int>(window::round_half_even(12 * s));
  for (int i = 0; i < 333; ++i) {
    const int x = (i % 12) * 106, y = (i / 12) * 28;
    const window::PixelRect p = window::pixel_rect_of(window::Rect{double(x), double(y), 100, 24}, s);
    if (!plan_rounded_steps(backend, p, 6 * s, 0, panel, steps) ||
        !plan_rounded_steps(backend, p, 6 * s, 1 * s, border, steps)) {
      return false;
    }
    // Opaque text is cached in its own colour and copied untinted.
    const std::string key = "text-rgb:" + std::to_string(text_pixels) + ":0:e0e0e0:Panel " + std::to_string(i);
    window::TextureRef text = backend.find_cached_texture(key);
    if (text == nullptr) return false;
    const SDL_Color untinted{255, 255, 255, 255};
    steps.push_back({text->texture.get(), false, {},
                     frect(window::saturate_to_pixels(window::round_half_even((x + 6) * s)),
                           window::saturate_to_pixels(window::round_half_even((y + 4) * s)), text->width,
                           text->height),
                     untinted});
    const window::PixelRect b =
        window::pixel_rect_of(window::Rect{double(x + 60), double(y + 16), double(10 + i % 30), 4}, s);
    steps.push_back({nullptr, false, {}, frect(b.x, b.y, b.w, b.h), bar});
  }
  return true;
}

// The reference of a dashboard drawn in full: the same clear, mask copies,
// text copies and fills made straight through SDL2, with nothing looked up,
// measured, clipped or checked per frame.
void BM_WindowDashboardPlainSdl(benchmark::State& state) {
  auto backend = open_window(false);
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  lumora::scene::HostErrorBuffer error;
  backend->draw_retained_scene(error.text());  // makes the text textures and masks
  backend->present_frame(error.text());
  std::vector<PlainStep> steps;
  if (!plan_plain_dashboard(*backend, steps)) {
    state.SkipWithError("the dashboard's textures are not cached");
    return;
  }
  SDL_Renderer* renderer = backend->renderer();
  SDL_RenderSetClipRect(renderer, nullptr);
  const SDL_Color background = sdl_colour("#101418");
  for (auto _ : state) {
    SDL_SetRenderDrawColor(renderer, background.r, background.g, background.b, background.a);
    SDL_RenderClear(renderer);
    for (const PlainStep& step : steps) {
      if (step.texture == nullptr) {
        SDL_SetRenderDrawColor(renderer, step.colour.r, step.colour.g, step.colour.b, step.colour.a);
        SDL_RenderFillRectF(renderer, &step.target);
        continue;
      }
      SDL_SetTextureColorMod(step.texture, step.colour.r, step.colour.g, step.colour.b);
      SDL_SetTextureAlphaMod(step.texture, step.colour.a);
      SDL_RenderCopyF(renderer, step.texture, step.has_source ? &step.source : nullptr, &step.target);
    }
    SDL_RenderPresent(renderer);
  }
  state.counters["sdl_steps"] = static_cast<double>(steps.size());
}
BENCHMARK(BM_WindowDashboardPlainSdl)->Unit(benchmark::kMillisecond);

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
  lumora::scene::HostErrorBuffer error;
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
