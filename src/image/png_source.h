// Image sources as both backends read them: a "data:image/png;base64," URI
// or a file path, the Base64 payload and its size, and the checks a PNG
// stream passes before the decoder sees it, so that a hostile size is
// refused from the header alone, without allocating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "image/png_decode.h"
#include "scene/limits.h"

namespace lumora::image {

inline constexpr std::string_view kPngDataUriPrefix = "data:image/png;base64,";
// The payload of a data URI may be at most this long before it is decoded.
inline constexpr std::size_t kMaxBase64PayloadChars = 33554432;
// A PNG stream must hold more than a signature and a header chunk, and at
// most scene::kMaxPngStreamBytes; files are read only up to that bound,
// since anything longer would be refused anyway.
inline constexpr std::size_t kMinPngStreamBytes = 33;
inline constexpr std::uint64_t kMaxDecodedPixels = 8388608;
// width × height × (8 for 16-bit samples, else 4), from the header alone.
inline constexpr std::uint64_t kMaxPngHeaderBytes = 33554432;

// Whether a source that begins with the data URI prefix is small enough to
// be retained: at most scene::kMaxPngDataUriBytes long, and its payload of n
// characters decodes, by 3 × (n div 4) + (3 × (n mod 4)) div 4 less one for
// each of up to two trailing "=", to at most scene::kMaxPngStreamBytes.
// Measures at most one byte past the limit of a NUL-terminated `source`.
bool png_data_uri_within_limits(const char* source);

// Decodes the payload of a PNG data URI (the text after the prefix) with the
// standard base64 alphabet, stopping at the first "="; any other character,
// or a result above scene::kMaxPngStreamBytes, fails before the result is
// allocated.
bool decode_base64_payload(std::string_view payload, std::vector<std::uint8_t>& bytes);

// The PNG stream a source names: a data URI's decoded payload, or a file's
// bytes when the source is neither another data URI nor has a URL scheme
// ("://"). False when it names nothing readable within the bounds.
bool read_png_source(std::string_view source, std::vector<std::uint8_t>& stream);

// The checks a PNG stream must pass before it is handed to the decoder:
// size, signature, header chunk, header fields the format allows, 16-bit
// samples only with RGBA, and the decoded size the header announces.
bool png_header_acceptable(const std::uint8_t* data, std::size_t size);

// Walks the chunks of a stream whose header was accepted: every chunk must
// lie within the stream and carry a correct CRC, up to and including IEND.
// Truncated and corrupted streams are refused here rather than by the
// decoder, which would report them on standard error.
bool png_chunks_intact(const std::uint8_t* data, std::size_t size);

// Reads, checks and decodes the image a source names, at most
// kMaxDecodedPixels; false when any step refuses it.
bool load_png_source(std::string_view source, DecodedImage& image);

}  // namespace lumora::image
