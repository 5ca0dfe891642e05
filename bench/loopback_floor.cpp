#include "loopback_floor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace lumora::bench {
namespace {

namespace platform = lumora::platform;
using client::kFrameHeaderSize;

constexpr double kWaitSeconds = 30;
// The peer's reply: either this text, or this many filler bytes (large
// replies do not fit in one environment entry).
constexpr const char* kPeerReplyVariable = "LUMORA_BENCH_PEER_REPLY";
constexpr const char* kPeerReplyBytesVariable = "LUMORA_BENCH_PEER_REPLY_BYTES";

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

std::vector<char> frame(std::uint32_t type, std::uint32_t id, std::string_view body) {
  std::vector<char> bytes(kFrameHeaderSize + body.size());
  client::encode_frame_header(type, id, static_cast<std::uint32_t>(body.size()),
                              reinterpret_cast<unsigned char*>(bytes.data()));
  std::copy(body.begin(), body.end(), bytes.begin() + kFrameHeaderSize);
  return bytes;
}

std::uint32_t field(const std::vector<char>& bytes, std::size_t offset) {
  const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
  return raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<std::uint32_t>(raw[3]) << 24;
}

// Connects like the host, says hello and answers every frame with the reply
// frame, under the request's id, until the other end hangs up.
[[noreturn]] void run_peer(const std::string& reply_body) {
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
  if (!socket.valid() || !send_all(socket, frame(client::kFrameHello, 0, token))) std::_Exit(2);
  std::vector<char> reply = frame(client::kFrameReply, 0, reply_body);
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

// Started as the peer, the binary never reaches the benchmarks.
const bool kRanAsPeer = [] {
  if (const char* reply_body = std::getenv(kPeerReplyVariable)) run_peer(reply_body);
  if (const char* reply_bytes = std::getenv(kPeerReplyBytesVariable)) {
    run_peer(std::string(std::strtoull(reply_bytes, nullptr, 10), 'x'));
  }
  return false;
}();

}  // namespace

Percentiles percentiles(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  auto at = [&](double fraction) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(fraction * samples.size()))] * 1e6;
  };
  return {at(0.50), at(0.99)};
}

client::LaunchOptions peer_options(const std::string& reply_body) {
  client::LaunchOptions options;
  options.host_path = "/proc/self/exe";
  options.environment = {std::string(kPeerReplyVariable) + "=" + reply_body};
  return options;
}

std::vector<double> floor_samples(std::size_t request_bytes, std::size_t reply_bytes, int count, int warm_up) {
  std::uint16_t port = 0;
  platform::Socket listener = platform::listen_loopback(&port);
  platform::SpawnOptions spawn;
  spawn.path = "/proc/self/exe";
  spawn.environment = {std::string(kPeerReplyBytesVariable) + "=" + std::to_string(reply_bytes)};
  spawn.args = {"--port", std::to_string(port), "--token", client::make_token()};
  std::string error;
  auto peer = platform::ChildProcess::spawn(spawn, &error);
  if (!peer) return {};
  platform::Socket socket = platform::accept_connection(listener, kWaitSeconds);
  std::vector<char> hello(kFrameHeaderSize + 64);
  if (!socket.valid() || !receive_all(socket, hello)) return {};

  std::vector<char> request = frame(client::kFrameCommand, 1, std::string(request_bytes, 'q'));
  std::vector<char> reply(kFrameHeaderSize + reply_bytes);
  std::vector<double> samples;
  samples.reserve(count);
  for (int index = 0; index < warm_up + count; ++index) {
    double start = platform::now_seconds();
    if (!send_all(socket, request) || !receive_all(socket, reply)) return {};
    if (index >= warm_up) samples.push_back(platform::now_seconds() - start);
  }
  socket.close();
  peer->wait_exit(kWaitSeconds);
  return samples;
}

bool request_samples(client::Controller& host, const std::string& request, int count, int warm_up,
                     std::vector<double>* samples) {
  samples->clear();
  samples->reserve(count);
  for (int index = 0; index < warm_up + count; ++index) {
    double start = platform::now_seconds();
    auto reply = host.request(request, kWaitSeconds);
    double elapsed = platform::now_seconds() - start;
    if (!reply || !reply->ok) return false;
    if (index >= warm_up) samples->push_back(elapsed);
  }
  return true;
}

}  // namespace lumora::bench
