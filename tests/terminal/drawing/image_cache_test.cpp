#include "terminal/drawing/image_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/png_writer.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

using test::RecordingSink;

using test_support::Bytes;
using test_support::TempFile;

Bytes with_byte(Bytes bytes, std::size_t index, std::uint8_t value) {
  bytes.at(index) = value;
  return bytes;
}

// What the whole-process tests do not already refuse through a host.
TEST(ImageSourceCacheTest, RefusedSourcesAreCachedWithoutPixelsAndReportedOnce) {
  const Bytes good = test_support::png_solid(3, 3, {10, 20, 30, 255});
  const std::pair<const char*, std::string> failures[] = {
      {"grey_alpha16", test_support::png_data_uri(test_support::png_header_only(1, 1, 16, test_support::kPngGreyAlpha))},
      {"not_header_chunk", test_support::png_data_uri(with_byte(good, 12, 'X'))},
      {"zero_width", test_support::png_data_uri(test_support::png_header_only(0, 5, 8, 6))},
      {"too_short", test_support::png_data_uri(Bytes(good.begin(), good.begin() + 32))},
      {"directory", std::filesystem::temp_directory_path().string()},
      {"empty_source", ""},
  };
  for (const auto& [name, source] : failures) {
    SCOPED_TRACE(name);
    ImageSourceCache cache;
    RecordingSink sink;
    ImageHandle handle = cache.get_source(source, &sink);
    ASSERT_TRUE(handle);
    EXPECT_FALSE(handle->loaded());
    EXPECT_EQ(sink.texts, std::vector<std::string>{
                              "Terminal images require bounded PNG data; 16-bit sources must use RGBA channels"});
    EXPECT_EQ(cache.image_count(), 1);
    EXPECT_EQ(cache.image_bytes(), source.size() + 41);
    // Asked again, the cached failure answers without a second event.
    EXPECT_FALSE(cache.get_source(source, &sink)->loaded());
    EXPECT_EQ(sink.texts.size(), 1u);
  }
}

TEST(ImageSourceCacheTest, EntryLargerThanTheBudgetIsReturnedUncached) {
  // A 1-bit palette image of 8388608 pixels: a small stream that decodes to
  // exactly 32 MiB, so its charge exceeds the budget by its overhead.
  const std::uint32_t width = 2048, height = 4096;
  test_support::PngImage image{width, height, 1, test_support::kPngPalette,
                               Bytes(static_cast<std::size_t>(width / 8) * height, 0x0F), {{0, 0, 0}, {255, 255, 255}},
                               {}};
  TempFile file(test_support::encode_png(image));
  ImageSourceCache cache;
  cache.get_source(test_support::png_data_uri(test_support::png_solid(1, 1, {1, 0, 0, 255})), nullptr);
  const std::uint64_t before = cache.image_bytes();
  ImageHandle handle = cache.get_source(file.path(), nullptr);
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->loaded());
  EXPECT_FALSE(handle.is_cached());
  EXPECT_EQ(handle->charge, file.path().size() + 4ull * width * height + 41);
  const std::uint8_t* pixel = handle->pixels.get();
  EXPECT_EQ(pixel[0], 0);        // bits 0000 1111: black first
  EXPECT_EQ(pixel[4 * 4], 255);  // then white
  EXPECT_EQ(cache.image_count(), 1);
  EXPECT_EQ(cache.image_bytes(), before);
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
  EXPECT_FALSE(decode_base64_payload(std::string((kMaxPngStreamBytes + 1) / 3 * 4 + 4, 'A'), bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(decode_base64_payload(std::string(kMaxBase64PayloadChars + 1, '='), bytes));
}

}  // namespace
}  // namespace lumora::terminal
