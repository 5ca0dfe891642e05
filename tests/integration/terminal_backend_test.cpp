// The headless terminal driven through the real host: open, commits and
// patches, presents, snapshots, the ANSI text and capture, resizing, and the
// counters that make frame reuse visible.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace lumora {
namespace {

using test::number_member;
using test::reply_fails_with;
using test::reply_ok;

class TerminalBackendTest : public testing::Test {
 protected:
  void SetUp() override { open(R"({"op":"open","backend":"terminal","headless":true,"columns":8,"rows":3,"color":"truecolor"})"); }

  void open(const std::string& command) {
    host = test::launch_default_host();
    ASSERT_TRUE(host);
    auto reply = host->request(command);
    ASSERT_TRUE(reply_ok(reply));
    open_reply = test::json_text(reply->result.get());
  }

  scene::JsonPtr result_of(const std::string& command) {
    auto reply = host->request(command);
    EXPECT_TRUE(reply_ok(reply)) << command;
    if (!reply || !reply->ok) return nullptr;
    return std::move(reply->result);
  }

  std::string text_of(const std::string& command) { return test::json_text(result_of(command).get()); }

  double info(const char* key) {
    scene::JsonPtr result = result_of(R"({"op":"info"})");
    return number_member(result.get(), key);
  }

  // Everything a failed commit or patch must leave as it was.
  std::string observable_state() {
    return text_of(R"({"op":"info"})") + "\n" + text_of(R"({"op":"snapshot"})") + "\n" +
           text_of(R"({"op":"ansi","diff":false})");
  }

  std::unique_ptr<client::Controller> host;
  std::string open_reply;
};

TEST_F(TerminalBackendTest, OpenRepliesWithTheInfoObject) {
  scene::JsonPtr reply = test::parse_json(open_reply);
  EXPECT_EQ(test::string_member(reply.get(), "renderer"), "native-cells");
  EXPECT_EQ(test::string_member(reply.get(), "backend"), "terminal");
  EXPECT_EQ(number_member(reply.get(), "columns"), 8);
  EXPECT_EQ(number_member(reply.get(), "width"), 64);
  EXPECT_EQ(number_member(reply.get(), "height"), 48);
  EXPECT_EQ(test::json_text(test::member(reply.get(), "visible")), "false");
}

TEST_F(TerminalBackendTest, InfoKeysComeInTheirFixedOrder) {
  scene::JsonPtr result = result_of(R"({"op":"info"})");
  std::vector<std::string> keys;
  for (const cJSON* item = result ? result->child : nullptr; item != nullptr; item = item->next) {
    keys.push_back(item->string);
  }
  const std::vector<std::string> expected = {
      "renderer", "backend", "width", "height", "scale", "resource_revision", "columns", "rows", "text_row_height",
      "pixel_size", "visible", "vsync", "scene_patches", "cache_scene", "images", "retained_scene_budget",
      "retained_scene_bytes", "image_bytes", "image_count", "segment_count", "command_count", "commands_touched",
      "commands_replayed", "last_commands_touched", "last_commands_replayed", "segments_updated", "segments_removed",
      "segments_tested", "last_segments_tested", "scene_patch_updates", "unchanged_segments", "cell_frames_composed",
      "cell_cache_hits", "ansi_frames_encoded", "ansi_bytes_encoded", "terminal_bytes_written",
      "terminal_output_pending_bytes"};
  EXPECT_EQ(keys, expected);
}

TEST_F(TerminalBackendTest, ResizeQueuesOneViewportEventAndNoneWasQueuedAtOpen) {
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","columns":10,"rows":4})")));
  auto message = host->next_message(5);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->type, client::kFrameEvent);
  EXPECT_EQ(message->text, R"({"kind":"viewport","viewport":{"width":80,"height":64,"scale":1}})");
  scene::JsonPtr info = result_of(R"({"op":"set_size"})");
  EXPECT_EQ(number_member(info.get(), "columns"), 10);
  EXPECT_EQ(number_member(info.get(), "rows"), 4);
  EXPECT_EQ(host->take_messages().size(), 0u);
}

