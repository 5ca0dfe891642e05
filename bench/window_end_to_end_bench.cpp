// End to end through the controller and the real host with an offscreen
// 1024 x 768 window (SDL's offscreen video driver and software renderer):
// open, commit a 2,000-command scene, present it, patch one segment of a
// 500-segment scene, present that, capture the frame to PNG and to BMP. Each
// step reports p50 and p99 next to the loopback floor for frames of the same
// sizes, measured in the same run; commits also report commands per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "client/controller.h"
#include "loopback_floor.h"
#include "platform/clock.h"

namespace {

using lumora::client::Controller;
namespace bench = lumora::bench;
namespace platform = lumora::platform;

// The offscreen display is 1024 x 768: a window of this size is not fitted.
constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kSceneCommands = 2000;
constexpr int kSegments = 500;
constexpr double kWaitSeconds = 60;

constexpr int kOpens = 8;
constexpr int kCommits = 30;
constexpr int kPatches = 200;
constexpr int kCaptures = 10;
constexpr int kWarmUp = 3;
constexpr int kFloorRoundTrips = 200;

// A fps limit this low keeps the host from presenting on its own after the
// first frame, so that every present below is the one the step asked for.
const std::string kOpen = "{\"op\":\"open\",\"backend\":\"window\",\"hidden\":true,\"vsync\":false,\"width\":" +
                          std::to_string(kWidth) + ",\"height\":" + std::to_string(kHeight) + ",\"fps_limit\":0.001}";
constexpr const char* kPresent = R"({"op":"present"})";

// An 8 x 8 opaque PNG (a two-colour checker), shared by every "image" command.
constexpr const char* kTinyPng =
    "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAgAAAAICAYAAADED76LAAAAHElEQVR42mNQaPj//3+Dwn9cNAM+SRDNMCxMAAA4UqeBt9TCbwAAAABJRU5ErkJggg==";

const char* const kColours[] = {"#e06c75", "#98c379", "#e5c07b", "#61afef", "#c678dd", "#56b6c2", "#abb2bf", "#282c34"};

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string rect(double x, double y, double w, double h) {
  return "[" + number(x) + "," + number(y) + "," + number(w) + "," + number(h) + "]";
}

std::string quoted(const char* text) { return std::string("\"") + text + "\""; }

// Command `index` of a mixed scene: ten kinds the window draws, in turn,
// spread over the window; `variant` changes colours and text so that
// consecutive commits differ.
std::string mixed_command(int index, int variant) {
  double x = (index * 37) % (kWidth - 96);
  double y = (index * 53) % (kHeight - 48);
  std::string colour = quoted(kColours[(index + variant) % 8]);
  std::string other = quoted(kColours[(index + variant + 3) % 8]);
  switch (index % 10) {
    case 0:
      return "[\"rect\"," + rect(x, y, 64, 32) + "," + colour + ",4," + other + ",1]";
    case 1:
      return "[\"text\",\"item " + std::to_string(index + variant) + " ok\"," + number(x) + "," + number(y) + "," +
             colour + ",14,false]";
    case 2:
      return "[\"line\"," + number(x) + "," + number(y) + "," + number(x + 80) + "," + number(y + 24) + "," + colour +
             ",1]";
    case 3:
      return "[\"lines\",[[" + number(x) + "," + number(y) + "],[" + number(x + 40) + "," + number(y + 16) + "],[" +
             number(x + 80) + "," + number(y) + "],[" + number(x + 96) + "," + number(y + 32) + "]]," + colour + ",1]";
    case 4:
      return "[\"gradient_rect\"," + rect(x, y, 96, 32) + "," + colour + "," + other + ",\"horizontal\",6,0]";
    case 5:
      return "[\"styled_rect\"," + rect(x, y, 80, 48) + ",{\"fill\":" + colour + ",\"border\":" + other +
             ",\"border_width\":1,\"radius\":6,\"shadow\":\"#00000080\",\"shadow_blur\":6,\"shadow_y\":2}]";
    case 6:
      return "[\"marker\"," + rect(x, y, 16, 16) + ",{\"fill\":" + colour + ",\"border\":" + other +
             ",\"border_width\":1,\"foreground\":\"#ffffff\"},\"square\"," + ((index + variant) % 2 ? "true" : "false") +
             "]";
    case 7:
      return "[\"caret\"," + number(x) + "," + number(y) + ",16," + colour + "]";
    case 8:
      return "[\"focus_ring\"," + rect(x, y, 64, 32) + "," + colour + ",3]";
    default:
      return "[\"image\",\"" + std::string(kTinyPng) + "\"," + rect(x, y, 32, 32) + "," + colour + ",\"stretch\"]";
  }
}

std::string frame_command(int variant) {
  std::string body = "{\"op\":\"frame\",\"commands\":[[\"begin\",\"#101820\"]";
  for (int index = 1; index < kSceneCommands; ++index) body += "," + mixed_command(index, variant);
  return body + "]}";
}

// Segment `index` of a 10 x 50 grid of small widgets, four commands each.
std::string segment_entry(int index, int variant) {
  double w = kWidth / 10.0;
  double h = kHeight / 50.0;
  double x = (index % 10) * w;
  double y = (index / 10) * h;
  std::string colour = quoted(kColours[(index + variant) % 8]);
  return "{\"id\":\"s" + std::to_string(index) + "\",\"bounds\":" + rect(x, y, w, h) + ",\"commands\":[" +
         "[\"rect\"," + rect(x, y, w - 4, h - 1) + "," + colour + ",3,\"\",0]," + "[\"text\",\"row " +
         std::to_string(index) + "." + std::to_string(variant) + "\"," + number(x + 14) + "," + number(y) +
         ",\"#ffffff\",11,false]," + "[\"marker\"," + rect(x + 2, y + 2, 10, 10) +
         ",{\"fill\":\"#0d1117\",\"border\":\"#8fa2d8\",\"border_width\":1,\"foreground\":\"#7ee787\"},\"square\"," +
         (variant % 2 ? "true" : "false") + "]," + "[\"line\"," + number(x) + "," + number(y + h - 1) + "," +
         number(x + w - 4) + "," + number(y + h - 1) + "," + colour + ",1]]}";
}

std::string full_patch() {
  std::string body = "{\"op\":\"patch\",\"background\":\"#101820\",\"upsert\":[";
  for (int index = 0; index < kSegments; ++index) {
    if (index > 0) body += ',';
    body += segment_entry(index, 0);
  }
  return body + "]}";
}

std::string one_segment_patch(int index, int variant) {
  return "{\"op\":\"patch\",\"upsert\":[" + segment_entry(index, variant) + "]}";
}

std::string capture_command(const std::string& path) { return "{\"op\":\"capture\",\"path\":\"" + path + "\"}"; }

struct Step {
  std::vector<double> samples;  // seconds
  std::size_t request_bytes = 0;
  std::size_t reply_bytes = 0;
  std::string failure;

