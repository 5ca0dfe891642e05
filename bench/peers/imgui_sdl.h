// The dashboard drawn the way a Dear ImGui program would: every frame the
// panels, borders, text and bars go into ImGui's background draw list
// (rounded rectangles, strokes, text from its own font atlas), which the
// SDL_Renderer backend shipped with Debian's libimgui-dev then renders into
// a hidden window with the software renderer; the package's SDL2 platform
// backend starts each frame. Panels outside the window are
// skipped, as a list clipper would. No Lumora code.
#pragma once

#include <memory>
#include <string>

#include "peers/dashboard_model.h"

namespace lumora::bench::peers {

class ImGuiSdl {
 public:
  // Opens the window and builds the font atlas from `font_dir`'s
  // DejaVuSans.ttf at every text size of `dashboard`. Null with a message on
  // failure.
  static std::unique_ptr<ImGuiSdl> open(const std::string& font_dir, const Dashboard& dashboard, std::string* error);
  ~ImGuiSdl();
  ImGuiSdl(const ImGuiSdl&) = delete;
  ImGuiSdl& operator=(const ImGuiSdl&) = delete;

  // The library's version text.
  static const char* version();

  // One ImGui frame: the draw list built, rendered and presented.
  bool draw_and_present(const Dashboard& dashboard, std::string* error);

 private:
  struct State;
  explicit ImGuiSdl(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace lumora::bench::peers
