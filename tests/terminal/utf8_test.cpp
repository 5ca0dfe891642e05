#include "terminal/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::terminal {
namespace {

struct DecodeCase {
  const char* name;
  std::string bytes;
  char32_t code_point;
  std::size_t length;
  Utf8Status status;
};

class DecodeUtf8 : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeUtf8, DecodesFirstCharacter) {
  const DecodeCase& c = GetParam();
  const Utf8Char result = decode_utf8(c.bytes);
  EXPECT_EQ(result.code_point, c.code_point);
  EXPECT_EQ(result.length, c.length);
  EXPECT_EQ(result.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeUtf8,
    ::testing::Values(
        DecodeCase{"Ascii", "A", U'A', 1, Utf8Status::valid},
        DecodeCase{"Nul", std::string(1, '\0'), 0, 1, Utf8Status::valid},
        DecodeCase{"TwoBytes", "\xC3\xA9z", 0xE9, 2, Utf8Status::valid},
        DecodeCase{"ThreeBytes", "\xE2\x82\xAC", 0x20AC, 3, Utf8Status::valid},
        DecodeCase{"FourBytes", "\xF0\x9F\x98\x80", 0x1F600, 4, Utf8Status::valid},
        DecodeCase{"LargestScalar", "\xF4\x8F\xBF\xBF", 0x10FFFF, 4, Utf8Status::valid},
        DecodeCase{"LastBeforeSurrogates", "\xED\x9F\xBF", 0xD7FF, 3, Utf8Status::valid},
        DecodeCase{"SmallestThreeByte", "\xE0\xA0\x80", 0x800, 3, Utf8Status::valid},
        // Bytes that never start a character consume themselves alone.
        DecodeCase{"LoneContinuation", "\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
        DecodeCase{"OverlongLeadC0", "\xC0\xAF", 0xFFFD, 1, Utf8Status::ill_formed},
        DecodeCase{"OverlongLeadC1", "\xC1\xBF", 0xFFFD, 1, Utf8Status::ill_formed},
        DecodeCase{"LeadF5", "\xF5\x80\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
        DecodeCase{"LeadFF", "\xFF", 0xFFFD, 1, Utf8Status::ill_formed},
        // A bad second byte: only the lead is replaced.
        DecodeCase{"OverlongThreeByte", "\xE0\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
        DecodeCase{"Surrogate", "\xED\xA0\x80", 0xFFFD, 1, Utf8Status::ill_formed},
        DecodeCase{"OverlongFourByte", "\xF0\x8F\xBF\xBF", 0xFFFD, 1, Utf8Status::ill_formed},
        DecodeCase{"AboveMax", "\xF4\x90\x80\x80", 0xFFFD, 1, Utf8Status::ill_formed},
        DecodeCase{"LeadThenAscii", "\xC3" "A", 0xFFFD, 1, Utf8Status::ill_formed},
        // A bad later byte: the valid prefix is replaced as one.
        DecodeCase{"BadThirdByte", "\xE2\x82" "A", 0xFFFD, 2, Utf8Status::ill_formed},
        DecodeCase{"BadFourthByte", "\xF0\x9F\x98\xC3", 0xFFFD, 3, Utf8Status::ill_formed},
        // Truncated but valid so far.
        DecodeCase{"TruncatedTwo", "\xC3", 0xFFFD, 1, Utf8Status::incomplete},
        DecodeCase{"TruncatedFour", "\xF0\x9F\x98", 0xFFFD, 3, Utf8Status::incomplete},
        DecodeCase{"Empty", "", 0, 0, Utf8Status::empty}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8Test, FinalDecodeReplacesTruncatedPrefixAsOne) {
  const Utf8Char result = decode_utf8_final("\xF0\x9F\x98");
  EXPECT_EQ(result.code_point, kReplacementCharacter);
  EXPECT_EQ(result.length, 3u);
  EXPECT_EQ(result.status, Utf8Status::ill_formed);
  EXPECT_EQ(decode_utf8_final("\xC3\xA9").code_point, 0xE9u);
}

// Decoding a whole string step by step gives the standard count of
// replacement characters (one per maximal subpart).
TEST(Utf8Test, MaximalSubpartsOfMixedInput) {
  const std::string bytes = "a\xF1\x80\x80\xE1\x80\xC2" "b\x80\xE0\x9F\x80";
  std::u32string decoded;
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const Utf8Char c = decode_utf8_final(rest);
    decoded.push_back(c.code_point);
    rest.remove_prefix(c.length);
  }
  EXPECT_EQ(decoded, (std::u32string{U'a', 0xFFFD, 0xFFFD, 0xFFFD, U'b', 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}));
}

TEST(Utf8Test, EncodeRoundTripsEveryScalarValue) {
  for (char32_t cp = 0; cp <= kMaxCodePoint; ++cp) {
    if (!is_scalar_value(cp)) continue;
    char buffer[kMaxUtf8Length];
    const std::size_t length = encode_utf8(cp, buffer);
    const Utf8Char back = decode_utf8(std::string_view(buffer, length));
    ASSERT_EQ(back.status, Utf8Status::valid) << std::hex << static_cast<unsigned>(cp);
    ASSERT_EQ(back.code_point, cp);
    ASSERT_EQ(back.length, length);
  }
}

TEST(Utf8Test, EncodeReplacesNonScalarValues) {
  for (char32_t cp : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}, char32_t{0xFFFFFFFF}}) {
    std::string out;
    append_utf8(out, cp);
    EXPECT_EQ(out, "\xEF\xBF\xBD");
  }
}

TEST(Utf8Test, SequenceLengthFollowsLeadByte) {
  EXPECT_EQ(utf8_sequence_length('A'), 1u);
  EXPECT_EQ(utf8_sequence_length(0xC1), 1u);
  EXPECT_EQ(utf8_sequence_length(0xC2), 2u);
  EXPECT_EQ(utf8_sequence_length(0xEF), 3u);
  EXPECT_EQ(utf8_sequence_length(0xF4), 4u);
  EXPECT_EQ(utf8_sequence_length(0xF5), 1u);
}

}  // namespace
}  // namespace lumora::terminal
