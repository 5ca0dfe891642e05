// The window backend driven through the real host in the headless video
// environment: open members and their failures, the info object, the named
// operations and their argument checks, and capture in both file formats.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/host_fixture.h"
#include "support/window_fixture.h"

namespace lumora {
namespace {

using test::number_member;
using test::reply_fails_with;
using test::reply_ok;

std::string read_prefix(const std::string& path, std::size_t n) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes(n, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(n));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

TEST(WindowBackendTest, InfoKeysComeInTheirOrder) {
  auto host = test::launch_window_host();
  ASSERT_TRUE(host);
  auto reply = host->request(R"({"op":"info"})");
  ASSERT_TRUE(reply_ok(reply));
  const std::vector<std::string> expected = {
      "width", "height", "scale", "viewport", "pixel_size", "window_size", "resource_revision", "renderer", "vsync",
      "visible", "animating", "texture_entries", "texture_bytes", "image_decode_attempts", "cache_scene",
      "scene_cache_bytes", "scene_cache_hits", "backend", "scene_patches", "retained_scene_bytes", "segment_count",
      "command_count", "commands_touched", "last_commands_touched", "segments_updated", "segments_removed",
      "scene_patch_updates", "unchanged_segments", "retained_scene_budget", "commands_replayed",
      "last_commands_replayed", "segments_tested", "last_segments_tested", "animation_segments_tested",
      "active_segment_count", "transition_snapshot_commands"};
  std::vector<std::string> keys;
  for (const cJSON* item = reply->result->child; item != nullptr; item = item->next) keys.push_back(item->string);
  // The host may append its own statistics after the backend's keys.
  ASSERT_GE(keys.size(), expected.size());
  keys.resize(expected.size());
  EXPECT_EQ(keys, expected);
  const cJSON* info = reply->result.get();
  EXPECT_EQ(number_member(info, "width"), 960);
  EXPECT_EQ(number_member(info, "height"), 640);
  EXPECT_EQ(number_member(info, "scale"), 1);
  EXPECT_EQ(test::string_member(info, "backend"), "window");
  EXPECT_EQ(test::string_member(info, "renderer"), "software");
  EXPECT_EQ(number_member(info, "vsync"), 1);
  EXPECT_FALSE(cJSON_IsTrue(test::member(info, "visible")));  // opened hidden
  EXPECT_EQ(test::json_text(test::member(info, "viewport")),
            R"({"width":960,"height":640,"scale":1,"safe_area":[0,0,0,0],"keyboard_occlusion":0})");
  EXPECT_EQ(test::json_text(test::member(info, "pixel_size")), "[960,640]");
  // Both fonts at 14 pixels were measured into no texture yet.
  EXPECT_EQ(number_member(info, "texture_entries"), 0);
}

TEST(WindowBackendTest, OpenMembersAndTheirLimits) {
  struct Case {
    const char* members;
    const char* error;  // null: opens
    double width, height, scale;
  };
  const Case cases[] = {
      {R"("width":0)", "Invalid window dimensions or scale", 0, 0, 0},
      {R"("height":16385)", "Invalid window dimensions or scale", 0, 0, 0},
      {R"("scale":0.1)", "Invalid window dimensions or scale", 0, 0, 0},
      {R"("scale":"2")", "Invalid window dimensions or scale", 0, 0, 0},
      {R"("font_dir":"/nonexistent-fonts")", "Open bundled font: Couldn't open /nonexistent-fonts/DejaVuSans.ttf", 0, 0, 0},
      {R"("width":"wide","vsync":"no")", nullptr, 960, 640, 1},
      // Larger than the offscreen display's usable 1024 × 768: fitted to it.
      {R"("width":16384,"height":16384)", nullptr, 1024, 768, 1},
      {R"("width":300,"height":200,"scale":2)", nullptr, 300, 200, 2},
      {R"("width":100,"height":50,"scale":null)", nullptr, 100, 50, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.members);
    auto host = test::launch_host(LUMORA_HOST_PATH, {}, test::headless_video_environment());
    ASSERT_TRUE(host);
    auto reply = host->request(std::string(R"({"op":"open","backend":"window","hidden":true,)") + c.members + "}");
    if (c.error != nullptr) {
      EXPECT_TRUE(reply_fails_with(reply, c.error));
      // Nothing remains open: every backend command is refused.
      EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"info"})"), "Open the backend first"));
      continue;
    }
    ASSERT_TRUE(reply_ok(reply));
    EXPECT_EQ(number_member(reply->result.get(), "width"), c.width);
    EXPECT_EQ(number_member(reply->result.get(), "height"), c.height);
    EXPECT_EQ(number_member(reply->result.get(), "scale"), c.scale);
    EXPECT_TRUE(reply_ok(host->request(R"({"op":"close"})")));
  }
}

