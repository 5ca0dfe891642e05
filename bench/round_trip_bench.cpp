// Round trip of {"op":"stats"} through the controller and the host, next to
// the floor measured in the same run: a bare ping-pong of frames of the same
// sizes between two loopback sockets that wait in poll.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "client/controller.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace {

using lumora::client::Controller;
using lumora::client::kFrameHeaderSize;
namespace platform = lumora::platform;

constexpr int kRequests = 10000;
constexpr int kWarmUpRequests = 200;
constexpr double kWaitSeconds = 10;
constexpr const char* kStats = R"({"op":"stats"})";
constexpr const char* kOpenHeadless = R"({"op":"open","backend":"terminal","headless":true,"columns":80,"rows":24})";

struct Percentiles {
  double p50 = 0;
  double p99 = 0;
};

// Microseconds.
Percentiles percentiles(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  auto at = [&](double fraction) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(fraction * samples.size()))] * 1e6;
  };
  return {at(0.50), at(0.99)};
}

bool send_all(const platform::Socket& socket, const std::vector<char>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    platform::IoResult result = platform::send_some(socket, bytes.data() + sent, bytes.size() - sent);
    if (result.status == platform::IoStatus::ok) {
      sent += result.bytes;
    } else if (result.status != platform::IoStatus::would_block ||
               platform::wait_socket(socket, false, true, kWaitSeconds, nullptr) != platform::WaitStatus::ready) {
      return false;
    }
  }
  return true;
}

// Waits in poll like the controller does, then reads the whole frame.
bool receive_all(const platform::Socket& socket, std::vector<char>& bytes) {
  std::size_t got = 0;
  while (got < bytes.size()) {
    if (platform::wait_socket(socket, true, false, kWaitSeconds, nullptr) != platform::WaitStatus::ready) return false;
    platform::IoResult result = platform::recv_some(socket, bytes.data() + got, bytes.size() - got);
    if (result.status == platform::IoStatus::ok) {
      got += result.bytes;
    } else if (result.status != platform::IoStatus::would_block) {
      return false;
    }
  }
  return true;
}

// The bare peer: this binary started again with kPeerVariable set connects
// like the host, says hello and answers every frame with a reply frame of
// the given body, waiting in poll and parsing nothing. It is the other
// end of the floor, and a stand-in host that shows what the controller alone
// costs.
constexpr const char* kPeerVariable = "LUMORA_BENCH_PEER_REPLY";

std::vector<char> frame(std::uint32_t type, std::uint32_t id, std::string_view body) {
  std::vector<char> bytes(kFrameHeaderSize + body.size());
  lumora::client::encode_frame_header(type, id, static_cast<std::uint32_t>(body.size()),
                                      reinterpret_cast<unsigned char*>(bytes.data()));
  std::copy(body.begin(), body.end(), bytes.begin() + kFrameHeaderSize);
  return bytes;
}

std::uint32_t field(const std::vector<char>& bytes, std::size_t offset) {
  const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
  return raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<std::uint32_t>(raw[3]) << 24;
}

