// The host in a real terminal: a pseudo-terminal is its controlling
// terminal, and the test plays the terminal emulator on the other side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "client/controller.h"
#include "support/pty.h"
#include "terminal/console_session.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kConsoleMessage =
    "The terminal backend requires an attached interactive Windows console; use headless for snapshots";
constexpr std::string_view kBeginUpdate = "\x1b[?2026h";
constexpr std::string_view kEndUpdate = "\x1b[0m\x1b[?2026l";
constexpr const char* kFrame = R"({"op":"frame","commands":[["begin","#203040"],["rect",[0,0,64,32],"#ff0000",0,"",0]]})";

std::string kind_of(const client::Message& message) {
  return std::string(scene::string_member(message.body.get(), "kind"));
}

class TerminalInteractiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.valid());
    ASSERT_TRUE(pty_.set_size(80, 24));
    original_modes_ = pty_.modes();
    client::LaunchOptions options;
    options.host_path = LUMORA_HOST_PATH;
    options.controlling_tty = pty_.device_path();
    std::string error;
    host_ = client::Controller::launch(options, &error);
    ASSERT_TRUE(host_) << error;
    auto reply = host_->request(R"({"op":"open","backend":"terminal","color":"truecolor","title":"Demo"})");
    ASSERT_TRUE(reply);
    if (!reply->ok && reply->error == kConsoleMessage) {
      GTEST_SKIP() << "the terminal backend does not take over an interactive terminal yet "
                      "(ConsoleSession is not wired into TerminalBackend)";
    }
    ASSERT_TRUE(reply->ok) << reply->error;
    opened_ = pty_.read_until(title_sequence_, 5s);
  }

  // The events that arrive within `timeout`, of the given kind.
  std::vector<client::Message> wait_events(std::string_view kind, std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<client::Message> found;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (found.size() < count && std::chrono::steady_clock::now() < deadline) {
      auto message = host_->next_message(0.05);
      if (message && message->type == client::kFrameEvent && kind_of(*message) == kind) found.push_back(std::move(*message));
    }
    return found;
  }

  test::Pty pty_;
  std::string original_modes_;
  std::unique_ptr<client::Controller> host_;
  std::string opened_;
  const std::string title_sequence_ = "\x1b]2;Demo\x07";
};

TEST_F(TerminalInteractiveTest, OpenWritesTheEnterStringThenTheTitleAndTakesOverTheModes) {
  EXPECT_EQ(opened_, std::string(terminal::kEnterString) + title_sequence_);
  EXPECT_NE(pty_.modes(), original_modes_);
  auto info = host_->request(R"({"op":"info"})");
  ASSERT_TRUE(info && info->ok);
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(info->result.get(), "columns")), 80);
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(info->result.get(), "rows")), 24);
}

TEST_F(TerminalInteractiveTest, CommittedFrameArrivesWrappedInTheSynchronizedUpdatePair) {
  auto reply = host_->request(kFrame);
  ASSERT_TRUE(reply && reply->ok) << (reply ? reply->error : "no reply");
  std::string frame = pty_.read_until(kEndUpdate, 5s);
  EXPECT_THAT(frame, StartsWith(std::string(kBeginUpdate) + "\x1b[1;1H"));
  EXPECT_THAT(frame, HasSubstr("\x1b[38;2;"));
  EXPECT_EQ(frame.substr(frame.size() - std::min(frame.size(), kEndUpdate.size())), kEndUpdate);
}

TEST_F(TerminalInteractiveTest, TypedBytesArriveAsEvents) {
  ASSERT_TRUE(pty_.type("A"));
  auto texts = wait_events("text", 1, 5s);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(scene::string_member(texts[0].body.get(), "text"), "A");
  ASSERT_TRUE(pty_.type("\x1b[<0;3;2M"));
  auto downs = wait_events("pointer_down", 1, 5s);
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(downs[0].body.get(), "x")), 20);
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(downs[0].body.get(), "y")), 24);
}

