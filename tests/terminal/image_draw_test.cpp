#include "terminal/image_draw.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/json.h"
#include "support/png_writer.h"
#include "terminal/image_cache.h"
#include "terminal/primitives.h"
#include "terminal/rasterizer.h"

namespace lumora::terminal {
namespace {

using test_support::Bytes;

constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kBlack{0, 0, 0, 255};

class RecordingSink : public RasterEventSink {
 public:
  void resource_error(std::string_view text) override { texts.emplace_back(text); }
  std::vector<std::string> texts;
};

class ImageDrawTest : public ::testing::Test {
 protected:
  CellFrameRef frame_ = make_cell_frame(12, 6);
  ImageSourceCache cache_;
  RecordingSink sink_;

  void draw(const std::string& source, double x, double y, double w, double h, Rgba tint = kWhite,
            ImageFit fit = ImageFit::stretch, const ImageInsets* insets = nullptr) {
    draw_image(*frame_, &cache_, &sink_, source, x, y, w, h, tint, fit, insets);
  }
  const Cell& cell(int column, int row) const { return frame_->at(column, row); }
  std::string glyphs(int row) const {
    std::string text;
    for (int column = 0; column < frame_->columns; ++column) text += cell(column, row).glyph;
    return text;
  }
};

// Red above blue: the rows of a 2 × 2 image.
std::string red_over_blue() {
  return test_support::png_data_uri(test_support::png_rgba8(2, 2, {255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 255}));
}

TEST_F(ImageDrawTest, HalfBlockCarriesUpperAndLowerSamples) {
  draw(red_over_blue(), 0, 0, 8, 16);
  EXPECT_STREQ(cell(0, 0).glyph, "▀");
  EXPECT_EQ(cell(0, 0).foreground(), kRed);
  EXPECT_EQ(cell(0, 0).background(), kBlue);
  EXPECT_EQ(cell(0, 0).kind, CellKind::image);
  EXPECT_STREQ(cell(1, 0).glyph, " ");
  EXPECT_TRUE(sink_.texts.empty());
}

TEST_F(ImageDrawTest, TintAlphaBlendsOverPreviousColours) {
  fill_cell(*frame_, 0, 0, Rgba{0, 100, 0, 255});
  draw(red_over_blue(), 0, 0, 8, 16, Rgba{255, 255, 255, 128});
  // alpha 128: (128 × new + 127 × old + 127) / 255
  EXPECT_EQ(cell(0, 0).foreground(), (Rgba{128, 50, 0, 255}));
  EXPECT_EQ(cell(0, 0).background(), (Rgba{0, 50, 128, 255}));
}

TEST_F(ImageDrawTest, SamplesAverageByAlphaAndRoundTiesToEven) {
  // Upper row: opaque red and blue at alpha 51. Sum of alphas 612; red is
  // 255 × 130050 / (612 × 255) = 212.5, blue 42.5, alpha 153.
  const std::string source = test_support::png_data_uri(
      test_support::png_rgba8(2, 2, {255, 0, 0, 255, 0, 0, 255, 51, 0, 0, 0, 0, 0, 0, 0, 0}));
  draw(source, 0, 0, 8, 16);
  // 212 (even) and 42 blended at alpha 153 over black.
  EXPECT_EQ(cell(0, 0).foreground(), (Rgba{(153 * 212 + 127) / 255, 0, (153 * 42 + 127) / 255, 255}));
  EXPECT_EQ(cell(0, 0).background(), kBlack);  // the transparent lower half leaves it
}

TEST_F(ImageDrawTest, TintMultipliesChannels) {
  draw(test_support::png_data_uri(test_support::png_solid(1, 1, {200, 100, 50, 255})), 0, 0, 8, 16,
       Rgba{128, 255, 0, 255});
  // 128 × 200 / 255 = 100.39, 255 × 100 / 255 = 100, 0.
  EXPECT_EQ(cell(0, 0).foreground(), (Rgba{100, 100, 0, 255}));
}

TEST_F(ImageDrawTest, MonochromeFramesUseTheLuminanceRamp) {
  frame_->monochrome = true;
  draw(test_support::png_data_uri(test_support::png_solid(1, 1, {255, 255, 255, 255})), 0, 0, 8, 16);
  draw(test_support::png_data_uri(test_support::png_solid(1, 1, {0, 0, 0, 255})), 8, 0, 8, 16);
  draw(test_support::png_data_uri(test_support::png_solid(1, 1, {128, 128, 128, 255})), 16, 0, 8, 16);
  EXPECT_STREQ(cell(0, 0).glyph, "@");
  EXPECT_STREQ(cell(1, 0).glyph, " ");
  EXPECT_EQ(cell(1, 0).kind, CellKind::image);
  EXPECT_STREQ(cell(2, 0).glyph, "+");  // round(128 / 255 × 9) = 5
}

// Four vertical stripes of 25 pixels: red, green, blue, white; 100 × 50.
std::string stripes() {
  Bytes pixels;
  const Bytes colours[4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}};
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 100; ++x) pixels.insert(pixels.end(), colours[x / 25].begin(), colours[x / 25].end());
  }
  return test_support::png_data_uri(test_support::png_rgba8(100, 50, pixels));
}

