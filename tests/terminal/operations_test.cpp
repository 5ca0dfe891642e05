// The terminal backend opened headless in-process: open, the operation
// table, the info object, resizing and the present's encoding.
#include "terminal/operations.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "terminal/terminal_backend.h"

namespace lumora::terminal {
namespace {

using scene::JsonPtr;

JsonPtr parse(const std::string& text) {
  JsonPtr value(cJSON_Parse(text.c_str()));
  EXPECT_TRUE(value) << text;
  return value;
}

std::string print(const cJSON* value) {
  if (value == nullptr) return "<null>";
  scene::JsonText text = scene::print_json(value);
  return text ? std::string(text.get()) : "<unprintable>";
}

struct OpenResult {
  std::unique_ptr<TerminalBackend> backend;
  std::string error;
};

OpenResult open_with(const std::string& command) {
  JsonPtr json = parse(command);
  scene::HostErrorBuffer error;
  OpenResult result;
  result.backend = TerminalBackend::open(json.get(), error.text());
  result.error = error.c_str();
  return result;
}

double info_number(TerminalBackend& backend, const char* key) {
  JsonPtr info = backend.info();
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(info.get(), key);
  EXPECT_TRUE(cJSON_IsNumber(item)) << key;
  return cJSON_IsNumber(item) ? item->valuedouble : -1;
}

class HeadlessTerminal : public testing::Test {
 protected:
  void SetUp() override {
    OpenResult opened = open_with(R"({"backend":"terminal","headless":true,"columns":4,"rows":2,"color":"truecolor"})");
    ASSERT_TRUE(opened.backend) << opened.error;
    backend = std::move(opened.backend);
  }

  // Runs an operation; on failure the result is null and `last_error` holds the message.
  JsonPtr run(const std::string& command) {
    JsonPtr json = parse(command);
    scene::HostErrorBuffer error;
    JsonPtr result = backend->run_operation(json.get(), error.text());
    last_error = error.c_str();
    return result;
  }

  bool commit(const std::string& commands) {
    JsonPtr json = parse(commands);
    scene::HostErrorBuffer error;
    bool ok = backend->commit_scene(json.get(), error.text());
    last_error = error.c_str();
    return ok;
  }

  bool present() {
    scene::HostErrorBuffer error;
    bool ok = backend->draw_retained_scene(error.text()) && backend->present_frame(error.text());
    last_error = error.c_str();
    return ok;
  }

  std::string ansi(bool diff) {
    JsonPtr text = run(std::string(R"({"op":"ansi","diff":)") + (diff ? "true" : "false") + "}");
    EXPECT_TRUE(cJSON_IsString(text.get())) << last_error;
    return cJSON_IsString(text.get()) ? text->valuestring : "";
  }

  std::string drained() {
    JsonPtr events = backend->drain_events();
    return print(events.get());
  }

