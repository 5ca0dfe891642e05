#include "terminal/console_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "scene/json.h"
#include "support/pty.h"

namespace lumora::terminal {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr double kPatienceSeconds = 10;
constexpr std::string_view kTitleSequence = "\x1b]2;Lumora\x07";

// Records what a drain asks of the backend.
class RecordingTarget : public ConsoleDrainTarget {
 public:
  void apply_visible_size(std::int32_t columns, std::int32_t rows) override { sizes.emplace_back(columns, rows); }
  void feed_console_input(std::string_view bytes) override { input.append(bytes); }
  void catch_up_deferred_frame() override { ++catch_ups; }

  std::vector<std::pair<std::int32_t, std::int32_t>> sizes;
  std::string input;
  int catch_ups = 0;
};

std::vector<std::string> event_texts(EventQueue& events) {
  std::vector<std::string> texts;
  scene::JsonPtr array = events.take();
  const cJSON* event = nullptr;
  cJSON_ArrayForEach(event, array.get()) {
    texts.push_back(std::string(scene::string_member(event, "kind")) + ":" +
                    std::string(scene::string_member(event, "text")));
  }
  return texts;
}

class ConsoleSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.valid());
    ASSERT_TRUE(pty_.make_output_transparent());
    ASSERT_TRUE(pty_.set_size(120, 40));
    original_modes_ = pty_.modes();
  }

  ConsoleOutput output() { return {&pending_, &written_, &bytes_written_}; }

  std::unique_ptr<ConsoleSession> open() {
    auto session = ConsoleSession::open_device(pty_.device_path().c_str(), output(), kTitleSequence, error_.text());
    EXPECT_TRUE(session) << error_.c_str();
    return session;
  }

  void pump_until_written(ConsoleSession& session) {
    const double deadline = platform::now_seconds() + kPatienceSeconds;
    while (session.output_pending() && platform::now_seconds() < deadline) {
      ASSERT_TRUE(session.pump(error_.text())) << error_.c_str();
      std::this_thread::sleep_for(1ms);
    }
  }

  test::Pty pty_;
  std::string original_modes_;
  ByteBuffer pending_;
  std::size_t written_ = 0;
  std::uint64_t bytes_written_ = 0;
  scene::HostErrorBuffer error_;
};

TEST(ConsoleSessionStringsTest, EnterAndLeaveStringsAreTheProtocolsOwn) {
  EXPECT_EQ(kEnterString.size(), 74u);
  EXPECT_EQ(kLeaveString.size(), 94u);
  EXPECT_EQ(kEnterString.substr(0, 7), "\x1b[22;0t");
  EXPECT_EQ(kLeaveString.substr(kLeaveString.size() - 7), "\x1b[23;0t");
}

TEST(ConsoleSessionOpenTest, DeviceThatIsNotATerminalFailsWithTheConsoleMessage) {
  ByteBuffer pending;
  std::size_t written = 0;
  std::uint64_t bytes_written = 0;
  scene::HostErrorBuffer error;
  auto session =
      ConsoleSession::open_device("/dev/null", {&pending, &written, &bytes_written}, kTitleSequence, error.text());
  EXPECT_FALSE(session);
  EXPECT_STREQ(error.c_str(),
               "The terminal backend requires an attached interactive Windows console; use headless for snapshots");
  EXPECT_TRUE(pending.empty());  // nothing was queued for a terminal that is not there
}

TEST_F(ConsoleSessionTest, OpenWritesTheEnterStringThenTheTitleAndTakesOverTheModes) {
  auto session = open();
  ASSERT_TRUE(session);
  pump_until_written(*session);
  std::string expected = std::string(kEnterString) + std::string(kTitleSequence);
  EXPECT_EQ(pty_.read_until(expected, 5s), expected);
  EXPECT_NE(pty_.modes(), original_modes_);
  EXPECT_EQ(bytes_written_, expected.size());
  std::int32_t columns = 0;
  std::int32_t rows = 0;
  ASSERT_TRUE(session->visible_size(&columns, &rows));
  EXPECT_EQ(columns, 120);
  EXPECT_EQ(rows, 40);
}