TEST_F(TerminalBackendTest, SnapshotOfACommittedSceneHoldsEveryCell) {
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","columns":80,"rows":24})")));
  ASSERT_TRUE(reply_ok(host->request(
      R"({"op":"frame","commands":[["begin","#102030"],["text","界x",8,16,"#ffffff",14,false]]})")));
  scene::JsonPtr snapshot = result_of(R"({"op":"snapshot"})");
  const cJSON* cells = test::member(snapshot.get(), "cells");
  ASSERT_EQ(cJSON_GetArraySize(cells), 1920);
  ASSERT_EQ(cJSON_GetArraySize(test::member(snapshot.get(), "rows_text")), 24);
  EXPECT_EQ(test::json_text(cJSON_GetArrayItem(cells, 0)),
            R"({"text":" ","foreground":[255,255,255],"background":[16,32,48],"width":1,"underline":false})");
  // Row 1, column 1: the wide character and then its right half.
  EXPECT_EQ(test::string_member(cJSON_GetArrayItem(cells, 81), "text"), "界");
  EXPECT_EQ(number_member(cJSON_GetArrayItem(cells, 81), "width"), 2);
  EXPECT_EQ(test::string_member(cJSON_GetArrayItem(cells, 82), "text"), "");
  EXPECT_EQ(number_member(cJSON_GetArrayItem(cells, 82), "width"), 0);
  const cJSON* row = cJSON_GetArrayItem(test::member(snapshot.get(), "rows_text"), 1);
  ASSERT_TRUE(cJSON_IsString(row));
  EXPECT_EQ(std::string(row->valuestring), " 界x" + std::string(76, ' '));
}

TEST_F(TerminalBackendTest, ARecommitOfTheSameListComposesOnceAndPresentsReuseIt) {
  const std::string frame = R"({"op":"frame","commands":[["rect",[0,0,16,16],"#ff0000",0,"",0]]})";
  ASSERT_TRUE(reply_ok(host->request(frame)));
  ASSERT_TRUE(reply_ok(host->request(frame)));
  EXPECT_EQ(info("cell_frames_composed"), 1);
  EXPECT_EQ(info("commands_touched"), 2);
  EXPECT_EQ(info("command_count"), 1);
  // The host presents after each commit by itself; every present reuses the
  // frame the first commit composed, and only the first one wrote bytes.
  double hits = info("cell_cache_hits");
  EXPECT_GE(hits, 1);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  EXPECT_EQ(info("cell_cache_hits"), hits + 1);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  EXPECT_EQ(info("cell_cache_hits"), hits + 2);
  EXPECT_EQ(info("ansi_frames_encoded"), 1);
  EXPECT_EQ(info("cell_frames_composed"), 1);
}

TEST_F(TerminalBackendTest, UnchangedSegmentsAreCountedAndComposeNothing) {
  const std::string patch =
      R"({"op":"patch","upsert":[{"id":"a","bounds":[0,0,8,16],"commands":[["rect",[0,0,8,16],"#00ff00",0,"",0]]},)"
      R"({"id":"b","bounds":[0,0,8,16],"commands":[]}]})";
  ASSERT_TRUE(reply_ok(host->request(patch)));
  EXPECT_EQ(info("segment_count"), 2);
  EXPECT_EQ(info("cell_frames_composed"), 1);
  ASSERT_TRUE(reply_ok(host->request(patch)));
  EXPECT_EQ(info("unchanged_segments"), 2);
  EXPECT_EQ(info("cell_frames_composed"), 1);
  EXPECT_EQ(info("scene_patch_updates"), 2);
}

TEST_F(TerminalBackendTest, AnsiAfterAPresentIsEmptyAndCaptureMatchesTheFullText) {
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["text","ok",0,0,"#ffff00",14,false]]})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  EXPECT_EQ(text_of(R"({"op":"ansi"})"), "\"\"");
  scene::JsonPtr full = result_of(R"({"op":"ansi","diff":false})");
  ASSERT_TRUE(cJSON_IsString(full.get()));
  std::string expected = full->valuestring;
  EXPECT_EQ(expected.rfind("\x1b[?2026h\x1b[1;1H\x1b[38;2;255;255;0;48;2;0;0;0mok", 0), 0u);

  std::string path = testing::TempDir() + "terminal_backend_capture.ans";
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"capture","path":")" + path + "\"}")));
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_EQ(content.str(), expected);
  std::remove(path.c_str());
}

TEST_F(TerminalBackendTest, FailedCommitsLeaveSceneFrameAndCountersAsTheyWere) {
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["rect",[0,0,16,16],"#ff0000",0,"",0]]})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  const std::string state = observable_state();

  std::string many = R"({"op":"frame","commands":[)";
  for (int i = 0; i < 200001; ++i) many += i == 0 ? "[\"caret\",0,0,0,\"#fff\"]" : ",[\"caret\",0,0,0,\"#fff\"]";
  many += "]}";
  struct Case {
    std::string command;
    std::string message;
  };
  const std::vector<Case> cases = {
      {R"({"op":"frame"})", "Invalid or oversized retained command list"},
      {R"({"op":"frame","commands":{}})", "Invalid or oversized retained command list"},
      {R"({"op":"frame","commands":[5]})", "Invalid or oversized retained command list"},
      {many, "Invalid or oversized retained command list"},
      {R"({"op":"frame","commands":[["begin","#ff0000"],["rect",[0,0,8,8],"#zz",0,"",0]]})",
       "Invalid terminal command 1 (rect), geometry, color, or allocation budget"},
      {R"({"op":"frame","commands":[["sprite"]]})",
       "Invalid terminal command 0 (sprite), geometry, color, or allocation budget"},
      {R"({"op":"frame","commands":[[1,2]]})", "Invalid terminal command 0 (?), geometry, color, or allocation budget"},
      {R"({"op":"frame","commands":[["icon","no-such-icon",0,0,16,"#fff"]]})",
       "Invalid terminal command 0 (icon), geometry, color, or allocation budget"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(reply_fails_with(host->request(c.command), c.message)) << c.command.substr(0, 120);
    EXPECT_EQ(observable_state(), state) << c.command.substr(0, 120);
  }
}

