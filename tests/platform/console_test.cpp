#include "platform/console.h"

#include <gtest/gtest.h>
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
  for (const char* path : {"/dev/null", "/nonexistent/tty"}) {
    ConsoleOpenStatus status = ConsoleOpenStatus::ok;
    EXPECT_FALSE(Console::open_device(path, &status)) << path;
    EXPECT_EQ(status, ConsoleOpenStatus::unavailable) << path;
  }
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
  // Typed bytes come through untranslated: no CR translation, no SIGINT, no flow control.
  ASSERT_TRUE(pty_.type("a\r\x03\x11"));
  std::string got;
  char buffer[64];
  while (got.size() < 4) {
    ConsoleIoResult result = console_->read(buffer, sizeof buffer, *wake_);
    ASSERT_EQ(result.status, ConsoleIoStatus::ok);
    got.append(buffer, result.bytes);
  }
  EXPECT_EQ(got, "a\r\x03\x11");
}

TEST_F(ConsoleTest, WakeSignalEndsABlockedReadAndStaysRaisedUntilCleared) {
  ConsoleIoResult result;
  char buffer[16];
  std::thread reader([&] { result = console_->read(buffer, sizeof buffer, *wake_); });
  std::this_thread::sleep_for(20ms);
  wake_->raise();
  reader.join();
  EXPECT_EQ(result.status, ConsoleIoStatus::woken);
  EXPECT_EQ(console_->read(buffer, sizeof buffer, *wake_).status, ConsoleIoStatus::woken);
  wake_->clear();
  ASSERT_TRUE(console_->enter_raw_mode());
  ASSERT_TRUE(pty_.type("x"));
  EXPECT_EQ(console_->read(buffer, sizeof buffer, *wake_).status, ConsoleIoStatus::ok);
}

// Writing (whole, stalled, to a vanished terminal) is checked through the
// console workers in tests/terminal/; the window size, the hang-up signal
// and restoring the modes through the whole host in
// tests/integration/terminal_interactive_test.cpp.

}  // namespace
}  // namespace lumora::platform
