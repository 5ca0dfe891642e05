// End to end through the controller and the real host on a headless 200 x 60
// terminal: open, commit a 2,000-command scene, patch one segment of a
// 500-segment scene, present, snapshot. Each step reports p50 and p99 next
// to the loopback floor for frames of the same sizes, measured in the same
// run; commits also report commands per second. Beside it, the host
// process's processor time per "snapshot" of the 200 x 60 grid (target
// under 5 ms), next to building and printing the same object with cJSON.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/controller.h"
#include "dashboard.h"
#include "loopback_floor.h"
#include "platform/clock.h"
#include "process_cpu.h"

namespace {

using lumora::client::Controller;
namespace bench = lumora::bench;
namespace platform = lumora::platform;

constexpr int kColumns = 200;
constexpr int kRows = 60;
// Logical units: one cell is 8 x 16 of them.
constexpr int kWidth = kColumns * 8;
constexpr int kHeight = kRows * 16;
constexpr int kSceneCommands = 2000;
constexpr int kSegments = 500;
constexpr int kCommandsPerSegment = 4;
constexpr double kWaitSeconds = 60;

constexpr int kOpens = 10;
constexpr int kCommits = 40;
constexpr int kPatches = 200;
constexpr int kSnapshots = 15;
constexpr int kWarmUp = 3;
constexpr int kFloorRoundTrips = 200;

// A fps limit this low keeps the host from presenting on its own after the
// first frame, so that every present below is the one the step asked for.
const std::string kOpen = "{\"op\":\"open\",\"backend\":\"terminal\",\"headless\":true,\"columns\":" +
                          std::to_string(kColumns) + ",\"rows\":" + std::to_string(kRows) + ",\"fps_limit\":0.001}";
constexpr const char* kPresent = R"({"op":"present"})";
constexpr const char* kSnapshot = R"({"op":"snapshot"})";

const char* const kColours[] = {"#e06c75", "#98c379", "#e5c07b", "#61afef", "#c678dd", "#56b6c2", "#abb2bf", "#282c34"};
const char* const kIcons[] = {"check", "close", "plus", "play", "home", "search", "settings", "heart", "mail", "grid"};

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string rect(double x, double y, double w, double h) {
  return "[" + number(x) + "," + number(y) + "," + number(w) + "," + number(h) + "]";
}

std::string quoted(const char* text) { return std::string("\"") + text + "\""; }

// Command `index` of a mixed scene: the ten kinds in turn, spread over the
// grid; `variant` changes colours and text so that consecutive commits differ.
std::string mixed_command(int index, int variant) {
  double x = (index * 37) % (kWidth - 96);
  double y = (index * 53) % (kHeight - 48);
  std::string colour = quoted(kColours[(index + variant) % 8]);
  std::string other = quoted(kColours[(index + variant + 3) % 8]);
  switch (index % 10) {
    case 0:
      return "[\"rect\"," + rect(x, y, 64, 32) + "," + colour + ",2," + other + ",1]";
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
      return "[\"gradient_rect\"," + rect(x, y, 96, 32) + "," + colour + "," + other + ",\"horizontal\",0,0]";
    case 5:
      return "[\"styled_rect\"," + rect(x, y, 80, 48) + ",{\"fill\":" + colour + ",\"border\":" + other +
             ",\"border_width\":1,\"radius\":4}]";
    case 6:
      return "[\"marker\"," + rect(x, y, 16, 16) + ",{\"fill\":" + colour + ",\"border\":" + other +
             ",\"border_width\":1,\"foreground\":\"#ffffff\"},\"square\"," + ((index + variant) % 2 ? "true" : "false") +
             "]";
    case 7:
      return "[\"caret\"," + number(x) + "," + number(y) + ",16," + colour + "]";
    case 8:
      return "[\"focus_ring\"," + rect(x, y, 64, 32) + "," + colour + ",3]";
    default:
      return "[\"icon\"," + quoted(kIcons[(index / 10 + variant) % 10]) + "," + number(x) + "," + number(y) + ",16," +
             colour + "]";
  }
}

std::string frame_command(int variant) {
  std::string body = "{\"op\":\"frame\",\"commands\":[";
  for (int index = 0; index < kSceneCommands; ++index) {
    if (index > 0) body += ',';
    body += mixed_command(index, variant);
  }
  return body + "]}";
}

// Segment `index` of a 10 x 50 grid of small widgets, four commands each.
std::string segment_entry(int index, int variant) {
  double w = kWidth / 10.0;
  double h = kHeight / 50.0 * 2;
  double x = (index % 10) * w;
  double y = (index / 10 % 25) * h;
  std::string colour = quoted(kColours[(index + variant) % 8]);
  return "{\"id\":\"s" + std::to_string(index) + "\",\"bounds\":" + rect(x, y, w, h) + ",\"commands\":[" +
         "[\"rect\"," + rect(x, y, w - 8, h) + "," + colour + ",0,\"\",0]," + "[\"text\",\"row " +
         std::to_string(index) + "." + std::to_string(variant) + "\"," + number(x + 16) + "," + number(y) +
         ",\"#ffffff\",14,false]," + "[\"icon\"," + quoted(kIcons[(index + variant) % 10]) + "," + number(x) + "," +
         number(y) + ",16,\"#ffffff\"]," + "[\"line\"," + number(x) + "," + number(y + h - 1) + "," +
         number(x + w - 8) + "," + number(y + h - 1) + "," + colour + ",1]]}";
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
  return Controller::launch(options, error);
}

void BM_EndToEnd(benchmark::State& state) {
  Step open;
  Step commit;
  Step present_commit;
  Step patch;
  Step present_patch;
  Step snapshot;
  const std::string frames[2] = {frame_command(0), frame_command(1)};
  const std::string segments = full_patch();
  std::vector<std::string> patches;
  for (int k = 0; k < kWarmUp + kPatches; ++k) patches.push_back(one_segment_patch((k * 97) % kSegments, k % 2 + 1));

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
    for (int k = 0; k < kWarmUp + kSnapshots; ++k) snapshot.record(*host, kSnapshot, k >= kWarmUp);
    host->close();
  }

