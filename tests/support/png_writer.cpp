#include "support/png_writer.h"

#include <algorithm>
#include <initializer_list>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <utility>

namespace lumora::test_support {
namespace {

void put_u32(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 24));
  out.push_back(static_cast<std::uint8_t>(value >> 16));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

const Bytes kSignature = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

std::size_t channels_of(std::uint8_t colour_type) {
  switch (colour_type) {
    case kPngGrey: return 1;
    case kPngRgb: return 3;
    case kPngPalette: return 1;
    case kPngGreyAlpha: return 2;
    default: return 4;
  }
}

// zlib stream of stored blocks (at most 65535 bytes each).
Bytes zlib_stored(const Bytes& raw) {
  Bytes out = {0x78, 0x01};
  std::size_t offset = 0;
  do {
    const std::size_t block = std::min<std::size_t>(65535, raw.size() - offset);
    const bool last = offset + block == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>(block));
    out.push_back(static_cast<std::uint8_t>(block >> 8));
    out.push_back(static_cast<std::uint8_t>(~block));
    out.push_back(static_cast<std::uint8_t>(~block >> 8));
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
               raw.begin() + static_cast<std::ptrdiff_t>(offset + block));
    offset += block;
  } while (offset < raw.size());
  put_u32(out, adler32(raw.data(), raw.size()));
  return out;
}

Bytes big_endian_16(const std::vector<std::uint16_t>& samples) {
  Bytes out;
  out.reserve(samples.size() * 2);
  for (std::uint16_t sample : samples) {
    out.push_back(static_cast<std::uint8_t>(sample >> 8));
    out.push_back(static_cast<std::uint8_t>(sample));
  }
  return out;
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t a = 1, b = 0;
  for (std::size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

Bytes png_chunk(std::string_view type, const Bytes& data) {
  Bytes out;
  put_u32(out, static_cast<std::uint32_t>(data.size()));
  Bytes typed(type.begin(), type.end());
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  put_u32(out, crc32(typed.data(), typed.size()));
  return out;
}

Bytes png_header_body(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth, std::uint8_t colour_type) {
  Bytes body;
  put_u32(body, width);
  put_u32(body, height);
  body.push_back(bit_depth);
  body.push_back(colour_type);
  body.push_back(0);  // deflate
  body.push_back(0);  // adaptive filtering
  body.push_back(0);  // no interlace
  return body;
}

Bytes encode_png(const PngImage& image) {
  const std::size_t row_bytes = (image.width * channels_of(image.colour_type) * image.bit_depth + 7) / 8;
  if (image.samples.size() != row_bytes * image.height) throw std::invalid_argument("PNG sample count");
  Bytes raw;
  raw.reserve((row_bytes + 1) * image.height);
  for (std::uint32_t row = 0; row < image.height; ++row) {
    raw.push_back(0);  // filter type None
    auto start = image.samples.begin() + static_cast<std::ptrdiff_t>(row * row_bytes);
    raw.insert(raw.end(), start, start + static_cast<std::ptrdiff_t>(row_bytes));
  }
  Bytes out = kSignature;
  auto append = [&out](const Bytes& chunk) { out.insert(out.end(), chunk.begin(), chunk.end()); };
  append(png_chunk("IHDR", png_header_body(image.width, image.height, image.bit_depth, image.colour_type)));
  if (!image.palette.empty()) {
    Bytes plte;
    for (const auto& entry : image.palette) plte.insert(plte.end(), entry.begin(), entry.end());
    append(png_chunk("PLTE", plte));
  }
  if (!image.palette_alpha.empty()) append(png_chunk("tRNS", image.palette_alpha));
  append(png_chunk("IDAT", zlib_stored(raw)));
  append(png_chunk("IEND", {}));
  return out;
}

Bytes png_rgba8(std::uint32_t width, std::uint32_t height, const Bytes& rgba) {
  return encode_png({width, height, 8, kPngRgba, rgba, {}, {}});
}
Bytes png_rgb8(std::uint32_t width, std::uint32_t height, const Bytes& rgb) {
  return encode_png({width, height, 8, kPngRgb, rgb, {}, {}});
}
Bytes png_grey8(std::uint32_t width, std::uint32_t height, const Bytes& grey) {
  return encode_png({width, height, 8, kPngGrey, grey, {}, {}});
}
Bytes png_rgba16(std::uint32_t width, std::uint32_t height, const std::vector<std::uint16_t>& rgba) {
  return encode_png({width, height, 16, kPngRgba, big_endian_16(rgba), {}, {}});
}
Bytes png_rgb16(std::uint32_t width, std::uint32_t height, const std::vector<std::uint16_t>& rgb) {
  return encode_png({width, height, 16, kPngRgb, big_endian_16(rgb), {}, {}});
}
Bytes png_palette8(std::uint32_t width, std::uint32_t height, const Bytes& indices,
                   const std::vector<std::array<std::uint8_t, 3>>& palette, const Bytes& palette_alpha) {
  return encode_png({width, height, 8, kPngPalette, indices, palette, palette_alpha});
}

Bytes png_solid(std::uint32_t width, std::uint32_t height, std::array<std::uint8_t, 4> rgba) {
  Bytes pixels;
  pixels.reserve(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) pixels.insert(pixels.end(), rgba.begin(), rgba.end());
  return png_rgba8(width, height, pixels);
}

Bytes png_header_only(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth, std::uint8_t colour_type) {
  Bytes out = kSignature;
  Bytes header = png_chunk("IHDR", png_header_body(width, height, bit_depth, colour_type));
  Bytes end = png_chunk("IEND", {});
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), end.begin(), end.end());
  return out;
}

