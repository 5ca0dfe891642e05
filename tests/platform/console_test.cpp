#include "platform/console.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "support/pty.h"

namespace lumora::platform {
namespace {

using namespace std::chrono_literals;

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.valid());
    ConsoleOpenStatus status;
    console_ = Console::open_device(pty_.device_path().c_str(), &status);
    ASSERT_EQ(status, ConsoleOpenStatus::ok);
    ASSERT_TRUE(console_);
    wake_ = WakeSignal::create();
    ASSERT_TRUE(wake_);
  }

  termios device_modes() const {
    termios modes{};
    std::string raw = pty_.modes();
    EXPECT_EQ(raw.size(), sizeof modes);
    std::memcpy(&modes, raw.data(), std::min(raw.size(), sizeof modes));
    return modes;
  }

  test::Pty pty_;
  std::unique_ptr<Console> console_;
  std::unique_ptr<WakeSignal> wake_;
};

TEST(ConsoleOpenTest, DeviceThatIsNotATerminalIsUnavailable) {
  ConsoleOpenStatus status = ConsoleOpenStatus::ok;
  EXPECT_FALSE(Console::open_device("/dev/null", &status));
  EXPECT_EQ(status, ConsoleOpenStatus::unavailable);
  EXPECT_FALSE(Console::open_device("/nonexistent/tty", &status));
  EXPECT_EQ(status, ConsoleOpenStatus::unavailable);
}

bool hang_up_ignored() {
  struct sigaction current {};
  sigaction(SIGHUP, nullptr, &current);
  return current.sa_handler == SIG_IGN;
}

TEST_F(ConsoleTest, HangUpSignalIsIgnoredOnlyWhileTheConsoleIsOpen) {
  EXPECT_TRUE(hang_up_ignored());
  console_.reset();
  EXPECT_FALSE(hang_up_ignored());
}

TEST_F(ConsoleTest, RawModeTurnsOffLineEditingEchoSignalsFlowControlAndCrTranslation) {
  termios before = device_modes();
  ASSERT_TRUE(console_->enter_raw_mode());
  termios raw = device_modes();
  for (tcflag_t flag : {ICANON, ECHO, ISIG, IEXTEN}) EXPECT_EQ(raw.c_lflag & flag, 0u) << flag;
  for (tcflag_t flag : {IXON, IXOFF, ICRNL, INLCR, IGNCR}) EXPECT_EQ(raw.c_iflag & flag, 0u) << flag;
  EXPECT_EQ(raw.c_oflag, before.c_oflag);  // output processing is left alone
  EXPECT_EQ(raw.c_cc[VMIN], 1);
  EXPECT_EQ(raw.c_cc[VTIME], 0);
}

TEST_F(ConsoleTest, RestoreBringsBackTheModesByteForByte) {
  std::string before = pty_.modes();
  ASSERT_TRUE(console_->enter_raw_mode());
  ASSERT_NE(pty_.modes(), before);
  ASSERT_TRUE(console_->restore_modes());
  EXPECT_EQ(pty_.modes(), before);
}

TEST_F(ConsoleTest, VisibleSizeFollowsTheWindow) {
  ASSERT_TRUE(pty_.set_size(132, 43));
  ConsoleSize size;
  ASSERT_TRUE(console_->visible_size(&size));
  EXPECT_EQ(size.columns, 132);
  EXPECT_EQ(size.rows, 43);
}

TEST_F(ConsoleTest, UnknownSizeIsReportedAsUnavailable) {
  ASSERT_TRUE(pty_.set_size(0, 0));
  ConsoleSize size;
  EXPECT_FALSE(console_->visible_size(&size));
}

TEST_F(ConsoleTest, ReadReturnsTypedBytesUntranslated) {
  ASSERT_TRUE(console_->enter_raw_mode());
  ASSERT_TRUE(pty_.type("a\r\x03\x11"));
  std::string got;
  char buffer[64];
  while (got.size() < 4) {
    ConsoleIoResult result = console_->read(buffer, sizeof buffer, *wake_);
    ASSERT_EQ(result.status, ConsoleIoStatus::ok);
    got.append(buffer, result.bytes);
  }
  EXPECT_EQ(got, "a\r\x03\x11");  // no CR translation, no SIGINT, no flow control
}

TEST_F(ConsoleTest, BlockedReadEndsWhenWoken) {
  ConsoleIoResult result;
  std::thread reader([&] {
    char buffer[16];
    result = console_->read(buffer, sizeof buffer, *wake_);
  });
  std::this_thread::sleep_for(20ms);
  wake_->raise();
  reader.join();
  EXPECT_EQ(result.status, ConsoleIoStatus::woken);
}

TEST_F(ConsoleTest, WakeSignalStaysRaisedUntilCleared) {
  wake_->raise();
  wake_->raise();
  char buffer[16];
  EXPECT_EQ(console_->read(buffer, sizeof buffer, *wake_).status, ConsoleIoStatus::woken);
  EXPECT_EQ(console_->read(buffer, sizeof buffer, *wake_).status, ConsoleIoStatus::woken);
  wake_->clear();
  ASSERT_TRUE(console_->enter_raw_mode());
  ASSERT_TRUE(pty_.type("x"));
  ConsoleIoResult result = console_->read(buffer, sizeof buffer, *wake_);
  EXPECT_EQ(result.status, ConsoleIoStatus::ok);
}

TEST_F(ConsoleTest, ReadReportsHangUp) {
  pty_.close_device_side();
  pty_.close_terminal_side();
  char buffer[16];
  EXPECT_EQ(console_->read(buffer, sizeof buffer, *wake_).status, ConsoleIoStatus::lost);
}

TEST_F(ConsoleTest, WriteAllDeliversEveryByte) {
  ASSERT_TRUE(pty_.make_output_transparent());
  std::string payload(200 * 1024, 'q');
  for (std::size_t i = 0; i < payload.size(); i += 97) payload[i] = static_cast<char>('a' + i % 26);
  payload += "<end>";
  ConsoleIoResult result;
  std::thread writer([&] { result = console_->write_all(payload.data(), payload.size(), *wake_); });
  std::string got = pty_.read_until("<end>", 10s);
  wake_->raise();  // never leave the writer stuck should the read give up
  writer.join();
  EXPECT_EQ(result.status, ConsoleIoStatus::ok);
  EXPECT_EQ(result.bytes, payload.size());
  EXPECT_EQ(got, payload);
}

TEST_F(ConsoleTest, WriteToAStalledTerminalEndsWhenWokenAndCountsWhatWasWritten) {
  std::string payload(1024 * 1024, 'z');
  ConsoleIoResult result;
  std::thread writer([&] { result = console_->write_all(payload.data(), payload.size(), *wake_); });
  std::this_thread::sleep_for(50ms);  // nobody reads: the writer is stuck
  wake_->raise();
  writer.join();
  EXPECT_EQ(result.status, ConsoleIoStatus::woken);
  EXPECT_LT(result.bytes, payload.size());
}

TEST_F(ConsoleTest, WriteReportsHangUp) {
  pty_.close_terminal_side();
  const char bytes[] = "hello";
  EXPECT_EQ(console_->write_all(bytes, 5, *wake_).status, ConsoleIoStatus::lost);
}

}  // namespace
}  // namespace lumora::platform
