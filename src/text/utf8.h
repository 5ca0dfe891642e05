// Strict UTF-8: ill-formed input becomes U+FFFD, following the Unicode
// well-formedness table, so that no invalid text ever reaches an event, a
// reply or the screen.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumora::text {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;
inline constexpr char32_t kMaxCodePoint = 0x10FFFF;
inline constexpr std::size_t kMaxUtf8Length = 4;

enum class Utf8Status {
  // `code_point` is the character, `length` its bytes.
  valid,
  // `code_point` is U+FFFD, `length` the bytes it replaces (at least one).
  ill_formed,
  // The bytes are a valid but truncated prefix of a character; `length` is
  // how many are present. More input may complete it; at the end of input it
  // counts as one ill-formed sequence of that length.
  incomplete,
  // No bytes were given; `length` is 0.
  empty,
};

struct Utf8Char {
  char32_t code_point = 0;
  std::size_t length = 0;
  Utf8Status status = Utf8Status::empty;
};

// True for code points that may be encoded: at most U+10FFFF, not a surrogate.
constexpr bool is_scalar_value(char32_t code_point) {
  return code_point <= kMaxCodePoint && (code_point < 0xD800 || code_point > 0xDFFF);
}

// The bytes a second byte may take after `lead`: narrower than the plain
// continuation range 0x80..0xBF after the lead bytes that could otherwise
// encode overlong forms (0xE0, 0xF0), surrogates (0xED) or values above
// U+10FFFF (0xF4).
struct Utf8SecondByteRange {
  unsigned char low;
  unsigned char high;
};
constexpr Utf8SecondByteRange utf8_second_byte_range(unsigned char lead) {
  return {static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80),
          static_cast<unsigned char>(lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF)};
}

// Length of the well-formed multi-byte character at the start of `text`
// (`available` bytes, at least 1), or 0 when it is not one: ASCII,
// ill-formed or cut short. Inline, so that the common case of a text walk
// decodes without a call; everything else goes to decode_utf8, which
// decides how many bytes U+FFFD replaces.
inline std::size_t utf8_well_formed_length(const char* text, std::size_t available) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const unsigned char lead = bytes[0];
  auto continues = [](unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; };
  auto second_fits = [lead](unsigned char byte) {
    const Utf8SecondByteRange range = utf8_second_byte_range(lead);
    return byte >= range.low && byte <= range.high;
  };
  if (lead >= 0xC2 && lead <= 0xDF) return available >= 2 && continues(bytes[1]) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) return available >= 3 && second_fits(bytes[1]) && continues(bytes[2]) ? 3 : 0;
  if (lead >= 0xF0 && lead <= 0xF4) {
    return available >= 4 && second_fits(bytes[1]) && continues(bytes[2]) && continues(bytes[3]) ? 4 : 0;
  }
  return 0;
}

// The code point of a character that utf8_well_formed_length measured.
inline char32_t decode_well_formed_utf8(const char* text, std::size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  switch (length) {
    case 2: return (char32_t{bytes[0] & 0x1Fu} << 6) | (bytes[1] & 0x3Fu);
    case 3: return (char32_t{bytes[0] & 0x0Fu} << 12) | (char32_t{bytes[1] & 0x3Fu} << 6) | (bytes[2] & 0x3Fu);
    default:
      return (char32_t{bytes[0] & 0x07u} << 18) | (char32_t{bytes[1] & 0x3Fu} << 12) |
             (char32_t{bytes[2] & 0x3Fu} << 6) | (bytes[3] & 0x3Fu);
  }
}

// Whether every byte of `text` belongs to a well-formed character.
bool is_valid_utf8(std::string_view text);

// Length of the character a lead byte announces: 2 for 0xC2-0xDF, 3 for
// 0xE0-0xEF, 4 for 0xF0-0xF4, otherwise 1 (ASCII, or an ill-formed byte).
std::size_t utf8_sequence_length(unsigned char lead);

// Decodes the first character of `bytes`. An ill-formed sequence consumes its
// maximal subpart: a byte that can never start a character consumes itself
// alone; a lead byte followed by a byte that cannot continue it consumes the
// bytes before the offending one (which is left to start the next character).
// So overlong forms, surrogates and values above U+10FFFF each become U+FFFD,
// and a sequence cut at any byte decodes the same once complete.
Utf8Char decode_utf8(std::string_view bytes);

// Like decode_utf8, but at the end of input: a truncated prefix becomes one
// U+FFFD replacing the bytes present. Never returns `incomplete`.
Utf8Char decode_utf8_final(std::string_view bytes);

// Writes the encoding of `code_point` (1 to 4 bytes) into `out` and returns
// its length; a code point that is not a scalar value is written as U+FFFD.
std::size_t encode_utf8(char32_t code_point, char out[kMaxUtf8Length]);

// Appends the encoding of `code_point` (U+FFFD when not a scalar value).
void append_utf8(std::string& out, char32_t code_point);

}  // namespace lumora::text
