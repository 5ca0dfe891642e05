#include "host/body_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::host {
namespace {

struct NulCase {
  std::string body;
  bool rejected;
};

TEST(BodyScanTest, EmbeddedNulInsideStringsOnly) {
  using namespace std::string_literals;
  const NulCase cases[] = {
      {R"({"a":"\u0000"})", true},
      {R"({"a":"x\u0000y"})", true},
      {R"({"\u0000":1})", true},
      {"{\"a\":\"x\0y\"}"s, true},
      {"{\"a\":\"\\u00\0" "0\"}"s, true},  // a zero byte among the four escape bytes
      {R"({"a":"\u0001"})", false},
      {R"({"a":"\\u0000"})", false},       // an escaped backslash, then plain text
      {R"({"a":"\"\u0000"})", true},       // an escaped quote keeps the string open
      {"{\"a\":1}\0"s, false},             // outside strings nothing is examined
      {R"({"a":"\u000)", false},           // too short: the parse fails instead
      {R"({"a":"\)", false},
      {R"({"a":"x"} "\u0000")", true},
  };
  for (const NulCase& c : cases) {
    EXPECT_EQ(c.rejected, has_embedded_nul(c.body.data(), c.body.size())) << c.body;
  }
}

std::string nested(std::size_t depth, char open, char close) {
  return std::string(depth, open) + std::string(depth, close);
}

TEST(BodyScanTest, NestingBeyondTheLimitIsRefused) {
  std::string ok = "{\"a\":" + nested(63, '[', ']') + "}";
  EXPECT_FALSE(nesting_exceeds(ok.data(), ok.size()));
  std::string deep = "{\"a\":" + nested(64, '[', ']') + "}";
  EXPECT_TRUE(nesting_exceeds(deep.data(), deep.size()));
  // Brackets inside strings, escaped quotes included, do not count.
  std::string quoted = "{\"a\":\"\\\"" + std::string(100, '[') + "\"}";
  EXPECT_FALSE(nesting_exceeds(quoted.data(), quoted.size()));
  // Siblings do not add up.
  std::string wide = "{\"a\":[" + nested(32, '{', '}') + "," + nested(40, '[', ']') + "]}";
  EXPECT_FALSE(nesting_exceeds(wide.data(), wide.size()));
  // Stray closers never let a deep document through.
  std::string stray = std::string(10, ']') + nested(65, '[', ']');
  EXPECT_TRUE(nesting_exceeds(stray.data(), stray.size()));
}

}  // namespace
}  // namespace lumora::host
