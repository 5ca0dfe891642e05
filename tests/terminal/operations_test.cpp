// The terminal backend opened headless in-process: open, the operation
// table, the info object, resizing and the present's encoding.
#include "terminal/operations.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/backend.h"
#include "scene/limits.h"
#include "terminal/terminal_backend.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

using test::parse;
using test::print;

using json::JsonPtr;

constexpr const char* kConsoleMessage =
    "The terminal backend requires an attached interactive Windows console; use headless for snapshots";

// The backend opened with `command`, or null with `error` set.
std::unique_ptr<TerminalBackend> open_with(const std::string& command, std::string* error = nullptr) {
  host::HostErrorBuffer buffer;
  std::unique_ptr<TerminalBackend> backend = TerminalBackend::open(parse(command).get(), buffer.text());
  if (error != nullptr) *error = buffer.c_str();
  return backend;
}

class HeadlessTerminal : public testing::Test {
 protected:
  void SetUp() override {
    backend = open_with(R"({"backend":"terminal","headless":true,"columns":4,"rows":2,"color":"truecolor"})");
    ASSERT_TRUE(backend);
  }

  // Runs an operation; on failure the result is null and `last_error` holds the message.
  JsonPtr run(const std::string& command) {
    host::HostErrorBuffer error;
    JsonPtr result = backend->run_operation(parse(command).get(), error.text());
    last_error = error.c_str();
    return result;
  }

  bool commit_and_present(const std::string& commands) {
    host::HostErrorBuffer error;
    bool ok = backend->commit_scene(parse(commands).get(), error.text()) && backend->draw_retained_scene(error.text()) &&
              backend->present_frame(error.text());
    last_error = error.c_str();
    return ok;
  }

  std::string ansi(bool diff) {
    JsonPtr text = run(std::string(R"({"op":"ansi","diff":)") + (diff ? "true" : "false") + "}");
    return cJSON_IsString(text.get()) ? text->valuestring : "<" + last_error + ">";
  }

  double info_number(const char* key) { return cJSON_GetNumberValue(cJSON_GetObjectItem(backend->info().get(), key)); }

  std::string drained() { return print(backend->drain_events().get()); }

  std::unique_ptr<TerminalBackend> backend;
  std::string last_error;
};

// ---- open ----

TEST(TerminalOpenTest, SizesFollowCellsThenPixelsWithClampingAndAFloorOfOne) {
  struct Case {
    const char* members;
    int columns, rows;
  };
  const Case cases[] = {
      {R"("title":"Main")", 100, 36},
      {R"("columns":80.9,"rows":24.2)", 80, 24},
      {R"("width":100,"height":100)", 12, 6},
      {R"("columns":0,"width":7,"rows":-3)", 1, 1},
      {R"("columns":-1e300,"rows":"40","height":160)", 1, 10},
      {R"("columns":16384,"rows":64)", 16384, 64},
      {R"("color":null)", 100, 36},  // a "color" that is not a string means "auto"
  };
  for (const Case& c : cases) {
    std::string error;
    std::unique_ptr<TerminalBackend> backend = open_with(std::string(R"({"headless":true,)") + c.members + "}", &error);
    ASSERT_TRUE(backend) << c.members << ": " << error;
    EXPECT_EQ(std::make_pair(backend->columns(), backend->rows()), std::make_pair(c.columns, c.rows)) << c.members;
  }
  std::unique_ptr<TerminalBackend> titled = open_with(R"({"headless":true,"title":"Main"})");
  EXPECT_EQ(titled->title(), "Main");
  EXPECT_EQ(print(titled->drain_events().get()), "[]");  // no viewport event at open
  EXPECT_EQ(open_with(R"({"headless":true})")->title(), "Lumora");
}

TEST(TerminalOpenTest, RefusedSizesColourNamesAndConsolesFailTheOpen) {
  const char* kBudget = "Invalid terminal color mode or viewport budget";
  const std::pair<const char*, const char*> cases[] = {
      {R"("headless":true,"columns":1e300)", kBudget},
      {R"("headless":true,"columns":16384,"rows":65)", kBudget},
      {R"("headless":true,"color":"Truecolor")", kBudget},
      // Headless comes from "headless", then from "hidden", as a flag.
      {R"("headless":false,"hidden":true)", kConsoleMessage},
      {R"("headless":0.5)", kConsoleMessage},
  };
  for (const auto& [members, message] : cases) {
    std::string error;
    EXPECT_FALSE(open_with(std::string("{") + members + "}", &error)) << members;
    EXPECT_EQ(error, message) << members;
  }
  for (const char* members : {R"("headless":1)", R"("headless":-2.5)", R"("hidden":true)", R"("headless":"yes","hidden":1)"}) {
    EXPECT_TRUE(open_with(std::string("{") + members + "}")) << members;
  }
}