TEST(WindowBackendTest, OperationArgumentsAreChecked) {
  auto host = test::launch_window_host();
  ASSERT_TRUE(host);
  const std::pair<const char*, const char*> cases[] = {
      {R"({"op":"measure","text":"a","size":0})", "Invalid arguments for renderer operation: measure"},
      {R"({"op":"measure","text":"a","size":2049})", "Invalid arguments for renderer operation: measure"},
      {R"({"op":"measure","text":7,"size":14})", "Invalid arguments for renderer operation: measure"},
      {R"({"op":"measure","text":"a","size":14,"mono":1})", "Invalid arguments for renderer operation: measure"},
      {R"({"op":"measure_many","texts":["a",2],"size":14})", "Invalid arguments for renderer operation: measure_many"},
      {R"({"op":"set_size","width":0,"height":10})", "Invalid arguments for renderer operation: set_size"},
      {R"({"op":"set_title"})", "Invalid arguments for renderer operation: set_title"},
      {R"({"op":"text_input","rect":[0,0,-1,5]})", "Invalid arguments for renderer operation: text_input"},
      {R"({"op":"text_input","rect":[0,0,5]})", "Invalid arguments for renderer operation: text_input"},
      {R"({"op":"capture","path":""})", "Invalid arguments for renderer operation: capture"},
      {R"({"op":"reload_image"})", "Invalid arguments for renderer operation: reload_image"},
      {R"({"op":"configure","transition_ms":60001,"vsync":false,"scale":2})",
       "Invalid arguments for renderer operation: configure"},
      {R"({"op":"configure","vsync":2})", "Invalid arguments for renderer operation: configure"},
      {R"({"op":"snapshot"})", "Unsupported renderer operation: snapshot"},
      {R"({"op":"clipboard_write","text":null})", "Invalid arguments for renderer operation: clipboard_write"},
  };
  for (const auto& [command, error] : cases) {
    EXPECT_TRUE(reply_fails_with(host->request(command), error)) << command;
  }
  // The refused "configure" applied none of its members.
  auto info = host->request(R"({"op":"info"})");
  ASSERT_TRUE(reply_ok(info));
  EXPECT_EQ(number_member(info->result.get(), "vsync"), 1);
  EXPECT_EQ(number_member(info->result.get(), "scale"), 1);
}

