// Fuzz target for PNG bytes: the checks before decoding and the decoder
// behind them, and the whole way an image takes in a terminal (the source as
// a data URI, the checks, the decoder, the cell drawing and the
// "resource_error" a bad image raises), through the draw-command list.
//
// The decoder is only ever handed streams the checks accepted: on its own it
// can spin for minutes on a 99-byte stream whose chunk length runs past the
// end (the seed "chunk-past-the-end" is one).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "image/png_decode.h"
#include "image/png_source.h"

namespace {

using namespace lumora;

// Decoded images the target allows; the terminal's own bound is checked
// by the terminal.
constexpr std::uint64_t kMaxPixels = 4 * 1024 * 1024;

std::string base64(const std::uint8_t* data, std::size_t size) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    std::uint32_t chunk = static_cast<std::uint32_t>(data[i]) << 16;
    if (i + 1 < size) chunk |= static_cast<std::uint32_t>(data[i + 1]) << 8;
    if (i + 2 < size) chunk |= data[i + 2];
    out += kDigits[(chunk >> 18) & 63];
    out += kDigits[(chunk >> 12) & 63];
    out += i + 1 < size ? kDigits[(chunk >> 6) & 63] : '=';
    out += i + 2 < size ? kDigits[chunk & 63] : '=';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  image::DecodedImage decoded;
  const bool accepted = image::png_header_acceptable(data, size) && image::png_chunks_intact(data, size);
  if (accepted && image::decode_png_rgba(data, size, kMaxPixels, decoded)) {
    std::uint64_t pixels = static_cast<std::uint64_t>(decoded.width) * static_cast<std::uint64_t>(decoded.height);
    if (decoded.width <= 0 || decoded.height <= 0 || pixels > kMaxPixels || !decoded.pixels) std::abort();
    // Every pixel is readable (the sanitizer checks the bounds).
    volatile std::uint8_t last = decoded.pixels[pixels * 4 - 1];
    (void)last;
  }

  std::unique_ptr<host::Backend> backend = fuzz::open_headless_terminal(20, 6);
  std::string list = R"([["image","data:image/png;base64,)" + base64(data, size) +
                     R"(",[0,0,80,48],"#ffffff","stretch"],["image_nine","data:image/png;base64,)" +
                     base64(data, size) + R"(",[80,0,80,48],[4,4,4,4],"#ffffff"]])";
  json::JsonPtr commands = fuzz::parse(list);
  if (!commands) std::abort();
  host::HostErrorBuffer error;
  backend->commit_scene(commands.get(), error.text());
  fuzz::require_valid_error(error);
  fuzz::draw_and_read_back(*backend);
  return 0;
}
