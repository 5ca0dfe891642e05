#include "terminal/grapheme.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "terminal/utf8.h"

namespace lumora::terminal {
namespace {

struct Read {
  std::string text;
  int width;
  char control;
  friend bool operator==(const Read&, const Read&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Read& read) {
    return out << '"' << read.text << "\" w" << read.width << " c" << static_cast<int>(read.control);
  }
};

std::vector<Read> read_all(std::string_view text) {
  GraphemeReader reader(text);
  std::vector<Read> clusters;
  Cluster cluster;
  while (reader.next(cluster)) {
    EXPECT_EQ(std::string_view(cluster.c_str()), cluster.text());
    clusters.push_back({std::string(cluster.text()), cluster.width, cluster.control});
  }
  return clusters;
}

std::string utf8(std::u32string_view code_points) {
  std::string out;
  for (char32_t code_point : code_points) append_utf8(out, code_point);
  return out;
}

// ---- Unicode's own boundary test cases ----------------------------------------

struct BreakCase {
  std::string line;
  std::vector<std::u32string> clusters;
};

std::vector<BreakCase> load_break_cases() {
  std::ifstream file(std::string(LUMORA_TEST_DATA_DIR) + "/grapheme_break_test.txt");
  std::vector<BreakCase> cases;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    BreakCase test{line, {{}}};
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      if (word == "\xC3\xB7") {  // ÷, a boundary
        if (!test.clusters.back().empty()) test.clusters.emplace_back();
      } else if (word != "\xC3\x97") {  // ×, no boundary
        test.clusters.back().push_back(static_cast<char32_t>(std::stoul(word, nullptr, 16)));
      }
    }
    if (test.clusters.back().empty()) test.clusters.pop_back();
    cases.push_back(std::move(test));
  }
  return cases;
}

bool dropped_by_reader(char32_t code_point) {
  return (character_properties(code_point).flags & kPropertyIgnorable) != 0 && code_point != 0x09 &&
         code_point != 0x0A && code_point != 0x200C && code_point != 0x200D;
}

TEST(GraphemeReaderTest, AgreesWithUnicodeBreakTests) {
  const std::vector<BreakCase> cases = load_break_cases();
  ASSERT_GT(cases.size(), 1000u);
  std::size_t checked = 0;
  for (const BreakCase& test : cases) {
    bool skip = false;
    std::string text;
    std::vector<std::string> expected;
    for (const std::u32string& cluster : test.clusters) {
      for (char32_t code_point : cluster) skip = skip || dropped_by_reader(code_point);
      expected.push_back(utf8(cluster));
      text += expected.back();
    }
    if (skip) continue;
    ++checked;
    std::vector<std::string> actual;
    for (const Read& read : read_all(text)) {
      // A cluster with nothing visible comes back behind a dotted circle.
      const std::string circle = "\xE2\x97\x8C";
      actual.push_back(read.text.starts_with(circle) && !expected.empty() && actual.size() < expected.size() &&
                               !expected[actual.size()].starts_with(circle)
                           ? read.text.substr(circle.size())
                           : read.text);
    }
    EXPECT_EQ(actual, expected) << test.line;
  }
  // Most cases survive the filter; a broken filter would silently skip them.
  EXPECT_GT(checked, 600u);
}

// ---- Widths and clusters ----------------------------------------------------------

struct WidthCase {
  const char* name;
  std::u32string input;
  std::vector<Read> expected;
};

class GraphemeWidthTest : public ::testing::TestWithParam<WidthCase> {};

TEST_P(GraphemeWidthTest, ClustersAndWidths) {
  const WidthCase& test = GetParam();
  EXPECT_EQ(read_all(utf8(test.input)), test.expected);
}

