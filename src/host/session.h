// The host's state for its one controller connection: the socket, the two
// fixed protocol buffers, the open backend, the scheduling flags and the
// statistics block. One plain structure, passed by reference to every host
// operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "host/backend.h"
#include "json/json_reader.h"
#include "platform/socket.h"
#include "scene/limits.h"

namespace lumora::host {

using scene::kFrameHeaderSize;
using scene::kMaxBody;
using scene::kReadThreshold;
using scene::kRecvBufferSize;
using scene::kSendBufferSize;

// Ring of the most recent scene update latencies.
inline constexpr std::uint32_t kUpdateSampleCapacity = 120;

// Counters and timings reported by "stats"; all zeroed together by a reset.
struct HostStatistics {
  std::uint64_t frames = 0;
  std::uint64_t requests = 0;
  std::uint64_t input_events = 0;
  std::uint64_t scene_updates = 0;
  double draw_total = 0;
  double present_total = 0;
  double last_draw = 0;
  double max_draw = 0;
  double last_present = 0;
  double max_present = 0;
  double update_total = 0;
  double last_update = 0;
  double max_update = 0;
  double commit_total = 0;
  double last_commit = 0;
  double max_commit = 0;
  double render_total = 0;
  double last_render = 0;
  double max_render = 0;
  double last_update_draw = 0;
  double last_update_present = 0;
  double update_samples[kUpdateSampleCapacity] = {};
  std::uint32_t sample_count = 0;
  std::uint32_t next_sample = 0;
  std::uint64_t last_scene_commands_touched = 0;
  std::uint64_t last_scene_commands_replayed = 0;
  std::uint64_t last_scene_segments_tested = 0;
};

struct HostSession {
  platform::Socket socket;
  bool send_would_block = false;
  // When the queued bytes last stopped moving (0 while they move or none wait).
  double send_stalled_since = 0;
  // Set from a successful "open" until shutdown.
  std::unique_ptr<Backend> backend;
  // Allocated once at start-up (allocate_buffers) and never grown.
  std::unique_ptr<unsigned char[]> recv_buffer;
  std::unique_ptr<unsigned char[]> send_buffer;
  std::uint64_t recv_length = 0;
  std::uint64_t send_offset = 0;
  std::uint64_t send_length = 0;
  std::uint32_t last_request_id = 0;
  bool backend_open = false;
  bool continuous = false;
  bool closing = false;
  bool stopped = false;
  bool protocol_error = false;
  bool scene_committed = false;
  bool suspended = false;
  bool present_requested = false;
  bool update_pending = false;
  double start_time = 0;
  double last_present_time = 0;
  double close_deadline = 0;
  double redraw_interval = 0;
  double fps_limit = 0;
  double update_start_time = 0;
  HostStatistics stats;
  // Holds the command being answered; its storage is reused by the next.
  json::JsonReader request;
  // The backends "open" can choose from (the shipped binary and test builds differ).
  BackendFactories backends;
};

}  // namespace lumora::host
