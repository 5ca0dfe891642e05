// The window both peer programs draw in: hidden, kDashboardWidth ×
// kDashboardHeight, with SDL's software renderer drawing straight into the
// window's own surface. The video driver is whatever SDL_VIDEODRIVER names.
#pragma once

#include <string>

struct SDL_Renderer;
struct SDL_Window;

namespace lumora::bench::peers {

class SoftwareWindow {
 public:
  SoftwareWindow() = default;
  ~SoftwareWindow();
  SoftwareWindow(const SoftwareWindow&) = delete;
  SoftwareWindow& operator=(const SoftwareWindow&) = delete;

  // False with a message on failure; what was opened is closed with the object.
  bool open(std::string* error);
  SDL_Window* window() const { return window_; }
  SDL_Renderer* renderer() const { return renderer_; }

 private:
  bool video_started_ = false;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
};

}  // namespace lumora::bench::peers