TEST_F(ImageDrawTest, ContainLeavesBandsUntouched) {
  draw(stripes(), 0, 0, 80, 80, kWhite, ImageFit::contain);
  // Destination 80 × 40 from y = 20: rows 0 and 4 see no image.
  EXPECT_EQ(glyphs(0), std::string(12, ' '));
  EXPECT_EQ(glyphs(4), std::string(12, ' '));
  EXPECT_STREQ(cell(0, 2).glyph, "▀");
  EXPECT_EQ(cell(0, 2).foreground(), kRed);
  EXPECT_EQ(cell(9, 2).foreground(), kWhite);
  // Row 1: only the lower half falls inside the image.
  EXPECT_EQ(cell(0, 1).background(), kRed);
  EXPECT_EQ(cell(0, 1).foreground(), (Rgba{128, 0, 0, 255}));  // half covered: alpha 128
}

TEST_F(ImageDrawTest, CoverCropsTheSidesAndStretchShowsAll) {
  draw(stripes(), 0, 0, 80, 80, kWhite, ImageFit::cover);
  // Source columns 25..75 only: green, then blue.
  EXPECT_EQ(cell(0, 0).foreground(), kGreen);
  EXPECT_EQ(cell(4, 3).foreground(), kGreen);
  EXPECT_EQ(cell(5, 3).foreground(), kBlue);
  EXPECT_EQ(cell(9, 4).background(), kBlue);
  draw(stripes(), 0, 0, 80, 80, kWhite, ImageFit::stretch);
  EXPECT_EQ(cell(0, 0).foreground(), kRed);
  EXPECT_EQ(cell(9, 4).background(), kWhite);
}

TEST(ImageRegionsTest, NineSliceRegionsInOrder) {
  ImageRegions regions;
  const ImageInsets insets{2, 3, 4, 5};
  ASSERT_EQ(build_image_regions(10, 20, 40, 60, ImageFit::contain, &insets, regions), 9u);
  // top-left, top, top-right, left, centre, right, bottom-left, bottom, bottom-right
  const double expected[9][8] = {
      {0, 0, 2, 3, 0, 0, 2, 3},     {2, 0, 4, 3, 2, 0, 34, 3},     {6, 0, 4, 3, 36, 0, 4, 3},
      {0, 3, 2, 12, 0, 3, 2, 52},   {2, 3, 4, 12, 2, 3, 34, 52},   {6, 3, 4, 12, 36, 3, 4, 52},
      {0, 15, 2, 5, 0, 55, 2, 5},   {2, 15, 4, 5, 2, 55, 34, 5},   {6, 15, 4, 5, 36, 55, 4, 5},
  };
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    const ImageRegion& r = regions[i];
    EXPECT_EQ((std::vector<double>{r.sx, r.sy, r.sw, r.sh, r.dx, r.dy, r.dw, r.dh}),
              std::vector<double>(expected[i], expected[i] + 8));
  }
}

TEST(ImageRegionsTest, OversizedInsetsKeepOnlyPositiveRegions) {
  ImageRegions regions;
  const ImageInsets insets{8, 0, 8, 0};  // wider than the 10-pixel image
  ASSERT_EQ(build_image_regions(10, 10, 40, 16, ImageFit::stretch, &insets, regions), 2u);
  EXPECT_EQ(regions[0].sx, 0);   // left column
  EXPECT_EQ(regions[1].sx, 2);   // right column; the centre has negative width
  EXPECT_EQ(regions[1].dx, 32);
}

TEST(ImageRegionsTest, FractionalRectsScaleCornerInsets) {
  ImageRegions regions;
  const ImageInsets insets{1, 1, 1, 1};
  ASSERT_EQ(build_image_regions(4, 4, 10.5, 16, ImageFit::stretch, &insets, regions), 9u);
  // kx = 10.5 / round(10.5) = 10.5 / 11
  EXPECT_DOUBLE_EQ(regions[0].dw, 10.5 / 11);
  EXPECT_DOUBLE_EQ(regions[2].dx, 10.5 - 10.5 / 11);
}

