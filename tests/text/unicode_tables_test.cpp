#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "text/grapheme.h"
#include "text/unicode_case.h"
#include "text/unicode_properties.h"

namespace lumora::text {
namespace {

std::string hex(char32_t code_point) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code_point));
  return text;
}

// ---- Character property table ---------------------------------------------------

TEST(CharacterPropertyTableTest, CoversAllCodePointsInMergedRecordsWithoutGapsOrOverlaps) {
  ASSERT_GT(kCharacterPropertyTableSize, 0u);
  EXPECT_EQ(kCharacterPropertyTable[0].first, 0u);
  EXPECT_EQ(kCharacterPropertyTable[kCharacterPropertyTableSize - 1].last, 0x10FFFFu);
  for (std::size_t i = 0; i < kCharacterPropertyTableSize; ++i) {
    const CharacterProperties& record = kCharacterPropertyTable[i];
    ASSERT_LE(record.first, record.last) << i;
    EXPECT_EQ(record.reserved, 0) << i;
    if (i == 0) continue;
    const CharacterProperties& previous = kCharacterPropertyTable[i - 1];
    ASSERT_EQ(record.first, previous.last + 1) << i;
    EXPECT_FALSE(previous.flags == record.flags && previous.break_class == record.break_class &&
                 previous.conjunct_class == record.conjunct_class)
        << "records " << i - 1 << " and " << i << " should have merged";
  }
}

TEST(CharacterPropertyTableTest, LookupFindsTheRecordHoldingEveryCodePoint) {
  for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    const CharacterProperties& record = character_properties(code_point);
    ASSERT_LE(record.first, code_point) << hex(code_point);
    ASSERT_GE(record.last, code_point) << hex(code_point);
  }
  EXPECT_EQ(&character_properties(0x110000), &kCharacterPropertyTable[kCharacterPropertyTableSize - 1]);
}

TEST(CharacterPropertyTableTest, SpotValues) {
  // Break classes are exercised by the conformance test; these are the flags it cannot see.
  constexpr std::uint8_t I = kPropertyIgnorable, S = kPropertySurrogate, Z = kPropertyZeroWidth, W = kPropertyWide,
                         P = kPropertyPictographic, D = kPropertyDisputedWidth;
  struct SpotValue {
    char32_t code_point;
    std::uint8_t flags;
    BreakClass break_class;
    ConjunctClass conjunct_class;
  };
  const SpotValue values[] = {
      {0x00AD, I | Z, BreakClass::kControl, ConjunctClass::kNone},
      {0x2630, P | D, BreakClass::kOther, ConjunctClass::kNone},  // wide only since 16.0
      {0xDFFF, S, BreakClass::kOther, ConjunctClass::kNone},
      {0x1FAE9, P | D, BreakClass::kOther, ConjunctClass::kNone},  // assigned in 16.0: not wide
      {0x1F44D, W | P | D, BreakClass::kOther, ConjunctClass::kNone},  // emoji presentation
      {0x2764, P, BreakClass::kOther, ConjunctClass::kNone},          // text presentation
      {0x1F1E6, D, BreakClass::kRegionalIndicator, ConjunctClass::kNone},
      {0x1160, D, BreakClass::kV, ConjunctClass::kNone},  // counted as combining by many terminals
      {0x4E00, W, BreakClass::kOther, ConjunctClass::kNone},
      {0x2FFFD, W, BreakClass::kOther, ConjunctClass::kNone},  // reserved CJK range
      {0xE0020, I | Z, BreakClass::kExtend, ConjunctClass::kExtend},
  };
  for (const SpotValue& value : values) {
    const CharacterProperties& record = character_properties(value.code_point);
    EXPECT_TRUE(record.flags == value.flags && record.break_class == value.break_class &&
                record.conjunct_class == value.conjunct_class)
        << hex(value.code_point);
  }
}

// ---- Case table ------------------------------------------------------------------

TEST(CaseTableTest, SortedWithUpperFlagCount) {
  EXPECT_EQ(kCaseTableSize, 3530u);
  std::size_t upper = 0;
  for (std::size_t i = 0; i < kCaseTableSize; ++i) {
    if (i > 0) {
      ASSERT_LT(kCaseTable[i - 1].code_point, kCaseTable[i].code_point) << i;
    }
    if (kCaseTable[i].is_upper) ++upper;
  }
  EXPECT_EQ(upper, 1978u);
  EXPECT_EQ(kCaseTable[0].code_point, U'A');
}

TEST(CaseTableTest, SpotValues) {
  struct CaseSpot {
    char32_t code_point;
    const char* lower;
    const char* upper;
    bool is_upper;
  };
  const CaseSpot spots[] = {
      {0x00DF, "\xC3\x9F", "SS", false},               // sharp s upper-cases to two letters
      {0x0130, "i\xCC\x87", "\xC4\xB0", true},         // dotted capital I lower-cases to i + U+0307
      {0x2160, "\xE2\x85\xB0", "\xE2\x85\xA0", true},  // Roman numeral one: Uppercase, not Lu
      {0x01C5, "\xC7\x86", "\xC7\x84", false},         // title-case Dz
  };
  for (const CaseSpot& spot : spots) {
    const CaseRecord* record = find_case_record(spot.code_point);
    ASSERT_NE(record, nullptr) << hex(spot.code_point);
    EXPECT_TRUE(std::string_view(record->lower) == spot.lower && std::string_view(record->upper) == spot.upper &&
                record->is_upper == spot.is_upper)
        << hex(spot.code_point);
  }
  EXPECT_EQ(find_case_record(U'1'), nullptr);
}

}  // namespace
}  // namespace lumora::text
