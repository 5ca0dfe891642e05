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

}  // namespace
}  // namespace lumora::terminal
