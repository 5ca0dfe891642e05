// A small PNG writer for the demo's generated pictures: 8-bit RGBA in
// stored (uncompressed) deflate blocks, so that an image can travel inside a
// scene as a "data:image/png;base64," URI without an asset file or a
// compression library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumora::demo {

// An RGBA picture, 4 bytes per pixel, rows top to bottom.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  RgbaImage(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 4, 0) {}
  void set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a);
};

std::vector<std::uint8_t> encode_png(const RgbaImage& image);

// "data:image/png;base64," followed by the Base64 of `png`.
std::string png_data_uri(const std::vector<std::uint8_t>& png);

}  // namespace lumora::demo
