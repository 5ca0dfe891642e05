#include "image/png_decode.h"
#include "image/png_source.h"

#include <SDL.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace lumora::image {
namespace {

// libpng reads and reports through these: the stream comes from memory,
// and neither its warnings nor its errors reach standard error, which the
// host keeps for its protocol notice. An error's text becomes the SDL error,
// so that the window can name why a decode failed.
struct MemoryStream {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t offset;
};

void read_from_memory(png_structp png, png_bytep out, png_size_t length) {
  auto* stream = static_cast<MemoryStream*>(png_get_io_ptr(png));
  if (length > stream->size - stream->offset) png_error(png, "truncated PNG data");
  std::memcpy(out, stream->data + stream->offset, length);
  stream->offset += length;
}

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
  SDL_SetError("%s", message != nullptr ? message : "invalid PNG data");
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// Owns what a decode allocates. It lives outside the function that calls
// setjmp, so that a longjmp out of libpng skips no destructor.
struct DecodeState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::unique_ptr<std::uint8_t[]> pixels;
  std::unique_ptr<png_bytep[]> rows;
  ~DecodeState() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

// Decodes into state.pixels as 8-bit RGBA; false after any libpng error.
// Only plain values live in this frame across setjmp.
bool decode_rgba(DecodeState& state, MemoryStream& stream, std::uint64_t max_pixels, png_uint_32* width,
                 png_uint_32* height) {
  png_structp png = state.png;
  png_infop info = state.info;
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_read_fn(png, &stream, read_from_memory);
  // The checks before decoding bound the size; the library's own default
  // would refuse a wide strip that they accept.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info);
  const png_uint_32 h = png_get_image_height(png, info);
  if (w == 0 || h == 0 || static_cast<std::uint64_t>(w) * h > max_pixels) png_error(png, "PNG dimensions out of range");
  const int colour_type = png_get_color_type(png, info);
  // The same samples as the imaging library gives: 16-bit samples keep
  // their high byte; palettes, low depths and a transparent colour become
  // 8-bit RGBA.
  png_set_strip_16(png);
  png_set_packing(png);
  if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t row_bytes = static_cast<std::size_t>(w) * 4;
  if (png_get_rowbytes(png, info) != row_bytes) png_error(png, "unexpected PNG row size");
  state.pixels.reset(new (std::nothrow) std::uint8_t[row_bytes * h]);
  state.rows.reset(new (std::nothrow) png_bytep[h]);
  if (state.pixels == nullptr || state.rows == nullptr) png_error(png, "out of memory decoding PNG");
  for (png_uint_32 row = 0; row < h; ++row) state.rows[row] = state.pixels.get() + row_bytes * row;
  png_read_image(png, state.rows.get());
  *width = w;
  *height = h;
  return true;
}

}  // namespace

bool decode_png_rgba(const std::uint8_t* data, std::size_t size, std::uint64_t max_pixels, DecodedImage& image) {
  if (data == nullptr || size == 0) return false;
  // The decoder is never handed a stream that failed the checks. Callers
  // check first for their own messages; this keeps every path safe.
  if (!png_header_acceptable(data, size) || !png_chunks_intact(data, size)) {
    SDL_SetError("invalid or unsupported PNG header or chunks");
    return false;
  }
  DecodeState state;
  state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  if (state.png == nullptr) return false;
  state.info = png_create_info_struct(state.png);
  if (state.info == nullptr) return false;
  MemoryStream stream{data, size, 0};
  png_uint_32 width = 0, height = 0;
  if (!decode_rgba(state, stream, max_pixels, &width, &height)) return false;
  image.pixels = std::move(state.pixels);
  image.width = static_cast<std::int32_t>(width);
  image.height = static_cast<std::int32_t>(height);
  return true;
}

}  // namespace lumora::image
