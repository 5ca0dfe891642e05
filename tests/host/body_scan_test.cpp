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

}  // namespace
}  // namespace lumora::host