TEST(TitleSequenceTest, ControlsAreLeftOutTheRestReencodedAndLongTitlesCut) {
  std::string long_title;
  for (int i = 0; i < 300; ++i) long_title += "\xc3\xa9";  // two bytes each, cut at 256 characters
  const std::pair<std::string, std::string> cases[] = {
      {"\x01\x1b\x7f\xc2\x85\x07" "a\tb\nc", "\x1b]2;abc\x07"},
      {"caf\xc3\xa9 \xe4\xb8\x96", "\x1b]2;caf\xc3\xa9 \xe4\xb8\x96\x07"},
      {"x\xff y", "\x1b]2;x\xef\xbf\xbd y\x07"},
      {long_title, "\x1b]2;" + long_title.substr(0, 512) + "\x07"},
  };
  for (const auto& [title, expected] : cases) {
    ByteBuffer out;
    append_title_sequence(title, out);
    EXPECT_EQ(out.view(), expected);
  }
}

// ---- the operation table ----

TEST_F(HeadlessTerminal, FailingOperationsReportTheirTextsAndQueueNothing) {
  const std::pair<std::string, const char*> cases[] = {
      {R"({"op":"clipboard_get"})", "Native terminal clipboard service is unavailable; use terminal paste"},
      {R"({"op":7})", "Unsupported native terminal operation"},
      {R"({"op":"feed_input","hex":"616"})", "Input hex must have complete bytes"},
      {R"({"op":"feed_input","hex":"6g"})", "Invalid input hex"},
      {R"({"op":"ansi"})", "No terminal frame or ANSI allocation failed"},
      {R"({"op":"capture","path":"/tmp/unused"})", "Cannot encode capture"},
      // A source longer than any data URI the command list accepts.
      {R"({"op":"reload_image","source":")" + std::string(11184835, 'a') + "\"}", "Invalid terminal image source"},
  };
  for (const auto& [command, message] : cases) {
    EXPECT_FALSE(run(command)) << command.substr(0, 80);
    EXPECT_EQ(last_error, message) << command.substr(0, 80);
  }
  host::HostErrorBuffer error;
  EXPECT_FALSE(backend->present_frame(error.text()));
  EXPECT_STREQ(error.c_str(), "Terminal has no frame");
  EXPECT_EQ(drained(), "[]");
  EXPECT_TRUE(run(R"({"op":"reload_image","source":")" + std::string(scene::kMaxPngDataUriBytes, 'a') + "\"}"));
  EXPECT_EQ(info_number("resource_revision"), 1);
}

TEST_F(HeadlessTerminal, SmallOperationsAnswerInPlace) {
  EXPECT_EQ(print(run(R"({"op":"set_title","title":"Renamed"})").get()), "null");
  EXPECT_EQ(backend->title(), "Renamed");
  EXPECT_TRUE(run(R"({"op":"set_title","title":5})"));
  EXPECT_EQ(backend->title(), "");
  EXPECT_EQ(print(run(R"({"op":"measure_many","texts":["","x"]})").get()), "[[0,16],[8,16]]");
  // Fed bytes become events as if typed, whether given as hex or as text.
  EXPECT_TRUE(run(R"({"op":"feed_input","hex":"4A","flush":true})"));
  const std::string from_hex = drained();
  EXPECT_NE(from_hex, "[]");
  EXPECT_TRUE(run(R"({"op":"feed_input","data":"J","flush":1})"));
  EXPECT_EQ(drained(), from_hex);
}

