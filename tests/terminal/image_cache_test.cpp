#include "terminal/image_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/png_writer.h"
#include "terminal/rasterizer.h"

namespace lumora::terminal {
namespace {

using test_support::Bytes;
using test_support::TempFile;

class RecordingSink : public RasterEventSink {
 public:
  void resource_error(std::string_view text) override { texts.emplace_back(text); }
  std::vector<std::string> texts;
};

std::vector<std::uint8_t> pixels_of(const ImageSource& entry) {
  return {entry.pixels.get(), entry.pixels.get() + static_cast<std::size_t>(entry.width) * entry.height * 4};
}

// The colours every format below encodes: red, green, blue, half-transparent white.
const Bytes kExpectedRgba = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 128};

struct FormatCase {
  const char* name;
  Bytes png;
  Bytes expected;
};

std::vector<FormatCase> format_cases() {
  return {
      {"rgba8", test_support::png_rgba8(2, 2, kExpectedRgba), kExpectedRgba},
      {"rgb8", test_support::png_rgb8(2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}),
       {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}},
      {"grey8", test_support::png_grey8(2, 2, {0, 85, 170, 255}),
       {0, 0, 0, 255, 85, 85, 85, 255, 170, 170, 170, 255, 255, 255, 255, 255}},
      {"palette", test_support::png_palette8(2, 2, {0, 1, 2, 3}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}},
                                             {255, 255, 255, 128}),
       kExpectedRgba},
      {"palette_keyed", test_support::png_palette8(2, 2, {0, 1, 2, 3}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}},
                                                   {255, 255, 255, 0}),
       {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 9, 9, 9, 0}},
      // 16-bit samples that are multiples of 257 reduce to 8 bits exactly
      // however the decoder strips them.
      {"rgba16",
       test_support::png_rgba16(2, 2, {65535, 0, 0, 65535, 0, 65535, 0, 65535, 0, 0, 65535, 65535, 65535, 65535, 65535,
                                       128 * 257}),
       kExpectedRgba},
  };
}

TEST(ImageSourceCacheTest, DecodesEveryFormatFromDataUrisAndFiles) {
  for (const FormatCase& format : format_cases()) {
    SCOPED_TRACE(format.name);
    TempFile file(format.png);
    for (const std::string& source : {test_support::png_data_uri(format.png), file.path()}) {
      ImageSourceCache cache;
      RecordingSink sink;
      ImageHandle handle = cache.get_source(source, &sink);
      ASSERT_TRUE(handle);
      ASSERT_TRUE(handle->loaded());
      EXPECT_EQ(handle->width, 2);
      EXPECT_EQ(handle->height, 2);
      EXPECT_EQ(pixels_of(*handle.get()), format.expected);
      EXPECT_TRUE(sink.texts.empty());
      EXPECT_EQ(cache.image_count(), 1);
      EXPECT_EQ(cache.image_bytes(), source.size() + 4 * 2 * 2 + 41);
    }
  }
}

struct FailureCase {
  const char* name;
  std::string source;
};

Bytes with_byte(Bytes bytes, std::size_t index, std::uint8_t value) {
  bytes.at(index) = value;
  return bytes;
}

