#include "host/frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "session_helpers.h"

// Invalid frames, the 16 MiB body, the per-turn frame limit and closing are
// checked through the whole process in tests/integration/host_*.
namespace lumora::host {
namespace {

std::vector<std::pair<std::uint32_t, std::string>> g_dispatched;

void record_command(HostSession&, std::uint32_t id, const char* body, std::size_t length) {
  g_dispatched.emplace_back(id, std::string(body, length));
}

class FrameParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_dispatched.clear();
    session_ = make_session();
  }
  void buffer(std::string_view bytes) {
    ASSERT_LE(session_->recv_length + bytes.size(), kRecvBufferSize);
    std::memcpy(session_->recv_buffer.get() + session_->recv_length, bytes.data(), bytes.size());
    session_->recv_length += bytes.size();
  }
  void parse() { parse_frames(*session_, record_command); }

  std::unique_ptr<HostSession> session_;
};

TEST_F(FrameParserTest, HeaderAndBodySplitAcrossReadsAreAssembled) {
  std::string frame = frame_bytes(kFrameCommand, 7, R"({"op":"stats"})");
  // Cut inside the header, at its end, and twice inside the body.
  std::size_t from = 0;
  for (std::size_t cut : {std::size_t{5}, std::size_t{16}, std::size_t{20}, frame.size()}) {
    EXPECT_TRUE(g_dispatched.empty());
    buffer(std::string_view(frame).substr(from, cut - from));
    parse();
    from = cut;
  }
  ASSERT_EQ(1u, g_dispatched.size());
  EXPECT_EQ(7u, g_dispatched[0].first);
  EXPECT_EQ(R"({"op":"stats"})", g_dispatched[0].second);
  EXPECT_EQ(0u, session_->recv_length);
  EXPECT_FALSE(session_->stopped);
}

TEST_F(FrameParserTest, FullSendQueueHoldsParsingBack) {
  buffer(frame_bytes(kFrameCommand, 1, "{}"));
  session_->send_length = kReadThreshold + 1;
  EXPECT_FALSE(whole_frame_buffered(*session_));
  EXPECT_FALSE(reading_allowed(*session_));
  parse();
  EXPECT_TRUE(g_dispatched.empty());
  session_->send_length = kReadThreshold;
  parse();
  EXPECT_EQ(1u, g_dispatched.size());
}

// Both ways into the queue keep the same limits to the byte: a body of at
// most 16 MiB, and a frame only when it fits the free storage, which is
// joined when the unsent bytes split it.
TEST(SendQueueTest, RawAndJsonFramesKeepTheLimitsToTheByte) {
  const std::string source(kMaxBody + 1, 'x');
  for (bool json : {false, true}) {
    SCOPED_TRACE(json ? "queue_json_frame" : "queue_frame");
    auto session = make_session();
    // `length` is the body's length on the wire; a JSON string adds two quotes.
    auto queue = [&](std::size_t length) {
      if (!json) return queue_frame(*session, kFrameEvent, 0, source.data(), length);
      JsonPtr body(cJSON_CreateString(source.substr(0, length - 2).c_str()));
      return queue_json_frame(*session, kFrameEvent, 0, body.get()) == QueueResult::queued;
    };
    EXPECT_FALSE(queue(kMaxBody + 1));
    EXPECT_EQ(0u, session->send_length);
    ASSERT_TRUE(queue(kMaxBody));
    EXPECT_EQ(kMaxBody + 16, session->send_length);

    session->send_length = kSendBufferSize - 100;
    EXPECT_FALSE(queue(100 - 16 + 1));
    ASSERT_TRUE(queue(100 - 16));
    EXPECT_EQ(kSendBufferSize, session->send_length);

    session->send_offset = kSendBufferSize - 20;
    session->send_length = 20;
    std::memcpy(session->send_buffer.get() + session->send_offset, "RZV1\x65\0\0\0\0\0\0\0\x04\0\0\0ping", 20);
    ASSERT_TRUE(queue(40));
    EXPECT_EQ(0u, session->send_offset);
    std::vector<QueuedFrame> frames = take_queued(*session);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ("ping", frames[0].body);
    EXPECT_EQ(json ? '"' + std::string(38, 'x') + '"' : std::string(40, 'x'), frames[1].body);
  }
}

TEST(SendQueueTest, JsonFramesCarryTheUnformattedPrint) {
  auto session = make_session();
  JsonPtr body(cJSON_Parse(R"({"ok":true,"result":{"a":[1,2.5,-0.1,1e300,0.0089766870000858034],"s":"\u00e9\n","n":null}})"));
  ASSERT_TRUE(body);
  cJSON_AddNumberToObject(body.get(), "nan", NAN);
  ASSERT_EQ(QueueResult::queued, queue_json_frame(*session, kFrameReply, 7, body.get()));
  std::vector<QueuedFrame> frames = take_queued(*session);
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(7u, frames[0].id);
  EXPECT_EQ(json::print_json(body.get()).get(), frames[0].body);
}

// Sending to a controller that hung up is checked through the whole process
// (FakeHostTest.ControllerHangingUpWhileTheHostSendsEndsWithCodeZero).

}  // namespace
}  // namespace lumora::host
