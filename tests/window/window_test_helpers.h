// An in-process window backend on the offscreen video driver and the
// software renderer, with helpers to commit a list and read its pixels back
// through "capture".
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "host/backend.h"
#include "scene/error_text.h"
#include "support/host_fixture.h"
#include "support/window_fixture.h"
#include "window/window_backend.h"

namespace lumora::window::test_helpers {

using lumora::test::CapturedPixels;
using lumora::test::Rgba;

class WindowTest : public testing::Test {
 protected:
  // Opens {"hidden":true,<members>}; fails the test when it cannot.
  void open(std::string_view members = "") {
    lumora::test::use_headless_video_in_process();
    // The fonts the build links next to the host binary.
    const std::string host_path = LUMORA_HOST_PATH;
    const std::string font_dir = host_path.substr(0, host_path.rfind('/')) + "/assets";
    json::JsonPtr command = lumora::test::parse_json("{\"hidden\":true,\"font_dir\":\"" + font_dir + "\"" +
                                                      std::string(members.empty() ? "" : ",") + std::string(members) + "}");
    ASSERT_TRUE(command);
    host::HostErrorBuffer error;
    backend = WindowBackend::open(command.get(), error.text());
    ASSERT_TRUE(backend) << error.c_str();
  }

  // Commits a list given as JSON text; fails the test when refused.
  void commit(std::string_view list) {
    json::JsonPtr commands = lumora::test::parse_json(list);
    ASSERT_TRUE(commands) << list;
    host::HostErrorBuffer error;
    ASSERT_TRUE(backend->commit_scene(commands.get(), error.text())) << error.c_str();
  }

  // The result of an operation given as JSON text; null with `error` set on failure.
  json::JsonPtr operation(std::string_view command, std::string* error = nullptr) {
    json::JsonPtr parsed = lumora::test::parse_json(command);
    EXPECT_TRUE(parsed) << command;
    if (!parsed) return nullptr;
    host::HostErrorBuffer buffer;
    json::JsonPtr result = backend->run_operation(parsed.get(), buffer.text());
    if (error != nullptr) *error = buffer.c_str();
    return result;
  }

  // Draws the retained scene and reads it back through "capture".
  CapturedPixels capture() {
    CapturedPixels pixels;
    lumora::test::TempPath path(".bmp");
    std::string error;
    json::JsonPtr result = operation(R"({"op":"capture","path":")" + path.path() + "\"}", &error);
    EXPECT_TRUE(result) << error;
    if (result) {
      EXPECT_TRUE(lumora::test::read_capture(path.path(), pixels));
    }
    return pixels;
  }

  // The message of a failing draw, or "" when it draws.
  std::string draw_error() {
    host::HostErrorBuffer error;
    return backend->draw_retained_scene(error.text()) ? "" : error.c_str();
  }

  bool has_texture(std::string_view key) const {
    for (const CachedTexture& entry : backend->textures()) {
      if (entry.key == key) return true;
    }
    return false;
  }

  std::unique_ptr<WindowBackend> backend;
};

// A row of pixels as colour texts, for messages.
inline std::string row_text(const CapturedPixels& pixels, int y, int x0, int x1) {
  std::string text;
  for (int x = x0; x < x1; ++x) text += lumora::test::rgba_text(pixels.at(x, y)) + " ";
  return text;
}

inline constexpr Rgba kBlack = {0, 0, 0, 255};
inline constexpr Rgba kRed = {255, 0, 0, 255};
inline constexpr Rgba kGreen = {0, 255, 0, 255};
inline constexpr Rgba kBlue = {0, 0, 255, 255};
inline constexpr Rgba kWhite = {255, 255, 255, 255};

}  // namespace lumora::window::test_helpers
