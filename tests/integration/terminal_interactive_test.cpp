// The host in a real terminal: a pseudo-terminal is its controlling
// terminal, and the test plays the terminal emulator on the other side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "client/controller.h"
#include "support/host_fixture.h"
#include "support/pty.h"
#include "support/vterm_screen.h"
#include "terminal/console/console_session.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr std::string_view kBeginUpdate = "\x1b[?2026h";
constexpr std::string_view kEndUpdate = "\x1b[0m\x1b[?2026l";
constexpr const char* kFrame = R"({"op":"frame","commands":[["begin","#203040"],["rect",[0,0,64,32],"#ff0000",0,"",0]]})";

class TerminalInteractiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.valid());
    ASSERT_TRUE(pty_.set_size(80, 24));
    original_modes_ = pty_.modes();
    client::LaunchOptions options = test::default_host_options();
    options.controlling_tty = pty_.device_path();
    host_ = test::launch_host(options);
    ASSERT_TRUE(host_);
    auto reply = host_->request(R"({"op":"open","backend":"terminal","color":"truecolor","title":"Demo"})");
    ASSERT_TRUE(reply && reply->ok) << (reply ? reply->error : "no reply");
    opened_ = pty_.read_until(title_sequence_, 5s);
  }

  // The events that arrive within `timeout`, of the given kind.
  std::vector<client::Message> wait_events(std::string_view kind, std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<client::Message> found;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (found.size() < count && std::chrono::steady_clock::now() < deadline) {
      auto message = host_->next_message(0.05);
      if (message && message->type == client::kFrameEvent && test::string_member(message->body.get(), "kind") == kind) {
        found.push_back(std::move(*message));
      }
    }
    return found;
  }

  test::Pty pty_;
  std::string original_modes_;
  std::unique_ptr<client::Controller> host_;
  std::string opened_;
  const std::string title_sequence_ = "\x1b]2;Demo\x07";
};

TEST_F(TerminalInteractiveTest, OpenTakesOverTheTerminalAndCloseGivesItBackByteForByte) {
  EXPECT_EQ(opened_, std::string(terminal::kEnterString) + title_sequence_);
  EXPECT_NE(pty_.modes(), original_modes_);
  auto info = host_->request(R"({"op":"info"})");
  ASSERT_TRUE(info && info->ok);
  EXPECT_EQ(test::number_member(info->result.get(), "columns"), 80);
  EXPECT_EQ(test::number_member(info->result.get(), "rows"), 24);
  // A keyboard-enhancement reply is answered with a push, popped again before leaving.
  ASSERT_TRUE(pty_.type("\x1b[?0u"));
  EXPECT_THAT(pty_.read_until("\x1b[>3u", 5s), HasSubstr("\x1b[>3u"));
  ASSERT_TRUE(host_->close());
  EXPECT_THAT(pty_.read_until(terminal::kLeaveString, 5s),
              HasSubstr(std::string(terminal::kKeyboardEnhancementPop) + std::string(terminal::kLeaveString)));
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(TerminalInteractiveTest, FramesArriveAsSynchronizedUpdatesAndAResizeRedrawsInFull) {
  auto reply = host_->request(kFrame);
  ASSERT_TRUE(reply && reply->ok) << (reply ? reply->error : "no reply");
  std::string frame = pty_.read_until(kEndUpdate, 5s);
  EXPECT_THAT(frame, StartsWith(std::string(kBeginUpdate) + "\x1b[1;1H"));
  EXPECT_THAT(frame, HasSubstr("\x1b[38;2;"));
  EXPECT_EQ(frame.substr(frame.size() - std::min(frame.size(), kEndUpdate.size())), kEndUpdate);
  // One viewport event, then the same scene again writes every row, down to the new last one.
  ASSERT_TRUE(pty_.set_size(100, 30));
  auto viewports = wait_events("viewport", 2, 1s);
  ASSERT_EQ(viewports.size(), 1u);
  EXPECT_EQ(test::number_member(viewports[0].body.get(), "viewport.width"), 800);
  EXPECT_EQ(test::number_member(viewports[0].body.get(), "viewport.height"), 480);
  reply = host_->request(kFrame);
  ASSERT_TRUE(reply && reply->ok);
  frame = pty_.read_until(kEndUpdate, 5s);
  EXPECT_THAT(frame, HasSubstr("\x1b[1;1H"));
  EXPECT_THAT(frame, HasSubstr("\x1b[30;1H"));
}

// The host's own output, replayed in a terminal emulator that counts the
// skin-toned thumb four columns wide: the second frame leaves no ghost of
// the first.
TEST_F(TerminalInteractiveTest, EmojiATerminalCountsWiderLeavesNoGhostOnScreen) {
  test::VtermScreen screen(80, 24);
  screen.feed(opened_);
  for (const char* scene : {R"({"op":"frame","commands":[["text","👍🏽x漢",0,0,"#ffffff",16,true]]})",
                            R"({"op":"frame","commands":[["text","ab",0,0,"#ffffff",16,true]]})"}) {
    auto reply = host_->request(scene);
    ASSERT_TRUE(reply && reply->ok) << (reply ? reply->error : "no reply");
    screen.feed(pty_.read_until(kEndUpdate, 5s));
  }
  EXPECT_EQ(screen.row_text(0), "ab" + std::string(78, ' '));
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
  EXPECT_THAT(std::string(json::string_member(errors[0].body.get(), "text")), HasSubstr("disconnected"));
  auto reply = host_->request(kFrame, 5);
  ASSERT_TRUE(reply) << "the host no longer answers";
  auto info = host_->request(R"({"op":"info"})", 5);
  ASSERT_TRUE(info && info->ok);
  EXPECT_TRUE(host_->close());
}

// A host without a controlling terminal is in terminal_backend_test.cpp.

}  // namespace
}  // namespace lumora