const std::string kCircle = "\xE2\x97\x8C";

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, GraphemeWidthTest,
    ::testing::Values(
        WidthCase{"AsciiLetters", U"ab", {{"a", 1, 0}, {"b", 1, 0}}},
        WidthCase{"CombiningAcute", U"e\u0301", {{utf8(U"e\u0301"), 1, 0}}},
        WidthCase{"LoneCombiningMarkGetsDottedCircle", U"\u0301", {{kCircle + utf8(U"\u0301"), 1, 0}}},
        WidthCase{"Flag", U"\U0001F1E9\U0001F1EA", {{utf8(U"\U0001F1E9\U0001F1EA"), 2, 0}}},
        WidthCase{"ThreeRegionalIndicators",
                  U"\U0001F1E6\U0001F1E7\U0001F1E8",
                  {{utf8(U"\U0001F1E6\U0001F1E7"), 2, 0}, {utf8(U"\U0001F1E8"), 2, 0}}},
        WidthCase{"HeartWithPresentationSelector", U"\u2764\uFE0F", {{utf8(U"\u2764\uFE0F"), 2, 0}}},
        WidthCase{"HeartAlone", U"\u2764", {{utf8(U"\u2764"), 1, 0}}},
        WidthCase{"Keycap", U"1\uFE0F\u20E3", {{utf8(U"1\uFE0F\u20E3"), 2, 0}}},
        WidthCase{"KeycapWithoutSelector", U"#\u20E3", {{utf8(U"#\u20E3"), 2, 0}}},
        WidthCase{"FamilyEmoji",
                  U"\U0001F468\u200D\U0001F469\u200D\U0001F467",
                  {{utf8(U"\U0001F468\u200D\U0001F469\u200D\U0001F467"), 2, 0}}},
        // GB11 keeps it together; the joiner with a pictographic block widens it.
        WidthCase{"JoinedNarrowPictographs", U"\u2601\u200D\u2602", {{utf8(U"\u2601\u200D\u2602"), 2, 0}}},
        WidthCase{"DevanagariConjunct", U"\u0915\u094D\u0937", {{utf8(U"\u0915\u094D\u0937"), 1, 0}}},
        WidthCase{"DevanagariConjunctThroughNukta",
                  U"\u0915\u093C\u094D\u0924",
                  {{utf8(U"\u0915\u093C\u094D\u0924"), 1, 0}}},
        WidthCase{"DevanagariWithoutLinkerBreaks", U"\u0915\u0937", {{utf8(U"\u0915"), 1, 0}, {utf8(U"\u0937"), 1, 0}}},
        WidthCase{"CjkIdeograph", U"\u4E2D", {{utf8(U"\u4E2D"), 2, 0}}},
        WidthCase{"FullwidthLetter", U"\uFF21", {{utf8(U"\uFF21"), 2, 0}}},
        WidthCase{"ReservedCjkRangeIsWide", U"\U0002FFFD", {{utf8(U"\U0002FFFD"), 2, 0}}},
        // Made wide only in Unicode 16.0: stays narrow.
        WidthCase{"NewlyWideIn16StaysNarrow", U"\u2630", {{utf8(U"\u2630"), 1, 0}}},
        WidthCase{"HangulSyllableFromJamo", U"\u1100\u1161\u11A8", {{utf8(U"\u1100\u1161\u11A8"), 2, 0}}},
        WidthCase{"Tab", U"\t", {{"\t", 0, '\t'}}},
        WidthCase{"LineFeed", U"a\nb", {{"a", 1, 0}, {"\n", 0, '\n'}, {"b", 1, 0}}},
        WidthCase{"CrLfDropsCr", U"a\r\nb", {{"a", 1, 0}, {"\n", 0, '\n'}, {"b", 1, 0}}},
        WidthCase{"LoneCrDropped", U"a\rb", {{"a", 1, 0}, {"b", 1, 0}}},
        WidthCase{"MarkAfterTabStandsAlone",
                  U"\t\u0301",
                  {{"\t", 0, '\t'}, {kCircle + utf8(U"\u0301"), 1, 0}}},
        WidthCase{"SoftHyphenAndBidiControlsDropped", U"a\u00AD\u202Eb\u2066", {{"a", 1, 0}, {"b", 1, 0}}},
        WidthCase{"DroppedControlDoesNotSplitCluster", U"e\x01\u0301", {{utf8(U"e\u0301"), 1, 0}}},
        WidthCase{"ZeroWidthJoinerAloneGetsDottedCircle", U"\u200D", {{kCircle + utf8(U"\u200D"), 1, 0}}},
        WidthCase{"SelectorAloneIsNarrow", U"\uFE0F", {{kCircle + utf8(U"\uFE0F"), 1, 0}}},
        WidthCase{"OnlyControls", U"\x01\x02\x1B\x7F\u0085", {}},
        WidthCase{"Empty", U"", {}}),
    [](const ::testing::TestParamInfo<WidthCase>& info) { return std::string(info.param.name); });

