#include "scene/error_text.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::scene {
namespace {

constexpr const char* kFffd = "\xEF\xBF\xBD";

// Ill-formed sequences become U+FFFD first (their maximal subparts, one
// replacement each), and only then is the message cut, before the first
// character that does not fit whole.
TEST(ErrorTextTest, MessagesAreMadeWellFormedThenCutWhole) {
  struct Case {
    std::string message;
    std::size_t buffer_size;  // the NUL included
    std::string expected;
  };
  const std::string e_acute = "\xC3\xA9";
  const Case cases[] = {
      {"plain", 16, "plain"},
      {"re\xDCt", 16, "re" + std::string(kFffd) + "t"},
      {"\xC0\xAF", 16, std::string(kFffd) + kFffd},           // overlong
      {"\xED\xA0\x80", 16, std::string(kFffd) + kFffd + kFffd},  // surrogate
      {"\xF4\x90\x80\x80", 16, std::string(kFffd) + kFffd + kFffd + kFffd},  // above U+10FFFF
      {"a\xF0\x9F\x98", 16, "a" + std::string(kFffd)},  // truncated at the end
      {"\xF0\x9F\x98\x80!", 16, "\xF0\x9F\x98\x80!"},
      {"abc" + e_acute, 5, "abc"},  // é would need bytes 4 and 5
      {"ab" + e_acute, 5, "ab" + e_acute},
      {"ab\xFF", 5, "ab"},  // the replacement does not fit, so it is left out
      {"a\xFF" "b", 5, "a" + std::string(kFffd)},
      {"abcdef", 4, "abc"},
      {"x", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::string buffer(c.buffer_size, '?');
    ErrorText text(buffer.data(), buffer.size());
    text.set(c.message);
    EXPECT_EQ(c.expected, text.view());
    text.format("<%s>", c.message.c_str());
    EXPECT_EQ(first_ill_formed_utf8(text.view()), text.view().size());
  }
}

TEST(ErrorTextTest, IllFormedSearchAndRepairAgree) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0}, {"ascii only", 10}, {"\xC3\xA9\xDC", 2}, {"ok\xC3", 2}, {"\xE2\x82\xAC\xE2\x82", 3},
  };
  for (const auto& [text, first_bad] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(first_bad, first_ill_formed_utf8(text));
    std::string repaired = to_valid_utf8(text);
    EXPECT_EQ(repaired.size(), first_ill_formed_utf8(repaired));
    EXPECT_EQ(text.substr(0, first_bad), repaired.substr(0, first_bad));
    EXPECT_EQ(first_bad == text.size(), repaired == text);
  }
}

}  // namespace
}  // namespace lumora::scene
