#include "terminal/console/console_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/backend.h"
#include "json/json.h"
#include "platform/clock.h"
#include "support/pty.h"

namespace lumora::terminal {
namespace {

using namespace std::chrono_literals;

constexpr double kPatienceSeconds = 10;
constexpr std::string_view kTitleSequence = "\x1b]2;Lumora\x07";

// Records what a drain asks of the backend.
class RecordingTarget : public ConsoleDrainTarget {
 public:
  void apply_visible_size(std::int32_t columns, std::int32_t rows) override { sizes.emplace_back(columns, rows); }
  void feed_console_input(std::string_view) override {}
  void catch_up_deferred_frame() override { ++catch_ups; }
  bool keyboard_enhanced() const override { return false; }
  void console_taken_again() override { ++taken_again; }

  std::vector<std::pair<std::int32_t, std::int32_t>> sizes;
  int catch_ups = 0;
  int taken_again = 0;
};

class ConsoleSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.valid());
    ASSERT_TRUE(pty_.make_output_transparent());
    ASSERT_TRUE(pty_.set_size(120, 40));
    original_modes_ = pty_.modes();
    session_ = ConsoleSession::open_device(pty_.device_path().c_str(), {&pending_, &written_, &bytes_written_},
                                           kTitleSequence, error_.text());
    ASSERT_TRUE(session_) << error_.c_str();
  }

  void pump_until_written() {
    const double deadline = platform::now_seconds() + kPatienceSeconds;
    while (session_->output_pending() && platform::now_seconds() < deadline) {
      ASSERT_TRUE(session_->pump(error_.text())) << error_.c_str();
      std::this_thread::sleep_for(1ms);
    }
  }

  test::Pty pty_;
  std::string original_modes_;
  ByteBuffer pending_;
  std::size_t written_ = 0;
  std::uint64_t bytes_written_ = 0;
  host::HostErrorBuffer error_;
  std::unique_ptr<ConsoleSession> session_;
};

TEST_F(ConsoleSessionTest, DestroyingAnOpenSessionAlsoRestoresTheModes) {
  session_.reset();
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(ConsoleSessionTest, CloseDropsFrameBytesNotYetHandedToTheWriter) {
  pump_until_written();
  pty_.read_until(kTitleSequence, 5s);
  // A frame three chunks long; only its first chunk reaches the writer.
  const std::string frame(3 * kOutputChunkSize, 'F');
  pending_.append(frame);
  ASSERT_TRUE(session_->pump(error_.text()));
  std::string received;
  std::thread reader([&] { received = pty_.read_until(kLeaveString, 5s); });
  EXPECT_TRUE(session_->close(false));
  reader.join();
  EXPECT_TRUE(received == frame.substr(0, kOutputChunkSize) + std::string(kLeaveString)) << received.size();
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(ConsoleSessionTest, DrainPollsTheSizeAndCatchesUpOnlyWhenIdle) {
  // What open writes, and the typed input a drain feeds on, show through a host.
  pump_until_written();
  EXPECT_EQ(bytes_written_, kEnterString.size() + kTitleSequence.size());
  ASSERT_TRUE(pty_.set_size(90, 30));
  RecordingTarget target;
  input::EventQueue events;
  const double deadline = platform::now_seconds() + kPatienceSeconds;
  while (target.sizes.empty() && platform::now_seconds() < deadline) {
    session_->drain(target, events);
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_FALSE(target.sizes.empty());
  EXPECT_EQ(target.sizes.back(), std::make_pair(90, 30));
  EXPECT_GT(target.catch_ups, 0);
  EXPECT_EQ(cJSON_GetArraySize(events.take().get()), 0);

  // Nobody reads the terminal: a large frame stays pending, and no deferred
  // frame is caught up behind it.
  pending_.append(std::string(4 * 1024 * 1024, 'P'));
  const int catch_ups = target.catch_ups;
  for (int i = 0; i < 20; ++i) session_->drain(target, events);
  EXPECT_EQ(target.catch_ups, catch_ups);
  EXPECT_TRUE(session_->output_pending());
}

// The process was continued after a stop that was not ours (its terminal
// may have been used meanwhile): the next drain takes the terminal again.
TEST_F(ConsoleSessionTest, ContinueTakesTheTerminalAgain) {
  pump_until_written();
  pty_.read_until(kTitleSequence, 5s);
  const std::string raw_modes = pty_.modes();
  // Whoever had the terminal while the host was stopped put it back.
  ASSERT_TRUE(pty_.set_modes(original_modes_));
  ASSERT_EQ(raise(SIGCONT), 0);
  RecordingTarget target;
  input::EventQueue events;
  session_->drain(target, events);
  EXPECT_EQ(target.taken_again, 1);
  pump_until_written();
  EXPECT_THAT(pty_.read_until(kEnterString, 5s), ::testing::HasSubstr(std::string(kEnterString)));
  EXPECT_EQ(pty_.modes(), raw_modes);
  session_->drain(target, events);
  EXPECT_EQ(target.taken_again, 1);
}

}  // namespace
}  // namespace lumora::terminal