TEST(GraphemeReaderTest, MalformedUtf8BecomesReplacementCharacter) {
  const std::string replacement = "\xEF\xBF\xBD";
  // A stray continuation byte, an overlong form, a surrogate and a cut sequence.
  EXPECT_EQ(read_all("a\x80z"), (std::vector<Read>{{"a", 1, 0}, {replacement, 1, 0}, {"z", 1, 0}}));
  EXPECT_EQ(read_all("\xC0\xAF"), (std::vector<Read>{{replacement, 1, 0}, {replacement, 1, 0}}));
  EXPECT_EQ(read_all("\xED\xA0\x80"),
            (std::vector<Read>{{replacement, 1, 0}, {replacement, 1, 0}, {replacement, 1, 0}}));
  EXPECT_EQ(read_all("x\xE4\xB8"), (std::vector<Read>{{"x", 1, 0}, {replacement, 1, 0}}));
  // A combining mark still attaches to the replacement.
  EXPECT_EQ(read_all("\xFF\xCC\x81"), (std::vector<Read>{{replacement + "\xCC\x81", 1, 0}}));
}

TEST(GraphemeReaderTest, ClusterKeepsBaseAndFirst63Marks) {
  std::string text = "a";
  for (int i = 0; i < 100; ++i) text += "\xCC\x81";
  text += "b";
  const std::vector<Read> clusters = read_all(text);
  ASSERT_EQ(clusters.size(), 2u);
  std::string expected = "a";
  for (int i = 0; i < 63; ++i) expected += "\xCC\x81";
  EXPECT_EQ(clusters[0], (Read{expected, 1, 0}));
  EXPECT_EQ(clusters[1], (Read{"b", 1, 0}));
}

TEST(GraphemeReaderTest, CappedClusterStillNotesWidthOfStoredCodePoints) {
  // The 65th code point (a selector) is consumed unstored and does not widen.
  std::string text = "a";
  for (int i = 0; i < 63; ++i) text += "\xCC\x81";
  text += "\xEF\xB8\x8F";
  const std::vector<Read> clusters = read_all(text);
  ASSERT_EQ(clusters.size(), 1u);
  EXPECT_EQ(clusters[0].width, 1);
}

TEST(GraphemeReaderTest, LongestClusterFitsTheBuffer) {
  // 64 four-byte marks without a base: the prefix, 256 bytes and the NUL.
  std::string text;
  for (int i = 0; i < 80; ++i) text += "\xF0\x9D\x85\xA5";  // U+1D165, a combining mark
  GraphemeReader reader(text);
  Cluster cluster;
  ASSERT_TRUE(reader.next(cluster));
  EXPECT_EQ(cluster.length, 3u + 64u * 4u);
  EXPECT_EQ(cluster.c_str()[cluster.length], '\0');
  EXPECT_FALSE(reader.next(cluster));
}

TEST(GraphemeReaderTest, MegabyteOfMarksOnOneBaseIsOneCluster) {
  std::string text = "x";
  while (text.size() < (1u << 20)) text += "\xCC\x88";
  std::vector<Read> clusters = read_all(text);
  ASSERT_EQ(clusters.size(), 1u);
  EXPECT_EQ(clusters[0].text.size(), 1u + 63u * 2u);
}

TEST(GraphemeReaderTest, NextWidthAgreesWithNext) {
  const std::string text = utf8(U"a\te\u0301\u4E2D\n\U0001F1E9\U0001F1EA\U0001F1E8\u0301\u2764\uFE0F\u0915\u094D\u0937");
  GraphemeReader full(text);
  GraphemeReader widths(text);
  Cluster cluster;
  while (full.next(cluster)) {
    char control = 'x';
    EXPECT_EQ(widths.next_width(control), cluster.width);
    EXPECT_EQ(control, cluster.control);
  }
  char control = 0;
  EXPECT_EQ(widths.next_width(control), -1);
}

}  // namespace
}  // namespace lumora::terminal
