#include "text/grapheme.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "text/utf8.h"

namespace lumora::text {
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

const std::string kCircle = "\xE2\x97\x8C";
const std::string kReplacement = "\xEF\xBF\xBD";

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
      actual.push_back(read.text.starts_with(kCircle) && actual.size() < expected.size() &&
                               !expected[actual.size()].starts_with(kCircle)
                           ? read.text.substr(kCircle.size())
                           : read.text);
    }
    EXPECT_EQ(actual, expected) << test.line;
  }
  // Most cases survive the filter; a broken filter would silently skip them.
  EXPECT_GT(checked, 600u);
}

// ---- Widths, controls and what the reader adds or drops ------------------------------

TEST(GraphemeReaderTest, ClustersWidthsAndControls) {
  struct Case {
    const char* name;
    std::u32string input;
    std::vector<Read> expected;
  };
  const Case cases[] = {
      {"lone_mark_gets_dotted_circle", U"\u0301", {{kCircle + utf8(U"\u0301"), 1, 0}}},
      {"lone_selector_is_narrow", U"\uFE0F", {{kCircle + utf8(U"\uFE0F"), 1, 0}}},
      {"regional_indicators_pair_up", U"\U0001F1E6\U0001F1E7\U0001F1E8",
       {{utf8(U"\U0001F1E6\U0001F1E7"), 2, 0}, {utf8(U"\U0001F1E8"), 2, 0}}},
      {"heart_widened_by_presentation_selector", U"\u2764 \u2764\uFE0F",
       {{utf8(U"\u2764"), 1, 0}, {" ", 1, 0}, {utf8(U"\u2764\uFE0F"), 2, 0}}},
      {"keycap_without_selector", U"#\u20E3", {{utf8(U"#\u20E3"), 2, 0}}},
      // GB11 keeps it together; the joiner with a pictographic widens it.
      {"joined_narrow_pictographs", U"\u2601\u200D\u2602", {{utf8(U"\u2601\u200D\u2602"), 2, 0}}},
      {"hangul_from_jamo", U"\u1100\u1161\u11A8", {{utf8(U"\u1100\u1161\u11A8"), 2, 0}}},
      {"mark_after_tab_stands_alone", U"\t\u0301", {{"\t", 0, '\t'}, {kCircle + utf8(U"\u0301"), 1, 0}}},
      {"cr_lf_drops_cr", U"a\r\nb", {{"a", 1, 0}, {"\n", 0, '\n'}, {"b", 1, 0}}},
      {"lone_cr_soft_hyphen_and_bidi_controls_dropped", U"a\r\u00AD\u202Eb\u2066", {{"a", 1, 0}, {"b", 1, 0}}},
      {"dropped_control_does_not_split", U"e\x01\u0301", {{utf8(U"e\u0301"), 1, 0}}},
      {"only_controls", U"\x01\x02\x1B\x7F\u0085", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(read_all(utf8(c.input)), c.expected) << c.name;
}

TEST(GraphemeReaderTest, MalformedUtf8BecomesReplacementCharacter) {
  // A stray continuation byte and a cut sequence.
  EXPECT_EQ(read_all("a\x80z"), (std::vector<Read>{{"a", 1, 0}, {kReplacement, 1, 0}, {"z", 1, 0}}));
  EXPECT_EQ(read_all("x\xE4\xB8"), (std::vector<Read>{{"x", 1, 0}, {kReplacement, 1, 0}}));
  // A combining mark still attaches to the replacement.
  EXPECT_EQ(read_all("\xFF\xCC\x81"), (std::vector<Read>{{kReplacement + "\xCC\x81", 1, 0}}));
}

TEST(GraphemeReaderTest, ClusterKeepsBaseAndFirst63MarksAndFitsItsBuffer) {
  std::string marks;
  for (int i = 0; i < 63; ++i) marks += "\xCC\x81";
  // The rest is consumed unstored; a selector as the 65th does not widen.
  EXPECT_EQ(read_all("a" + marks + "\xEF\xB8\x8F\xCC\x81" + "b"), (std::vector<Read>{{"a" + marks, 1, 0}, {"b", 1, 0}}));
  // 64 four-byte marks without a base: the circle, 256 bytes and the NUL.
  std::string longest;
  for (int i = 0; i < 80; ++i) longest += "\xF0\x9D\x85\xA5";  // U+1D165, a combining mark
  const std::vector<Read> clusters = read_all(longest);
  ASSERT_EQ(clusters.size(), 1u);
  EXPECT_EQ(clusters[0].text.size(), 3u + 64u * 4u);
}

}  // namespace
}  // namespace lumora::text
