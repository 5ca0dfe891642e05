#include "terminal/vt/byte_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::terminal {
namespace {

TEST(ByteBufferTest, GrowsByDoublingAndAlwaysKeepsATrailingNul) {
  ByteBuffer buffer;
  EXPECT_STREQ(buffer.c_str(), "");
  EXPECT_EQ(buffer.capacity(), 0u);
  buffer.append(std::string(1024, 'x'));  // 1,024 bytes need 1,025 with the NUL
  EXPECT_EQ(buffer.capacity(), 2048u);
  buffer.append(std::string(5000, 'y'));
  EXPECT_EQ(buffer.capacity(), 8192u);
  EXPECT_EQ(buffer.view().substr(1020, 8), "xxxxyyyy");
  buffer.clear();  // keeps the storage for the next frame
  EXPECT_EQ(buffer.capacity(), 8192u);
  buffer.release();
  EXPECT_EQ(buffer.capacity(), 0u);
  EXPECT_STREQ(buffer.c_str(), "");
}

TEST(ByteBufferTest, AFailedBufferRefusesAppendsUntilCleared) {
  ByteBuffer buffer;
  buffer.append("kept");
  // An impossible reservation fails instead of wrapping round.
  EXPECT_FALSE(buffer.reserve_extra(static_cast<std::size_t>(-1)));
  EXPECT_TRUE(buffer.failed());
  buffer.append("dropped");
  buffer.append('!');
  EXPECT_EQ(buffer.view(), "kept");
  EXPECT_FALSE(buffer.reserve_extra(1));

  buffer.clear();
  EXPECT_FALSE(buffer.failed());
  buffer.append("again");
  EXPECT_EQ(buffer.view(), "again");
}

}  // namespace
}  // namespace lumora::terminal
