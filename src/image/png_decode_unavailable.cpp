// The decoder for builds without the imaging library (the Windows build
// until SDL comes to it): every stream is refused, so an image shows as one
// that failed to load, and nothing else changes.
#include "image/png_decode.h"

namespace lumora::image {

bool decode_png_rgba(const std::uint8_t*, std::size_t, std::uint64_t, DecodedImage&) { return false; }

}  // namespace lumora::image
