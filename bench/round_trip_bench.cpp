// Round trip of {"op":"stats"} through the controller and the host (its
// reply carrying a full ring of update latencies), next to
// the floor measured in the same run: a bare ping-pong of frames of the same
// sizes between two loopback sockets that wait in poll. Beside it, what the
// host spends on one such request in-process, and how much of that is
// cJSON printing the reply.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cstring>
#include <string>
#include <vector>

#include "client/controller.h"
#include "host/dispatch.h"
#include "host/frames.h"
#include "host/session.h"
#include "json/json.h"
#include "loopback_floor.h"
#include "process_cpu.h"
#include "terminal/terminal_backend.h"

namespace {

using lumora::client::Controller;
namespace bench = lumora::bench;

constexpr int kRequests = 10000;
constexpr int kWarmUpRequests = 200;
// Scene updates before the stats requests: enough to fill the latency ring.
constexpr int kUpdatesBeforeStats = 120;
constexpr const char* kStats = R"({"op":"stats"})";
constexpr const char* kOpenHeadless = R"({"op":"open","backend":"terminal","headless":true,"columns":80,"rows":24})";

void BM_StatsRoundTrip(benchmark::State& state) {
  lumora::client::LaunchOptions options;
  options.host_path = LUMORA_HOST_PATH;
  std::string error;
  auto host = Controller::launch(options, &error);
  if (!host) {
    state.SkipWithError(("Could not start the host: " + error).c_str());
    return;
  }
  auto opened = host->request(kOpenHeadless);
  // A live UI's statistics carry a full ring of scene update latencies:
  // fill it, so that the reply holds every number a real one holds.
  for (int k = 0; k < kUpdatesBeforeStats && opened && opened->ok; ++k) {
    auto committed = host->request("{\"op\":\"frame\",\"commands\":[[\"text\",\"update " + std::to_string(k) +
                                   "\",0,0,\"#ffffff\",14,false]]}");
    if (!committed || !committed->ok) opened.reset();
  }
  auto first = host->request(kStats);
  if (!opened || !opened->ok || !first || !first->ok) {
    state.SkipWithError("The headless terminal did not open or stats failed");
    return;
  }
  const std::string reply_text = first->body;

  bench::Percentiles client;
  bench::Percentiles client_alone;
  bench::Percentiles floor;
  double host_cpu_seconds = 0;
  double peer_cpu_seconds = 0;
  for (auto _ : state) {
    std::vector<double> samples;
    double before = bench::process_cpu_seconds(host->process_id());
    if (!bench::request_samples(*host, kStats, kRequests, kWarmUpRequests, &samples)) {
      state.SkipWithError("A stats request went unanswered");
      return;
    }
    double after = bench::process_cpu_seconds(host->process_id());
    if (before < 0 || after < 0) {
      state.SkipWithError("The host's processor time cannot be read");
      return;
    }
    host_cpu_seconds = (after - before) / (kRequests + kWarmUpRequests);
    client = bench::percentiles(samples);

    // The controller against a peer that does no work of its own.
    auto bare_peer = Controller::launch(bench::peer_options(reply_text), &error);
    double peer_before = bare_peer ? bench::process_cpu_seconds(bare_peer->process_id()) : -1;
    if (!bare_peer || !bench::request_samples(*bare_peer, kStats, kRequests, kWarmUpRequests, &samples)) {
      state.SkipWithError(("The bare peer failed: " + error).c_str());
      return;
    }
    peer_cpu_seconds = (bench::process_cpu_seconds(bare_peer->process_id()) - peer_before) /
                       (kRequests + kWarmUpRequests);
    client_alone = bench::percentiles(samples);
    bare_peer.reset();

    std::vector<double> bare =
        bench::floor_samples(std::strlen(kStats), reply_text.size(), kRequests, kWarmUpRequests);
    if (bare.empty()) {
      state.SkipWithError("The loopback ping-pong failed");
      return;
    }
    floor = bench::percentiles(std::move(bare));
  }
  state.counters["requests"] = kRequests;
  state.counters["reply_bytes"] = static_cast<double>(reply_text.size());
  state.counters["p50_us"] = client.p50;
  state.counters["p50_us_floor"] = floor.p50;
  state.counters["p99_us"] = client.p99;
  state.counters["p99_us_floor"] = floor.p99;
  state.counters["client_alone_p50_us"] = client_alone.p50;
  state.counters["client_alone_p99_us"] = client_alone.p99;
  // Target: at most 25 µs of the host's processor time per request.
  // The peer's share is what one read, one write and one wait cost any
  // process on this machine.
  state.counters["host_cpu_us"] = host_cpu_seconds * 1e6;
  state.counters["host_cpu_us_bare_peer"] = peer_cpu_seconds * 1e6;
  state.counters["p50_over_floor"] = floor.p50 > 0 ? client.p50 / floor.p50 : 0;
  host->close();
}
BENCHMARK(BM_StatsRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond);

// The host's own share of one stats request, without sockets: the handler
// called in-process on an open headless 80 x 24 terminal, its reply queued
// and dropped. The reference prints the same reply tree with cJSON alone.
void BM_StatsHostHandling(benchmark::State& state) {
  namespace host = lumora::host;
  auto session = std::make_unique<host::HostSession>();
  if (!host::allocate_buffers(*session)) {
    state.SkipWithError("No memory for the host's buffers");
    return;
  }
  static constexpr host::BackendFactory kTerminalOnly[] = {{"terminal", lumora::terminal::open_terminal_backend}};
  session->backends = kTerminalOnly;
  std::uint32_t id = 0;
  auto handle = [&](std::string_view body) {
    session->send_offset = 0;
    session->send_length = 0;
    host::handle_command(*session, ++id, body.data(), body.size());
    return !session->stopped && session->send_length > host::kFrameHeaderSize;
  };
  if (!handle(kOpenHeadless) || !session->backend_open || !handle(kStats)) {
    state.SkipWithError("The headless terminal did not open or stats failed");
    return;
  }
  for (auto _ : state) {
    if (!handle(kStats)) {
      state.SkipWithError("A stats request failed");
      return;
    }
  }

  // The printer alone, over the reply just queued.
  const std::size_t reply_bytes = session->send_length - host::kFrameHeaderSize;
  lumora::json::JsonPtr reply(cJSON_ParseWithLength(
      reinterpret_cast<const char*>(session->send_buffer.get() + host::kFrameHeaderSize), reply_bytes));
  if (!reply) {
    state.SkipWithError("The stats reply does not parse");
    return;
  }
  constexpr int kPrints = 2000;
  // Processor time, like the handling figure, so that a loaded machine does not skew the two apart.
  std::clock_t start = std::clock();
  for (int k = 0; k < kPrints; ++k) {
    lumora::json::JsonText text = lumora::json::print_json(reply.get());
    benchmark::DoNotOptimize(text.get());
  }
  double printing_us = static_cast<double>(std::clock() - start) * 1e6 / CLOCKS_PER_SEC;
  state.counters["reply_bytes"] = static_cast<double>(reply_bytes);
  state.counters["handling_us"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 1e-6, benchmark::Counter::kIsRate |
                                                                             benchmark::Counter::kInvert);
  state.counters["handling_us_cjson"] = printing_us / kPrints;
}
BENCHMARK(BM_StatsHostHandling)->Unit(benchmark::kMicrosecond);

}  // namespace
