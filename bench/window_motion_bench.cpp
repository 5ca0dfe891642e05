// One looping sprite in its own segment over a static 1,000-command
// segmented scene in a 1280 × 800 window (offscreen, software renderer).
// Each frame redraws only the damage of the animated segment: the sprite's
// area, and the one tile segment under it. The reference is a full redraw
// of the same scene, measured in the same run. Target: the sprite frame's
// draw + present at most 10 % of the full redraw, reported as
// "sprite_over_full" by BM_WindowMotionSpriteVsFullRedraw; the counters give
// the segments tested and the commands replayed per frame.
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include <unistd.h>

#include "host/backend.h"
#include "json/json.h"
#include "offscreen_window.h"
#include "scene/error_text.h"
#include "window/window_backend.h"

namespace {

namespace window = lumora::window;
using lumora::json::JsonPtr;

constexpr int kTileColumns = 10;
constexpr int kTileRows = 10;
constexpr int kCommandsPerTile = 10;  // 100 tiles: 1,000 static commands

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

// A sheet of eight 48 × 48 frames, each a different grey, as a PNG file.
class SpriteSheetFile {
 public:
  SpriteSheetFile() : path_("/tmp/lumora-motion-bench-" + std::to_string(getpid()) + ".png") {
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 48 * 8, 48, 32, SDL_PIXELFORMAT_ABGR8888);
    if (surface == nullptr) return;
    for (int frame = 0; frame < 8; ++frame) {
      const SDL_Rect cell{frame * 48, 0, 48, 48};
      const Uint8 grey = static_cast<Uint8>(40 + frame * 25);
      SDL_FillRect(surface, &cell, SDL_MapRGBA(surface->format, grey, grey, 255, 255));
    }
    ok_ = IMG_SavePNG(surface, path_.c_str()) == 0;
    SDL_FreeSurface(surface);
  }
  ~SpriteSheetFile() { std::remove(path_.c_str()); }
  SpriteSheetFile(const SpriteSheetFile&) = delete;
  SpriteSheetFile& operator=(const SpriteSheetFile&) = delete;
  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool ok_ = false;
};

// One tile of 128 × 80 in ten commands: a panel, three labels, four bars,
// two rules.
std::string tile_commands(int column, int row) {
  const int x = column * 128, y = row * 80;
  auto at = [](int v) { return std::to_string(v); };
  std::string list = R"(["rect",[)" + at(x + 2) + "," + at(y + 2) + R"(,124,76],"#202a34",6,"#4080c0",1])";
  for (int i = 0; i < 3; ++i) {
    list += R"(,["text","Tile )" + at(row * kTileColumns + column) + "." + at(i) + R"(",)" + at(x + 8) + "," +
            at(y + 6 + i * 16) + R"(,"#e0e0e0",12,false])";
  }
  for (int i = 0; i < 4; ++i) {
    list += R"(,["rect",[)" + at(x + 70) + "," + at(y + 8 + i * 12) + "," + at(10 + (column * 7 + i * 11) % 40) +
            R"(,6],"#40c060",0,"",0])";
  }
  list += R"(,["line",)" + at(x + 6) + "," + at(y + 60) + "," + at(x + 122) + "," + at(y + 60) + R"(,"#607080",1])";
  list += R"(,["line",)" + at(x + 6) + "," + at(y + 68) + "," + at(x + 100) + "," + at(y + 68) + R"(,"#506070",2])";
  return list;
}

std::string scene_patch(const std::string& sheet) {
  std::string patch = R"({"op":"patch","background":"#101418","upsert":[)";
  for (int row = 0; row < kTileRows; ++row) {
    for (int column = 0; column < kTileColumns; ++column) {
      if (row > 0 || column > 0) patch += ",";
      patch += R"({"id":"tile-)" + std::to_string(row) + "-" + std::to_string(column) + R"(","bounds":[)" +
               std::to_string(column * 128) + "," + std::to_string(row * 80) + R"(,128,80],"commands":[)" +
               tile_commands(column, row) + "]}";
    }
  }
  // Inside tile (4, 3), clear of its neighbours.
  patch += R"(,{"id":"sprite","bounds":[580,256,48,48],"commands":[["sprite",")" + sheet +
           R"(",[580,256,48,48],48,48,8,12,true,"#ffffff"]]}]})";
  return patch;
}

