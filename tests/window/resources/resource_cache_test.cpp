// The window's resource caches: every PNG check and its message, the failed
// image table and its events, reloading, the texture cache's entry cap and
// eviction order, and the scene cache.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/png_writer.h"
#include "window/window_test_helpers.h"

namespace lumora::window {
namespace {

using namespace test_helpers;
using test_support::Bytes;

std::string image_command(const std::string& source) {
  json::JsonPtr text(cJSON_CreateString(source.c_str()));
  return R"(["image",)" + lumora::test::json_text(text.get()) + R"(,[0,0,4,4],"#ffffff","stretch"])";
}

// A valid PNG followed by zeros up to `size` bytes: the decoder stops at
// IEND, so only the stream's length decides whether it is accepted.
Bytes padded_png(std::size_t size) {
  Bytes bytes = test_support::png_solid(1, 1, {0, 200, 100, 255});
  bytes.resize(size, 0);
  return bytes;
}

class ResourceCacheTest : public WindowTest {
 protected:
  std::vector<std::string> drained_texts() {
    std::vector<std::string> texts;
    json::JsonPtr events = backend->drain_events();
    for (const cJSON* event = events ? events->child : nullptr; event != nullptr; event = event->next) {
      // The pump also reports what the window did while opening.
      if (lumora::test::string_member(event, "kind") != "resource_error") continue;
      texts.push_back(lumora::test::string_member(event, "text"));
    }
    return texts;
  }
};

TEST_F(ResourceCacheTest, EveryImageCheckHasItsMessage) {
  Bytes truncated = test_support::png_solid(4, 4, {1, 2, 3, 255});
  truncated.resize(truncated.size() - 10);
  const std::string not_png = test_support::png_data_uri(Bytes(40, 'x'));
  struct Case {
    std::string source;
    std::string message;
  };
  const Case cases[] = {
      {"data:image/png;base64,abc", "Invalid PNG data URI or encoded input exceeds 8 MiB"},
      {"data:image/png;base64,QUJD=AAA", "Invalid PNG data URI or encoded input exceeds 8 MiB"},
      {"data:image/png;base64,QU*D", "Invalid PNG data URI or encoded input exceeds 8 MiB"},
      {not_png, "Native window images require PNG data"},
      {test_support::png_data_uri(test_support::png_header_only(1, 1, 16, test_support::kPngGrey)),
       "Native 16-bit PNG images require RGBA channels"},
      {test_support::png_data_uri(test_support::png_header_only(65535, 65535, 8, test_support::kPngRgba)),
       "PNG dimensions exceed the 32 MiB native image budget"},
      // 32 MiB at 8 bytes a pixel, but the key is charged too.
      {test_support::png_data_uri(test_support::png_header_only(2048, 2048, 16, test_support::kPngRgba)),
       "PNG dimensions exceed the 32 MiB native image budget"},
      {test_support::png_data_uri(padded_png(8388609)), "PNG encoded input exceeds 8 MiB"},
      {test_support::png_data_uri(truncated), "Decode PNG image: corrupt or truncated PNG data"},
      {"/nonexistent-dir/image.png", "Open PNG image: Couldn't open /nonexistent-dir/image.png"},
      {"/", "PNG encoded input exceeds 8 MiB or has unknown size"},
  };
  open(R"("width":20,"height":20)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    commit("[" + image_command(c.source) + "]");
    EXPECT_EQ(draw_error(), "");  // a failed image never fails the frame
    EXPECT_EQ(drained_texts(), std::vector<std::string>{"sdl3 image unavailable: " + c.message});
  }
  // Exactly 8 MiB is decoded.
  commit("[" + image_command(test_support::png_data_uri(padded_png(8388608))) + "]");
  const CapturedPixels pixels = capture();
  EXPECT_TRUE(drained_texts().empty());
  EXPECT_EQ(pixels.at(2, 2), (Rgba{0, 200, 100, 255}));
}

TEST_F(ResourceCacheTest, AFailedImageIsReportedOnceUntilReloaded) {
  open(R"("width":20,"height":20)");
  std::string list = "[";
  for (int i = 0; i < 100; ++i) list += (i ? "," : "") + image_command("/nonexistent-dir/missing.png");
  commit(list + "]");
  EXPECT_EQ(draw_error(), "");
  EXPECT_EQ(drained_texts().size(), 1u);
  backend->invalidate_scene_cache();
  EXPECT_EQ(draw_error(), "");
  EXPECT_TRUE(drained_texts().empty());  // no retry, no new event

  const double revision = lumora::test::number_member(operation(R"({"op":"info"})").get(), "resource_revision");
  json::JsonPtr reloaded = operation(R"({"op":"reload_image","source":"/nonexistent-dir/missing.png"})");
  ASSERT_TRUE(reloaded);
  EXPECT_EQ(lumora::test::number_member(reloaded.get(), "resource_revision"), revision + 1);
  EXPECT_EQ(draw_error(), "");
  EXPECT_EQ(drained_texts().size(), 1u);  // tried again
}

TEST_F(ResourceCacheTest, OnlyTheNewest32EventsWaitForADrain) {
  open(R"("width":20,"height":20)");
  std::string list = "[";
  for (int i = 0; i < 40; ++i) list += (i ? "," : "") + image_command("/nonexistent-dir/" + std::to_string(i) + ".png");
  commit(list + "]");
  EXPECT_EQ(draw_error(), "");
  const std::vector<std::string> texts = drained_texts();
  ASSERT_EQ(texts.size(), 32u);
  EXPECT_EQ(texts.front(), "sdl3 image unavailable: Open PNG image: Couldn't open /nonexistent-dir/8.png");
  EXPECT_EQ(texts.back(), "sdl3 image unavailable: Open PNG image: Couldn't open /nonexistent-dir/39.png");
}

TEST_F(ResourceCacheTest, OneTextureBeyondTheEntryLimitEvictsTheLeastRecentlyUsed) {
  open(R"("width":200,"height":200)");
  std::string list = "[";
  const int lines = static_cast<int>(kMaxTextureEntries) + 1;
  // Tiny lines, so that the entry limit is reached before the text budget.
  for (int i = 0; i < lines; ++i) list += std::string(i ? "," : "") + R"(["text","t)" + std::to_string(i) + R"(",0,0,"#ffffff",1,false])";
  commit(list + "]");
  EXPECT_EQ(draw_error(), "");
  EXPECT_EQ(backend->texture_entries(), kMaxTextureEntries);
  EXPECT_FALSE(has_texture("text:1:0:t0"));
  EXPECT_TRUE(has_texture("text:1:0:t1"));
  EXPECT_TRUE(has_texture("text:1:0:t" + std::to_string(lines - 1)));
  std::uint64_t text_bytes = 0;
  for (const CachedTexture& entry : backend->textures()) text_bytes += entry.cost;
  EXPECT_EQ(backend->texture_class_bytes(TextureClass::text), text_bytes);
  EXPECT_EQ(backend->texture_bytes(), text_bytes);
}

TEST_F(ResourceCacheTest, ASettledSceneIsPresentedFromTheSceneCache) {
  open(R"("width":100,"height":100)");
  commit(R"([["rect",[0,0,50,50],"#ffffff",8,"#ff0000",2],["text","cached",0,60,"#ffffff",14,false]])");
  EXPECT_EQ(draw_error(), "");
  EXPECT_EQ(backend->counters().scene_cache_hits, 0u);
  const std::uint64_t ttf = backend->ttf_calls(), masks = backend->masks_built();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(draw_error(), "");
  EXPECT_EQ(backend->counters().scene_cache_hits, 3u);
  EXPECT_EQ(backend->counters().last_commands_replayed, 0u);
  EXPECT_EQ(backend->ttf_calls(), ttf);
  EXPECT_EQ(backend->masks_built(), masks);
  EXPECT_EQ(backend->scene_cache_bytes(), 100u * 100u * 4u);

  // Reloading an image invalidates the cache: the next frame redraws.
  ASSERT_TRUE(operation(R"({"op":"reload_image","source":"x.png"})"));
  EXPECT_EQ(draw_error(), "");
  EXPECT_EQ(backend->counters().last_commands_replayed, 2u);

  // With "cache_scene" off every present redraws and nothing is a hit.
  ASSERT_TRUE(operation(R"({"op":"configure","cache_scene":false})"));
  backend->reset_statistics();
  for (int i = 0; i < 2; ++i) EXPECT_EQ(draw_error(), "");
  EXPECT_EQ(backend->counters().scene_cache_hits, 0u);
  EXPECT_EQ(backend->counters().commands_replayed, 4u);
}

// The drawable is bounded so that its scene cache always fits in 32 MiB:
// one pixel more is refused, the largest one allowed is drawn once and then
// copied from the cache.
TEST_F(ResourceCacheTest, TheSceneCacheFitsTheLargestDrawableAllowed) {
  open(R"("width":100,"height":100)");
  std::string error;
  EXPECT_FALSE(operation(R"({"op":"set_size","width":4096,"height":2049})", &error));
  EXPECT_EQ(error, "Window drawable exceeds 8388608 pixels");
  ASSERT_TRUE(operation(R"({"op":"set_size","width":4096,"height":2048})"));
  commit(R"([["rect",[0,0,50,50],"#ffffff",0,"",0]])");
  for (int i = 0; i < 2; ++i) EXPECT_EQ(draw_error(), "");
  EXPECT_EQ(backend->counters().scene_cache_hits, 1u);
  EXPECT_EQ(backend->counters().commands_replayed, 1u);
}

TEST_F(ResourceCacheTest, ClipboardTextTooLargeOnceEscapedIsRefused) {
  open();
  // 3 MiB of control characters escape to 18 MiB: more than a reply holds.
  ASSERT_EQ(SDL_SetClipboardText(std::string(3 * 1048576, '\x01').c_str()), 0);
  std::string error;
  EXPECT_FALSE(operation(R"({"op":"clipboard_read"})", &error));
  EXPECT_EQ(error, "Clipboard text exceeds the 8 MiB text or 16 MiB JSON limit");
}

}  // namespace
}  // namespace lumora::window