  if (!report(state, "open", open, kFloorRoundTrips) || !report(state, "commit", commit, kFloorRoundTrips / 4) ||
      !report(state, "present_after_commit", present_commit, kFloorRoundTrips) ||
      !report(state, "patch", patch, kFloorRoundTrips) ||
      !report(state, "present_after_patch", present_patch, kFloorRoundTrips) ||
      !report(state, "snapshot", snapshot, kSnapshots)) {
    return;
  }
  double commit_p50 = bench::percentiles(commit.samples).p50 * 1e-6;
  double present_p50 = bench::percentiles(present_commit.samples).p50 * 1e-6;
  state.counters["commit_commands_per_second"] = kSceneCommands / commit_p50;
  state.counters["commit_and_present_commands_per_second"] = kSceneCommands / (commit_p50 + present_p50);
  state.counters["commit_request_bytes"] = static_cast<double>(commit.request_bytes);
  state.counters["snapshot_reply_bytes"] = static_cast<double>(snapshot.reply_bytes);
  state.SetLabel("headless 200 x 60 terminal; 2,000-command scene; 500 segments of 4 commands");
}
BENCHMARK(BM_EndToEnd)->Iterations(1)->Unit(benchmark::kMillisecond);

// The snapshot object as cJSON items, built the way a reply would be built
// item by item: one object of five members per cell.
cJSON* rebuild_with_cjson(const cJSON* snapshot) {
  cJSON* copy = cJSON_CreateObject();
  cJSON_AddNumberToObject(copy, "columns", cJSON_GetObjectItemCaseSensitive(snapshot, "columns")->valuedouble);
  cJSON_AddNumberToObject(copy, "rows", cJSON_GetObjectItemCaseSensitive(snapshot, "rows")->valuedouble);
  cJSON* cells = cJSON_AddArrayToObject(copy, "cells");
  const cJSON* source_cell = nullptr;
  cJSON_ArrayForEach(source_cell, cJSON_GetObjectItemCaseSensitive(snapshot, "cells")) {
    cJSON* cell = cJSON_CreateObject();
    cJSON_AddStringToObject(cell, "text", cJSON_GetObjectItemCaseSensitive(source_cell, "text")->valuestring);
    for (const char* key : {"foreground", "background"}) {
      int rgb[3];
      const cJSON* channel = cJSON_GetObjectItemCaseSensitive(source_cell, key)->child;
      for (int& value : rgb) {
        value = channel->valueint;
        channel = channel->next;
      }
      cJSON_AddItemToObject(cell, key, cJSON_CreateIntArray(rgb, 3));
    }
    cJSON_AddNumberToObject(cell, "width", cJSON_GetObjectItemCaseSensitive(source_cell, "width")->valuedouble);
    cJSON_AddBoolToObject(cell, "underline", cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(source_cell, "underline")));
    cJSON_AddItemToArray(cells, cell);
  }
  cJSON* rows_text = cJSON_AddArrayToObject(copy, "rows_text");
  const cJSON* row = nullptr;
  cJSON_ArrayForEach(row, cJSON_GetObjectItemCaseSensitive(snapshot, "rows_text")) {
    cJSON_AddItemToArray(rows_text, cJSON_CreateString(row->valuestring));
  }
  return copy;
}

