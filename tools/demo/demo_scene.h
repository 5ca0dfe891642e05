// The demo's scene: a segmented terminal UI built as JSON patches, so that
// the live parts (progress, clock, event log) are replaced one segment at a time.
#pragma once

#include <deque>
#include <string>

#include "json/json.h"

namespace lumora::demo {

// The size the headless demo renders at, and the full layout's size.
inline constexpr int kColumns = 100;
inline constexpr int kRows = 32;
// The smallest terminal the demo lays itself out for; below it the panels
// are cut, but the quit hint still shows in the last row.
inline constexpr int kMinColumns = 60;
inline constexpr int kMinRows = 20;
inline constexpr std::size_t kEventLogLines = 5;

struct DemoState {
  int columns = kColumns;  // the viewport in cells
  int rows = kRows;
  double progress = 0;        // 0..1
  std::string clock = "00:00:00.0";
  std::deque<std::string> event_log;  // newest last
  bool interactive = false;
};

// The first patch: background, every segment and their order. Sent again
// whenever the viewport changes size.
json::JsonPtr initial_patch(const DemoState& state);
// A patch that replaces only the live segments.
json::JsonPtr live_patch(const DemoState& state);
// One line describing an event or final notice for the event panel.
std::string describe_event(const cJSON* event);

}  // namespace lumora::demo
