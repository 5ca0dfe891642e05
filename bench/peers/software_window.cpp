#include "peers/software_window.h"

#include <SDL.h>

#include "peers/dashboard_model.h"

namespace lumora::bench::peers {

SoftwareWindow::~SoftwareWindow() {
  if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  if (video_started_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool SoftwareWindow::open(std::string* error) {
  auto failed = [&](const char* step) {
    *error = std::string(step) + ": " + SDL_GetError();
    return false;
  };
  // The software renderer draws into the window's own surface; without this
  // SDL would show that surface through an OpenGL texture of its own.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return failed("Start video");
  video_started_ = true;
  window_ = SDL_CreateWindow("dashboard", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, kDashboardWidth,
                             kDashboardHeight, SDL_WINDOW_HIDDEN);
  if (window_ == nullptr) return failed("Create window");
  renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
  if (renderer_ == nullptr) return failed("Create renderer");
  return true;
}

}  // namespace lumora::bench::peers