std::vector<FailureCase> failure_cases() {
  const Bytes good = test_support::png_solid(3, 3, {10, 20, 30, 255});
  const std::string good_uri = test_support::png_data_uri(good);
  const std::string payload = good_uri.substr(kPngDataUriPrefix.size());
  Bytes truncated(good.begin(), good.end() - 20);
  // Flip one byte inside the IDAT data: its CRC no longer matches.
  Bytes corrupt = with_byte(good, good.size() - 20, static_cast<std::uint8_t>(good[good.size() - 20] ^ 0x40));
  return {
      {"rgb16", test_support::png_data_uri(test_support::png_rgb16(1, 1, {1, 2, 3}))},
      {"grey_alpha16", test_support::png_data_uri(test_support::png_header_only(1, 1, 16, test_support::kPngGreyAlpha))},
      {"truncated", test_support::png_data_uri(truncated)},
      {"corrupt_chunk", test_support::png_data_uri(corrupt)},
      {"wrong_signature", test_support::png_data_uri(with_byte(good, 1, 'Q'))},
      {"not_header_chunk", test_support::png_data_uri(with_byte(good, 12, 'X'))},
      {"huge_dimensions", test_support::png_data_uri(test_support::png_header_only(65535, 65535, 8, 6))},
      {"header_one_pixel_over", test_support::png_data_uri(test_support::png_header_only(2049, 4096, 8, 6))},
      {"rgba16_over_half_budget", test_support::png_data_uri(test_support::png_header_only(2048, 2049, 16, 6))},
      {"zero_width", test_support::png_data_uri(test_support::png_header_only(0, 5, 8, 6))},
      {"too_short", test_support::png_data_uri(Bytes(good.begin(), good.begin() + 32))},
      {"base64_space", "data:image/png;base64," + payload.substr(0, 10) + " " + payload.substr(10)},
      {"base64_newline", "data:image/png;base64," + payload.substr(0, 10) + "\n" + payload.substr(10)},
      {"url_scheme", "https://example.invalid/image.png"},
      {"file_url", "file:///tmp/image.png"},
      {"other_data_uri", "data:image/gif;base64," + payload},
      {"missing_file", "/nonexistent/lumora/image.png"},
      {"directory", std::filesystem::temp_directory_path().string()},
      {"empty_source", ""},
  };
}

TEST(ImageSourceCacheTest, RefusedSourcesAreCachedWithoutPixelsAndReportedOnce) {
  for (const FailureCase& failure : failure_cases()) {
    SCOPED_TRACE(failure.name);
    ImageSourceCache cache;
    RecordingSink sink;
    ImageHandle handle = cache.get_source(failure.source, &sink);
    ASSERT_TRUE(handle);
    EXPECT_FALSE(handle->loaded());
    ASSERT_EQ(sink.texts.size(), 1u);
    EXPECT_EQ(sink.texts[0], "Terminal images require bounded PNG data; 16-bit sources must use RGBA channels");
    EXPECT_EQ(cache.image_count(), 1);
    EXPECT_EQ(cache.image_bytes(), failure.source.size() + 41);
    // Asked again, the cached failure answers without a second event.
    EXPECT_FALSE(cache.get_source(failure.source, &sink)->loaded());
    EXPECT_EQ(sink.texts.size(), 1u);
  }
}

TEST(ImageSourceCacheTest, StreamsAboveEightMebibytesAreRefused) {
  // A valid header followed by padding, one byte over the bound.
  Bytes big = test_support::png_header_only(16, 16, 8, 6);
  big.resize(kMaxPngStreamBytes + 1, 0);
  TempFile file(big);
  for (const std::string& source : {file.path(), test_support::png_data_uri(big)}) {
    ImageSourceCache cache;
    RecordingSink sink;
    EXPECT_FALSE(cache.get_source(source, &sink)->loaded());
    EXPECT_EQ(sink.texts.size(), 1u);
  }
}

TEST(ImageSourceCacheTest, ReloadDropsOneEntryAndItsCharge) {
  ImageSourceCache cache;
  RecordingSink sink;
  const std::string good = test_support::png_data_uri(test_support::png_solid(1, 1, {1, 2, 3, 255}));
  const std::string bad = "https://example.invalid/x.png";
  cache.get_source(good, &sink);
  cache.get_source(bad, &sink);
  ASSERT_EQ(cache.image_count(), 2);
  EXPECT_FALSE(cache.remove("https://example.invalid/x.pn"));
  EXPECT_TRUE(cache.remove(bad));
  EXPECT_FALSE(cache.remove(bad));
  EXPECT_EQ(cache.image_count(), 1);
  EXPECT_EQ(cache.image_bytes(), good.size() + 4 + 41);
  // Loaded anew, the failure is reported again.
  cache.get_source(bad, &sink);
  EXPECT_EQ(sink.texts.size(), 2u);
}

std::string tiny_source(int i) {
  return test_support::png_data_uri(test_support::png_solid(1, 1, {static_cast<std::uint8_t>(i), 0, 0, 255}));
}

