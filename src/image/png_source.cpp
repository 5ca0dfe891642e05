#include "image/png_source.h"

#include <array>
#include <cstring>
#include <new>
#include <string>

#include "platform/file_read.h"

namespace lumora::image {
namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::array<std::uint8_t, 8> kHeaderChunkStart = {0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52};
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFFu;  // the format's own bound
constexpr std::size_t kChunkFrameBytes = 12;            // length, type, CRC
constexpr std::uint64_t kMaxPngSide = 0x7FFFFFFFu;      // the format's bound on width and height

std::uint32_t read_u32(const std::uint8_t* bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
         (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

constexpr std::array<std::uint32_t, 256> make_crc_table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

std::uint32_t chunk_crc(const std::uint8_t* data, std::size_t size) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) c = kCrcTable[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// 0..63 for a base64 alphabet character, −1 for anything else.
constexpr std::array<std::int8_t, 256> make_base64_table() {
  std::array<std::int8_t, 256> table{};
  for (auto& value : table) value = -1;
  for (int i = 0; i < 26; ++i) {
    table['A' + i] = static_cast<std::int8_t>(i);
    table['a' + i] = static_cast<std::int8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::int8_t>(52 + i);
  table['+'] = 62;
  table['/'] = 63;
  return table;
}
constexpr std::array<std::int8_t, 256> kBase64Table = make_base64_table();

// The header fields the format allows, so that the decoder never sees one
// it would complain about: a bit depth its colour type takes (grey 1 to 16,
// palette 1 to 8, the others 8 or 16), compression and filter method 0, and
// no interlacing or Adam7.
bool png_header_fields_valid(std::uint8_t bit_depth, std::uint8_t colour_type, std::uint8_t compression,
                             std::uint8_t filter, std::uint8_t interlace) {
  const bool depth_is_power = bit_depth == 1 || bit_depth == 2 || bit_depth == 4 || bit_depth == 8 || bit_depth == 16;
  if (!depth_is_power || compression != 0 || filter != 0 || interlace > 1) return false;
  switch (colour_type) {
    case 0: return true;                                   // grey
    case 3: return bit_depth <= 8;                         // palette
    case 2: case 4: case 6: return bit_depth >= 8;         // RGB, grey with alpha, RGBA
    default: return false;
  }
}

}  // namespace

bool png_data_uri_within_limits(const char* source) {
  const std::size_t length = strnlen(source, scene::kMaxPngDataUriBytes + 1);
  if (length > scene::kMaxPngDataUriBytes) return false;
  std::uint64_t n = length - kPngDataUriPrefix.size();
  std::uint64_t decoded = 3 * (n / 4) + (3 * (n % 4)) / 4;
  for (int i = 0; i < 2 && n > 0 && source[kPngDataUriPrefix.size() + n - 1] == '='; ++i, --n) {
    if (decoded > 0) --decoded;
  }
  return decoded <= scene::kMaxPngStreamBytes;
}

bool decode_base64_payload(std::string_view payload, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (payload.size() > kMaxBase64PayloadChars) return false;
  std::size_t digits = payload.find('=');
  if (digits == std::string_view::npos) digits = payload.size();
  for (std::size_t i = 0; i < digits; ++i) {
    if (kBase64Table[static_cast<unsigned char>(payload[i])] < 0) return false;
  }
  const std::size_t decoded_size = digits / 4 * 3 + (digits % 4) * 6 / 8;
  if (decoded_size > scene::kMaxPngStreamBytes) return false;
  try {
    bytes.resize(decoded_size);
  } catch (const std::bad_alloc&) {
    bytes = {};
    return false;
  }
  std::uint32_t bits = 0;
  int bit_count = 0;
  std::size_t out = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    bits = (bits << 6) | static_cast<std::uint32_t>(kBase64Table[static_cast<unsigned char>(payload[i])]);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      bytes[out++] = static_cast<std::uint8_t>(bits >> bit_count);
      bits &= (1u << bit_count) - 1u;
    }
  }
  return out == decoded_size;
}

bool png_header_acceptable(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kMinPngStreamBytes || size > scene::kMaxPngStreamBytes) return false;
  for (std::size_t i = 0; i < kPngSignature.size(); ++i) {
    if (data[i] != kPngSignature[i] || data[8 + i] != kHeaderChunkStart[i]) return false;
  }
  const std::uint64_t width = read_u32(data + 16);
  const std::uint64_t height = read_u32(data + 20);
  const std::uint8_t bit_depth = data[24];
  const std::uint8_t colour_type = data[25];
  constexpr std::uint8_t kRgbaColourType = 6;
  if (bit_depth == 16 && colour_type != kRgbaColourType) return false;
  if (width == 0 || height == 0 || width > kMaxPngSide || height > kMaxPngSide) return false;
  if (!png_header_fields_valid(bit_depth, colour_type, data[26], data[27], data[28])) return false;
  const std::uint64_t bytes_per_pixel = bit_depth == 16 ? 8 : 4;
  // Both factors are below 2^32, so the product cannot overflow 64 bits
  // before the multiplication by 8 is checked against the bound.
  const std::uint64_t pixels = width * height;
  return pixels <= kMaxPngHeaderBytes / bytes_per_pixel;
}

bool png_chunks_intact(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kPngSignature.size()) return false;
  std::size_t offset = kPngSignature.size();
  while (size - offset >= kChunkFrameBytes) {
    const std::uint32_t length = read_u32(data + offset);
    if (length > kMaxChunkLength || length > size - offset - kChunkFrameBytes) return false;
    const std::uint8_t* type = data + offset + 4;
    if (chunk_crc(type, 4 + static_cast<std::size_t>(length)) != read_u32(type + 4 + length)) return false;
    if (type[0] == 'I' && type[1] == 'E' && type[2] == 'N' && type[3] == 'D') return true;
    offset += kChunkFrameBytes + length;
  }
  return false;
}

bool read_png_source(std::string_view source, std::vector<std::uint8_t>& stream) {
  if (source.starts_with(kPngDataUriPrefix)) {
    return decode_base64_payload(source.substr(kPngDataUriPrefix.size()), stream);
  }
  // Other data URIs and anything with a URL scheme are not files.
  if (source.starts_with("data:") || source.find("://") != std::string_view::npos) return false;
  const std::string path(source);
  return platform::read_file_bounded(path.c_str(), scene::kMaxPngStreamBytes, stream) ==
         platform::FileReadStatus::ok;
}

bool load_png_source(std::string_view source, DecodedImage& image) {
  std::vector<std::uint8_t> stream;
  if (!read_png_source(source, stream)) return false;
  if (!png_header_acceptable(stream.data(), stream.size())) return false;
  if (!png_chunks_intact(stream.data(), stream.size())) return false;
  return decode_png_rgba(stream.data(), stream.size(), kMaxDecodedPixels, image);
}

}  // namespace lumora::image
