// The reference a user would write by hand instead of using Lumora: a plain
// SDL2 program drawing the dashboard straight into its window with the
// usual tricks. Rounded corners are anti-aliased quadrants computed here
// once per radius, ring width and colour and kept as textures; straight
// edges and interiors are plain fills, with blending off where the colour is
// opaque; each text line is rendered once by SDL2_ttf into its own texture
// and re-rendered only when its text changes; items outside the window are
// skipped. It uses SDL2 and SDL2_ttf alone: no Lumora code, so that it
// measures what a program of its own would cost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "peers/dashboard_model.h"

namespace lumora::bench::peers {

class HandwrittenSdl {
 public:
  // A hidden kDashboardWidth × kDashboardHeight window with a software
  // renderer, its fonts read from `font_dir` (DejaVuSans.ttf). The video
  // driver is whatever SDL_VIDEODRIVER names. Null with a message on failure.
  static std::unique_ptr<HandwrittenSdl> open(const std::string& font_dir, std::string* error);
  ~HandwrittenSdl();
  HandwrittenSdl(const HandwrittenSdl&) = delete;
  HandwrittenSdl& operator=(const HandwrittenSdl&) = delete;

  // Draws one whole frame into the back buffer.
  bool draw(const Dashboard& dashboard, std::string* error);
  bool present();
  bool draw_and_present(const Dashboard& dashboard, std::string* error) { return draw(dashboard, error) && present(); }
  // The back buffer as RGBA bytes, row by row (call after draw, before present).
  bool read_pixels(std::vector<std::uint8_t>& rgba, std::string* error);

  // Text textures rendered so far (a settled frame renders none).
  std::uint64_t lines_rendered() const;

 private:
  struct State;
  explicit HandwrittenSdl(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace lumora::bench::peers
