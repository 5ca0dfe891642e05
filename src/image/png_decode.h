// PNG decoding into packed RGBA bytes. Every call into the PNG library lives
// behind this one function, so that moving to another version of it touches
// this file only. Nothing it decodes writes to standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumora::image {

struct DecodedImage {
  std::unique_ptr<std::uint8_t[]> pixels;  // width × height × 4 bytes, R, G, B, A, rows packed top to bottom
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Decodes a PNG stream; the checks of png_source.h run first, so a stream
// that fails them never reaches the library.
// Fails (returns false, `image` untouched, the reason as the SDL error) when
// the library refuses the stream, when the decoded size is 0 or above
// `max_pixels`, or when memory runs out.
bool decode_png_rgba(const std::uint8_t* data, std::size_t size, std::uint64_t max_pixels, DecodedImage& image);

}  // namespace lumora::image