TEST(ImageSourceCacheTest, SixtyFifthSourceEvictsTheLeastRecentlyUsed) {
  ImageSourceCache cache;
  std::uint64_t charges = 0;
  for (int i = 0; i < 64; ++i) {
    ASSERT_TRUE(cache.get_source(tiny_source(i), nullptr)->loaded());
    charges += tiny_source(i).size() + 4 + 41;
  }
  EXPECT_EQ(cache.image_count(), 64);
  EXPECT_EQ(cache.image_bytes(), charges);
  // Touch source 0 so that source 1 becomes the least recently used.
  RecordingSink sink;
  cache.get_source(tiny_source(0), &sink);
  cache.get_source(tiny_source(64), &sink);
  EXPECT_EQ(cache.image_count(), 64);
  EXPECT_EQ(cache.image_bytes(), charges - (tiny_source(1).size() + 45) + (tiny_source(64).size() + 45));
  EXPECT_FALSE(cache.remove(tiny_source(1)));
  EXPECT_TRUE(cache.remove(tiny_source(0)));
  EXPECT_TRUE(sink.texts.empty());
}

TEST(ImageSourceCacheTest, MemoryBudgetEvictsOldestEntries) {
  // Seven images of 4 MiB each fit in 32 MiB with their overheads; the
  // eighth pushes the first one out.
  Bytes png = test_support::png_solid(1024, 1024, {5, 6, 7, 255});
  std::vector<std::unique_ptr<TempFile>> files;
  ImageSourceCache cache;
  for (int i = 0; i < 8; ++i) {
    files.push_back(std::make_unique<TempFile>(png));
    ASSERT_TRUE(cache.get_source(files.back()->path(), nullptr)->loaded());
  }
  EXPECT_EQ(cache.image_count(), 7);
  EXPECT_LE(cache.image_bytes(), kMaxImageCacheBytes);
  EXPECT_FALSE(cache.remove(files[0]->path()));
  EXPECT_TRUE(cache.remove(files[1]->path()));
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
  cache.get_source(tiny_source(1), nullptr);
  const std::uint64_t before = cache.image_bytes();
  ImageHandle handle = cache.get_source(file.path(), nullptr);
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->loaded());
  EXPECT_FALSE(handle.is_cached());
  EXPECT_EQ(handle->charge, file.path().size() + 4ull * width * height + 41);
  const std::uint8_t* pixel = handle->pixels.get();
  EXPECT_EQ(pixel[0], 0);       // bits 0000 1111: black first
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
      {"grey16", test_support::png_header_only(1, 1, 16, 0), false},
      {"zero_height", test_support::png_header_only(1, 0, 8, 6), false},
      {"max_dimensions", test_support::png_header_only(0xFFFFFFFFu, 0xFFFFFFFFu, 8, 6), false},
      {"palette", test_support::png_header_only(1, 1, 8, 3), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(png_header_acceptable(c.stream.data(), c.stream.size()), c.accepted);
  }
}

TEST(PngHeaderTest, ChunkWalkNeedsIntactChunksUpToTheEnd) {
  const Bytes good = test_support::png_solid(2, 2, {1, 2, 3, 4});
  EXPECT_TRUE(png_chunks_intact(good.data(), good.size()));
  Bytes trailing = good;
  trailing.push_back(0);  // bytes after the end chunk are ignored, as decoders do
  EXPECT_TRUE(png_chunks_intact(trailing.data(), trailing.size()));
  EXPECT_FALSE(png_chunks_intact(good.data(), good.size() - 1));
  Bytes bad_crc = good;
  bad_crc[29] ^= 1;  // a CRC byte of the header chunk
  EXPECT_FALSE(png_chunks_intact(bad_crc.data(), bad_crc.size()));
  Bytes long_chunk = good;
  long_chunk[33] = 0x7F;  // the length of the chunk after the header reaches past the stream
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
  EXPECT_FALSE(decode_base64_payload("TW Fu", bytes));
  EXPECT_FALSE(decode_base64_payload("TWFu\n", bytes));
  EXPECT_FALSE(decode_base64_payload("TW-_", bytes));  // the URL-safe alphabet is not accepted
  // Too long a result is refused before anything is allocated.
  EXPECT_FALSE(decode_base64_payload(std::string((kMaxPngStreamBytes + 1) / 3 * 4 + 4, 'A'), bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(decode_base64_payload(std::string(kMaxBase64PayloadChars + 1, '='), bytes));
}

}  // namespace
}  // namespace lumora::terminal
