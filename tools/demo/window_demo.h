// lumora-demo --window: the showcase in a desktop window, or rendered
// offscreen into a PNG capture when there is no display.
#pragma once

#include <string>
#include <vector>

#include "client/controller.h"

namespace lumora::demo {

inline constexpr const char* kDefaultWindowCapture = "demo-window.png";

struct WindowDemoOptions {
  bool headless = false;
  std::string capture_path;  // headless: where the PNG goes (default kDefaultWindowCapture)
  double seconds = 0;        // interactive: quit by itself after this long (0 = run until asked)
  double scale = 0;          // fixed scale; 0 follows the display
};

// True when DISPLAY or WAYLAND_DISPLAY names a display.
bool display_available();

// What the host's environment needs to render without a display: SDL's
// offscreen video driver and its software renderer, and no display names.
std::vector<std::string> offscreen_video_environment();

// What run_window_demo returns when the window could not open because no
// video driver would start (a display that names no reachable server): the
// caller may start a host with the offscreen environment and run headless.
inline constexpr int kNoVideoExit = -1;

// What the host's environment needs to show a window: unless the user chose
// a video driver, only the desktop drivers, so that a display that cannot be
// reached fails the open (SDL would otherwise fall back to its offscreen
// driver and the demo would wait on a window nobody sees).
std::vector<std::string> desktop_video_environment();

// Drives a host that was started (with the offscreen environment when
// headless) and returns the process exit code, or kNoVideoExit.
int run_window_demo(client::Controller& host, const WindowDemoOptions& options);

}  // namespace lumora::demo