void BM_TerminalSnapshotHostCpu(benchmark::State& state) {
  constexpr int kMeasured = 30;
  Step snapshot;
  double host_seconds = 0;
  double cjson_seconds = 0;
  bool same_text = false;
  for (auto _ : state) {
    std::string error;
    auto host = launch(&error);
    if (!host) {
      state.SkipWithError(("Could not start the host: " + error).c_str());
      return;
    }
    Step setup;
    setup.record(*host, kOpen, false);
    setup.record(*host, frame_command(0), false);
    setup.record(*host, kPresent, false);
    for (int k = 0; k < kWarmUp; ++k) snapshot.record(*host, kSnapshot, false);
    const double before = bench::process_cpu_seconds(host->process_id());
    for (int k = 0; k < kMeasured; ++k) snapshot.record(*host, kSnapshot, true);
    const double after = bench::process_cpu_seconds(host->process_id());
    auto last = host->request(kSnapshot, kWaitSeconds);
    if (!setup.failure.empty() || !snapshot.failure.empty() || before < 0 || after < 0 || !last || !last->ok) {
      state.SkipWithError(("The snapshots failed: " + setup.failure + snapshot.failure).c_str());
      return;
    }
    host_seconds = (after - before) / kMeasured;

    // The reference: the same object built item by item and printed by cJSON.
    constexpr int kBuilds = 5;
    std::clock_t start = std::clock();
    for (int k = 0; k < kBuilds; ++k) {
      lumora::json::JsonPtr rebuilt(rebuild_with_cjson(last->result.get()));
      char* text = cJSON_PrintUnformatted(rebuilt.get());
      same_text = text != nullptr && last->body == std::string("{\"ok\":true,\"result\":") + text + "}";
      cJSON_free(text);
    }
    cjson_seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC / kBuilds;
    host->close();
  }
  if (!same_text) {
    state.SkipWithError("The snapshot differs from the object cJSON prints");
    return;
  }
  state.counters["host_cpu_us"] = host_seconds * 1e6;
  state.counters["host_cpu_us_cjson_built"] = cjson_seconds * 1e6;
  state.counters["round_trip_p50_us"] = bench::percentiles(snapshot.samples).p50;
  state.counters["reply_bytes"] = static_cast<double>(snapshot.reply_bytes);
  state.SetLabel("headless 200 x 60 terminal after a 2,000-command commit; cJSON reference in-process");
}
BENCHMARK(BM_TerminalSnapshotHostCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

// The host process's processor time per dashboard update through the
// controller: a "frame" where only the clock's text changed, answered and
// then presented by the host's own scheduler, as a live UI drives it. The
// reference is the host's processor time per "stats" request in the same
// session: what any request costs in socket reads, writes and waits.
void BM_TerminalDashboardHostCpu(benchmark::State& state) {
  constexpr int kUpdates = 600;
  const std::vector<std::string> frames = bench::dashboard_frames();
  const std::string open = "{\"op\":\"open\",\"backend\":\"terminal\",\"headless\":true,\"columns\":" +
                           std::to_string(bench::kDashboardColumns) +
                           ",\"rows\":" + std::to_string(bench::kDashboardRows) + "}";
  constexpr const char* kStats = R"({"op":"stats"})";
  double update_seconds = 0;
  double stats_seconds = 0;
  double presents_per_update = 0;
  for (auto _ : state) {
    std::string error;
    auto host = launch(&error);
    if (!host) {
      state.SkipWithError(("Could not start the host: " + error).c_str());
      return;
    }
    Step setup;
    Step update;
    Step stats;
    setup.record(*host, open, false);
    for (int k = 0; k < kWarmUp; ++k) update.record(*host, frames[k], false);
    auto frames_before = host->request(kStats, kWaitSeconds);
    double before = bench::process_cpu_seconds(host->process_id());
    for (int k = 0; k < kUpdates; ++k) update.record(*host, frames[k % frames.size()], true);
    // A request after the last update waits out its present.
    auto frames_after = host->request(kStats, kWaitSeconds);
    double after = bench::process_cpu_seconds(host->process_id());
    for (int k = 0; k < kUpdates; ++k) stats.record(*host, kStats, true);
    double after_stats = bench::process_cpu_seconds(host->process_id());
    if (!setup.failure.empty() || !update.failure.empty() || !stats.failure.empty() || !frames_before ||
        !frames_after || before < 0 || after_stats < 0) {
      state.SkipWithError(("The dashboard updates failed: " + setup.failure + update.failure + stats.failure).c_str());
      return;
    }
    update_seconds = (after - before) / kUpdates;
    stats_seconds = (after_stats - after) / kUpdates;
    auto frames_of = [](const lumora::client::Reply& reply) {
      return cJSON_GetObjectItemCaseSensitive(reply.result.get(), "frames")->valuedouble;
    };
    presents_per_update = (frames_of(*frames_after) - frames_of(*frames_before)) / kUpdates;
    host->close();
  }
  state.counters["host_cpu_us"] = update_seconds * 1e6;
  state.counters["stats_host_cpu_us"] = stats_seconds * 1e6;
  state.counters["presents_per_update"] = presents_per_update;
  state.counters["frame_bytes"] = static_cast<double>(frames[0].size());
  state.SetLabel("headless 200 x 60 dashboard, one changed text per update; target host_cpu_us at most 60");
}
BENCHMARK(BM_TerminalDashboardHostCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