std::unique_ptr<window::WindowBackend> open_window(const std::string& sheet) {
  auto backend = lumora::bench::open_offscreen_window();
  if (!backend) return nullptr;
  lumora::host::HostErrorBuffer error;
  JsonPtr patch = parse(scene_patch(sheet));
  if (!patch || !backend->patch_scene(patch.get(), error.text())) return nullptr;
  // The first frame builds the cache, the text textures and the masks.
  if (!backend->draw_retained_scene(error.text()) || !backend->present_frame(error.text())) return nullptr;
  // A sheet that failed to load would draw nothing and flatter the figures.
  if (backend->texture_class_bytes(window::TextureClass::image) == 0) return nullptr;
  return backend;
}

// Frames advance the clock by 1/60 s, so that the sprite changes frame.
class Frames {
 public:
  explicit Frames(window::WindowBackend& backend) : backend_(backend) {}
  bool next(bool full) {
    clock_ += 1.0 / 60;
    backend_.set_clock_for_testing(clock_);
    if (full) backend_.invalidate_scene_cache();
    lumora::host::HostErrorBuffer error;
    return backend_.draw_retained_scene(error.text()) && backend_.present_frame(error.text());
  }

 private:
  window::WindowBackend& backend_;
  double clock_ = 1000;
};

void report_frame_counters(benchmark::State& state, const window::WindowBackend& backend) {
  state.counters["last_segments_tested"] = static_cast<double>(backend.counters().last_segments_tested);
  state.counters["last_commands_replayed"] = static_cast<double>(backend.counters().last_commands_replayed);
  state.counters["segments"] = static_cast<double>(backend.segment_count());
}

void redraw_repeatedly(benchmark::State& state, bool full) {
  SpriteSheetFile sheet;
  auto backend = sheet.ok() ? open_window(sheet.path()) : nullptr;
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  Frames frames(*backend);
  const std::uint64_t animated_before = backend->counters().animation_segments_tested;
  for (auto _ : state) {
    if (!frames.next(full)) {
      state.SkipWithError("drawing failed");
      return;
    }
  }
  report_frame_counters(state, *backend);
  state.counters["animation_segments_tested_per_frame"] =
      static_cast<double>(backend->counters().animation_segments_tested - animated_before) /
      static_cast<double>(state.iterations());
}

void BM_WindowMotionSpriteFrame(benchmark::State& state) {
  redraw_repeatedly(state, false);
  state.SetLabel("looping sprite over 1,000 static segmented commands");
}
void BM_WindowMotionFullRedraw(benchmark::State& state) {
  redraw_repeatedly(state, true);
  state.SetLabel("the same scene redrawn in full every frame");
}

// The thread's processor time in microseconds: the software renderer draws
// on the calling thread, and a loaded machine does not stretch it.
double thread_cpu_us() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Both alternately in one loop, so that the ratio sees the same machine load;
// times are processor times.
void BM_WindowMotionSpriteVsFullRedraw(benchmark::State& state) {
  SpriteSheetFile sheet;
  auto backend = sheet.ok() ? open_window(sheet.path()) : nullptr;
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  Frames frames(*backend);
  double sprite_time = 0;
  double full_time = 0;
  std::uint64_t sprite_replayed = 0;
  for (auto _ : state) {
    const double start = thread_cpu_us();
    const bool full_drawn = frames.next(true);
    const double middle = thread_cpu_us();
    // The full redraw left a valid cache: this frame redraws only the sprite.
    const bool sprite_drawn = frames.next(false);
    const double end = thread_cpu_us();
    if (!full_drawn || !sprite_drawn) {
      state.SkipWithError("drawing failed");
      return;
    }
    sprite_replayed = backend->counters().last_commands_replayed;
    full_time += middle - start;
    sprite_time += end - middle;
  }
  const double iterations = static_cast<double>(state.iterations());
  const double sprite_us = sprite_time / iterations;
  const double full_us = full_time / iterations;
  state.counters["sprite_frame_us"] = sprite_us;
  state.counters["full_redraw_us"] = full_us;
  state.counters["sprite_over_full"] = full_us > 0 ? sprite_us / full_us : 0;
  state.counters["sprite_commands_replayed"] = static_cast<double>(sprite_replayed);
  state.SetLabel("target sprite_over_full at most 0.1");
}

BENCHMARK(BM_WindowMotionSpriteFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowMotionFullRedraw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowMotionSpriteVsFullRedraw)->Unit(benchmark::kMillisecond);

}  // namespace
