#include "text/utf8.h"

namespace lumora::text {

namespace {

constexpr bool is_continuation(unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; }

}  // namespace

std::size_t utf8_sequence_length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

Utf8Char decode_utf8(std::string_view bytes) {
  if (bytes.empty()) return {0, 0, Utf8Status::empty};
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return {lead, 1, Utf8Status::valid};
  const std::size_t needed = utf8_sequence_length(lead);
  if (needed == 1) return {kReplacementCharacter, 1, Utf8Status::ill_formed};

  char32_t value = lead & (needed == 2 ? 0x1F : needed == 3 ? 0x0F : 0x07);
  for (std::size_t index = 1; index < needed; ++index) {
    if (index >= bytes.size()) return {kReplacementCharacter, index, Utf8Status::incomplete};
    const auto byte = static_cast<unsigned char>(bytes[index]);
    const Utf8SecondByteRange second = utf8_second_byte_range(lead);
    const bool fits = index == 1 ? (byte >= second.low && byte <= second.high) : is_continuation(byte);
    if (!fits) return {kReplacementCharacter, index, Utf8Status::ill_formed};
    value = (value << 6) | (byte & 0x3F);
  }
  return {value, needed, Utf8Status::valid};
}

bool is_valid_utf8(std::string_view text) {
  while (!text.empty()) {
    const Utf8Char decoded = decode_utf8_final(text);
    if (decoded.status != Utf8Status::valid) return false;
    text.remove_prefix(decoded.length);
  }
  return true;
}

Utf8Char decode_utf8_final(std::string_view bytes) {
  Utf8Char result = decode_utf8(bytes);
  if (result.status == Utf8Status::incomplete) {
    result.code_point = kReplacementCharacter;
    result.status = Utf8Status::ill_formed;
  }
  return result;
}

std::size_t encode_utf8(char32_t code_point, char out[kMaxUtf8Length]) {
  if (!is_scalar_value(code_point)) code_point = kReplacementCharacter;
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

void append_utf8(std::string& out, char32_t code_point) {
  char buffer[kMaxUtf8Length];
  out.append(buffer, encode_utf8(code_point, buffer));
}

}  // namespace lumora::text
