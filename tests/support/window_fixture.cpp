#include "support/window_fixture.h"

#include <SDL.h>
#include <SDL_image.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>

#include "support/host_fixture.h"

namespace lumora::test {

std::vector<std::string> headless_video_environment() {
  return {"SDL_VIDEODRIVER=offscreen", "SDL_RENDER_DRIVER=software"};
}

void use_headless_video_in_process() {
  SDL_setenv("SDL_VIDEODRIVER", "offscreen", 1);
  SDL_setenv("SDL_RENDER_DRIVER", "software", 1);
}

std::unique_ptr<client::Controller> launch_window_host_at(const std::string& host_path, std::string_view members) {
  std::unique_ptr<client::Controller> host = launch_host(host_path, {}, headless_video_environment());
  if (host == nullptr) return nullptr;
  std::string open = R"({"op":"open","backend":"window","hidden":true)";
  if (!members.empty()) open += "," + std::string(members);
  open += "}";
  std::optional<client::Reply> reply = host->request(open);
  const bool opened = reply && reply->ok;
  EXPECT_TRUE(opened) << open << ": " << (reply ? reply->error : "no reply");
  return opened ? std::move(host) : nullptr;
}

Rgba CapturedPixels::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0, 0};
  const std::size_t offset = (static_cast<std::size_t>(y) * width + x) * 4;
  return {rgba[offset], rgba[offset + 1], rgba[offset + 2], rgba[offset + 3]};
}

int CapturedPixels::count(int x, int y, int w, int h, Rgba colour) const {
  int n = 0;
  for (int row = y; row < y + h; ++row) {
    for (int column = x; column < x + w; ++column) n += at(column, row) == colour ? 1 : 0;
  }
  return n;
}

bool read_capture(const std::string& path, CapturedPixels& pixels) {
  SDL_Surface* loaded = IMG_Load(path.c_str());
  if (loaded == nullptr) return false;
  SDL_Surface* converted = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ABGR8888, 0);
  SDL_FreeSurface(loaded);
  if (converted == nullptr) return false;
  pixels.width = converted->w;
  pixels.height = converted->h;
  pixels.rgba.resize(static_cast<std::size_t>(converted->w) * converted->h * 4);
  for (int row = 0; row < converted->h; ++row) {
    const auto* source = static_cast<const std::uint8_t*>(converted->pixels) + row * converted->pitch;
    std::copy(source, source + converted->w * 4, pixels.rgba.begin() + static_cast<std::ptrdiff_t>(row) * converted->w * 4);
  }
  SDL_FreeSurface(converted);
  return true;
}

TempPath::TempPath(std::string_view suffix) {
  static std::atomic<unsigned> counter{0};
  std::random_device entropy;
  path_ = (std::filesystem::temp_directory_path() /
           ("lumora-window-" + std::to_string(entropy()) + "-" + std::to_string(counter.fetch_add(1)) + std::string(suffix)))
              .string();
}

TempPath::~TempPath() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

std::string rgba_text(Rgba colour) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02x%02x%02x%02x", colour[0], colour[1], colour[2], colour[3]);
  return text;
}

}  // namespace lumora::test
