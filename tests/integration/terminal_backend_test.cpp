// The headless terminal driven through the real host. The backend's own
// rules (info keys, patch rules, failed updates leaving everything as it was,
// snapshots, colour modes, capture) are unit tests in tests/terminal/; these
// check what only the whole process shows: the host's own presents, its
// replies, its environment and its terminal.
#include <gtest/gtest.h>

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
  void SetUp() override {
    host = test::launch_default_host();
    ASSERT_TRUE(host);
    auto reply = host->request(R"({"op":"open","backend":"terminal","headless":true,"columns":8,"rows":3,"color":"truecolor"})");
    ASSERT_TRUE(reply_ok(reply));
    open_reply = test::json_text(reply->result.get());
  }

  std::string text_of(const std::string& command) {
    auto reply = host->request(command);
    EXPECT_TRUE(reply_ok(reply)) << command;
    return reply && reply->ok ? test::json_text(reply->result.get()) : "<failed>";
  }
  double info(const char* key) { return number_member(test::parse_json(text_of(R"({"op":"info"})")).get(), key); }

  std::unique_ptr<client::Controller> host;
  std::string open_reply;
};

TEST_F(TerminalBackendTest, OpenRepliesWithTheInfoObject) {
  EXPECT_EQ(open_reply, text_of(R"({"op":"info"})"));
  EXPECT_EQ(test::string_member(test::parse_json(open_reply).get(), "renderer"), "native-cells");
}

TEST_F(TerminalBackendTest, TheHostsPresentsReuseTheComposedFrameAndWriteItOnce) {
  const std::string frame = R"({"op":"frame","commands":[["text","ok",0,0,"#ffff00",14,false]]})";
  ASSERT_TRUE(reply_ok(host->request(frame)));
  ASSERT_TRUE(reply_ok(host->request(frame)));
  EXPECT_EQ(info("cell_frames_composed"), 1);
  EXPECT_EQ(info("commands_touched"), 2);
  // The host presents after each commit by itself; every present reuses the
  // frame the first commit composed, and only the first one wrote bytes.
  double hits = info("cell_cache_hits");
  EXPECT_GE(hits, 1);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  EXPECT_EQ(info("cell_cache_hits"), hits + 1);
  EXPECT_EQ(info("ansi_frames_encoded"), 1);
  EXPECT_EQ(text_of(R"({"op":"ansi"})"), "\"\"");
  // A refused update replies with the backend's message and leaves the frame alone.
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"frame","commands":[["sprite"]]})"),
                               "Invalid terminal command 0 (sprite), geometry, color, or allocation budget"));
  EXPECT_EQ(info("cell_frames_composed"), 1);
  EXPECT_EQ(text_of(R"({"op":"ansi","diff":false})").rfind(R"("\u001b[?2026h\u001b[1;1H\u001b[38;2;255;255;0;48;2;0;0;0mok)", 0), 0u);
}

TEST_F(TerminalBackendTest, AColourModeChangeRewritesEveryCellAtTheNextPresent) {
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#808080"]]})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","color":"16"})")));
  // The grey becomes bright white on bright black in every row.
  EXPECT_NE(text_of(R"({"op":"ansi"})").find(R"(\u001b[97;100m        \u001b[2;1H        \u001b[3;1H        )"),
            std::string::npos);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  EXPECT_EQ(info("ansi_frames_encoded"), 2);
}

TEST(TerminalBackendOpenTest, OpenWithoutAConsoleFailsAndLeavesTheHostServing) {
  // A new session without a controlling terminal, so that no console can be taken over.
  client::LaunchOptions options = test::default_host_options();
  options.new_session = true;
  auto host = test::launch_host(options);
  ASSERT_TRUE(host);
  EXPECT_TRUE(reply_fails_with(
      host->request(R"({"op":"open","backend":"terminal"})"),
      "The terminal backend requires an attached interactive Windows console; use headless for snapshots"));
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"open","backend":"terminal","headless":true})")));
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
