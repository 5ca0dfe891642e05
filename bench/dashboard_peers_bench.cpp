// Lumora's window beside the programs a user would write instead, on one
// 1280 × 800 dashboard (rounded panels with 1-px rounded borders, ten text
// lines with a bar each, a header with a clock, a footer), offscreen with
// SDL's software renderer, in one run:
// - Lumora: the real host driven through the client library, its processor
//   time (every thread) per frame read from the scheduler: the list
//   committed and presented each frame (two variants in turn, so that every
//   frame differs), the same list re-presented with "cache_scene" off, and
//   segment patches where every panel or only the clock changes;
// - a hand-written SDL2 program and a Dear ImGui program drawing the same
//   dashboard in this process, their thread's processor time per frame;
// - the same with 10,009 commands, most of them below the window;
// - how far one Lumora frame lies from the hand-written program's pixels.
// Every figure is the counter frame_cpu_ms; bench/run.sh puts it beside its
// references. A Lumora figure also carries the hand-written program's time
// for the same frames drawn between the host's (handwritten_interleaved_ms)
// and the ratio of the two, which a changing machine load skews less.
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "client/controller.h"
#include "peers/dashboard_model.h"
#include "peers/handwritten_sdl.h"
#include "process_cpu.h"
#ifdef LUMORA_BENCH_IMGUI
#include "peers/imgui_sdl.h"
#endif

namespace {

namespace peers = lumora::bench::peers;
using lumora::client::Controller;

// Both sides read the same font files.
constexpr const char* kFontDir = "/usr/share/fonts/truetype/dejavu";
constexpr int kWarmUpFrames = 3;
constexpr int kHostFrames = 30;
constexpr int kTallHostFrames = 8;
constexpr int kClockSeconds = 60;
constexpr double kReplySeconds = 120;

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void use_offscreen_software_renderer() {
  SDL_setenv("SDL_VIDEODRIVER", "offscreen", 1);
  SDL_setenv("SDL_RENDER_DRIVER", "software", 1);
}

peers::Dashboard dashboard(int panels, int variant = 0, int second = 0) {
  return peers::make_dashboard(peers::DashboardOptions{panels, variant, peers::clock_text(second)});
}

// ---- Lumora, through the host ----------------------------------------------

// A host showing an offscreen kDashboardWidth × kDashboardHeight window that
// never presents on its own (the fps limit allows one present in 1000 s), so
// that each "present" below is the one frame it measures.
std::unique_ptr<Controller> open_host(bool cache_scene, std::string& error) {
  lumora::client::LaunchOptions options;
  options.host_path = LUMORA_HOST_PATH;
  options.environment = {"SDL_VIDEODRIVER=offscreen", "SDL_RENDER_DRIVER=software"};
  auto host = Controller::launch(options, &error);
  if (!host) return nullptr;
  const std::string open = std::string(R"({"op":"open","backend":"window","hidden":true,"vsync":false,)") +
                           R"("fps_limit":0.001,"cache_scene":)" + (cache_scene ? "true" : "false") +
                           R"(,"font_dir":")" + kFontDir + "\"}";
  // Opening fits the window to the offscreen display; resizing does not.
  const std::string size = R"({"op":"set_size","width":)" + std::to_string(peers::kDashboardWidth) + R"(,"height":)" +
                           std::to_string(peers::kDashboardHeight) + "}";
  for (const std::string& request : {open, size}) {
    auto reply = host->request(request, kReplySeconds);
    if (!reply || !reply->ok) {
      error = reply ? reply->error : "no reply: " + host->error();
      return nullptr;
    }
  }
  return host;
}

bool send_all(Controller& host, const std::vector<std::string>& requests, std::string& error) {
  for (const std::string& request : requests) {
    auto reply = host.request(request, kReplySeconds);
    if (!reply || !reply->ok) {
      error = reply ? reply->error : "no reply: " + host.error();
      return false;
    }
  }
  return true;
}