[[noreturn]] void run_peer(std::string_view reply_body) {
  std::string port;
  std::string token;
  std::ifstream command_line("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> args;
  for (std::string arg; std::getline(command_line, arg, '\0');) args.push_back(arg);
  for (std::size_t index = 1; index + 1 < args.size(); index += 2) {
    if (args[index] == "--port") port = args[index + 1];
    if (args[index] == "--token") token = args[index + 1];
  }
  platform::Socket socket =
      platform::connect_loopback(static_cast<std::uint16_t>(std::atoi(port.c_str())), kWaitSeconds);
  if (!socket.valid() || !send_all(socket, frame(lumora::client::kFrameHello, 0, token))) std::_Exit(2);
  std::vector<char> reply = frame(lumora::client::kFrameReply, 0, reply_body);
  std::vector<char> header(kFrameHeaderSize);
  std::vector<char> body;
  while (receive_all(socket, header)) {
    body.resize(field(header, 12));
    if (!receive_all(socket, body)) break;
    std::copy_n(header.begin() + 8, 4, reply.begin() + 8);  // the request's id
    if (!send_all(socket, reply)) break;
  }
  std::_Exit(0);
}

const bool kRanAsPeer = [] {
  if (const char* reply_body = std::getenv(kPeerVariable)) run_peer(reply_body);
  return false;
}();

// The peer answers with the host's own reply text, so that the controller
// parses the same JSON as with the host.
lumora::client::LaunchOptions peer_options(const std::string& reply_body) {
  lumora::client::LaunchOptions options;
  options.host_path = "/proc/self/exe";
  options.environment = {std::string(kPeerVariable) + "=" + reply_body};
  return options;
}

// Bare frames both ways: the request's size out, the reply's size back.
std::vector<double> floor_samples(std::size_t request_body, const std::string& reply_body, int count) {
  std::uint16_t port = 0;
  platform::Socket listener = platform::listen_loopback(&port);
  lumora::client::LaunchOptions options = peer_options(reply_body);
  platform::SpawnOptions spawn;
  spawn.path = options.host_path;
  spawn.environment = options.environment;
  spawn.args = {"--port", std::to_string(port), "--token", lumora::client::make_token()};
  std::string error;
  auto peer = platform::ChildProcess::spawn(spawn, &error);
  if (!peer) return {};
  platform::Socket socket = platform::accept_connection(listener, kWaitSeconds);
  std::vector<char> hello(kFrameHeaderSize + 64);
  if (!socket.valid() || !receive_all(socket, hello)) return {};

  std::vector<char> request = frame(lumora::client::kFrameCommand, 1, std::string(request_body, 'q'));
  std::vector<char> reply(kFrameHeaderSize + reply_body.size());
  std::vector<double> samples;
  samples.reserve(count);
  for (int index = 0; index < count; ++index) {
    double start = platform::now_seconds();
    if (!send_all(socket, request) || !receive_all(socket, reply)) break;
    samples.push_back(platform::now_seconds() - start);
  }
  socket.close();
  peer->wait_exit(kWaitSeconds);
  return samples;
}

// Round trips of `request` through the controller, after a warm-up.
bool client_samples(Controller& host, std::string_view request, int count, std::vector<double>* samples) {
  samples->clear();
  samples->reserve(count);
  for (int index = 0; index < kWarmUpRequests + count; ++index) {
    double start = platform::now_seconds();
    auto reply = host.request(request, kWaitSeconds);
    double elapsed = platform::now_seconds() - start;
    if (!reply) return false;
    if (index >= kWarmUpRequests) samples->push_back(elapsed);
  }
  return true;
}

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
  if (!opened || !opened->ok) state.SetLabel("backend not open: stats answers with an error");
  auto first = host->request(kStats);
  if (!first) {
    state.SkipWithError("No reply to stats");
    return;
  }
  const std::string reply_text = first->body;

  Percentiles client;
  Percentiles client_alone;
  Percentiles floor;
  for (auto _ : state) {
    std::vector<double> samples;
    if (!client_samples(*host, kStats, kRequests, &samples)) {
      state.SkipWithError("A stats request went unanswered");
      return;
    }
    client = percentiles(samples);

    // The controller against a peer that does no work of its own.
    auto bare_peer = Controller::launch(peer_options(reply_text), &error);
    if (!bare_peer || !client_samples(*bare_peer, kStats, kRequests, &samples)) {
      state.SkipWithError(("The bare peer failed: " + error).c_str());
      return;
    }
    client_alone = percentiles(samples);
    bare_peer.reset();

    std::vector<double> bare =
        floor_samples(std::char_traits<char>::length(kStats), reply_text, kWarmUpRequests + kRequests);
    if (bare.size() < static_cast<std::size_t>(kWarmUpRequests + kRequests)) {
      state.SkipWithError("The loopback ping-pong failed");
      return;
    }
    bare.erase(bare.begin(), bare.begin() + kWarmUpRequests);
    floor = percentiles(std::move(bare));
  }
  state.counters["requests"] = kRequests;
  state.counters["reply_bytes"] = static_cast<double>(reply_text.size());
  state.counters["p50_us"] = client.p50;
  state.counters["p99_us"] = client.p99;
  state.counters["floor_p50_us"] = floor.p50;
  state.counters["floor_p99_us"] = floor.p99;
  state.counters["client_alone_p50_us"] = client_alone.p50;
  state.counters["client_alone_p99_us"] = client_alone.p99;
  state.counters["client_alone_over_floor"] = floor.p50 > 0 ? client_alone.p50 / floor.p50 : 0;
  state.counters["p50_over_floor"] = floor.p50 > 0 ? client.p50 / floor.p50 : 0;
  host->close();
}
BENCHMARK(BM_StatsRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
