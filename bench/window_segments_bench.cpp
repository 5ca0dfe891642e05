// A segmented scene in a 1280 × 800 window, offscreen with the software
// renderer: 500 segments of 4 commands (a 20 × 25 grid of small panels, the
// last of them a clock). Measured:
// - a patch that changes the clock, and the draw + present after it, beside
//   a full redraw of the same scene in the same run (target: at most 10 %);
// - the same patch as a round trip through the client and the real host,
//   beside a "stats" round trip to the same host (target: at most 2 ×);
// - an unchanged segmented scene re-presented: one cache copy, no command
//   drawn (counters), beside the full-window copy floor;
// - patch throughput: segments upserted per second in 1,000-segment patches.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "client/controller.h"
#include "host/backend.h"
#include "json/json.h"
#include "loopback_floor.h"
#include "offscreen_window.h"
#include "scene/error_text.h"
#include "window/window_backend.h"

namespace {

namespace window = lumora::window;
namespace bench = lumora::bench;
using lumora::json::JsonPtr;

constexpr int kSegments = 500;
constexpr int kColumns = 20;
constexpr int kClock = kSegments - 1;  // the bottom-right panel
constexpr int kClockTexts = 600;       // ten minutes of seconds, then again

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

std::string clock_text(int second) {
  char text[16];
  std::snprintf(text, sizeof text, "12:%02d:%02d", (second / 60) % 60, second % 60);
  return text;
}

// Segment `i` of the grid: a rounded panel with a border, a label, a bar and
// a rule, 4 commands in a 64 × 32 cell.
std::string segment_entry(int i, const std::string& label, int variant = 0) {
  const int x = (i % kColumns) * 64, y = (i / kColumns) * 32;
  const std::string xs = std::to_string(x), ys = std::to_string(y);
  std::string entry = R"({"id":"s)" + std::to_string(i) + R"(","bounds":[)" + xs + "," + ys + R"(,64,32],"commands":[)";
  entry += R"(["rect",[)" + std::to_string(x + 1) + "," + std::to_string(y + 1) + R"(,62,30],"#202a34",4,"#4080c0",1])";
  entry += R"(,["text",")" + label + R"(",)" + std::to_string(x + 5) + "," + std::to_string(y + 3) +
           R"(,"#e0e0e0",10,false])";
  entry += R"(,["rect",[)" + std::to_string(x + 5) + "," + std::to_string(y + 20) + "," +
           std::to_string(8 + (i + variant) % 40) + R"(,4],"#40c060",0,"",0])";
  entry += R"(,["line",)" + std::to_string(x + 5) + "," + std::to_string(y + 28) + "," + std::to_string(x + 58) + "," +
           std::to_string(y + 28) + R"(,"#304050",1]]})";
  return entry;
}

std::string label_of(int i) { return i == kClock ? clock_text(0) : "Item " + std::to_string(i); }

std::string whole_scene_patch() {
  std::string patch = R"({"op":"patch","background":"#101418","upsert":[)";
  for (int i = 0; i < kSegments; ++i) patch += (i > 0 ? "," : "") + segment_entry(i, label_of(i));
  return patch + "]}";
}

std::string clock_patch(int second) {
  return R"({"op":"patch","upsert":[)" + segment_entry(kClock, clock_text(second)) + "]}";
}

std::unique_ptr<window::WindowBackend> open_window(bool cache_scene) {
  auto backend = lumora::bench::open_offscreen_window(cache_scene);
  if (!backend) return nullptr;
  lumora::host::HostErrorBuffer error;
  JsonPtr patch = parse(whole_scene_patch());
  if (!backend->patch_scene(patch.get(), error.text())) return nullptr;
  // The first frame makes every text texture and mask.
  if (!backend->draw_retained_scene(error.text()) || !backend->present_frame(error.text())) return nullptr;
  return backend;
}

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::vector<JsonPtr> clock_patches() {
  std::vector<JsonPtr> patches;
  for (int second = 1; second <= kClockTexts; ++second) patches.push_back(parse(clock_patch(second)));
  return patches;
}

// The clock patched on two windows of the same scene; the first redraws
// only the damage through its scene cache, the second ("cache_scene" off)
// redraws the whole scene every present. Processor time of this thread, the
// two alternately.
void BM_WindowSegmentsClockPatchVsFullRedraw(benchmark::State& state) {
  auto partial = open_window(true);
  auto full = open_window(false);
  if (!partial || !full) {
    state.SkipWithError("cannot open the windows");
    return;
  }
  const std::vector<JsonPtr> patches = clock_patches();
  lumora::host::HostErrorBuffer error;
  double patch_seconds = 0, partial_seconds = 0, full_seconds = 0;
  std::uint64_t segments_tested = 0, commands_replayed = 0, full_commands = 0;
  std::size_t turn = 0;
  const std::uint64_t ttf_before = partial->ttf_calls();
  for (auto _ : state) {
    const cJSON* patch = patches[turn++ % patches.size()].get();
    const double start = thread_seconds();
    bool ok = partial->patch_scene(patch, error.text());
    const double patched = thread_seconds();
    ok = ok && partial->draw_retained_scene(error.text()) && partial->present_frame(error.text());
    const double presented = thread_seconds();
    segments_tested = partial->counters().last_segments_tested;
    commands_replayed = partial->counters().last_commands_replayed;
    ok = ok && full->patch_scene(patch, error.text());
    const double full_start = thread_seconds();
    ok = ok && full->draw_retained_scene(error.text()) && full->present_frame(error.text());
    const double full_end = thread_seconds();
    full_commands = full->counters().last_commands_replayed;
    if (!ok) {
      state.SkipWithError(error.c_str());
      return;
    }
    patch_seconds += patched - start;
    partial_seconds += presented - patched;
    full_seconds += full_end - full_start;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["patch_us"] = patch_seconds / n * 1e6;
  state.counters["draw_present_us"] = partial_seconds / n * 1e6;
  state.counters["full_redraw_us"] = full_seconds / n * 1e6;
  state.counters["draw_present_over_full_redraw"] = full_seconds > 0 ? partial_seconds / full_seconds : 0;
  state.counters["last_segments_tested"] = static_cast<double>(segments_tested);
  state.counters["last_commands_replayed"] = static_cast<double>(commands_replayed);
  state.counters["full_redraw_commands"] = static_cast<double>(full_commands);
  state.counters["ttf_calls_per_patch"] = static_cast<double>(partial->ttf_calls() - ttf_before) / n;
  state.SetLabel("500 segments of 4 commands; target draw_present_over_full_redraw at most 0.1");
}
BENCHMARK(BM_WindowSegmentsClockPatchVsFullRedraw)->Unit(benchmark::kMillisecond);

// An unchanged segmented scene presented again: one copy of the scene
// cache and no command drawn.
void BM_WindowSegmentsUnchangedPresent(benchmark::State& state) {
  auto backend = open_window(true);
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  lumora::host::HostErrorBuffer error;
  const window::WindowCounters before = backend->counters();
  const std::uint64_t ttf = backend->ttf_calls(), masks = backend->masks_built();
  for (auto _ : state) {
    if (!backend->draw_retained_scene(error.text()) || !backend->present_frame(error.text())) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  const window::WindowCounters& after = backend->counters();
  const double n = static_cast<double>(state.iterations());
  state.counters["cache_hits_per_present"] = static_cast<double>(after.scene_cache_hits - before.scene_cache_hits) / n;
  state.counters["commands_replayed"] = static_cast<double>(after.commands_replayed - before.commands_replayed);
  state.counters["ttf_calls"] = static_cast<double>(backend->ttf_calls() - ttf);
  state.counters["masks_built"] = static_cast<double>(backend->masks_built() - masks);
}
BENCHMARK(BM_WindowSegmentsUnchangedPresent)->Unit(benchmark::kMillisecond);

// Patches of 1,000 segments, each entry a changed list of 4 commands (two
// variants in turn, so that no entry is unchanged).
void BM_WindowSegmentsPatchThroughput(benchmark::State& state) {
  auto backend = open_window(true);
  if (!backend) {
    state.SkipWithError("cannot open the window");
    return;
  }
  constexpr int kUpserts = 1000;
  JsonPtr patches[2];
  for (int variant = 0; variant < 2; ++variant) {
    std::string patch = R"({"op":"patch","upsert":[)";
    for (int i = 0; i < kUpserts; ++i) {
      patch += (i > 0 ? "," : "") + segment_entry(i, "Item " + std::to_string(i), variant + 1);
    }
    patches[variant] = parse(patch + "]}");
  }
  lumora::host::HostErrorBuffer error;
  int turn = 0;
  for (auto _ : state) {
    if (!backend->patch_scene(patches[turn++ % 2].get(), error.text())) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kUpserts);
  state.SetLabel("items are segments upserted");
}
BENCHMARK(BM_WindowSegmentsPatchThroughput)->Unit(benchmark::kMillisecond);

// The clock patch through the client and the real host (which presents at
// most once in 1000 s here, so that a reply never waits for a frame),
// beside a "stats" round trip to the same host, alternately.
void BM_WindowSegmentsPatchRoundTrip(benchmark::State& state) {
  constexpr int kRequests = 1000;
  constexpr int kWarmUp = 50;
  SDL_setenv("SDL_VIDEODRIVER", "offscreen", 1);
  SDL_setenv("SDL_RENDER_DRIVER", "software", 1);
  lumora::client::LaunchOptions options;
  options.host_path = LUMORA_HOST_PATH;
  std::string error;
  auto host = lumora::client::Controller::launch(options, &error);
  if (!host) {
    state.SkipWithError(("Could not start the host: " + error).c_str());
    return;
  }
  const std::string open = R"({"op":"open","backend":"window","hidden":true,"vsync":false,"fps_limit":0.001,)"
                           R"("font_dir":")" + lumora::bench::bench_font_dir() + "\"}";
  auto opened = host->request(open);
  auto sized = host->request(R"({"op":"set_size","width":1280,"height":800})");
  auto scene = host->request(whole_scene_patch());
  if (!opened || !opened->ok || !sized || !sized->ok || !scene || !scene->ok) {
    state.SkipWithError("The window did not open or take the scene");
    return;
  }
  std::vector<std::string> patches;
  for (int second = 1; second <= kClockTexts; ++second) patches.push_back(clock_patch(second));
  std::vector<double> patch_samples, stats_samples, one;
  for (auto _ : state) {
    patch_samples.clear();
    stats_samples.clear();
    for (int k = 0; k < kWarmUp + kRequests; ++k) {
      if (!bench::request_samples(*host, patches[k % patches.size()], 1, 0, &one)) {
        state.SkipWithError("A patch went unanswered or failed");
        return;
      }
      if (k >= kWarmUp) patch_samples.push_back(one[0]);
      if (!bench::request_samples(*host, R"({"op":"stats"})", 1, 0, &one)) {
        state.SkipWithError("A stats request went unanswered");
        return;
      }
      if (k >= kWarmUp) stats_samples.push_back(one[0]);
    }
  }
  const bench::Percentiles patch = bench::percentiles(patch_samples);
  const bench::Percentiles stats = bench::percentiles(stats_samples);
  state.counters["requests"] = kRequests;
  state.counters["patch_p50_us"] = patch.p50;
  state.counters["patch_p99_us"] = patch.p99;
  state.counters["stats_p50_us"] = stats.p50;
  state.counters["stats_p99_us"] = stats.p99;
  state.counters["patch_over_stats_p50"] = stats.p50 > 0 ? patch.p50 / stats.p50 : 0;
  state.SetLabel("target patch_over_stats_p50 at most 2");
  host->close();
}
BENCHMARK(BM_WindowSegmentsPatchRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