TEST_F(HeadlessTerminal, ConfigureResizesAndQueuesOneViewportEventPerChange) {
  EXPECT_EQ(print(run(R"({"op":"configure","columns":10,"rows":3})").get()), "null");
  EXPECT_EQ(drained(), R"([{"kind":"viewport","viewport":{"width":80,"height":48,"scale":1}}])");
  // The same size again, or one side kept: nothing new to report.
  EXPECT_TRUE(run(R"({"op":"configure","columns":10})"));
  EXPECT_EQ(drained(), "[]");
  EXPECT_TRUE(run(R"({"op":"configure","rows":5})"));
  EXPECT_EQ(std::make_pair(backend->columns(), backend->rows()), std::make_pair(10, 5));
  EXPECT_EQ(drained(), R"([{"kind":"viewport","viewport":{"width":80,"height":80,"scale":1}}])");
}

TEST_F(HeadlessTerminal, ConfigureRefusesBadValuesAndChangesNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"op":"configure","columns":80.5})", "Invalid or terminal-owned viewport"},
      {R"({"op":"configure","columns":16384,"rows":65})", "Invalid or terminal-owned viewport"},
      {R"({"op":"configure","color":"256","columns":0})", "Invalid or terminal-owned viewport"},
      {R"({"op":"configure","color":256,"columns":8})", "Invalid color mode"},
  };
  for (const auto& [command, message] : cases) {
    EXPECT_FALSE(run(command)) << command;
    EXPECT_EQ(last_error, message) << command;
  }
  EXPECT_EQ(std::make_pair(backend->columns(), backend->rows()), std::make_pair(4, 2));
  EXPECT_EQ(backend->colour_mode(), ColourMode::truecolor);
  EXPECT_EQ(drained(), "[]");
  // The host's transition setting arrives as a configure and changes nothing.
  EXPECT_TRUE(run(R"({"op":"configure","transition_ms":200})"));
  EXPECT_EQ(backend->colour_mode(), ColourMode::truecolor);
  EXPECT_TRUE(run(R"({"op":"configure","columns":16384,"rows":64})"));
}

TEST_F(HeadlessTerminal, PresentEncodesOnceCountsTheBytesAndThenWritesOnlyChanges) {
  ASSERT_TRUE(commit_and_present(R"([["rect",[0,0,8,16],"#ff0000",0,"",0]])")) << last_error;
  const std::string full = ansi(false);
  EXPECT_EQ(info_number("ansi_bytes_encoded"), static_cast<double>(full.size()));
  EXPECT_EQ(info_number("terminal_bytes_written"), 0);  // headless: nothing goes anywhere
  ASSERT_TRUE(commit_and_present(R"([["rect",[0,0,8,16],"#ff0000",0,"",0],["rect",[24,16,8,16],"#0000ff",0,"",0]])"));
  EXPECT_EQ(info_number("ansi_frames_encoded"), 2);
  EXPECT_EQ(info_number("ansi_bytes_encoded"),
            full.size() + std::string("\x1b[?2026h\x1b[2;4H\x1b[38;2;255;255;255;48;2;0;0;255m \x1b[0m\x1b[?2026l").size());
}

TEST_F(HeadlessTerminal, CaptureReplacesTheFileWithTheFullAnsiTextOrReportsWhyNot) {
  ASSERT_TRUE(commit_and_present(R"([["text","hi",0,0,"#00ff00",14,false]])"));
  const std::string path = testing::TempDir() + "terminal_capture_test.ans";
  std::ofstream(path) << std::string(10000, 'x');  // replaced, not overwritten in place
  EXPECT_TRUE(run(R"({"op":"capture","path":")" + path + "\"}")) << last_error;
  std::stringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(content.str(), ansi(false));
  std::remove(path.c_str());

  EXPECT_FALSE(run(R"({"op":"capture","path":7})"));
  EXPECT_EQ(last_error, "Capture needs a path");
  EXPECT_FALSE(run(R"({"op":"capture","path":"/nonexistent-dir/x.ans"})"));
  EXPECT_EQ(last_error, "Cannot open terminal capture path");
  JsonPtr invalid_path = parse(R"({"op":"capture"})");
  cJSON_AddItemToObject(invalid_path.get(), "path", cJSON_CreateString("/tmp/\xff\xfe.ans"));
  host::HostErrorBuffer error;
  EXPECT_FALSE(backend->run_operation(invalid_path.get(), error.text()));
  EXPECT_STREQ(error.c_str(), "Cannot open terminal capture path");
  // A device is no file to replace: refused before a byte is written.
  EXPECT_FALSE(run(R"({"op":"capture","path":"/dev/full"})"));
  EXPECT_EQ(last_error, "Cannot open terminal capture path");
}

}  // namespace
}  // namespace lumora::terminal