TEST_F(TerminalBackendTest, FailedPatchesLeaveSceneFrameAndCountersAsTheyWere) {
  ASSERT_TRUE(reply_ok(host->request(
      R"({"op":"patch","upsert":[{"id":"a","bounds":[0,0,8,16],"commands":[["rect",[0,0,8,16],"#00ff00",0,"",0]]}]})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  const std::string state = observable_state();

  const std::vector<std::string> invalid = {
      R"({"op":"patch","upsert":[{"id":"b","bounds":[0,0,8,16],"commands":[["begin","#ff0000"]]}]})",
      R"({"op":"patch","remove":["a","a"]})",
      R"({"op":"patch","remove":["b"],"upsert":[{"id":"b","bounds":[0,0,1,1],"commands":[]}]})",
      R"({"op":"patch","upsert":[{"id":"","bounds":[0,0,1,1],"commands":[]}]})",
      R"({"op":"patch","upsert":[{"id":"c","bounds":[0,0,-1,1],"commands":[]}]})",
      R"({"op":"patch","upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[]},{"id":"c","bounds":[0,0,1,1],"commands":[]}]})",
      R"({"op":"patch","order":["a","a"]})",
      R"({"op":"patch","order":[]})",
      R"({"op":"patch","background":"#12"})",
  };
  for (const std::string& command : invalid) {
    EXPECT_TRUE(reply_fails_with(host->request(command), "Invalid retained terminal segment patch")) << command;
    EXPECT_EQ(observable_state(), state) << command;
  }
  // A patch that passes every rule but fails to compose.
  const std::string bad_icon =
      R"({"op":"patch","upsert":[{"id":"b","bounds":[0,0,8,16],"commands":[["icon","no-such-icon",0,0,16,"#fff"]]}]})";
  EXPECT_TRUE(reply_fails_with(host->request(bad_icon),
                               "Invalid terminal command 0 (icon), geometry, color, or allocation budget"));
  EXPECT_EQ(observable_state(), state);
}

TEST_F(TerminalBackendTest, StatsResetZeroesTheTerminalCountersButNotTheRetainedSizes) {
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#ffffff"]]})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"stats","reset":true})")));
  EXPECT_EQ(info("cell_frames_composed"), 0);
  EXPECT_EQ(info("commands_touched"), 0);
  EXPECT_EQ(info("ansi_frames_encoded"), 0);
  EXPECT_EQ(info("ansi_bytes_encoded"), 0);
  EXPECT_EQ(info("command_count"), 1);
  EXPECT_GT(info("retained_scene_bytes"), 0);
}

TEST_F(TerminalBackendTest, AColourModeChangeRewritesEveryCellAtTheNextPresent) {
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#808080"]]})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  double bytes = info("ansi_bytes_encoded");
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","color":"16"})")));
  EXPECT_EQ(text_of(R"({"op":"ansi"})"),
            "\"\\u001b[?2026h\\u001b[1;1H\\u001b[97;100m        \\u001b[2;1H        \\u001b[3;1H        "
            "\\u001b[0m\\u001b[?2026l\"");
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  EXPECT_EQ(info("ansi_frames_encoded"), 2);
  EXPECT_GT(info("ansi_bytes_encoded"), bytes);
}

TEST(TerminalBackendOpenTest, BadOpensFailWithTheirMessages) {
  struct Case {
    const char* command;
    const char* message;
  };
  const Case cases[] = {
      {R"({"op":"open","backend":"terminal","headless":true,"columns":20000})",
       "Invalid terminal color mode or viewport budget"},
      {R"({"op":"open","backend":"terminal","headless":true,"columns":2000,"rows":1000})",
       "Invalid terminal color mode or viewport budget"},
      {R"({"op":"open","backend":"terminal","headless":true,"color":"millions"})",
       "Invalid terminal color mode or viewport budget"},
      {R"({"op":"open","backend":"terminal"})",
       "The terminal backend requires an attached interactive Windows console; use headless for snapshots"},
  };
  for (const Case& c : cases) {
    // A new session without a controlling terminal, so that no console can be taken over.
    client::LaunchOptions options;
    options.host_path = LUMORA_HOST_PATH;
    options.new_session = true;
    std::string error;
    auto host = client::Controller::launch(options, &error);
    ASSERT_TRUE(host) << error;
    EXPECT_TRUE(reply_fails_with(host->request(c.command), c.message)) << c.command;
  }
}

TEST(TerminalBackendOpenTest, NoColorInTheEnvironmentSelectsModeNone) {
  auto host = test::launch_default_host({}, {"NO_COLOR=1"});
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"open","backend":"terminal","headless":true,"columns":2,"rows":1})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#ff0000"]]})")));
  auto reply = host->request(R"({"op":"ansi","diff":false})");
  ASSERT_TRUE(reply_ok(reply));
  EXPECT_EQ(test::json_text(reply->result.get()), "\"\\u001b[?2026h\\u001b[1;1H  \\u001b[0m\\u001b[?2026l\"");
}

}  // namespace
}  // namespace lumora