TEST_F(TerminalInteractiveTest, ResizeGivesOneViewportEventAndAFullRedraw) {
  auto reply = host_->request(kFrame);
  ASSERT_TRUE(reply && reply->ok);
  pty_.read_until(kEndUpdate, 5s);
  ASSERT_TRUE(pty_.set_size(100, 30));
  auto viewports = wait_events("viewport", 2, 1s);
  ASSERT_EQ(viewports.size(), 1u);
  const cJSON* viewport = cJSON_GetObjectItemCaseSensitive(viewports[0].body.get(), "viewport");
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(viewport, "width")), 800);
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(viewport, "height")), 480);
  // The same scene again: every row is written, down to the new last one.
  reply = host_->request(kFrame);
  ASSERT_TRUE(reply && reply->ok);
  std::string frame = pty_.read_until(kEndUpdate, 5s);
  EXPECT_THAT(frame, HasSubstr("\x1b[1;1H"));
  EXPECT_THAT(frame, HasSubstr("\x1b[30;1H"));
}

TEST_F(TerminalInteractiveTest, CloseWritesTheLeaveStringAndRestoresTheModesByteForByte) {
  ASSERT_TRUE(host_->close());
  std::string left = pty_.read_until(terminal::kLeaveString, 5s);
  EXPECT_THAT(left, HasSubstr(std::string(terminal::kLeaveString)));
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(TerminalInteractiveTest, KeyboardEnhancementReplyIsPushedAndPoppedAtClose) {
  ASSERT_TRUE(pty_.type("\x1b[?0u"));
  EXPECT_THAT(pty_.read_until("\x1b[>3u", 5s), HasSubstr("\x1b[>3u"));
  ASSERT_TRUE(host_->close());
  std::string left = pty_.read_until(terminal::kLeaveString, 5s);
  EXPECT_THAT(left, HasSubstr(std::string(terminal::kKeyboardEnhancementPop) + std::string(terminal::kLeaveString)));
}

TEST_F(TerminalInteractiveTest, StalledTerminalDelaysNoReplyAndStillGetsItsModesBack) {
  // A large grid, so that each frame is far more than the terminal buffers.
  ASSERT_TRUE(pty_.set_size(400, 200));
  ASSERT_EQ(wait_events("viewport", 1, 5s).size(), 1u);
  // From here on nobody reads the terminal: its buffer fills with the first
  // frame and the output worker stays blocked.
  for (int i = 0; i < 40; ++i) {
    std::string colour = i % 2 == 0 ? "#ff0000" : "#0000ff";
    std::string frame = R"({"op":"frame","commands":[["begin",")" + colour + R"("],["text","frame )" +
                        std::to_string(i) + R"(",0,0,"#ffffff",16,true]]})";
    auto reply = host_->request(frame, 5);
    ASSERT_TRUE(reply) << "no reply to frame " << i;
    ASSERT_TRUE(reply->ok) << reply->error;
  }
  auto info = host_->request(R"({"op":"info"})", 5);
  ASSERT_TRUE(info && info->ok);
  ASSERT_TRUE(host_->close());
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(TerminalInteractiveTest, TerminalThatGoesAwayGivesOneErrorEventAndTheHostKeepsServing) {
  pty_.close_device_side();
  pty_.close_terminal_side();
  auto errors = wait_events("error", 2, 1s);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(std::string(scene::string_member(errors[0].body.get(), "text")), HasSubstr("disconnected"));
  auto reply = host_->request(kFrame, 5);
  ASSERT_TRUE(reply) << "the host no longer answers";
  auto info = host_->request(R"({"op":"info"})", 5);
  ASSERT_TRUE(info && info->ok);
  EXPECT_TRUE(host_->close());
}

TEST(TerminalInteractiveOpenTest, HostWithoutAControllingTerminalFailsTheOpen) {
  client::LaunchOptions options;
  options.host_path = LUMORA_HOST_PATH;
  options.new_session = true;
  std::string error;
  auto host = client::Controller::launch(options, &error);
  ASSERT_TRUE(host) << error;
  auto reply = host->request(R"({"op":"open","backend":"terminal"})");
  ASSERT_TRUE(reply);
  EXPECT_FALSE(reply->ok);
  EXPECT_EQ(reply->error, kConsoleMessage);
  // The host keeps serving: a headless terminal opens afterwards.
  reply = host->request(R"({"op":"open","backend":"terminal","headless":true})");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->ok) << reply->error;
}

}  // namespace
}  // namespace lumora