TEST_F(ImageDrawTest, NineSliceLaterRegionsWinOverlaps) {
  // An 8 × 1 image, red then blue, into 4 pixels with insets 3 and 3: the
  // left region maps destination 0..3 to source 0..3, the right one maps
  // destination 1..4 to source 5..8. Where they overlap the later (right)
  // one decides, so the sample at x = 1.99 reads source pixel 5: blue.
  Bytes pixels;
  for (int x = 0; x < 8; ++x) {
    const Bytes colour = x < 4 ? Bytes{255, 0, 0, 255} : Bytes{0, 0, 255, 255};
    pixels.insert(pixels.end(), colour.begin(), colour.end());
  }
  const ImageInsets insets{3, 0, 3, 0};
  // At x = 0.01 the 4-pixel rect covers cell 0 (at x = 0 it would map to no cell).
  draw(test_support::png_data_uri(test_support::png_rgba8(8, 1, pixels)), 0.01, 0, 4, 16, kWhite, ImageFit::stretch,
       &insets);
  // The other sample (x = 5.99) lies outside the rect: half coverage, alpha 128.
  EXPECT_EQ(cell(0, 0).foreground(), (Rgba{0, 0, 128, 255}));
  EXPECT_EQ(cell(0, 0).background(), (Rgba{0, 0, 128, 255}));
}

TEST_F(ImageDrawTest, FailedSourceDrawsPlaceholderAndReportsOnce) {
  const std::string source = "https://example.invalid/x.png";
  fill_cell(*frame_, 0, 1, Rgba{0, 0, 80, 255});
  draw(source, 0, 16, 96, 16, Rgba{200, 200, 0, 255});
  EXPECT_EQ(glyphs(1), "[image]     ");
  EXPECT_EQ(cell(0, 1).kind, CellKind::text);
  EXPECT_EQ(cell(0, 1).foreground(), (Rgba{200, 200, 0, 255}));
  EXPECT_EQ(cell(0, 1).background(), (Rgba{0, 0, 80, 255}));
  ASSERT_EQ(sink_.texts.size(), 1u);
  // A narrower area cuts the placeholder; the cached failure stays quiet.
  draw(source, 0, 32, 32, 16);
  EXPECT_EQ(glyphs(2), "[ima        ");
  EXPECT_EQ(sink_.texts.size(), 1u);
  EXPECT_EQ(frame_->clip.x1, 12);  // the clip is restored
}

TEST_F(ImageDrawTest, HostilePngsDrawThePlaceholder) {
  const std::vector<std::string> sources = {
      test_support::png_data_uri(test_support::png_rgb16(1, 1, {1, 2, 3})),
      test_support::png_data_uri(test_support::png_header_only(100000, 100000, 8, 6)),
      "data:image/png;base64,iVBORw0K GgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==",
  };
  int row = 0;
  for (const std::string& source : sources) {
    draw(source, 0, row * 16, 96, 16);
    EXPECT_EQ(glyphs(row), "[image]     ") << source.substr(0, 40);
    ++row;
  }
  EXPECT_EQ(sink_.texts.size(), sources.size());
}

TEST_F(ImageDrawTest, TransparentTintOrEmptyAreaDrawsAndLoadsNothing) {
  draw(red_over_blue(), 0, 0, 8, 16, Rgba{255, 255, 255, 0});
  draw(red_over_blue(), 0, 0, 0, 16);
  frame_->clip = CellRect{5, 5, 5, 5};
  draw(red_over_blue(), 0, 0, 8, 16);
  EXPECT_EQ(cache_.image_count(), 0);
  EXPECT_EQ(glyphs(0), std::string(12, ' '));
}

TEST_F(ImageDrawTest, ImagesComposeOverEarlierImageCells) {
  // A half-transparent white over a red-over-blue cell: the upper half blends
  // over the earlier image's foreground, not the background.
  draw(red_over_blue(), 0, 0, 8, 16);
  draw(test_support::png_data_uri(test_support::png_solid(1, 1, {255, 255, 255, 128})), 0, 0, 8, 16);
  EXPECT_EQ(cell(0, 0).foreground(), (Rgba{255, 128, 128, 255}));
  EXPECT_EQ(cell(0, 0).background(), (Rgba{128, 128, 255, 255}));
}

TEST_F(ImageDrawTest, WideCharactersUnderAnImageAreCleared) {
  put_glyph(*frame_, 0, 0, "界", 2, kWhite, CellKind::text);
  draw(red_over_blue(), 8, 0, 8, 16);
  EXPECT_STREQ(cell(0, 0).glyph, " ");
  EXPECT_EQ(cell(0, 0).width, 1);
  EXPECT_STREQ(cell(1, 0).glyph, "▀");
  EXPECT_EQ(cell(1, 0).width, 1);
}

