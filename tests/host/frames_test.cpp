#include "host/frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "session_helpers.h"

namespace lumora::host {
namespace {

std::vector<std::pair<std::uint32_t, std::string>> g_dispatched;
std::uint32_t g_close_on_id = 0;

void record_command(HostSession& session, std::uint32_t id, const char* body, std::size_t length) {
  g_dispatched.emplace_back(id, std::string(body, length));
  if (id == g_close_on_id) session.closing = true;
}

class FrameParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_dispatched.clear();
    g_close_on_id = 0;
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
  const std::size_t cuts[] = {5, 16, 20, frame.size()};
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
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

TEST_F(FrameParserTest, IdsMayHaveGapsButMustGrow) {
  buffer(frame_bytes(kFrameCommand, 5, "{}") + frame_bytes(kFrameCommand, 9, "{}"));
  parse();
  ASSERT_EQ(2u, g_dispatched.size());
  EXPECT_EQ(9u, session_->last_request_id);
  EXPECT_FALSE(session_->protocol_error);
}

struct InvalidFrameCase {
  const char* name;
  std::string bytes;
};

TEST_F(FrameParserTest, InvalidFramesEndTheConnection) {
  const InvalidFrameCase cases[] = {
      {"bad magic", frame_bytes(kFrameCommand, 1, "{}", "RZV2")},
      {"hello type", frame_bytes(kFrameHello, 1, "{}")},
      {"reply type", frame_bytes(kFrameReply, 1, "{}")},
      {"id zero", frame_bytes(kFrameCommand, 0, "{}")},
      {"repeated id", frame_bytes(kFrameCommand, 3, "{}") + frame_bytes(kFrameCommand, 3, "{}")},
      {"falling id", frame_bytes(kFrameCommand, 3, "{}") + frame_bytes(kFrameCommand, 2, "{}")},
  };
  for (const InvalidFrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    buffer(c.bytes);
    parse();
    EXPECT_TRUE(session_->protocol_error);
    EXPECT_TRUE(session_->stopped);
    EXPECT_LE(g_dispatched.size(), 1u);
  }
}

TEST_F(FrameParserTest, LengthAboveMaximumIsRejectedBeforeItsBody) {
  std::string header = frame_bytes(kFrameCommand, 1, "");
  write_le32(reinterpret_cast<unsigned char*>(header.data()) + 12, kMaxBody + 1);
  buffer(header);
  EXPECT_TRUE(whole_frame_buffered(*session_));
  parse();
  EXPECT_TRUE(session_->protocol_error);
}

TEST_F(FrameParserTest, MaximalBodyFillsTheBufferExactly) {
  std::string header = frame_bytes(kFrameCommand, 1, "");
  write_le32(reinterpret_cast<unsigned char*>(header.data()) + 12, kMaxBody);
  buffer(header);
  std::memset(session_->recv_buffer.get() + 16, ' ', kMaxBody);
  session_->recv_length = kRecvBufferSize;
  EXPECT_FALSE(reading_allowed(*session_));
  EXPECT_TRUE(whole_frame_buffered(*session_));
  parse();
  ASSERT_EQ(1u, g_dispatched.size());
  EXPECT_EQ(kMaxBody, g_dispatched[0].second.size());
  EXPECT_EQ(0u, session_->recv_length);
}

TEST_F(FrameParserTest, AtMost32FramesPerTurnAndTheRestMovesToTheFront) {
  std::string bytes;
  for (std::uint32_t id = 1; id <= 40; ++id) bytes += frame_bytes(kFrameCommand, id, "{}");
  bytes += frame_bytes(kFrameCommand, 41, "{\"partial\"").substr(0, 20);
  buffer(bytes);
  parse();
  ASSERT_EQ(32u, g_dispatched.size());
  EXPECT_EQ(32u, g_dispatched.back().first);
  EXPECT_EQ(0, std::memcmp(session_->recv_buffer.get(), frame_bytes(kFrameCommand, 33, "{}").data(), 18));
  EXPECT_TRUE(whole_frame_buffered(*session_));
  parse();
  ASSERT_EQ(40u, g_dispatched.size());
  EXPECT_EQ(40u, g_dispatched.back().first);
  EXPECT_EQ(20u, session_->recv_length);
  EXPECT_FALSE(whole_frame_buffered(*session_));
}

TEST_F(FrameParserTest, ClosingStopsParsingAndLeavesTheRestBuffered) {
  g_close_on_id = 2;
  buffer(frame_bytes(kFrameCommand, 1, "{}") + frame_bytes(kFrameCommand, 2, "{}") +
         frame_bytes(kFrameCommand, 3, "{}"));
  parse();
  EXPECT_EQ(2u, g_dispatched.size());
  parse();
  EXPECT_EQ(2u, g_dispatched.size());
  EXPECT_EQ(18u, session_->recv_length);
  // A closing host never parses again, so a buffered frame must not keep its waits short.
  EXPECT_FALSE(reading_allowed(*session_));
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

TEST(SendQueueTest, FrameHeaderIsLittleEndian) {
  auto session = make_session();
  ASSERT_TRUE(queue_frame(*session, kFrameReply, 0x01020304, "abc", 3));
  const unsigned char expected[] = {'R', 'Z', 'V', '1', 200, 0, 0, 0, 4, 3, 2, 1, 3, 0, 0, 0, 'a', 'b', 'c'};
  ASSERT_EQ(sizeof expected, session->send_length);
  EXPECT_EQ(0, std::memcmp(expected, session->send_buffer.get(), sizeof expected));
}

TEST(SendQueueTest, LimitsAndCompaction) {
  auto session = make_session();
  const unsigned char* source = session->recv_buffer.get();
  EXPECT_FALSE(queue_frame(*session, kFrameReply, 1, source, kMaxBody + 1));
  EXPECT_TRUE(queue_frame(*session, kFrameReply, 1, source, kMaxBody));
  EXPECT_TRUE(queue_frame(*session, kFrameReply, 2, source, kMaxBody));
  // 64 KiB - 32 bytes are left: a header and 65,504 bytes fit, one more byte does not.
  std::size_t free_bytes = kSendBufferSize - session->send_length;
  EXPECT_FALSE(queue_frame(*session, kFrameEvent, 0, source, free_bytes - 16 + 1));
  EXPECT_TRUE(queue_frame(*session, kFrameEvent, 0, source, free_bytes - 16));
  EXPECT_EQ(kSendBufferSize, session->send_length);

  // Pretend most was sent: a frame that does not fit behind the rest moves it to the front.
  session->send_offset = kSendBufferSize - 20;
  session->send_length = 20;
  std::memcpy(session->send_buffer.get() + session->send_offset, "RZV1\x65\0\0\0\0\0\0\0\x04\0\0\0ping", 20);
  ASSERT_TRUE(queue_frame(*session, kFrameEvent, 0, "pong", 4));
  EXPECT_EQ(0u, session->send_offset);
  std::vector<QueuedFrame> frames = take_queued(*session);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ("ping", frames[0].body);
  EXPECT_EQ("pong", frames[1].body);
}

// A reply printed into the queue must be exactly cJSON's unformatted text,
// wherever it lands and however close it comes to the limits.
JsonPtr string_body(std::size_t printed_length) {
  JsonPtr body(cJSON_CreateString(std::string(printed_length - 2, 'x').c_str()));
  return body;
}

TEST(SendQueueTest, JsonFramesCarryTheUnformattedPrint) {
  auto session = make_session();
  JsonPtr body(cJSON_Parse(R"({"ok":true,"result":{"a":[1,2.5,-0.1,1e300,0.0089766870000858034],"s":"\u00e9\n","n":null}})"));
  ASSERT_TRUE(body);
  cJSON_AddNumberToObject(body.get(), "nan", NAN);
  scene::JsonText expected = scene::print_json(body.get());
  ASSERT_TRUE(queue_frame(*session, kFrameEvent, 0, "ping", 4));
  ASSERT_TRUE(queue_json_frame(*session, kFrameReply, 7, body.get()));
  std::vector<QueuedFrame> frames = take_queued(*session);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ(kFrameReply, frames[1].type);
  EXPECT_EQ(7u, frames[1].id);
  EXPECT_EQ(expected.get(), frames[1].body);
}

TEST(SendQueueTest, JsonFramesKeepTheQueueLimitsToTheByte) {
  auto session = make_session();
  EXPECT_FALSE(queue_json_frame(*session, kFrameReply, 1, string_body(kMaxBody + 1).get()));
  EXPECT_EQ(0u, session->send_length);
  ASSERT_TRUE(queue_json_frame(*session, kFrameReply, 1, string_body(kMaxBody).get()));
  EXPECT_EQ(kMaxBody + 16, session->send_length);

  // Exactly the free storage fits; one byte more does not.
  session->send_length = kSendBufferSize - 100;
  EXPECT_FALSE(queue_json_frame(*session, kFrameEvent, 0, string_body(100 - 16 + 1).get()));
  ASSERT_TRUE(queue_json_frame(*session, kFrameEvent, 0, string_body(100 - 16).get()));
  EXPECT_EQ(kSendBufferSize, session->send_length);

  // Free storage split by the unsent bytes is joined, as for any frame.
  session->send_offset = kSendBufferSize - 20;
  session->send_length = 20;
  std::memcpy(session->send_buffer.get() + session->send_offset, "RZV1\x65\0\0\0\0\0\0\0\x04\0\0\0ping", 20);
  ASSERT_TRUE(queue_json_frame(*session, kFrameEvent, 0, string_body(40).get()));
  EXPECT_EQ(0u, session->send_offset);
  std::vector<QueuedFrame> frames = take_queued(*session);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ("ping", frames[0].body);
  EXPECT_EQ('"' + std::string(38, 'x') + '"', frames[1].body);
}

// A connected pair: the session's socket and the controller's end.
struct SocketPair {
  platform::Socket listener;
  platform::Socket peer;
  bool connect(HostSession& session) {
    std::uint16_t port = 0;
    listener = platform::listen_loopback(&port);
    session.socket = platform::connect_loopback(port, 5);
    peer = platform::accept_connection(listener, 5);
    return session.socket.valid() && peer.valid();
  }
};

void send_all(const platform::Socket& socket, std::string_view bytes) {
  while (!bytes.empty()) {
    platform::IoResult result = platform::send_some(socket, bytes.data(), bytes.size());
    if (result.status == platform::IoStatus::ok) {
      bytes.remove_prefix(result.bytes);
    } else {
      ASSERT_EQ(platform::IoStatus::would_block, result.status);
      platform::wait_socket(socket, false, true, 1, nullptr);
    }
  }
}

// Receives until `count` bytes arrived or `seconds` passed.
std::string receive_bytes(const platform::Socket& socket, std::size_t count, double seconds) {
  std::string bytes;
  double deadline = platform::now_seconds() + seconds;
  std::vector<char> chunk(1 << 16);
  while (bytes.size() < count && platform::now_seconds() < deadline) {
    platform::IoResult result = platform::recv_some(socket, chunk.data(), chunk.size());
    if (result.status == platform::IoStatus::ok) {
      bytes.append(chunk.data(), result.bytes);
    } else if (result.status == platform::IoStatus::would_block) {
      platform::wait_socket(socket, true, false, 0.1, nullptr);
    } else {
      break;
    }
  }
  return bytes;
}

TEST_F(FrameParserTest, SocketReadsSplitAnywhereAreAssembled) {
  SocketPair pair;
  ASSERT_TRUE(pair.connect(*session_));
  std::string frame = frame_bytes(kFrameCommand, 1, R"({"op":"close"})");
  for (std::size_t at = 0; at < frame.size(); at += 3) {
    send_all(pair.peer, std::string_view(frame).substr(at, 3));
    platform::wait_socket(session_->socket, true, false, 1, nullptr);
    receive_frames(*session_);
    parse();
    EXPECT_EQ(at + 3 >= frame.size() ? 1u : 0u, g_dispatched.size()) << "after byte " << at + 3;
  }
  EXPECT_FALSE(session_->stopped);
  pair.peer.close();
  platform::wait_socket(session_->socket, true, false, 1, nullptr);
  receive_frames(*session_);
  EXPECT_TRUE(session_->stopped);
  EXPECT_FALSE(session_->protocol_error);
}

TEST(SendQueueTest, FlushSendsAtMostOneBudgetPerCall) {
  auto session = make_session();
  SocketPair pair;
  ASSERT_TRUE(pair.connect(*session));
  std::string body(400000, 'z');
  ASSERT_TRUE(queue_frame(*session, kFrameEvent, 0, body.data(), body.size()));
  std::size_t total = session->send_length;
  std::string received;
  for (int turn = 0; turn < 1000 && received.size() < total; ++turn) {
    std::size_t before = session->send_length;
    flush_send_queue(*session);
    ASSERT_FALSE(session->stopped);
    EXPECT_LE(before - session->send_length, kIoBudget);
    received += receive_bytes(pair.peer, total - received.size(), 0.01);
  }
  ASSERT_EQ(total, received.size());
  EXPECT_EQ(0u, session->send_offset);
  EXPECT_EQ(body, received.substr(16));
}

TEST(SendQueueTest, PeerHangingUpStopsTheLoopWithoutASignal) {
  auto session = make_session();
  SocketPair pair;
  ASSERT_TRUE(pair.connect(*session));
  pair.peer.close();
  std::string body(100000, 'z');
  for (int attempt = 0; attempt < 50 && !session->stopped; ++attempt) {
    ASSERT_TRUE(queue_frame(*session, kFrameEvent, 0, body.data(), body.size()));
    flush_send_queue(*session);
    platform::sleep_seconds(0.01);
  }
  EXPECT_TRUE(session->stopped);
}

}  // namespace
}  // namespace lumora::host
