// The operations the host calls on its one open backend. The host never
// draws, reads input or keeps a scene itself: a terminal or a window backend
// implements this interface, and the host reaches it only through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "json/json.h"
#include "scene/error_text.h"

namespace lumora::host {

using scene::ErrorText;
using json::JsonPtr;

// The error text the host hands every operation that can fail, zeroed
// before each call.
inline constexpr std::size_t kErrorTextSize = 1024;
using HostErrorBuffer = scene::ErrorBuffer<kErrorTextSize>;

// How the open backend takes part in the main loop's wait.
struct WaitSource {
  int descriptor = -1;  // polled for readability together with the socket; -1: none
  bool ready = false;   // input is already waiting: do not wait at all
};

struct SceneCounts {
  std::uint64_t commands_touched = 0;   // by the last commit or patch
  std::uint64_t commands_replayed = 0;  // by the last draw
};

// Every call is made on the host's main thread, one at a time. A failing call
// writes one message into `error` (or leaves it empty for the host's own
// message) and leaves the previous state in force. JSON items passed in stay
// the caller's; items returned become the caller's.
class Backend {
 public:
  virtual ~Backend() = default;  // close: restores what the backend changed and frees everything

  // Describes the backend: the "open" reply and the base of "stats". Never fails.
  virtual JsonPtr info() = 0;
  // `commands` is the "commands" member of a "frame" command and may be null.
  virtual bool commit_scene(const cJSON* commands, ErrorText error) = 0;
  // `command` is the whole "patch" command object.
  virtual bool patch_scene(const cJSON* command, ErrorText error) = 0;
  // Every other "op"; the result (JSON null included) or nullptr on failure.
  virtual JsonPtr run_operation(const cJSON* command, ErrorText error) = 0;
  // Zeroes the backend's own counters (not the sizes of what it retains).
  virtual void reset_statistics() = 0;
  // Hands over the queued events as one array, possibly empty.
  virtual JsonPtr drain_events() = 0;
  // The two halves of a present; present_frame only follows a successful draw.
  virtual bool draw_retained_scene(ErrorText error) = 0;
  virtual bool present_frame(ErrorText error) = 0;
  virtual SceneCounts last_scene_counts() const = 0;
  virtual std::uint64_t last_segments_tested() const = 0;

  // Time-driven content (an animation or a transition) still needs frames,
  // so the host presents without being asked.
  virtual bool is_animating() const = 0;
  // The last drain stopped at its per-call limit with platform events still
  // waiting, so the host drains again without waiting.
  virtual bool input_pending() const = 0;

  // Called right before every wait of the main loop (not once closing): a
  // backend whose input arrives on a descriptor of its own offers it here, so
  // that its input wakes the loop without being polled. The descriptor stays
  // open until the next call; one that hangs up keeps the loop awake.
  virtual WaitSource prepare_wait() { return {}; }
};

// Opens a backend from the whole "open" command, or returns nullptr with the
// message in `error` (an empty message makes the host say "Could not open backend").
using BackendOpener = std::unique_ptr<Backend> (*)(const cJSON* command, ErrorText error);

// One backend "open" can choose, by the exact "backend" member that names it.
struct BackendFactory {
  std::string_view name;
  BackendOpener open = nullptr;
};

// Every backend the process was built with, handed to the host by its entry
// point, so that the host itself includes no backend.
using BackendFactories = std::span<const BackendFactory>;

}  // namespace lumora::host
