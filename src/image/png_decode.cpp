#include "image/png_decode.h"
#include "image/png_source.h"

#include <SDL.h>
#include <SDL_image.h>

#include <climits>
#include <cstring>
#include <new>

namespace lumora::image {
namespace {

struct SurfaceDeleter {
  void operator()(SDL_Surface* surface) const noexcept { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

struct StreamDeleter {
  void operator()(SDL_RWops* stream) const noexcept { SDL_RWclose(stream); }
};
using StreamPtr = std::unique_ptr<SDL_RWops, StreamDeleter>;

// Locks the surface for the duration of a read when its pixels need it.
class SurfaceLock {
 public:
  explicit SurfaceLock(SDL_Surface* surface) : surface_(surface) {
    locked_ = SDL_MUSTLOCK(surface_) ? SDL_LockSurface(surface_) == 0 : true;
    must_unlock_ = SDL_MUSTLOCK(surface_) && locked_;
  }
  ~SurfaceLock() {
    if (must_unlock_) SDL_UnlockSurface(surface_);
  }
  SurfaceLock(const SurfaceLock&) = delete;
  SurfaceLock& operator=(const SurfaceLock&) = delete;
  bool locked() const { return locked_; }

 private:
  SDL_Surface* surface_;
  bool locked_ = false;
  bool must_unlock_ = false;
};

}  // namespace

bool decode_png_rgba(const std::uint8_t* data, std::size_t size, std::uint64_t max_pixels, DecodedImage& image) {
  if (data == nullptr || size == 0 || size > static_cast<std::size_t>(INT_MAX)) return false;
  // The decoder is never handed a stream that failed the checks: on some
  // truncated chunks the library spins for minutes, on others it writes to
  // standard error. Callers check first for their own messages; this keeps
  // every path safe.
  if (!png_header_acceptable(data, size) || !png_chunks_intact(data, size)) return false;
  StreamPtr stream(SDL_RWFromConstMem(data, static_cast<int>(size)));
  if (!stream) return false;
  SurfacePtr decoded(IMG_LoadPNG_RW(stream.get()));
  if (!decoded) return false;
  const int width = decoded->w;
  const int height = decoded->h;
  if (width <= 0 || height <= 0) return false;
  const std::uint64_t pixel_count = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (pixel_count > max_pixels) return false;

  // RGBA32 is R, G, B, A in memory whatever the byte order; the
  // conversion also turns a palette's colour key into alpha 0.
  SurfacePtr converted(SDL_ConvertSurfaceFormat(decoded.get(), SDL_PIXELFORMAT_RGBA32, 0));
  if (!converted) return false;
  decoded.reset();
  if (converted->w != width || converted->h != height) return false;

  const std::size_t row_bytes = static_cast<std::size_t>(width) * 4;
  std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[row_bytes * static_cast<std::size_t>(height)]);
  if (!pixels) return false;
  SurfaceLock lock(converted.get());
  if (!lock.locked() || converted->pixels == nullptr || converted->pitch < 0 ||
      static_cast<std::size_t>(converted->pitch) < row_bytes) {
    return false;
  }
  const auto* source = static_cast<const std::uint8_t*>(converted->pixels);
  for (int row = 0; row < height; ++row) {
    std::memcpy(pixels.get() + row_bytes * static_cast<std::size_t>(row),
                source + static_cast<std::size_t>(converted->pitch) * static_cast<std::size_t>(row), row_bytes);
  }
  image.pixels = std::move(pixels);
  image.width = width;
  image.height = height;
  return true;
}

}  // namespace lumora::image
