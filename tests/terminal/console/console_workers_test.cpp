#include "terminal/console/console_workers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "host/backend.h"
#include "platform/clock.h"
#include "support/pty.h"

namespace lumora::terminal {
namespace {

using namespace std::chrono_literals;

// Generous bounds that only stop a broken build from hanging the suite.
constexpr double kPatienceSeconds = 10;

std::string patterned(std::size_t size) {
  std::string bytes(size, '.');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

class ConsoleWorkersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.valid());
    ASSERT_TRUE(pty_.make_output_transparent());
    platform::ConsoleOpenStatus status;
    std::shared_ptr<platform::Console> console = platform::Console::open_device(pty_.device_path().c_str(), &status);
    ASSERT_TRUE(console);
    ASSERT_TRUE(console->enter_raw_mode());
    workers_ = ConsoleWorkers::start(console);
    ASSERT_TRUE(workers_);
  }

  bool pump() { return workers_->pump(pending_, written_, bytes_written_, error_.text()); }

  test::Pty pty_;
  std::unique_ptr<ConsoleWorkers> workers_;
  ByteBuffer pending_;
  std::size_t written_ = 0;
  std::uint64_t bytes_written_ = 0;
  host::HostErrorBuffer error_;
};

TEST_F(ConsoleWorkersTest, InputBeyondTheSharedBoundWaitsForTheMainThreadAndLosesNothing) {
  const std::string typed = patterned(kMaxSharedInput * 2 + 12345);
  std::thread typist([&] { pty_.type(typed); });
  // Let the worker fill the shared buffer while nobody takes from it.
  std::this_thread::sleep_for(200ms);
  std::string got;
  const double deadline = platform::now_seconds() + kPatienceSeconds;
  while (got.size() < typed.size() && platform::now_seconds() < deadline) {
    std::string_view more = workers_->take_input();
    EXPECT_LE(more.size(), kMaxSharedInput);
    got.append(more);
    if (more.empty()) std::this_thread::sleep_for(1ms);
  }
  typist.join();
  ASSERT_EQ(got.size(), typed.size());
  EXPECT_TRUE(got == typed);
  EXPECT_FALSE(workers_->input_lost());
}

TEST_F(ConsoleWorkersTest, PumpWritesPendingOutputInChunksOfAtMost64KiB) {
  const std::string payload = patterned(5 * kOutputChunkSize + 321);
  pending_.append(payload);
  std::string received;
  std::size_t previous_written = 0;
  int pumps = 0;
  const double deadline = platform::now_seconds() + kPatienceSeconds;
  while ((written_ < pending_.size() || workers_->write_in_flight()) && platform::now_seconds() < deadline) {
    ASSERT_TRUE(pump()) << error_.c_str();
    ++pumps;
    std::size_t now_written = pending_.empty() ? payload.size() : written_;
    EXPECT_LE(now_written - previous_written, kOutputChunkSize);
    previous_written = now_written;
    received += pty_.read_some(1ms);
  }
  received += pty_.read_until_quiet(20ms, 2s);
  EXPECT_GE(pumps, 6);
  EXPECT_TRUE(received == payload) << received.size() << " of " << payload.size();
  EXPECT_EQ(bytes_written_, payload.size());
  // Everything written: the pending output is emptied for the next frame.
  EXPECT_TRUE(pending_.empty());
  EXPECT_EQ(written_, 0u);
}

TEST_F(ConsoleWorkersTest, HangUpIsReportedAsLostInputAndLostOutput) {
  pty_.close_device_side();
  pty_.close_terminal_side();
  const double deadline = platform::now_seconds() + kPatienceSeconds;
  while (!workers_->input_lost() && platform::now_seconds() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(workers_->input_lost());

  pending_.append("frame");
  bool ok = true;
  while (ok && platform::now_seconds() < deadline) {
    ok = pump();
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_FALSE(ok);
  EXPECT_STREQ(error_.c_str(), "Terminal output was disconnected");
  EXPECT_TRUE(workers_->output_lost());
  EXPECT_FALSE(pump());  // and stays lost
}

}  // namespace
}  // namespace lumora::terminal
