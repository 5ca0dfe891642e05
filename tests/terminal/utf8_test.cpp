#include "terminal/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::terminal {
namespace {

TEST(Utf8Test, DecodesTheFirstCharacterOrItsMaximalIllFormedPrefix) {
  struct Case {
    const char* name;
    std::string bytes;
    char32_t code_point;
    std::size_t length;
    Utf8Status status;
  };
  const Case cases[] = {
      {"ascii", "A", U'A', 1, Utf8Status::valid},
      {"four_bytes", "\xF0\x9F\x98\x80", 0x1F600, 4, Utf8Status::valid},
      {"largest_scalar", "\xF4\x8F\xBF\xBF", 0x10FFFF, 4, Utf8Status::valid},
      {"last_before_surrogates", "\xED\x9F\xBF", 0xD7FF, 3, Utf8Status::valid},
      {"smallest_three_byte", "\xE0\xA0\x80", 0x800, 3, Utf8Status::valid},
      // Bytes that never start a character consume themselves alone.
      {"lone_continuation", "\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      {"overlong_lead_c1", "\xC1\xBF", 0xFFFD, 1, Utf8Status::ill_formed},
      {"lead_f5", "\xF5\x80\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      // A bad second byte: only the lead is replaced.
      {"overlong_three_byte", "\xE0\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      {"surrogate", "\xED\xA0\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      {"overlong_four_byte", "\xF0\x8F\xBF\xBF", 0xFFFD, 1, Utf8Status::ill_formed},
      {"above_max", "\xF4\x90\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
      {"lead_then_ascii", "\xC3" "A", 0xFFFD, 1, Utf8Status::ill_formed},
      // A bad later byte: the valid prefix is replaced as one.
      {"bad_third_byte", "\xE2\x82" "A", 0xFFFD, 2, Utf8Status::ill_formed},
      {"bad_fourth_byte", "\xF0\x9F\x98\xC3", 0xFFFD, 3, Utf8Status::ill_formed},
      // Truncated but valid so far.
      {"truncated_four", "\xF0\x9F\x98", 0xFFFD, 3, Utf8Status::incomplete},
      {"empty", "", 0, 0, Utf8Status::empty},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Utf8Char result = decode_utf8(c.bytes);
    EXPECT_EQ(result.code_point, c.code_point);
    EXPECT_EQ(result.length, c.length);
    EXPECT_EQ(result.status, c.status);
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

}  // namespace
}  // namespace lumora::terminal
