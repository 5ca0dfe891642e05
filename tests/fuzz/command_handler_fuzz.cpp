// Fuzz target for whole command bodies, as the host receives them, through
// the command handler with a headless terminal open: the reader, the NUL
// scan for messages, dispatch and every terminal operation. One input
// holds up to eight bodies separated by 0x1E, so that a scene can be built
// and then queried. Every frame the host queues (replies, events, the final
// notice) must be valid UTF-8 JSON, and each command gets exactly one reply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "host/dispatch.h"
#include "host/events.h"
#include "host/frames.h"
#include "host/scheduling.h"
#include "host/session.h"
#include "terminal/terminal_backend.h"

namespace {

using namespace lumora;

std::uint32_t read_u32(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// Checks and empties the send queue; the number of replies it held.
int take_frames(host::HostSession& session) {
  int replies = 0;
  const unsigned char* at = session.send_buffer.get() + session.send_offset;
  std::size_t left = session.send_length;
  while (left > 0) {
    if (left < host::kFrameHeaderSize || std::memcmp(at, "RZV1", 4) != 0) std::abort();
    std::uint32_t type = read_u32(at + 4);
    std::size_t length = read_u32(at + 12);
    if (length > host::kMaxBody || length + host::kFrameHeaderSize > left) std::abort();
    fuzz::require_utf8_json(std::string_view(reinterpret_cast<const char*>(at) + host::kFrameHeaderSize, length));
    if (type == host::kFrameReply) ++replies;
    at += host::kFrameHeaderSize + length;
    left -= host::kFrameHeaderSize + length;
  }
  session.send_offset = 0;
  session.send_length = 0;
  return replies;
}

// The two protocol buffers (50 MiB) are allocated once for the whole run.
std::unique_ptr<host::HostSession> g_buffers;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!g_buffers) {
    g_buffers = std::make_unique<host::HostSession>();
    if (!host::allocate_buffers(*g_buffers)) std::abort();
  }
  auto session = std::make_unique<host::HostSession>();
  session->recv_buffer = std::move(g_buffers->recv_buffer);
  session->send_buffer = std::move(g_buffers->send_buffer);
  static constexpr host::BackendFactory kTerminalOnly[] = {{"terminal", terminal::open_terminal_backend}};
  session->backends = kTerminalOnly;
  static constexpr std::string_view kOpen =
      R"({"op":"open","backend":"terminal","headless":true,"color":"truecolor","columns":40,"rows":12})";
  std::uint32_t id = 0;
  host::handle_command(*session, ++id, kOpen.data(), kOpen.size());
  if (take_frames(*session) != 1 || !session->backend_open) std::abort();

  host::HostErrorBuffer present_error;
  for (std::string_view body : fuzz::split_commands(data, size)) {
    if (session->closing || session->stopped) break;
    host::handle_command(*session, ++id, body.data(), body.size());
    // Exactly one reply, unless the queue had no room (it always has here).
    if (session->stopped) std::abort();
    int replies = take_frames(*session);
    host::forward_events(*session);
    host::present_if_due(*session, present_error.text());
    replies += take_frames(*session);
    if (replies != 1) std::abort();
  }
  g_buffers->recv_buffer = std::move(session->recv_buffer);
  g_buffers->send_buffer = std::move(session->send_buffer);
  return 0;
}
