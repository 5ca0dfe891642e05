#include "image/png_source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/png_writer.h"

namespace lumora::image {
namespace {

using test_support::Bytes;

Bytes with_byte(Bytes bytes, std::size_t index, std::uint8_t value) {
  bytes.at(index) = value;
  return bytes;
}

TEST(PngHeaderTest, AcceptsOnlyBoundedHeaders) {
  struct Case {
    const char* name;
    Bytes stream;
    bool accepted;
  };
  const Case cases[] = {
      {"rgba8", test_support::png_header_only(2048, 4096, 8, 6), true},
      {"rgba8_over", test_support::png_header_only(2048, 4097, 8, 6), false},
      {"rgba16", test_support::png_header_only(2048, 2048, 16, 6), true},
      {"rgba16_over", test_support::png_header_only(2049, 2048, 16, 6), false},
      {"rgb16", test_support::png_header_only(1, 1, 16, 2), false},
      {"max_dimensions", test_support::png_header_only(0xFFFFFFFFu, 0xFFFFFFFFu, 8, 6), false},
      {"palette", test_support::png_header_only(1, 1, 8, 3), true},
  };
  for (const Case& c : cases) EXPECT_EQ(png_header_acceptable(c.stream.data(), c.stream.size()), c.accepted) << c.name;
}

TEST(PngHeaderTest, ChunkWalkNeedsIntactChunksUpToTheEnd) {
  const Bytes good = test_support::png_solid(2, 2, {1, 2, 3, 4});
  EXPECT_TRUE(png_chunks_intact(good.data(), good.size()));
  Bytes trailing = good;
  trailing.push_back(0);  // bytes after the end chunk are ignored, as decoders do
  EXPECT_TRUE(png_chunks_intact(trailing.data(), trailing.size()));
  EXPECT_FALSE(png_chunks_intact(good.data(), good.size() - 1));
  // The length of the chunk after the header reaches past the stream.
  const Bytes long_chunk = with_byte(good, 33, 0x7F);
  EXPECT_FALSE(png_chunks_intact(long_chunk.data(), long_chunk.size()));
}

TEST(Base64Test, DecodesUpToTheFirstPaddingAndRefusesStrangers) {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(decode_base64_payload("TWFu", bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "Man");
  EXPECT_TRUE(decode_base64_payload("TWE=ignored!", bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "Ma");
  EXPECT_TRUE(decode_base64_payload("+/+/", bytes));
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xFB, 0xFF, 0xBF}));
  EXPECT_FALSE(decode_base64_payload("TWFu\n", bytes));
  EXPECT_FALSE(decode_base64_payload("TW-_", bytes));  // the URL-safe alphabet is not accepted
  // Too long a result is refused before anything is allocated.
  EXPECT_FALSE(decode_base64_payload(std::string((scene::kMaxPngStreamBytes + 1) / 3 * 4 + 4, 'A'), bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(decode_base64_payload(std::string(kMaxBase64PayloadChars + 1, '='), bytes));
}

// The retained bound on a data URI: its length, and the size its payload
// decodes to counted with up to two trailing "=".
TEST(PngDataUri, LengthAndDecodedSizeBounds) {
  const std::string prefix(kPngDataUriPrefix);
  const std::size_t longest_payload = scene::kMaxPngDataUriBytes - prefix.size();
  EXPECT_TRUE(png_data_uri_within_limits((prefix + std::string(longest_payload - 4, 'A') + "AA==").c_str()));
  EXPECT_TRUE(png_data_uri_within_limits((prefix + std::string(longest_payload - 4, 'A') + "AAA=").c_str()));
  EXPECT_FALSE(png_data_uri_within_limits((prefix + std::string(longest_payload, 'A')).c_str()));
  EXPECT_FALSE(png_data_uri_within_limits((prefix + std::string(longest_payload + 1, '=')).c_str()));
  EXPECT_TRUE(png_data_uri_within_limits(prefix.c_str()));
}

TEST(PngSource, DataUrisAndFilesButNoOtherSchemes) {
  const Bytes png = test_support::png_solid(1, 1, {1, 2, 3, 255});
  std::vector<std::uint8_t> stream;
  EXPECT_TRUE(read_png_source(test_support::png_data_uri(png), stream));
  EXPECT_EQ(stream, png);
  const test_support::TempFile file(png);
  EXPECT_TRUE(read_png_source(file.path(), stream));
  EXPECT_EQ(stream, png);
  EXPECT_FALSE(read_png_source("https://example.com/a.png", stream));
  EXPECT_FALSE(read_png_source("data:image/jpeg;base64,AAAA", stream));
  DecodedImage image;
  ASSERT_TRUE(load_png_source(test_support::png_data_uri(png), image));
  EXPECT_EQ(image.width, 1);
  EXPECT_EQ(image.pixels[2], 3);
}

}  // namespace
}  // namespace lumora::image