TEST(WindowBackendTest, OperationsSucceedWithTheirResults) {
  auto host = test::launch_window_host(R"("width":400,"height":300)");
  ASSERT_TRUE(host);
  auto empty = host->request(R"({"op":"measure_many","texts":[],"size":14})");
  ASSERT_TRUE(reply_ok(empty));
  EXPECT_EQ(test::json_text(empty->result.get()), "[]");

  auto one = host->request(R"({"op":"measure","text":"Hello","size":14})");
  ASSERT_TRUE(reply_ok(one));
  auto two = host->request(R"({"op":"measure","text":"Hello\nHello","size":14})");
  ASSERT_TRUE(reply_ok(two));
  const double width = cJSON_GetArrayItem(one->result.get(), 0)->valuedouble;
  const double height = cJSON_GetArrayItem(one->result.get(), 1)->valuedouble;
  EXPECT_GT(width, 20);
  EXPECT_EQ(height, 17);  // DejaVu Sans at 14 pixels
  EXPECT_EQ(cJSON_GetArrayItem(two->result.get(), 0)->valuedouble, width);
  EXPECT_EQ(cJSON_GetArrayItem(two->result.get(), 1)->valuedouble, 2 * height);

  // Measured in logical units: at scale 2 the same text measures about the
  // same (hinting at the larger pixel size moves it by a pixel or two).
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","scale":2})")));
  auto scaled = host->request(R"({"op":"measure_many","texts":["Hello"],"size":14})");
  ASSERT_TRUE(reply_ok(scaled));
  EXPECT_NEAR(cJSON_GetArrayItem(cJSON_GetArrayItem(scaled->result.get(), 0), 0)->valuedouble, width, 2);

  auto sized = host->request(R"({"op":"set_size","width":200,"height":100})");
  ASSERT_TRUE(reply_ok(sized));
  EXPECT_EQ(number_member(sized->result.get(), "width"), 200);
  EXPECT_EQ(test::json_text(test::member(sized->result.get(), "pixel_size")), "[400,200]");

  EXPECT_TRUE(reply_ok(host->request(R"({"op":"set_title","title":"Über"})")));
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"text_input","rect":[10,10,100,20]})")));
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"text_input","rect":null})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"clipboard_write","text":"copied \u00e9"})")));
  auto clipboard = host->request(R"({"op":"clipboard_read"})");
  ASSERT_TRUE(reply_ok(clipboard));
  EXPECT_EQ(test::json_text(clipboard->result.get()), "\"copied \xc3\xa9\"");

  auto configured = host->request(R"({"op":"configure","vsync":0,"cache_scene":false,"transition_ms":200})");
  ASSERT_TRUE(reply_ok(configured));
  EXPECT_EQ(number_member(configured->result.get(), "vsync"), 0);
  EXPECT_FALSE(cJSON_IsTrue(test::member(configured->result.get(), "cache_scene")));
}

TEST(WindowBackendTest, ClipboardLimits) {
  auto host = test::launch_window_host();
  ASSERT_TRUE(host);
  // 8 MiB of letters is the largest text accepted both ways.
  const std::string letters(8388608, 'a');
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"clipboard_write","text":")" + letters + "\"}")));
  auto read = host->request(R"({"op":"clipboard_read"})");
  ASSERT_TRUE(reply_ok(read));
  EXPECT_EQ(std::string_view(read->result->valuestring).size(), letters.size());
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"clipboard_write","text":")" + letters + "a\"}"),
                               "Clipboard text exceeds 8 MiB"));
}

TEST(WindowBackendTest, CaptureWritesPngOrBmpByTheEnding) {
  auto host = test::launch_window_host(R"("width":40,"height":30,"scale":2)");
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#102030"],["rect",[5,5,10,10],"#ff0000",0,"",0]]})")));
  const std::pair<const char*, const char*> endings[] = {{".PNG", "\x89PNG"}, {".png", "\x89PNG"}, {".bmp", "BM"},
                                                         {".pngx", "BM"}};
  for (const auto& [suffix, magic] : endings) {
    SCOPED_TRACE(suffix);
    test::TempPath path(suffix);
    auto reply = host->request(R"({"op":"capture","path":")" + path.path() + "\"}");
    ASSERT_TRUE(reply_ok(reply));
    EXPECT_EQ(number_member(reply->result.get(), "width"), 80);
    EXPECT_EQ(number_member(reply->result.get(), "height"), 60);
    EXPECT_EQ(test::string_member(reply->result.get(), "path"), path.path());
    EXPECT_EQ(read_prefix(path.path(), std::string_view(magic).size()), magic);
    test::CapturedPixels pixels;
    ASSERT_TRUE(test::read_capture(path.path(), pixels));
    EXPECT_EQ(pixels.count(10, 10, 20, 20, {255, 0, 0, 255}), 400);
    EXPECT_EQ(test::rgba_text(pixels.at(9, 9)), "#102030ff");
    EXPECT_EQ(test::rgba_text(pixels.at(30, 30)), "#102030ff");
  }
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"capture","path":"/nonexistent-dir/x.bmp"})"),
                               "Save captured frame: Couldn't open /nonexistent-dir/x.bmp"));
}

}  // namespace
}  // namespace lumora
