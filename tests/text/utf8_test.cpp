#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::text {
namespace {

TEST(Utf8Test, DecodesTheFirstCharacterOrItsMaximalIllFormedPrefix) {
  struct Case {
    std::string bytes;
    char32_t code_point;
    std::size_t length;
    Utf8Status status;
  };
  const Case cases[] = {
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, Utf8Status::valid},  // the largest scalar value
      {"\xE0\xA0\x80", 0x800, 3, Utf8Status::valid},          // the smallest three-byte form
      // Bytes that never start a character consume themselves alone.
      {"\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      {"\xF5\x80\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      // A bad second byte: only the lead is replaced.
      {"\xE0\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      {"\xED\xA0\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      {"\xF4\x90\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      {"\xC3" "A", 0xFFFD, 1, Utf8Status::ill_formed},
      // A bad later byte: the valid prefix is replaced as one.
      {"\xE2\x82" "A", 0xFFFD, 2, Utf8Status::ill_formed},
      // Truncated but valid so far.
      {"\xF0\x9F\x98", 0xFFFD, 3, Utf8Status::incomplete},
      {"", 0, 0, Utf8Status::empty},
  };
  for (const Case& c : cases) {
    const Utf8Char result = decode_utf8(c.bytes);
    EXPECT_TRUE(result.code_point == c.code_point && result.length == c.length && result.status == c.status)
        << testing::PrintToString(c.bytes);
  }
}

// Decoding a whole string step by step gives the standard count of
// replacement characters (one per maximal subpart); the final decode
// replaces a truncated prefix at the end as one.
TEST(Utf8Test, FinalDecodeOfMixedInputGivesOneReplacementPerMaximalSubpart) {
  const std::string bytes = "a\xF1\x80\x80\xE1\x80\xC2" "b\x80\xE0\x9F\x80" "c\xF0\x9F\x98";
  std::u32string decoded;
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const Utf8Char c = decode_utf8_final(rest);
    EXPECT_NE(c.status, Utf8Status::incomplete);
    decoded.push_back(c.code_point);
    rest.remove_prefix(c.length);
  }
  EXPECT_EQ(decoded,
            (std::u32string{U'a', 0xFFFD, 0xFFFD, 0xFFFD, U'b', 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, U'c', 0xFFFD}));
}

TEST(Utf8Test, EncodeRoundTripsEveryScalarValueAndReplacesTheRest) {
  for (char32_t cp = 0; cp <= kMaxCodePoint; ++cp) {
    if (!is_scalar_value(cp)) continue;
    char buffer[kMaxUtf8Length];
    const std::size_t length = encode_utf8(cp, buffer);
    const Utf8Char back = decode_utf8(std::string_view(buffer, length));
    ASSERT_EQ(back.status, Utf8Status::valid) << std::hex << static_cast<unsigned>(cp);
    ASSERT_EQ(back.code_point, cp);
    ASSERT_EQ(back.length, length);
  }
  for (char32_t cp : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}, char32_t{0xFFFFFFFF}}) {
    std::string out;
    append_utf8(out, cp);
    EXPECT_EQ(out, "\xEF\xBF\xBD");
  }
}

// The inline fast path and the strict decoder agree on every two-, three-
// and four-byte prefix: the same characters, the same lengths.
TEST(Utf8WellFormed, AgreesWithTheDecoder) {
  const unsigned char tails[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int second = 0; second <= 0xFF; ++second) {
      for (unsigned char third : tails) {
        for (unsigned char fourth : tails) {
          const char bytes[4] = {static_cast<char>(lead), static_cast<char>(second), static_cast<char>(third),
                                 static_cast<char>(fourth)};
          const Utf8Char decoded = decode_utf8(std::string_view(bytes, 4));
          const std::size_t length = utf8_well_formed_length(bytes, 4);
          ASSERT_EQ(length != 0, decoded.status == Utf8Status::valid) << lead << " " << second;
          if (length != 0) {
            ASSERT_EQ(length, decoded.length);
            ASSERT_EQ(decode_well_formed_utf8(bytes, length), decoded.code_point);
          }
        }
      }
    }
  }
  EXPECT_EQ(utf8_well_formed_length("\xE2\x82", 2), 0u);  // cut short
  EXPECT_TRUE(is_valid_utf8("a\xC3\xA9\xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("a\xC3"));
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // a surrogate
}

}  // namespace
}  // namespace lumora::text
