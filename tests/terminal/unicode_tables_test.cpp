#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "terminal/grapheme.h"
#include "terminal/unicode_case.h"
#include "terminal/unicode_properties.h"

namespace lumora::terminal {
namespace {

// ---- Character property table ---------------------------------------------------

TEST(CharacterPropertyTableTest, CoversAllCodePointsWithoutGapsOrOverlaps) {
  ASSERT_GT(kCharacterPropertyTableSize, 0u);
  EXPECT_EQ(kCharacterPropertyTable[0].first, 0u);
  EXPECT_EQ(kCharacterPropertyTable[kCharacterPropertyTableSize - 1].last, 0x10FFFFu);
  for (std::size_t i = 0; i < kCharacterPropertyTableSize; ++i) {
    const CharacterProperties& record = kCharacterPropertyTable[i];
    ASSERT_LE(record.first, record.last) << i;
    EXPECT_EQ(record.reserved, 0) << i;
    if (i > 0) {
      ASSERT_EQ(record.first, kCharacterPropertyTable[i - 1].last + 1) << i;
    }
  }
}

TEST(CharacterPropertyTableTest, NeighbouringRecordsDiffer) {
  for (std::size_t i = 1; i < kCharacterPropertyTableSize; ++i) {
    const CharacterProperties& a = kCharacterPropertyTable[i - 1];
    const CharacterProperties& b = kCharacterPropertyTable[i];
    EXPECT_FALSE(a.flags == b.flags && a.break_class == b.break_class && a.conjunct_class == b.conjunct_class)
        << "records " << i - 1 << " and " << i << " should have merged";
  }
}

TEST(CharacterPropertyTableTest, IndexedLookupMatchesPlainBisection) {
  for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    const CharacterProperties& record = character_properties(code_point);
    ASSERT_EQ(&record, &character_properties(code_point)) << std::hex << static_cast<std::uint32_t>(code_point);
    ASSERT_LE(record.first, code_point);
    ASSERT_GE(record.last, code_point);
  }
  EXPECT_EQ(&character_properties(0x110000), &kCharacterPropertyTable[kCharacterPropertyTableSize - 1]);
}

struct SpotValue {
  char32_t code_point;
  std::uint8_t flags;
  BreakClass break_class;
  ConjunctClass conjunct_class;
};

TEST(CharacterPropertyTableTest, SpotValues) {
  constexpr std::uint8_t I = kPropertyIgnorable, S = kPropertySurrogate, Z = kPropertyZeroWidth, W = kPropertyWide,
                         P = kPropertyPictographic;
  const SpotValue values[] = {
      {0x0000, I, BreakClass::kControl, ConjunctClass::kNone},
      {0x0009, I, BreakClass::kControl, ConjunctClass::kNone},
      {0x000A, I, BreakClass::kLF, ConjunctClass::kNone},
      {0x000D, I, BreakClass::kCR, ConjunctClass::kNone},
      {'A', 0, BreakClass::kOther, ConjunctClass::kNone},
      {0x00A9, P, BreakClass::kOther, ConjunctClass::kNone},
      {0x00AD, I | Z, BreakClass::kControl, ConjunctClass::kNone},
      {0x0301, Z, BreakClass::kExtend, ConjunctClass::kExtend},
      {0x0600, I | Z, BreakClass::kPrepend, ConjunctClass::kNone},
      {0x0915, 0, BreakClass::kOther, ConjunctClass::kConsonant},
      {0x093F, Z, BreakClass::kSpacingMark, ConjunctClass::kNone},
      {0x094D, Z, BreakClass::kExtend, ConjunctClass::kLinker},
      {0x1100, W, BreakClass::kL, ConjunctClass::kNone},
      {0x1160, 0, BreakClass::kV, ConjunctClass::kNone},
      {0x11A8, 0, BreakClass::kT, ConjunctClass::kNone},
      {0x200C, I | Z, BreakClass::kExtend, ConjunctClass::kNone},
      {0x200D, I | Z, BreakClass::kZWJ, ConjunctClass::kExtend},
      {0x20E3, Z, BreakClass::kExtend, ConjunctClass::kExtend},
      {0x2630, P, BreakClass::kOther, ConjunctClass::kNone},  // wide only since 16.0
      {0x2764, P, BreakClass::kOther, ConjunctClass::kNone},
      {0x4E00, W, BreakClass::kOther, ConjunctClass::kNone},
      {0xAC00, W, BreakClass::kLV, ConjunctClass::kNone},
      {0xAC01, W, BreakClass::kLVT, ConjunctClass::kNone},
      {0xD800, S, BreakClass::kOther, ConjunctClass::kNone},
      {0xDFFF, S, BreakClass::kOther, ConjunctClass::kNone},
      {0xFE0F, Z, BreakClass::kExtend, ConjunctClass::kExtend},
      {0xFEFF, I | Z, BreakClass::kControl, ConjunctClass::kNone},
      {0xFF21, W, BreakClass::kOther, ConjunctClass::kNone},
      {0x1F1E6, 0, BreakClass::kRegionalIndicator, ConjunctClass::kNone},
      {0x1F3FB, W, BreakClass::kExtend, ConjunctClass::kExtend},
      {0x1F600, W | P, BreakClass::kOther, ConjunctClass::kNone},
      {0x1FAE9, P, BreakClass::kOther, ConjunctClass::kNone},  // assigned in 16.0: not wide
      {0x2FFFD, W, BreakClass::kOther, ConjunctClass::kNone},  // reserved CJK range
      {0xE0001, I | Z, BreakClass::kControl, ConjunctClass::kNone},
      {0xE0020, I | Z, BreakClass::kExtend, ConjunctClass::kExtend},
      {0x10FFFF, 0, BreakClass::kOther, ConjunctClass::kNone},
  };
  for (const SpotValue& value : values) {
    const CharacterProperties& record = character_properties(value.code_point);
    EXPECT_EQ(record.flags, value.flags) << std::hex << static_cast<std::uint32_t>(value.code_point);
    EXPECT_EQ(record.break_class, value.break_class) << std::hex << static_cast<std::uint32_t>(value.code_point);
    EXPECT_EQ(record.conjunct_class, value.conjunct_class) << std::hex << static_cast<std::uint32_t>(value.code_point);
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

struct CaseSpot {
  char32_t code_point;
  const char* lower;
  const char* upper;
  bool is_upper;
};

TEST(CaseTableTest, SpotValues) {
  const CaseSpot spots[] = {
      {U'A', "a", "A", true},
      {U'z', "z", "Z", false},
      {0x00DF, "\xC3\x9F", "SS", false},          // sharp s upper-cases to two letters
      {0x0130, "i\xCC\x87", "\xC4\xB0", true},    // dotted capital I lower-cases to i + U+0307
      {0x0049, "i", "I", true},                   // the Turkish rule is conditional: not applied
      {0x03A3, "\xCF\x83", "\xCE\xA3", true},     // final sigma is conditional: plain sigma
      {0xFB00, "\xEF\xAC\x80", "FF", false},      // ligature ff
      {0x2160, "\xE2\x85\xB0", "\xE2\x85\xA0", true},  // Roman numeral one: Uppercase, not Lu
      {0x01C5, "\xC7\x86", "\xC7\x84", false},    // title-case Dz
  };
  for (const CaseSpot& spot : spots) {
    const CaseRecord* record = find_case_record(spot.code_point);
    ASSERT_NE(record, nullptr) << std::hex << static_cast<std::uint32_t>(spot.code_point);
    EXPECT_STREQ(record->lower, spot.lower) << std::hex << static_cast<std::uint32_t>(spot.code_point);
    EXPECT_STREQ(record->upper, spot.upper) << std::hex << static_cast<std::uint32_t>(spot.code_point);
    EXPECT_EQ(record->is_upper, spot.is_upper) << std::hex << static_cast<std::uint32_t>(spot.code_point);
  }
  EXPECT_EQ(find_case_record(U'1'), nullptr);
  EXPECT_EQ(find_case_record(0x4E00), nullptr);
}

}  // namespace
}  // namespace lumora::terminal