  void record(Controller& host, const std::string& request, bool keep) {
    if (!failure.empty()) return;
    double start = platform::now_seconds();
    auto reply = host.request(request, kWaitSeconds);
    double elapsed = platform::now_seconds() - start;
    if (!reply || !reply->ok) {
      failure = reply ? reply->error : "no reply: " + host.error();
      return;
    }
    if (!keep) return;
    samples.push_back(elapsed);
    request_bytes = request.size();
    reply_bytes = reply->body.size();
  }
};

// Reports one step as <name>_p50_us and <name>_p99_us, each beside its floor.
bool report(benchmark::State& state, const std::string& name, const Step& step, int floor_round_trips) {
  if (!step.failure.empty() || step.samples.empty()) {
    state.SkipWithError((name + " failed: " + step.failure).c_str());
    return false;
  }
  std::vector<double> bare = bench::floor_samples(step.request_bytes, step.reply_bytes, floor_round_trips, kWarmUp);
  if (bare.empty()) {
    state.SkipWithError("The loopback ping-pong failed");
    return false;
  }
  bench::Percentiles measured = bench::percentiles(step.samples);
  bench::Percentiles floor = bench::percentiles(std::move(bare));
  state.counters[name + "_p50_us"] = measured.p50;
  state.counters[name + "_p50_us_floor"] = floor.p50;
  state.counters[name + "_p99_us"] = measured.p99;
  state.counters[name + "_p99_us_floor"] = floor.p99;
  return true;
}

std::unique_ptr<Controller> launch(std::string* error) {
  lumora::client::LaunchOptions options;
  options.host_path = LUMORA_HOST_PATH;
  options.environment = {"SDL_VIDEODRIVER=offscreen", "SDL_RENDER_DRIVER=software"};
  return Controller::launch(options, error);
}

void BM_WindowEndToEnd(benchmark::State& state) {
  Step open;
  Step commit;
  Step present_commit;
  Step patch;
  Step present_patch;
  Step capture_png;
  Step capture_bmp;
  const std::string frames[2] = {frame_command(0), frame_command(1)};
  const std::string segments = full_patch();
  std::vector<std::string> patches;
  for (int k = 0; k < kWarmUp + kPatches; ++k) patches.push_back(one_segment_patch((k * 97) % kSegments, k % 2 + 1));
  const std::filesystem::path directory = std::filesystem::temp_directory_path();
  const std::string png_path = (directory / ("lumora-window-bench-" + std::to_string(::getpid()) + ".png")).string();
  const std::string bmp_path = (directory / ("lumora-window-bench-" + std::to_string(::getpid()) + ".bmp")).string();

  for (auto _ : state) {
    std::string error;
    for (int k = 0; k < kWarmUp + kOpens; ++k) {
      auto host = launch(&error);
      if (!host) {
        state.SkipWithError(("Could not start the host: " + error).c_str());
        return;
      }
      open.record(*host, kOpen, k >= kWarmUp);
      host->close();
    }

    auto host = launch(&error);
    if (!host) {
      state.SkipWithError(("Could not start the host: " + error).c_str());
      return;
    }
    open.record(*host, kOpen, false);
    for (int k = 0; k < kWarmUp + kCommits; ++k) {
      commit.record(*host, frames[k % 2], k >= kWarmUp);
      present_commit.record(*host, kPresent, k >= kWarmUp);
    }
    patch.record(*host, segments, false);
    present_patch.record(*host, kPresent, false);
    for (int k = 0; k < kWarmUp + kPatches; ++k) {
      patch.record(*host, patches[k], k >= kWarmUp);
      present_patch.record(*host, kPresent, k >= kWarmUp);
    }
    for (int k = 0; k < kWarmUp + kCaptures; ++k) {
      capture_png.record(*host, capture_command(png_path), k >= kWarmUp);
      capture_bmp.record(*host, capture_command(bmp_path), k >= kWarmUp);
    }
    host->close();
  }
  std::error_code ignored;
  std::filesystem::remove(png_path, ignored);
  std::filesystem::remove(bmp_path, ignored);

  if (!report(state, "open", open, kFloorRoundTrips) || !report(state, "commit", commit, kFloorRoundTrips / 4) ||
      !report(state, "present_after_commit", present_commit, kFloorRoundTrips) ||
      !report(state, "patch", patch, kFloorRoundTrips) ||
      !report(state, "present_after_patch", present_patch, kFloorRoundTrips) ||
      !report(state, "capture_png", capture_png, kCaptures) || !report(state, "capture_bmp", capture_bmp, kCaptures)) {
    return;
  }
  double commit_p50 = bench::percentiles(commit.samples).p50 * 1e-6;
  double present_p50 = bench::percentiles(present_commit.samples).p50 * 1e-6;
  state.counters["commit_commands_per_second"] = kSceneCommands / commit_p50;
  state.counters["commit_and_present_commands_per_second"] = kSceneCommands / (commit_p50 + present_p50);
  state.counters["commit_request_bytes"] = static_cast<double>(commit.request_bytes);
  state.SetLabel("offscreen 1024 x 768 window, software renderer; 2,000-command scene; 500 segments of 4 commands");
}
BENCHMARK(BM_WindowEndToEnd)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
