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

// The decoder would complain about these on standard error, which the host
// keeps for its protocol notice: they are refused before it, and what it
// only warns about is decoded silently.
TEST(PngHeaderTest, FieldsPngDoesNotAllowNeverReachTheDecoder) {
  ::testing::internal::CaptureStderr();
  for (const Bytes& png : test_support::pngs_with_invalid_headers()) {
    EXPECT_FALSE(png_header_acceptable(png.data(), png.size()));
    DecodedImage image;
    EXPECT_FALSE(decode_png_rgba(png.data(), png.size(), 1024, image));
  }
  const Bytes gamma = test_support::png_with_zero_gamma();
  DecodedImage image;
  ASSERT_TRUE(decode_png_rgba(gamma.data(), gamma.size(), 1024, image));
  EXPECT_EQ(Bytes(image.pixels.get(), image.pixels.get() + 4), (Bytes{255, 0, 0, 255}));
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
}

// Every colour type and depth becomes 8-bit RGBA: 16-bit samples keep their
// high byte, low depths and grey expand, a palette's alpha comes from tRNS.
TEST(PngDecodeTest, EveryColourTypeBecomesRgba8) {
  struct Case {
    const char* name;
    Bytes png;
    Bytes rgba;
  };
  test_support::PngImage grey1;
  grey1.width = 3;
  grey1.height = 1;
  grey1.bit_depth = 1;
  grey1.colour_type = test_support::kPngGrey;
  grey1.samples = {0b10100000};
  test_support::PngImage grey_alpha;
  grey_alpha.width = 1;
  grey_alpha.height = 1;
  grey_alpha.colour_type = test_support::kPngGreyAlpha;
  grey_alpha.samples = {100, 50};
  const Case cases[] = {
      {"grey8", test_support::png_grey8(1, 1, {128}), {128, 128, 128, 255}},
      {"grey1", test_support::encode_png(grey1), {255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255}},
      {"grey_alpha", test_support::encode_png(grey_alpha), {100, 100, 100, 50}},
      {"rgb8", test_support::png_rgb8(1, 1, {1, 2, 3}), {1, 2, 3, 255}},
      {"rgba16", test_support::png_rgba16(1, 1, {0x1234, 0x5678, 0x9ABC, 0xDEF0}), {0x12, 0x56, 0x9A, 0xDE}},
      {"palette", test_support::png_palette8(2, 1, {0, 1}, {{10, 20, 30}, {40, 50, 60}}, {255, 0}),
       {10, 20, 30, 255, 40, 50, 60, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedImage image;
    ASSERT_TRUE(decode_png_rgba(c.png.data(), c.png.size(), 1024, image));
    ASSERT_EQ(static_cast<std::size_t>(image.width) * image.height * 4, c.rgba.size());
    EXPECT_EQ(Bytes(image.pixels.get(), image.pixels.get() + c.rgba.size()), c.rgba);
  }
  // More pixels than the caller allows.
  const Bytes wide = test_support::png_grey8(4, 1, {0, 0, 0, 0});
  DecodedImage image;
  EXPECT_FALSE(decode_png_rgba(wide.data(), wide.size(), 3, image));
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