TEST_F(ConsoleSessionTest, CloseWritesTheLeaveStringAndRestoresTheModesByteForByte) {
  auto session = open();
  ASSERT_TRUE(session);
  pump_until_written(*session);
  pty_.read_until(kTitleSequence, 5s);
  EXPECT_TRUE(session->close(false));
  EXPECT_EQ(pty_.read_until_quiet(20ms, 2s), kLeaveString);
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(ConsoleSessionTest, CloseAfterKeyboardEnhancementPopsItFirst) {
  auto session = open();
  ASSERT_TRUE(session);
  pump_until_written(*session);
  pty_.read_until(kTitleSequence, 5s);
  EXPECT_TRUE(session->close(true));
  EXPECT_EQ(pty_.read_until_quiet(20ms, 2s), std::string(kKeyboardEnhancementPop) + std::string(kLeaveString));
}

TEST_F(ConsoleSessionTest, DestroyingAnOpenSessionAlsoRestoresTheModes) {
  open().reset();
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(ConsoleSessionTest, CloseDropsFrameBytesNotYetHandedToTheWriter) {
  auto session = open();
  ASSERT_TRUE(session);
  pump_until_written(*session);
  pty_.read_until(kTitleSequence, 5s);
  // A frame three chunks long; only its first chunk reaches the writer.
  std::string frame(3 * kOutputChunkSize, 'F');
  pending_.append(frame);
  ASSERT_TRUE(session->pump(error_.text()));
  std::string received;
  std::thread reader([&] { received = pty_.read_until(kLeaveString, 5s); });
  EXPECT_TRUE(session->close(false));
  reader.join();
  EXPECT_TRUE(received == frame.substr(0, kOutputChunkSize) + std::string(kLeaveString)) << received.size();
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(ConsoleSessionTest, CloseOnAStalledTerminalGivesUpTheLeaveStringButRestoresTheModes) {
  auto session = open();
  ASSERT_TRUE(session);
  // Nobody reads the terminal; a large frame fills it up.
  pending_.append(std::string(4 * 1024 * 1024, 'S'));
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(session->pump(error_.text()));
  EXPECT_TRUE(session->close(false));  // the workers still stop
  EXPECT_EQ(pty_.modes(), original_modes_);
}

TEST_F(ConsoleSessionTest, DrainPollsTheSizeFeedsTypedInputAndCatchesUpWhenIdle) {
  auto session = open();
  ASSERT_TRUE(session);
  pump_until_written(*session);
  ASSERT_TRUE(pty_.set_size(90, 30));
  const std::string typed = "q\x1b[<0;3;4M";
  ASSERT_TRUE(pty_.type(typed));
  RecordingTarget target;
  EventQueue events;
  const double deadline = platform::now_seconds() + kPatienceSeconds;
  while (target.input.size() < typed.size() && platform::now_seconds() < deadline) {
    session->drain(target, events);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(target.input, typed);
  ASSERT_FALSE(target.sizes.empty());
  EXPECT_EQ(target.sizes.back(), std::make_pair(90, 30));
  EXPECT_GT(target.catch_ups, 0);
  EXPECT_TRUE(event_texts(events).empty());
}

TEST_F(ConsoleSessionTest, DrainDoesNotCatchUpWhileOutputIsPending) {
  auto session = open();
  ASSERT_TRUE(session);
  pending_.append(std::string(4 * 1024 * 1024, 'P'));  // nobody reads: it stays pending
  RecordingTarget target;
  EventQueue events;
  for (int i = 0; i < 20; ++i) session->drain(target, events);
  EXPECT_EQ(target.catch_ups, 0);
  EXPECT_TRUE(session->output_pending());
}

TEST_F(ConsoleSessionTest, LostTerminalIsReportedOnceAndTheDrainThenLeavesItAlone) {
  auto session = open();
  ASSERT_TRUE(session);
  pump_until_written(*session);
  pty_.close_device_side();
  pty_.close_terminal_side();
  RecordingTarget target;
  EventQueue events;
  std::vector<std::string> texts;
  const double deadline = platform::now_seconds() + kPatienceSeconds;
  while (!session->loss_reported() && platform::now_seconds() < deadline) {
    session->drain(target, events);
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(session->loss_reported());
  texts = event_texts(events);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "error:Native terminal input was disconnected");
  const std::size_t polls = target.sizes.size();
  for (int i = 0; i < 10; ++i) session->drain(target, events);
  EXPECT_TRUE(event_texts(events).empty());
  EXPECT_EQ(target.sizes.size(), polls);
  EXPECT_TRUE(session->close(false));  // closing a lost terminal still ends cleanly
}

TEST_F(ConsoleSessionTest, LostOutputIsReportedAsAnErrorEventAndByLaterPumps) {
  auto session = open();
  ASSERT_TRUE(session);
  pump_until_written(*session);
  // Keep the device open so that only writes can fail: the terminal side goes.
  pty_.close_terminal_side();
  pending_.append("frame");
  RecordingTarget target;
  EventQueue events;
  const double deadline = platform::now_seconds() + kPatienceSeconds;
  while (!session->loss_reported() && platform::now_seconds() < deadline) {
    session->drain(target, events);
    std::this_thread::sleep_for(1ms);
  }
  std::vector<std::string> texts = event_texts(events);
  EXPECT_THAT(texts, ::testing::Contains(HasSubstr("disconnected")));
  EXPECT_LE(texts.size(), 2u);  // at most one for the input and one for the output
  EXPECT_FALSE(session->pump(error_.text()));
  EXPECT_STREQ(error_.c_str(), "Terminal output was disconnected");
}

}  // namespace
}  // namespace lumora::terminal