std::vector<Bytes> pngs_with_invalid_headers() {
  const Bytes base = png_solid(2, 2, {255, 0, 0, 255});
  // The header chunk's data is bytes 16..28; its CRC (over type and data)
  // follows at 29.
  auto with_header = [&](std::initializer_list<std::pair<std::size_t, std::uint8_t>> changes) {
    Bytes png = base;
    for (const auto& [offset, value] : changes) png[offset] = value;
    const std::uint32_t crc = crc32(png.data() + 12, 17);
    for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return png;
  };
  return {
      with_header({{24, 7}}),           with_header({{25, 1}}),           with_header({{25, 5}}),
      with_header({{24, 4}, {25, 2}}),  with_header({{24, 16}, {25, 3}}), with_header({{26, 1}}),
      with_header({{27, 1}}),           with_header({{28, 2}}),           with_header({{19, 0}}),
      with_header({{20, 0x80}, {23, 1}}),
  };
}

Bytes png_with_zero_gamma() {
  Bytes png = png_solid(2, 2, {255, 0, 0, 255});
  const Bytes chunk = png_chunk("gAMA", {0, 0, 0, 0});
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());  // right after the header chunk
  return png;
}

std::string base64_encode(const Bytes& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    std::uint32_t v = bytes[i] << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string png_data_uri(const Bytes& png) { return "data:image/png;base64," + base64_encode(png); }

TempFile::TempFile(const Bytes& bytes, std::string_view suffix) {
  static std::atomic<unsigned> counter{0};
  std::random_device entropy;
  const auto directory = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    auto candidate = directory / ("lumora-test-" + std::to_string(entropy()) + "-" +
                                  std::to_string(counter.fetch_add(1)) + std::string(suffix));
    if (std::filesystem::exists(candidate)) continue;
    path_ = candidate.string();
  }
  if (path_.empty()) throw std::runtime_error("cannot name a temporary file");
  std::ofstream file(path_, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write a temporary file");
}

TempFile::~TempFile() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove(path_, ignored);
}

ComplainingPngScene::ComplainingPngScene(std::string_view uri_rect, std::string_view file_rect) {
  std::vector<Bytes> pngs = pngs_with_invalid_headers();
  invalid_headers = pngs.size();
  pngs.push_back(png_with_zero_gamma());
  // Base64 and temporary paths need no escaping inside a JSON string.
  commands = R"([["begin","#123"])";
  for (const Bytes& png : pngs) {
    files.push_back(std::make_unique<TempFile>(png));
    commands += R"(,["image",")" + png_data_uri(png) + "\"," + std::string(uri_rect) + R"(,"#ffffff","stretch"])";
    commands += R"(,["image",")" + files.back()->path() + "\"," + std::string(file_rect) + R"(,"#ffffff","stretch"])";
  }
  commands += "]";
}

}  // namespace lumora::test_support
