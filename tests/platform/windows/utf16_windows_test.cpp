#include "platform/utf16_windows.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::platform {
namespace {

TEST(Utf16WindowsTest, WellFormedTextConvertsWhole) {
  EXPECT_EQ(utf8_to_utf16(""), std::wstring());
  EXPECT_EQ(utf8_to_utf16("a é 中 \xF0\x9F\x98\x80"), std::wstring(L"a \u00e9 \u4e2d \xD83D\xDE00"));
}

TEST(Utf16WindowsTest, IllFormedTextAndEmbeddedNulAreRefused) {
  for (std::string text : {std::string("\xC0\xAF"), std::string("a\x80"), std::string("\xE4\xB8"),
                           std::string("\xED\xA0\x80"), std::string("a\0b", 3)}) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_FALSE(utf8_to_utf16(text).has_value());
  }
}

}  // namespace
}  // namespace lumora::platform