  std::unique_ptr<TerminalBackend> backend;
  std::string last_error;
};

// ---- open ----

TEST(TerminalOpenTest, HeadlessWithoutSizeIsAHundredByThirtySixAndQueuesNoViewport) {
  OpenResult opened = open_with(R"({"backend":"terminal","headless":true})");
  ASSERT_TRUE(opened.backend) << opened.error;
  EXPECT_EQ(opened.backend->columns(), 100);
  EXPECT_EQ(opened.backend->rows(), 36);
  EXPECT_TRUE(opened.backend->headless());
  EXPECT_EQ(opened.backend->title(), "Lumora");
  EXPECT_EQ(print(opened.backend->drain_events().get()), "[]");
}

TEST(TerminalOpenTest, SizesFollowCellsThenPixelsWithClampingAndAFloorOfOne) {
  struct Case {
    const char* members;
    int columns, rows;
  };
  const Case cases[] = {
      {R"("columns":80,"rows":24)", 80, 24},
      {R"("columns":80.9,"rows":24.2)", 80, 24},
      {R"("width":100,"height":100)", 12, 6},
      {R"("width":7,"height":15)", 1, 1},
      {R"("columns":0,"rows":-3)", 1, 1},
      {R"("columns":-1e300,"rows":"40","height":160)", 1, 10},
      {R"("columns":"x","width":"y")", 100, 36},
      {R"("columns":16384,"rows":64)", 16384, 64},
  };
  for (const Case& c : cases) {
    OpenResult opened = open_with(std::string(R"({"headless":true,)") + c.members + "}");
    ASSERT_TRUE(opened.backend) << c.members << ": " << opened.error;
    EXPECT_EQ(opened.backend->columns(), c.columns) << c.members;
    EXPECT_EQ(opened.backend->rows(), c.rows) << c.members;
  }
}

TEST(TerminalOpenTest, RefusedSizesAndColourNamesFailTheOpen) {
  for (const char* members : {R"("columns":20000)", R"("columns":2000,"rows":1000)", R"("columns":1e300)",
                              R"("rows":16385)", R"("columns":16384,"rows":65)", R"("color":"bogus")",
                              R"("color":"")", R"("color":"Truecolor")"}) {
    OpenResult opened = open_with(std::string(R"({"headless":true,)") + members + "}");
    EXPECT_FALSE(opened.backend) << members;
    EXPECT_EQ(opened.error, "Invalid terminal color mode or viewport budget") << members;
  }
}

TEST(TerminalOpenTest, ColourNamesSelectTheMode) {
  struct Case {
    const char* colour;
    ColourMode mode;
  };
  for (const Case& c : {Case{R"("16")", ColourMode::indexed16}, Case{R"("256")", ColourMode::indexed256},
                        Case{R"("none")", ColourMode::none}, Case{R"("truecolor")", ColourMode::truecolor}}) {
    OpenResult opened = open_with(std::string(R"({"headless":true,"color":)") + c.colour + "}");
    ASSERT_TRUE(opened.backend) << c.colour;
    EXPECT_EQ(opened.backend->colour_mode(), c.mode) << c.colour;
  }
  // A "color" that is not a string means "auto", which always finds a mode.
  EXPECT_TRUE(open_with(R"({"headless":true,"color":16})").backend);
  EXPECT_TRUE(open_with(R"({"headless":true,"color":null})").backend);
}

TEST(TerminalOpenTest, HeadlessComesFromHeadlessThenHidden) {
  constexpr const char* kConsoleMessage =
      "The terminal backend requires an attached interactive Windows console; use headless for snapshots";
  struct Case {
    const char* members;
    bool opens_headless;
  };
  const Case cases[] = {
      {R"("headless":true)", true},
      {R"("headless":1)", true},
      {R"("headless":-2.5)", true},
      {R"("hidden":true)", true},
      {R"("headless":"yes","hidden":1)", true},
      {R"("headless":false,"hidden":true)", false},
      {R"("headless":0.5)", false},
      {R"("hidden":false)", false},
      {"\"title\":\"x\"", false},
  };
  for (const Case& c : cases) {
    OpenResult opened = open_with(std::string("{") + c.members + "}");
    EXPECT_EQ(static_cast<bool>(opened.backend), c.opens_headless) << c.members;
    if (!c.opens_headless) {
      EXPECT_EQ(opened.error, kConsoleMessage) << c.members;
    }
  }
}

TEST(TerminalOpenTest, TitleIsCopiedFromOpen) {
  OpenResult opened = open_with(R"({"headless":true,"title":"Main"})");
  ASSERT_TRUE(opened.backend);
  EXPECT_EQ(opened.backend->title(), "Main");
}

// ---- the title sequence ----

TEST(TitleSequenceTest, ControlsAreLeftOutAndTheRestReencoded) {
  struct Case {
    std::string title;
    std::string expected;
  };
  const Case cases[] = {
      {"Lumora", "\x1b]2;Lumora\x07"},
      {"\x01\x1b\x7f\xc2\x85\x07", "\x1b]2;\x07"},
      {"a\tb\nc", "\x1b]2;abc\x07"},
      {"caf\xc3\xa9 \xe4\xb8\x96", "\x1b]2;caf\xc3\xa9 \xe4\xb8\x96\x07"},
      {"x\xff y", "\x1b]2;x\xef\xbf\xbd y\x07"},
  };
  for (const Case& c : cases) {
    ByteBuffer out;
    append_title_sequence(c.title, out);
    EXPECT_EQ(out.view(), c.expected);
  }
}

TEST(TitleSequenceTest, LongTitlesAreCutAtTwoHundredFiftySixCharacters) {
  std::string title;
  for (int i = 0; i < 300; ++i) title += "\xc3\xa9";  // two bytes each
  ByteBuffer out;
  append_title_sequence(title, out);
  EXPECT_EQ(out.view(), "\x1b]2;" + title.substr(0, 512) + "\x07");
}

// ---- info ----

TEST_F(HeadlessTerminal, InfoHasEveryKeyInItsFixedOrder) {
  JsonPtr info = backend->info();
  std::vector<std::string> keys;
  for (const cJSON* item = info ? info->child : nullptr; item != nullptr; item = item->next) keys.push_back(item->string);
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

TEST_F(HeadlessTerminal, InfoValuesDescribeTheHeadlessGrid) {
  EXPECT_EQ(print(backend->info().get()),
            R"({"renderer":"native-cells","backend":"terminal","width":32,"height":32,"scale":1,)"
            R"("resource_revision":0,"columns":4,"rows":2,"text_row_height":16,"pixel_size":[32,32],)"
            R"("visible":false,"vsync":false,"scene_patches":true,"cache_scene":true,"images":true,)"
            R"("retained_scene_budget":67108864,"retained_scene_bytes":0,"image_bytes":0,"image_count":0,)"
            R"("segment_count":0,"command_count":0,"commands_touched":0,"commands_replayed":0,)"
            R"("last_commands_touched":0,"last_commands_replayed":0,"segments_updated":0,"segments_removed":0,)"
            R"("segments_tested":0,"last_segments_tested":0,"scene_patch_updates":0,"unchanged_segments":0,)"
            R"("cell_frames_composed":0,"cell_cache_hits":0,"ansi_frames_encoded":0,"ansi_bytes_encoded":0,)"
            R"("terminal_bytes_written":0,"terminal_output_pending_bytes":0})");
  EXPECT_EQ(print(run(R"({"op":"info"})").get()), print(backend->info().get()));
}

// ---- unknown and unavailable operations ----

TEST_F(HeadlessTerminal, UnknownAndClipboardOperationsFailWithTheirTexts) {
  struct Case {
    const char* command;
    const char* message;
  };
  const Case cases[] = {
      {R"({"op":"clipboard_get"})", "Native terminal clipboard service is unavailable; use terminal paste"},
      {R"({"op":"clipboard_set","text":"x"})", "Native terminal clipboard service is unavailable; use terminal paste"},
      {R"({"op":"resize"})", "Unsupported native terminal operation"},
      {R"({"op":"Snapshot"})", "Unsupported native terminal operation"},
      {R"({"op":""})", "Unsupported native terminal operation"},
      {R"({"op":7})", "Unsupported native terminal operation"},
      {R"({})", "Unsupported native terminal operation"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(run(c.command)) << c.command;
    EXPECT_EQ(last_error, c.message) << c.command;
  }
}

TEST_F(HeadlessTerminal, TextInputAndSetTitleAnswerNull) {
  EXPECT_EQ(print(run(R"({"op":"text_input","enabled":true})").get()), "null");
  EXPECT_EQ(print(run(R"({"op":"set_title","title":"Renamed"})").get()), "null");
  EXPECT_EQ(backend->title(), "Renamed");
  EXPECT_EQ(print(run(R"({"op":"set_title","title":5})").get()), "null");
  EXPECT_EQ(backend->title(), "");
}

TEST_F(HeadlessTerminal, MeasureIsRoutedToTheTextMetrics) {
  EXPECT_EQ(print(run(R"({"op":"measure","text":"ab\ncde"})").get()), "[24,32]");
  EXPECT_EQ(print(run(R"({"op":"measure_many","texts":["","x"]})").get()), "[[0,16],[8,16]]");
}

// ---- configure and set_size ----

TEST_F(HeadlessTerminal, ConfigureResizesAndQueuesOneViewportEvent) {
  EXPECT_EQ(print(run(R"({"op":"configure","columns":10,"rows":3})").get()), "null");
  EXPECT_EQ(backend->columns(), 10);
  EXPECT_EQ(backend->rows(), 3);
  EXPECT_EQ(drained(), R"([{"kind":"viewport","viewport":{"width":80,"height":48,"scale":1}}])");
  // The same size again, or one side kept: nothing new to report.
  EXPECT_TRUE(run(R"({"op":"configure","columns":10})"));
  EXPECT_EQ(drained(), "[]");
  EXPECT_TRUE(run(R"({"op":"configure","rows":5})"));
  EXPECT_EQ(backend->columns(), 10);
  EXPECT_EQ(drained(), R"([{"kind":"viewport","viewport":{"width":80,"height":80,"scale":1}}])");
}

TEST_F(HeadlessTerminal, ConfigureRefusesBadViewportsAndChangesNothing) {
  for (const char* command :
       {R"({"op":"configure","columns":80.5})", R"({"op":"configure","columns":0})",
        R"({"op":"configure","rows":16385})", R"({"op":"configure","columns":16384,"rows":65})",
        R"({"op":"configure","columns":"80"})", R"({"op":"configure","rows":null})",
        R"({"op":"configure","columns":1e400})", R"({"op":"configure","color":"256","columns":0})"}) {
    EXPECT_FALSE(run(command)) << command;
    EXPECT_EQ(last_error, "Invalid or terminal-owned viewport") << command;
  }
  EXPECT_EQ(backend->columns(), 4);
  EXPECT_EQ(backend->rows(), 2);
  EXPECT_EQ(backend->colour_mode(), ColourMode::truecolor);
  EXPECT_EQ(drained(), "[]");
  EXPECT_TRUE(run(R"({"op":"configure","columns":16384,"rows":64})"));
}

TEST_F(HeadlessTerminal, ConfigureColourNamesAModeOrFails) {
  EXPECT_TRUE(run(R"({"op":"configure","color":"16"})"));
  EXPECT_EQ(backend->colour_mode(), ColourMode::indexed16);
  for (const char* command : {R"({"op":"configure","color":"bright"})", R"({"op":"configure","color":null})",
                              R"({"op":"configure","color":256,"columns":8})"}) {
    EXPECT_FALSE(run(command)) << command;
    EXPECT_EQ(last_error, "Invalid color mode") << command;
  }
  EXPECT_EQ(backend->colour_mode(), ColourMode::indexed16);
  EXPECT_EQ(backend->columns(), 4);
  // The host's transition setting arrives as a configure and changes nothing.
  EXPECT_EQ(print(run(R"({"op":"configure","transition_ms":200})").get()), "null");
  EXPECT_EQ(backend->colour_mode(), ColourMode::indexed16);
}

TEST_F(HeadlessTerminal, SetSizeKeepsAHeadlessSizeAndAnswersInfo) {
  JsonPtr info = run(R"({"op":"set_size"})");
  ASSERT_TRUE(info);
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(info.get(), "columns")->valuedouble, 4);
  EXPECT_EQ(drained(), "[]");
}

// ---- feed_input ----

TEST_F(HeadlessTerminal, FeedInputChecksItsHex) {
  EXPECT_FALSE(run(R"({"op":"feed_input","hex":"616"})"));
  EXPECT_EQ(last_error, "Input hex must have complete bytes");
  EXPECT_FALSE(run(R"({"op":"feed_input","hex":"zz"})"));
  EXPECT_EQ(last_error, "Invalid input hex");
  EXPECT_FALSE(run(R"({"op":"feed_input","hex":"6g"})"));
  EXPECT_EQ(last_error, "Invalid input hex");
  EXPECT_EQ(drained(), "[]");
}

TEST_F(HeadlessTerminal, FedBytesBecomeEventsAsIfTyped) {
  EXPECT_EQ(print(run(R"({"op":"feed_input","hex":"4A","flush":true})").get()), "null");
  std::string from_hex = drained();
  EXPECT_NE(from_hex, "[]");
  EXPECT_TRUE(run(R"({"op":"feed_input","data":"J","flush":1})"));
  EXPECT_EQ(drained(), from_hex);
  EXPECT_TRUE(run(R"({"op":"feed_input","hex":""})"));
  EXPECT_TRUE(run(R"({"op":"feed_input"})"));
  EXPECT_EQ(drained(), "[]");
}

// ---- frames, ANSI and capture ----

TEST_F(HeadlessTerminal, AnsiNeedsAFrame) {
  EXPECT_FALSE(run(R"({"op":"ansi"})"));
  EXPECT_EQ(last_error, "No terminal frame or ANSI allocation failed");
  EXPECT_FALSE(run(R"({"op":"capture","path":"/tmp/unused"})"));
  EXPECT_EQ(last_error, "Cannot encode capture");
}

TEST_F(HeadlessTerminal, PresentEncodesOnceAndCountsTheBytes) {
  ASSERT_TRUE(commit(R"([["rect",[0,0,8,16],"#ff0000",0,"",0]])")) << last_error;
  std::string full = ansi(true);  // nothing written yet: everything
  EXPECT_EQ(full, ansi(false));
  EXPECT_EQ(full.rfind("\x1b[?2026h\x1b[1;1H\x1b[38;2;255;255;255;48;2;255;0;0m ", 0), 0u) << full;
  ASSERT_TRUE(present()) << last_error;
  EXPECT_EQ(info_number(*backend, "ansi_frames_encoded"), 1);
  EXPECT_EQ(info_number(*backend, "ansi_bytes_encoded"), static_cast<double>(full.size()));
  EXPECT_EQ(info_number(*backend, "terminal_bytes_written"), 0);
  EXPECT_EQ(ansi(true), "");
  EXPECT_EQ(ansi(false), full);

  ASSERT_TRUE(present());
  EXPECT_EQ(info_number(*backend, "ansi_frames_encoded"), 1);

  backend->reset_statistics();
  EXPECT_EQ(info_number(*backend, "ansi_frames_encoded"), 0);
  EXPECT_EQ(info_number(*backend, "ansi_bytes_encoded"), 0);
}

TEST_F(HeadlessTerminal, DiffAfterPresentWritesOnlyTheChange) {
  ASSERT_TRUE(commit(R"([["rect",[0,0,8,16],"#ff0000",0,"",0]])"));
  ASSERT_TRUE(present());
  ASSERT_TRUE(commit(R"([["rect",[0,0,8,16],"#ff0000",0,"",0],["rect",[24,16,8,16],"#0000ff",0,"",0]])"));
  EXPECT_EQ(ansi(true), "\x1b[?2026h\x1b[2;4H\x1b[38;2;255;255;255;48;2;0;0;255m \x1b[0m\x1b[?2026l");
}

TEST_F(HeadlessTerminal, AColourModeChangeMakesTheNextEncodingComplete) {
  ASSERT_TRUE(commit(R"([["begin","#808080"]])"));
  ASSERT_TRUE(present());
  ASSERT_TRUE(run(R"({"op":"configure","color":"256"})"));
  std::string full = ansi(true);
  EXPECT_EQ(full, "\x1b[?2026h\x1b[1;1H\x1b[38;5;15;48;5;8m    \x1b[2;1H    \x1b[0m\x1b[?2026l");
  // The same mode again keeps what was written.
  ASSERT_TRUE(present());
  ASSERT_TRUE(run(R"({"op":"configure","color":"256"})"));
  EXPECT_EQ(ansi(true), "");
}

TEST_F(HeadlessTerminal, AResizeRecomposesAndWritesInFull) {
  ASSERT_TRUE(commit(R"([["begin","#000000"]])"));
  ASSERT_TRUE(present());
  double composed = info_number(*backend, "cell_frames_composed");
  ASSERT_TRUE(run(R"({"op":"configure","columns":2,"rows":1})"));
  ASSERT_TRUE(present());
  EXPECT_EQ(info_number(*backend, "cell_frames_composed"), composed + 1);
  EXPECT_EQ(info_number(*backend, "ansi_frames_encoded"), 2);
  EXPECT_EQ(ansi(false), "\x1b[?2026h\x1b[1;1H\x1b[38;2;255;255;255;48;2;0;0;0m  \x1b[0m\x1b[?2026l");
}

TEST_F(HeadlessTerminal, PresentWithoutAFrameFails) {
  scene::HostErrorBuffer error;
  EXPECT_FALSE(backend->present_frame(error.text()));
  EXPECT_STREQ(error.c_str(), "Terminal has no frame");
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

TEST_F(HeadlessTerminal, CaptureWritesTheFullAnsiText) {
  ASSERT_TRUE(commit(R"([["text","hi",0,0,"#00ff00",14,false]])"));
  ASSERT_TRUE(present());
  std::string path = testing::TempDir() + "terminal_capture_test.ans";
  {
    std::ofstream stale(path);
    stale << std::string(10000, 'x');  // replaced, not overwritten in place
  }
  EXPECT_EQ(print(run(R"({"op":"capture","path":")" + path + "\"}").get()), "null") << last_error;
  EXPECT_EQ(read_file(path), ansi(false));
  std::remove(path.c_str());
}

TEST_F(HeadlessTerminal, CaptureReportsPathAndWriteFailures) {
  ASSERT_TRUE(commit(R"([["begin","#000000"]])"));
  EXPECT_FALSE(run(R"({"op":"capture"})"));
  EXPECT_EQ(last_error, "Capture needs a path");
  EXPECT_FALSE(run(R"({"op":"capture","path":7})"));
  EXPECT_EQ(last_error, "Capture needs a path");
  EXPECT_FALSE(run(R"({"op":"capture","path":"/nonexistent-dir/x.ans"})"));
  EXPECT_EQ(last_error, "Cannot open terminal capture path");
  EXPECT_FALSE(run(R"({"op":"capture","path":""})"));
  EXPECT_EQ(last_error, "Cannot open terminal capture path");

  JsonPtr invalid_path = parse(R"({"op":"capture"})");
  cJSON_AddItemToObject(invalid_path.get(), "path", cJSON_CreateString("/tmp/\xff\xfe.ans"));
  scene::HostErrorBuffer error;
  EXPECT_FALSE(backend->run_operation(invalid_path.get(), error.text()));
  EXPECT_STREQ(error.c_str(), "Cannot open terminal capture path");

  std::ifstream full_device("/dev/full");
  if (full_device.good()) {
    EXPECT_FALSE(run(R"({"op":"capture","path":"/dev/full"})"));
    EXPECT_EQ(last_error, "Cannot write terminal capture");
  }
}

// ---- reload_image ----

TEST_F(HeadlessTerminal, ReloadImageCountsAndMakesTheNextPresentCompose) {
  ASSERT_TRUE(commit(R"([["begin","#000000"]])"));
  ASSERT_TRUE(present());
  EXPECT_EQ(info_number(*backend, "cell_frames_composed"), 1);
  EXPECT_EQ(info_number(*backend, "cell_cache_hits"), 1);  // the commit's frame
  JsonPtr info = run(R"({"op":"reload_image","source":"never-loaded.png"})");
  ASSERT_TRUE(info) << last_error;
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(info.get(), "resource_revision")->valuedouble, 1);
  ASSERT_TRUE(present());
  EXPECT_EQ(info_number(*backend, "cell_frames_composed"), 2);
  EXPECT_EQ(info_number(*backend, "cell_cache_hits"), 1);
  ASSERT_TRUE(present());
  EXPECT_EQ(info_number(*backend, "cell_cache_hits"), 2);
}

TEST_F(HeadlessTerminal, ReloadImageNeedsABoundedStringSource) {
  EXPECT_FALSE(run(R"({"op":"reload_image"})"));
  EXPECT_EQ(last_error, "Invalid terminal image source");
  EXPECT_FALSE(run(R"({"op":"reload_image","source":3})"));
  EXPECT_EQ(last_error, "Invalid terminal image source");
  EXPECT_FALSE(run(R"({"op":"reload_image","source":")" + std::string(11184835, 'a') + "\"}"));
  EXPECT_EQ(last_error, "Invalid terminal image source");
  EXPECT_TRUE(run(R"({"op":"reload_image","source":")" + std::string(11184834, 'a') + "\"}"));
  EXPECT_EQ(info_number(*backend, "resource_revision"), 1);
}

// ---- snapshot through the table ----

TEST_F(HeadlessTerminal, SnapshotReportsTheGridAndTheFrame) {
  EXPECT_EQ(print(run(R"({"op":"snapshot"})").get()), R"({"columns":4,"rows":2,"cells":[],"rows_text":[]})");
  ASSERT_TRUE(commit(R"([["text","A",0,16,"#ffffff",14,false]])"));
  JsonPtr snapshot = run(R"({"op":"snapshot"})");
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItemCaseSensitive(snapshot.get(), "cells")), 8);
  EXPECT_EQ(print(cJSON_GetObjectItemCaseSensitive(snapshot.get(), "rows_text")), R"(["    ","A   "])");
}

}  // namespace
}  // namespace lumora::terminal
