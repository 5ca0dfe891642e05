// Helpers for tests of the window backend: the headless video environment,
// a host with a window open, and the pixels of a "capture" file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client/controller.h"

namespace lumora::test {

// The offscreen video driver and the deterministic software renderer.
std::vector<std::string> headless_video_environment();
// The same for the calling process, before its first SDL call.
void use_headless_video_in_process();

// The host at `host_path`, in the headless video environment, with a window
// opened by {"op":"open","backend":"window","hidden":true,<members>}; fails
// the current test (and returns null) when it cannot.
std::unique_ptr<client::Controller> launch_window_host_at(const std::string& host_path, std::string_view members);
#ifdef LUMORA_HOST_PATH
inline std::unique_ptr<client::Controller> launch_window_host(std::string_view members = "") {
  return launch_window_host_at(LUMORA_HOST_PATH, members);
}
#endif

using Rgba = std::array<std::uint8_t, 4>;

struct CapturedPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // R, G, B, A, rows top to bottom
  Rgba at(int x, int y) const;
  // How many pixels of the rectangle have exactly this colour.
  int count(int x, int y, int w, int h, Rgba colour) const;
};

// Reads a BMP or PNG capture (by its content); false when it cannot.
bool read_capture(const std::string& path, CapturedPixels& pixels);

// A fresh path under the temporary directory, removed when the object goes.
class TempPath {
 public:
  explicit TempPath(std::string_view suffix);
  ~TempPath();
  TempPath(const TempPath&) = delete;
  TempPath& operator=(const TempPath&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// "#rrggbbaa"-style text of a pixel, for messages.
std::string rgba_text(Rgba colour);

}  // namespace lumora::test
