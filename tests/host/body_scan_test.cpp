#include "host/body_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::host {
namespace {

struct ScanCase {
  std::string body;
  bool rejected;
};

TEST(BodyScanTest, EmbeddedNulInsideStringsOnly) {
  using namespace std::string_literals;
  const ScanCase cases[] = {
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
  for (const ScanCase& c : cases) {
    EXPECT_EQ(c.rejected, has_embedded_nul(c.body.data(), c.body.size())) << c.body;
  }
}

std::string nested(std::size_t depth, char open = '[', char close = ']') {
  return std::string(depth, open) + std::string(depth, close);
}

TEST(BodyScanTest, NestingBeyondTheLimitIsRefused) {
  const ScanCase cases[] = {
      {"{\"a\":" + nested(63) + "}", false},
      {"{\"a\":" + nested(64) + "}", true},
      {"{\"a\":\"\\\"" + std::string(100, '[') + "\"}", false},  // inside a string, after an escaped quote
      {"{\"a\":[" + nested(32, '{', '}') + "," + nested(40) + "]}", false},  // siblings do not add up
      {std::string(10, ']') + nested(65), true},  // stray closers never let a deep document through
  };
  for (const ScanCase& c : cases) EXPECT_EQ(c.rejected, nesting_exceeds(c.body.data(), c.body.size())) << c.body;
}

}  // namespace
}  // namespace lumora::host