// Frame k sends frames[k % size] and waits for each reply; every frame ends
// with a "present", which the host answers once the frame is drawn and
// presented, so the host's processor time between the first and the last
// reply is the frames' own. Between two host frames, while the host waits,
// the hand-written program draws the same frame (peer_frames[k % size]) in
// this process: the ratio of the two is measured under the same load.
void measure_host_frames(benchmark::State& state, bool cache_scene, const std::vector<std::string>& setup,
                         const std::vector<std::vector<std::string>>& frames,
                         const std::vector<peers::Dashboard>& peer_frames, double commands) {
  std::string error;
  auto host = open_host(cache_scene, error);
  if (!host || !send_all(*host, setup, error)) {
    state.SkipWithError(("The host did not take the dashboard: " + error).c_str());
    return;
  }
  use_offscreen_software_renderer();
  auto program = peers::HandwrittenSdl::open(kFontDir, &error);
  if (!program) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::size_t turn = 0;
  double peer_seconds = 0;
  auto next_frame = [&] {
    const std::size_t k = turn++;
    if (!send_all(*host, frames[k % frames.size()], error)) return false;
    const double start = thread_seconds();
    const bool drawn = program->draw_and_present(peer_frames[k % peer_frames.size()], &error);
    peer_seconds += thread_seconds() - start;
    return drawn;
  };
  for (int k = 0; k < kWarmUpFrames; ++k) {
    if (!next_frame()) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  peer_seconds = 0;
  const double before = lumora::bench::process_threads_cpu_seconds(host->process_id());
  for (auto _ : state) {
    if (!next_frame()) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  const double after = lumora::bench::process_threads_cpu_seconds(host->process_id());
  if (before < 0 || after < 0) {
    state.SkipWithError("Cannot read the host's processor time");
    return;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["frame_cpu_ms"] = (after - before) / n * 1e3;
  state.counters["handwritten_interleaved_ms"] = peer_seconds / n * 1e3;
  state.counters["over_handwritten_interleaved"] = peer_seconds > 0 ? (after - before) / peer_seconds : 0;
  state.counters["commands"] = commands;
  host->close();
}

const std::string kPresent = R"({"op":"present"})";

// The list committed and presented each frame, two variants in turn.
void commit_each_frame(benchmark::State& state, int panels, const char* target) {
  const peers::Dashboard first = dashboard(panels, 0), second = dashboard(panels, 1);
  measure_host_frames(state, true, {},
                      {{peers::frame_command(first), kPresent}, {peers::frame_command(second), kPresent}},
                      {first, second}, static_cast<double>(first.items.size() + 1));
  state.SetLabel(std::string("list committed each frame; host process CPU; ") + target);
}

// The list committed once, then presented again and again with the scene
// cache off: every present draws the whole list.
void represent_cache_off(benchmark::State& state, int panels, const char* target) {
  const peers::Dashboard shown = dashboard(panels);
  measure_host_frames(state, false, {peers::frame_command(shown)}, {{kPresent}}, {shown},
                      static_cast<double>(shown.items.size() + 1));
  state.SetLabel(std::string("cache_scene off, re-present; host process CPU; ") + target);
}

constexpr const char* kFullTarget = "target at most 1.5 x the hand-written program";
constexpr const char* kTallTarget = "target at most 2 x the hand-written program";

void BM_DashboardLumoraCommitEachFrame(benchmark::State& state) {
  commit_each_frame(state, peers::kWindowPanels, kFullTarget);
}
void BM_DashboardLumoraRepresentCacheOff(benchmark::State& state) {
  represent_cache_off(state, peers::kWindowPanels, kFullTarget);
}
void BM_DashboardTallLumoraCommitEachFrame(benchmark::State& state) {
  commit_each_frame(state, peers::kTallPanels, kTallTarget);
}
void BM_DashboardTallLumoraRepresentCacheOff(benchmark::State& state) {
  represent_cache_off(state, peers::kTallPanels, kTallTarget);
}

// The dashboard as segments (header, clock, one per panel, footer); each
// frame patches every panel (bars of the other variant) and presents.
void BM_DashboardSegmentsLumoraEveryPanel(benchmark::State& state) {
  const peers::Dashboard first = dashboard(peers::kWindowPanels, 0), second = dashboard(peers::kWindowPanels, 1);
  const std::vector<std::string> panels = peers::panel_group_ids(first);
  measure_host_frames(
      state, true, {peers::patch_command(first)},
      {{peers::patch_command(second, panels), kPresent}, {peers::patch_command(first, panels), kPresent}},
      {second, first}, static_cast<double>(first.items.size()));
  state.SetLabel(
      "every panel's segment patched each frame; host process CPU; target at most 2 x the hand-written program");
}

// The same segments; each frame patches the clock alone to the next second.
void BM_DashboardSegmentsLumoraClock(benchmark::State& state) {
  const peers::Dashboard shown = dashboard(peers::kWindowPanels);
  std::vector<std::vector<std::string>> frames;
  std::vector<peers::Dashboard> peer_frames;
  for (int second = 1; second <= kClockSeconds; ++second) {
    peer_frames.push_back(dashboard(peers::kWindowPanels, 0, second));
    frames.push_back({peers::patch_command(peer_frames.back(), {peers::kClockGroup}), kPresent});
  }
  measure_host_frames(state, true, {peers::patch_command(shown)}, frames, peer_frames,
                      static_cast<double>(shown.items.size()));
  state.SetLabel(
      "the clock's segment patched each frame; host process CPU; target at most 0.5 x the hand-written program");
}

BENCHMARK(BM_DashboardLumoraCommitEachFrame)->Iterations(kHostFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashboardLumoraRepresentCacheOff)->Iterations(kHostFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashboardSegmentsLumoraEveryPanel)->Iterations(kHostFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashboardSegmentsLumoraClock)->Iterations(kHostFrames * 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashboardTallLumoraCommitEachFrame)->Iterations(kTallHostFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashboardTallLumoraRepresentCacheOff)->Iterations(kTallHostFrames)->Unit(benchmark::kMillisecond);

// ---- The peers, in this process ---------------------------------------------

// A peer drawing and presenting a whole frame each time, the given
// dashboards in turn: its thread's processor time per frame, after a few
// frames that fill its caches (`settled` runs then). False (with the
// benchmark skipped) when a frame fails.
template <typename Peer, typename Settled>
bool measure_peer_frames(benchmark::State& state, Peer& program, const std::vector<peers::Dashboard>& dashboards,
                         Settled settled) {
  std::string error;
  std::size_t turn = 0;
  auto next_frame = [&] {
    if (program.draw_and_present(dashboards[turn++ % dashboards.size()], &error)) return true;
    state.SkipWithError(error.c_str());
    return false;
  };
  for (int k = 0; k < kWarmUpFrames; ++k) {
    if (!next_frame()) return false;
  }
  settled();
  double seconds = 0;
  for (auto _ : state) {
    const double start = thread_seconds();
    const bool drawn = next_frame();
    seconds += thread_seconds() - start;
    if (!drawn) return false;
  }
  state.counters["frame_cpu_ms"] = seconds / static_cast<double>(state.iterations()) * 1e3;
  state.counters["commands"] = static_cast<double>(dashboards.front().items.size() + 1);
  return true;
}

void handwritten_frames(benchmark::State& state, const std::vector<peers::Dashboard>& dashboards) {
  use_offscreen_software_renderer();
  std::string error;
  auto program = peers::HandwrittenSdl::open(kFontDir, &error);
  if (!program) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::uint64_t rendered = 0;
  if (!measure_peer_frames(state, *program, dashboards, [&] { rendered = program->lines_rendered(); })) return;
  state.counters["lines_rendered_per_frame"] =
      static_cast<double>(program->lines_rendered() - rendered) / static_cast<double>(state.iterations());
}

void BM_DashboardHandwrittenSdl(benchmark::State& state) {
  handwritten_frames(state, {dashboard(peers::kWindowPanels, 0), dashboard(peers::kWindowPanels, 1)});
  state.SetLabel("whole frame each time, bars changing");
}

void BM_DashboardHandwrittenSdlClock(benchmark::State& state) {
  std::vector<peers::Dashboard> dashboards;
  for (int second = 1; second <= kClockSeconds; ++second) {
    dashboards.push_back(dashboard(peers::kWindowPanels, 0, second));
  }
  handwritten_frames(state, dashboards);
  state.SetLabel("whole frame each time, the clock's line rendered anew");
}

void BM_DashboardTallHandwrittenSdl(benchmark::State& state) {
  handwritten_frames(state, {dashboard(peers::kTallPanels, 0), dashboard(peers::kTallPanels, 1)});
  state.SetLabel("whole frame each time, bars changing");
}

BENCHMARK(BM_DashboardHandwrittenSdl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashboardHandwrittenSdlClock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashboardTallHandwrittenSdl)->Unit(benchmark::kMillisecond);

#ifdef LUMORA_BENCH_IMGUI
void imgui_frames(benchmark::State& state, const std::vector<peers::Dashboard>& dashboards) {
  use_offscreen_software_renderer();
  std::string error;
  auto program = peers::ImGuiSdl::open(kFontDir, dashboards.front(), &error);
  if (!program) {
    state.SkipWithError(error.c_str());
    return;
  }
  if (!measure_peer_frames(state, *program, dashboards, [] {})) return;
  state.SetLabel(std::string("Dear ImGui ") + peers::ImGuiSdl::version() +
                 ", SDL_Renderer backend; whole frame each time, bars changing");
}

void BM_DashboardImGui(benchmark::State& state) {
  imgui_frames(state, {dashboard(peers::kWindowPanels, 0), dashboard(peers::kWindowPanels, 1)});
}
void BM_DashboardTallImGui(benchmark::State& state) {
  imgui_frames(state, {dashboard(peers::kTallPanels, 0), dashboard(peers::kTallPanels, 1)});
}
BENCHMARK(BM_DashboardImGui)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashboardTallImGui)->Unit(benchmark::kMillisecond);
#endif

// ---- Pixels -------------------------------------------------------------------

struct SurfaceDeleter {
  void operator()(SDL_Surface* surface) const noexcept { SDL_FreeSurface(surface); }
};

// One Lumora frame (captured through the host) against the hand-written
// program's frame of the same dashboard: the mean and the worst difference
// of each colour channel, in levels of 255. Reported, not judged.
void BM_DashboardPixelAgreement(benchmark::State& state) {
  const peers::Dashboard shown = dashboard(peers::kWindowPanels);
  const std::string path =
      (std::filesystem::temp_directory_path() / ("lumora-dashboard-peers-" + std::to_string(::getpid()) + ".bmp"))
          .string();
  std::vector<std::uint8_t> lumora, reference;
  for (auto _ : state) {
    std::string error;
    auto host = open_host(true, error);
    if (!host || !send_all(*host, {peers::frame_command(shown), kPresent, R"({"op":"capture","path":")" + path + "\"}"},
                           error)) {
      state.SkipWithError(("The host did not capture the dashboard: " + error).c_str());
      return;
    }
    host->close();
    std::unique_ptr<SDL_Surface, SurfaceDeleter> loaded(SDL_LoadBMP(path.c_str()));
    std::unique_ptr<SDL_Surface, SurfaceDeleter> converted(
        loaded ? SDL_ConvertSurfaceFormat(loaded.get(), SDL_PIXELFORMAT_RGBA32, 0) : nullptr);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (!converted || converted->w != peers::kDashboardWidth || converted->h != peers::kDashboardHeight) {
      state.SkipWithError("The capture is missing or not 1280 x 800");
      return;
    }
    lumora.resize(static_cast<std::size_t>(converted->w) * converted->h * 4);
    for (int row = 0; row < converted->h; ++row) {
      const auto* line = static_cast<const std::uint8_t*>(converted->pixels) + row * converted->pitch;
      std::copy(line, line + converted->w * 4, lumora.begin() + static_cast<std::ptrdiff_t>(row) * converted->w * 4);
    }

    use_offscreen_software_renderer();
    auto program = peers::HandwrittenSdl::open(kFontDir, &error);
    if (!program || !program->draw(shown, &error) || !program->read_pixels(reference, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  double sums[3] = {0, 0, 0};
  int worst[3] = {0, 0, 0};
  double differing = 0;
  for (std::size_t i = 0; i + 3 < lumora.size(); i += 4) {
    bool differs = false;
    for (int c = 0; c < 3; ++c) {
      const int difference = std::abs(int{lumora[i + c]} - int{reference[i + c]});
      sums[c] += difference;
      worst[c] = std::max(worst[c], difference);
      differs = differs || difference != 0;
    }
    if (differs) ++differing;
  }
  const double pixels = static_cast<double>(lumora.size() / 4);
  const char* names[3] = {"red", "green", "blue"};
  for (int c = 0; c < 3; ++c) {
    state.counters[std::string("mean_difference_") + names[c]] = sums[c] / pixels;
    state.counters[std::string("worst_difference_") + names[c]] = worst[c];
  }
  state.counters["differing_pixels"] = differing;
  state.SetLabel("Lumora's captured frame against the hand-written program's, levels of 255");
}
BENCHMARK(BM_DashboardPixelAgreement)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
