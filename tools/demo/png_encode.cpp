#include "png_encode.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lumora::demo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A stored deflate block holds at most this many bytes.
constexpr std::size_t kMaxStoredBlock = 65535;

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
    return entries;
  }();
  std::uint32_t crc = 0xffffffffu;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
  return crc ^ 0xffffffffu;
}

std::uint32_t adler32(const Bytes& data) {
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void put_u32(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 24));
  out.push_back(static_cast<std::uint8_t>(value >> 16));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void put_chunk(Bytes& out, const char type[4], const Bytes& data) {
  put_u32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put_u32(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

void RgbaImage::set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
  p[0] = r;
  p[1] = g;
  p[2] = b;
  p[3] = a;
}

Bytes encode_png(const RgbaImage& image) {
  // Scanlines, each behind filter byte 0 (none).
  Bytes raw;
  const std::size_t row_bytes = static_cast<std::size_t>(image.width) * 4;
  raw.reserve((row_bytes + 1) * image.height);
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);
    const std::uint8_t* row = image.pixels.data() + row_bytes * y;
    raw.insert(raw.end(), row, row + row_bytes);
  }

  Bytes zlib = {0x78, 0x01};
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min(kMaxStoredBlock, raw.size() - offset);
    const bool last = offset + length == raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.push_back(static_cast<std::uint8_t>(length));
    zlib.push_back(static_cast<std::uint8_t>(length >> 8));
    zlib.push_back(static_cast<std::uint8_t>(~length));
    zlib.push_back(static_cast<std::uint8_t>(~length >> 8));
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
                raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
    offset += length;
  } while (offset < raw.size());
  put_u32(zlib, adler32(raw));

  Bytes header;
  put_u32(header, static_cast<std::uint32_t>(image.width));
  put_u32(header, static_cast<std::uint32_t>(image.height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive filters, no interlace

  Bytes png = {137, 80, 78, 71, 13, 10, 26, 10};
  put_chunk(png, "IHDR", header);
  put_chunk(png, "IDAT", zlib);
  put_chunk(png, "IEND", {});
  return png;
}

std::string png_data_uri(const Bytes& png) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text = "data:image/png;base64,";
  text.reserve(text.size() + (png.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < png.size(); i += 3) {
    const std::uint32_t b0 = png[i];
    const std::uint32_t b1 = i + 1 < png.size() ? png[i + 1] : 0;
    const std::uint32_t b2 = i + 2 < png.size() ? png[i + 2] : 0;
    const std::uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    text += kAlphabet[(triple >> 18) & 63];
    text += kAlphabet[(triple >> 12) & 63];
    text += i + 1 < png.size() ? kAlphabet[(triple >> 6) & 63] : '=';
    text += i + 2 < png.size() ? kAlphabet[triple & 63] : '=';
  }
  return text;
}

}  // namespace lumora::demo
