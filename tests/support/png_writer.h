// A minimal PNG encoder for tests: stored (uncompressed) deflate blocks, with
// the zlib Adler-32 and the chunk CRC-32 computed here, so that tests can build
// any colour type and bit depth, and any broken variant of one, without an
// extra library.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::test_support {

using Bytes = std::vector<std::uint8_t>;

enum PngColourType : std::uint8_t {
  kPngGrey = 0,
  kPngRgb = 2,
  kPngPalette = 3,
  kPngGreyAlpha = 4,
  kPngRgba = 6,
};

struct PngImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bit_depth = 8;
  std::uint8_t colour_type = kPngRgba;
  // Unfiltered scanlines without the filter byte, bytes as stored in the file
  // (16-bit samples big-endian).
  Bytes samples;
  std::vector<std::array<std::uint8_t, 3>> palette;  // PLTE, palette images only
  Bytes palette_alpha;                               // tRNS, when not empty
};

std::uint32_t crc32(const std::uint8_t* data, std::size_t size);
std::uint32_t adler32(const std::uint8_t* data, std::size_t size);

// One chunk: length, type, data, CRC.
Bytes png_chunk(std::string_view type, const Bytes& data);
// The 13 bytes of an IHDR body.
Bytes png_header_body(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth, std::uint8_t colour_type);

Bytes encode_png(const PngImage& image);

// Shorthands over encode_png. `rgba` holds 4 bytes per pixel, `rgb` 3, `grey`
// 1; 16-bit variants take 16-bit samples.
Bytes png_rgba8(std::uint32_t width, std::uint32_t height, const Bytes& rgba);
Bytes png_rgb8(std::uint32_t width, std::uint32_t height, const Bytes& rgb);
Bytes png_grey8(std::uint32_t width, std::uint32_t height, const Bytes& grey);
Bytes png_rgba16(std::uint32_t width, std::uint32_t height, const std::vector<std::uint16_t>& rgba);
Bytes png_rgb16(std::uint32_t width, std::uint32_t height, const std::vector<std::uint16_t>& rgb);
Bytes png_palette8(std::uint32_t width, std::uint32_t height, const Bytes& indices,
                   const std::vector<std::array<std::uint8_t, 3>>& palette, const Bytes& palette_alpha = {});

// A solid RGBA image.
Bytes png_solid(std::uint32_t width, std::uint32_t height, std::array<std::uint8_t, 4> rgba);

// Signature, an IHDR with the given fields and a valid CRC, then IEND: what a
// hostile header looks like before any pixel data.
Bytes png_header_only(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth, std::uint8_t colour_type);

// 2 × 2 RGBA images with one header field each that PNG does not allow
// (bit depth 7, colour types 1 and 5, RGB at depth 4, palette at depth 16,
// compression, filter or interlace method out of range, zero or oversized
// sides): a decoder refuses them, and complains about them on its way.
std::vector<Bytes> pngs_with_invalid_headers();
// A sound 2 × 2 red image with a gAMA chunk of gamma 0, which a decoder
// warns about and then ignores.
Bytes png_with_zero_gamma();

std::string base64_encode(const Bytes& bytes);
// "data:image/png;base64," followed by the encoded bytes.
std::string png_data_uri(const Bytes& png);

// Writes `bytes` to a fresh file under the system's temporary directory and
// returns its path; the file is removed by the returned object's destructor.
class TempFile {
 public:
  explicit TempFile(const Bytes& bytes, std::string_view suffix = ".png");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A draw-command list that starts with ["begin","#123"] and then draws every
// PNG of pngs_with_invalid_headers() and, last, png_with_zero_gamma(), each
// as a data URI at `uri_rect` and from a file at `file_rect` (JSON arrays);
// the files live as long as the object.
struct ComplainingPngScene {
  ComplainingPngScene(std::string_view uri_rect, std::string_view file_rect);
  std::vector<std::unique_ptr<TempFile>> files;
  std::string commands;
  std::size_t invalid_headers = 0;  // how many of the PNGs have one
};

}  // namespace lumora::test_support
