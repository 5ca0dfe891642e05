#include "platform/random.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace lumora::platform {
namespace {

TEST(RandomBytesTest, FillsTheWholeBufferWithFreshBytes) {
  // 4,096 bytes that all stayed zero, or two equal draws, would mean the
  // source was not read.
  std::array<unsigned char, 4096> first{};
  std::array<unsigned char, 4096> second{};
  ASSERT_TRUE(random_bytes(first.data(), first.size()));
  ASSERT_TRUE(random_bytes(second.data(), second.size()));
  EXPECT_NE(first, second);
  std::set<unsigned char> distinct(first.begin(), first.end());
  EXPECT_GT(distinct.size(), 200u);
  EXPECT_TRUE(random_bytes(nullptr, 0));
}

}  // namespace
}  // namespace lumora::platform