TEST_F(ImageDrawTest, CommandsDrawThroughTheContext) {
  const std::string source = red_over_blue();
  RasterContext context;
  context.image_cache = &cache_;
  context.events = &sink_;
  scene::JsonPtr image(cJSON_CreateArray());
  cJSON_AddItemToArray(image.get(), cJSON_CreateString("image"));
  cJSON_AddItemToArray(image.get(), cJSON_CreateString(source.c_str()));
  const double rect[4] = {8, 0, 8, 16};
  cJSON_AddItemToArray(image.get(), cJSON_CreateDoubleArray(rect, 4));
  cJSON_AddItemToArray(image.get(), cJSON_CreateString("#ffffff"));
  cJSON_AddItemToArray(image.get(), cJSON_CreateString("cover"));
  draw_image_command(context, *frame_, image.get());
  EXPECT_EQ(cell(1, 0).foreground(), kRed);

  scene::JsonPtr nine(cJSON_CreateArray());
  cJSON_AddItemToArray(nine.get(), cJSON_CreateString("image_nine"));
  cJSON_AddItemToArray(nine.get(), cJSON_CreateString(source.c_str()));
  const double nine_rect[4] = {16, 0, 8, 16};
  const double insets[4] = {0, 0, 0, 0};  // the centre region alone: a stretch
  cJSON_AddItemToArray(nine.get(), cJSON_CreateDoubleArray(nine_rect, 4));
  cJSON_AddItemToArray(nine.get(), cJSON_CreateDoubleArray(insets, 4));
  cJSON_AddItemToArray(nine.get(), cJSON_CreateString("#ffffff"));
  draw_image_nine_command(context, *frame_, nine.get());
  EXPECT_EQ(cell(2, 0).foreground(), kRed);
  EXPECT_EQ(cell(2, 0).background(), kBlue);
  EXPECT_EQ(cache_.image_count(), 1);
}

// Hostile sources through the whole composition: each list still composes,
// each image shows the placeholder, and each source reports once however
// often the scene is composed again.
TEST(ImageCompositionTest, HostileSourcesComposeWithOnePlaceholderEventEach) {
  const KindDrawers drawers{.image = draw_image_command, .image_nine = draw_image_nine_command};
  ImageSourceCache cache;
  RecordingSink sink;
  RasterContext context;
  context.columns = 10;
  context.rows = 4;
  context.image_cache = &cache;
  context.events = &sink;
  context.drawers = &drawers;
  Bytes oversized = test_support::png_header_only(16, 16, 8, 6);
  oversized.resize(kMaxPngStreamBytes + 1, 0);
  scene::JsonPtr list(cJSON_CreateArray());
  auto add_image = [&list](const std::string& source, double y) {
    cJSON* command = cJSON_CreateArray();
    cJSON_AddItemToArray(command, cJSON_CreateString("image"));
    cJSON_AddItemToArray(command, cJSON_CreateString(source.c_str()));
    const double rect[4] = {0, y, 80, 16};
    cJSON_AddItemToArray(command, cJSON_CreateDoubleArray(rect, 4));
    cJSON_AddItemToArray(command, cJSON_CreateString("#fff"));
    cJSON_AddItemToArray(command, cJSON_CreateString("contain"));
    cJSON_AddItemToArray(list.get(), command);
  };
  add_image(test_support::png_data_uri(test_support::png_rgb16(2, 2, std::vector<std::uint16_t>(12, 7))), 0);
  add_image(test_support::png_data_uri(test_support::png_header_only(0x7FFFFFFF, 0x7FFFFFFF, 8, 6)), 16);
  add_image(test_support::png_data_uri(oversized), 32);
  add_image("ftp://example.invalid/a.png", 48);
  for (int composition = 0; composition < 2; ++composition) {
    scene::ErrorBuffer<256> error;
    CellFrameRef frame = compose_frame(context, list.get(), Rgba{0, 0, 0, 255}, error.text());
    ASSERT_TRUE(frame) << error.c_str();
    for (int row = 0; row < 4; ++row) {
      std::string text;
      for (int column = 0; column < 10; ++column) text += frame->at(column, row).glyph;
      EXPECT_EQ(text, "[image]   ") << "row " << row;
    }
  }
  EXPECT_EQ(sink.texts.size(), 4u);
  EXPECT_EQ(cache.image_count(), 4);
}

}  // namespace
}  // namespace lumora::terminal
