#include "client/controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/clock.h"
#include "platform/socket.h"
#include "support/host_fixture.h"

namespace lumora::client {
namespace {

using platform::IoStatus;
using platform::Socket;
using ::testing::HasSubstr;

// ---------------------------------------------------------------------------
// The scripted peer: this test binary started again with kScenarioVariable
// set plays a host that follows one scenario, so that every branch of the
// controller can be driven without the real host.

constexpr const char* kScenarioVariable = "LUMORA_SCRIPTED_PEER";
constexpr double kPeerWaitSeconds = 30;

struct PeerFrame {
  std::uint32_t type = 0;
  std::uint32_t id = 0;
  std::string body;
};

std::string frame_bytes(std::uint32_t type, std::uint32_t id, std::string_view body) {
  unsigned char header[kFrameHeaderSize];
  encode_frame_header(type, id, static_cast<std::uint32_t>(body.size()), header);
  std::string bytes(reinterpret_cast<const char*>(header), sizeof header);
  bytes.append(body);
  return bytes;
}

bool peer_send(const Socket& socket, std::string_view bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    platform::IoResult result = platform::send_some(socket, bytes.data() + sent, bytes.size() - sent);
    if (result.status == IoStatus::ok) {
      sent += result.bytes;
    } else if (result.status == IoStatus::would_block) {
      platform::wait_socket(socket, false, true, kPeerWaitSeconds, nullptr);
    } else {
      return false;
    }
  }
  return true;
}

bool peer_read_exact(const Socket& socket, char* out, std::size_t length) {
  std::size_t got = 0;
  while (got < length) {
    platform::IoResult result = platform::recv_some(socket, out + got, length - got);
    if (result.status == IoStatus::ok) {
      got += result.bytes;
    } else if (result.status == IoStatus::would_block) {
      if (platform::wait_socket(socket, true, false, kPeerWaitSeconds, nullptr) != platform::WaitStatus::ready) {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

// Empty at the end of the stream.
std::optional<PeerFrame> peer_read_frame(const Socket& socket) {
  unsigned char header[kFrameHeaderSize];
  if (!peer_read_exact(socket, reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
  auto field = [&](int offset) {
    return static_cast<std::uint32_t>(header[offset]) | static_cast<std::uint32_t>(header[offset + 1]) << 8 |
           static_cast<std::uint32_t>(header[offset + 2]) << 16 | static_cast<std::uint32_t>(header[offset + 3]) << 24;
  };
  PeerFrame frame{field(4), field(8), std::string(field(12), '\0')};
  if (!peer_read_exact(socket, frame.body.data(), frame.body.size())) return std::nullopt;
  return frame;
}

void wait_for_hang_up(const Socket& socket) {
  while (peer_read_frame(socket)) {
  }
}

std::string reply_to(const PeerFrame& command) {
  return R"({"ok":true,"result":{"id":)" + std::to_string(command.id) + R"(,"length":)" +
         std::to_string(command.body.size()) + "}}";
}

std::string event_numbered(std::size_t number, std::size_t padding = 0) {
  return R"({"kind":"tick","n":)" + std::to_string(number) + R"(,"pad":")" + std::string(padding, 'x') + "\"}";
}

// Echo: an event, then a reply naming the command's id and length; "close"
// ends with the final notice, like the host.
int peer_echo(const Socket& socket, std::size_t events = 0) {
  while (std::optional<PeerFrame> command = peer_read_frame(socket)) {
    if (command->body == R"({"op":"close"})") {
      peer_send(socket, frame_bytes(kFrameReply, command->id, R"({"ok":true,"result":null})"));
      peer_send(socket, frame_bytes(kFrameFinal, 0, R"({"reason":"closed","stats":{}})"));
      return 0;
    }
    if (command->body == R"({"op":"fail"})") {
      peer_send(socket, frame_bytes(kFrameReply, command->id, R"({"ok":false,"error":"Unsupported native operation"})"));
      continue;
    }
    peer_send(socket, frame_bytes(kFrameEvent, 0, event_numbered(++events)) + frame_bytes(kFrameReply, command->id, reply_to(*command)));
  }
  return 0;
}

int run_scenario(const std::string& scenario, const Socket& socket, const std::string& token) {
  std::string hello = frame_bytes(kFrameHello, 0, token);
  if (scenario == "silent") {
    wait_for_hang_up(socket);
    return 0;
  }
  if (scenario == "wrong_token") {
    std::string wrong = token;
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';
    peer_send(socket, frame_bytes(kFrameHello, 0, wrong));
    wait_for_hang_up(socket);
    return 0;
  }
  if (scenario == "event_first") {
    peer_send(socket, frame_bytes(kFrameEvent, 0, "{}"));
    wait_for_hang_up(socket);
    return 0;
  }
  peer_send(socket, hello);
  if (scenario == "echo") return peer_echo(socket);
  if (scenario == "reversed") {
    // Two commands answered last first, an event between the replies.
    std::optional<PeerFrame> first = peer_read_frame(socket);
    std::optional<PeerFrame> second = peer_read_frame(socket);
    if (!first || !second) return 1;
    peer_send(socket, frame_bytes(kFrameReply, second->id, reply_to(*second)) +
                          frame_bytes(kFrameEvent, 0, event_numbered(1)) +
                          frame_bytes(kFrameReply, first->id, reply_to(*first)) +
                          frame_bytes(kFrameFinal, 0, R"({"reason":"closed","stats":{}})"));
    wait_for_hang_up(socket);
    return 0;
  }
  if (scenario == "mute") {
    wait_for_hang_up(socket);
    return 0;
  }
  if (scenario == "hang_up") {
    peer_read_frame(socket);
    std::fputs("leaving early\n", stderr);
    return 3;
  }
  // The malformed answers, each to the first command.
  static const std::pair<const char*, std::string> kMalformed[] = {
      {"bad_magic", "RZV2" + frame_bytes(kFrameReply, 1, R"({"ok":true,"result":null})").substr(4)},
      {"bad_type", frame_bytes(9, 1, R"({"ok":true,"result":null})")},
      {"reply_not_json", frame_bytes(kFrameReply, 1, "not json")},
      {"reply_without_ok", frame_bytes(kFrameReply, 1, R"({"result":null})")},
      {"reply_id_zero", frame_bytes(kFrameReply, 0, R"({"ok":true,"result":null})")},
      {"event_not_object", frame_bytes(kFrameEvent, 0, "[1,2]")},
      {"second_hello", frame_bytes(kFrameHello, 0, token)},
      {"oversized", frame_bytes(kFrameReply, 1, "").substr(0, 12) + std::string("\x01\x00\x00\x01", 4)},
  };
  for (const auto& [name, answer] : kMalformed) {
    if (scenario != name) continue;
    peer_read_frame(socket);
    peer_send(socket, answer);
    wait_for_hang_up(socket);
    return 0;
  }
  if (scenario == "largest") {
    // Checks that the command arrived whole and answers with a body of the
    // largest size.
    std::optional<PeerFrame> command = peer_read_frame(socket);
    if (!command) return 1;
    std::string reply = R"({"ok":true,"result":")";
    std::string tail = "\"}";
    char mark = command->body.size() == kMaxFrameBody ? 'y' : 'n';
    reply.append(kMaxFrameBody - reply.size() - tail.size(), mark);
    reply += tail;
    peer_send(socket, frame_bytes(kFrameReply, command->id, reply));
    wait_for_hang_up(socket);
    return 0;
  }
  if (scenario == "flood_while_reading_nothing") {
    // 8 MiB of events before reading anything: a controller that only
    // sends while its command is going out would deadlock with us.
    std::string burst;
    for (int index = 0; index < 128; ++index) burst += frame_bytes(kFrameEvent, 0, event_numbered(index + 1, 65536));
    peer_send(socket, burst);
    return peer_echo(socket, 128);
  }
  return 1;
}

// Runs before main when this binary was started as a peer.
const bool kPlayedPeer = [] {
  const char* scenario = std::getenv(kScenarioVariable);
  if (scenario == nullptr) return false;
  std::ifstream command_line("/proc/self/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(command_line)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::string port;
  std::string token;
  for (std::size_t index = 1; index + 1 < args.size(); index += 2) {
    if (args[index] == "--port") port = args[index + 1];
    if (args[index] == "--token") token = args[index + 1];
  }
  if (std::string(scenario) == "exit_at_once") {
    std::fputs("cannot start\n", stderr);
    std::_Exit(2);
  }
  Socket socket = platform::connect_loopback(static_cast<std::uint16_t>(std::atoi(port.c_str())), 5);
  int code = socket.valid() ? run_scenario(scenario, socket, token) : 2;
  socket.close();
  std::fflush(stderr);
  std::_Exit(code);
}();

std::unique_ptr<Controller> launch_peer(const std::string& scenario, std::string* error,
                                        double connect_timeout_seconds = 10) {
  LaunchOptions options;
  options.host_path = "/proc/self/exe";
  options.environment = {std::string(kScenarioVariable) + "=" + scenario};
  options.connect_timeout_seconds = connect_timeout_seconds;
  return Controller::launch(options, error);
}

std::unique_ptr<Controller> launch_peer_or_fail(const std::string& scenario) {
  std::string error;
  std::unique_ptr<Controller> peer = launch_peer(scenario, &error);
  EXPECT_NE(peer, nullptr) << error;
  return peer;
}

double result_number(const Reply& reply, const char* name) {
  return test::number_member(reply.result.get(), name);
}

// ---------------------------------------------------------------------------

TEST(FrameHeaderTest, EncodesMagicAndLittleEndianFields) {
  unsigned char header[kFrameHeaderSize];
  encode_frame_header(200, 0x01020304, 0x00a0b0c0, header);
  const unsigned char expected[] = {'R', 'Z', 'V', '1', 200, 0, 0, 0, 4, 3, 2, 1, 0xc0, 0xb0, 0xa0, 0};
  EXPECT_EQ(std::string(header, header + 16), std::string(expected, expected + 16));
}

TEST(TokenTest, IsSixtyFourLowerCaseHexDigitsAndFreshEachTime) {
  std::string first = make_token();
  std::string second = make_token();
  ASSERT_EQ(first.size(), 64u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos) << first;
  EXPECT_NE(first, second);
}

TEST(RunProcessTest, ReportsExitCodesAndBothOutputs) {
  struct Case {
    const char* script;
    int exit_code;
    const char* output;
    const char* error;
  };
  const Case cases[] = {
      {"exit 0", 0, "", ""},
      {"printf out; printf err >&2; exit 3", 3, "out", "err"},
      {"kill -TERM $$", 128 + 15, "", ""},
      {"kill -KILL $$", 128 + 9, "", ""},
  };
  for (const Case& each : cases) {
    ProcessResult result = run_process("/bin/sh", {"-c", each.script}, 10);
    EXPECT_EQ(result.exit_code, each.exit_code) << each.script;
    EXPECT_EQ(result.standard_output, each.output) << each.script;
    EXPECT_EQ(result.standard_error, each.error) << each.script;
    EXPECT_FALSE(result.timed_out) << each.script;
  }
}

TEST(RunProcessTest, DrainsLargeOutputsOnBothStreamsWithoutBlocking) {
  // Far more than a pipe holds, on both streams at once.
  ProcessResult result =
      run_process("/bin/sh", {"-c", "head -c 1000000 /dev/zero; head -c 700000 /dev/zero >&2"}, 20);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.standard_output.size(), 1000000u);
  EXPECT_EQ(result.standard_error.size(), 700000u);
}

TEST(RunProcessTest, KillsAProgramThatOutlivesItsTimeOut) {
  double start = platform::now_seconds();
  ProcessResult result = run_process("/bin/sh", {"-c", "printf started; exec sleep 30"}, 0.3);
  EXPECT_TRUE(result.timed_out);
  EXPECT_EQ(result.exit_code, 128 + 9);
  EXPECT_EQ(result.standard_output, "started");
  EXPECT_LT(platform::now_seconds() - start, 10);
}

TEST(RunProcessTest, ReportsAProgramThatCannotStart) {
  ProcessResult result = run_process("/nonexistent/lumora-host", {}, 5);
  EXPECT_EQ(result.exit_code, -1);
  EXPECT_THAT(result.standard_error, HasSubstr("/nonexistent/lumora-host"));
}

TEST(ControllerLaunchTest, ChecksTheHelloAndReportsWhyItFailed) {
  struct Case {
    const char* scenario;
    const char* message;
  };
  const Case cases[] = {
      {"wrong_token", "wrong token"},
      {"event_first", "not a hello"},
      {"exit_at_once", "exited with code 2 before connecting: cannot start"},
  };
  for (const Case& each : cases) {
    std::string error;
    EXPECT_EQ(launch_peer(each.scenario, &error), nullptr) << each.scenario;
    EXPECT_THAT(error, HasSubstr(each.message)) << each.scenario;
  }
}

TEST(ControllerLaunchTest, GivesUpOnAHostThatNeverSaysHello) {
  double start = platform::now_seconds();
  std::string error;
  EXPECT_EQ(launch_peer("silent", &error, 0.3), nullptr);
  EXPECT_THAT(error, HasSubstr("hello"));
  EXPECT_LT(platform::now_seconds() - start, 5);
}

TEST(ControllerLaunchTest, ReportsAMissingHostBinary) {
  LaunchOptions options;
  options.host_path = "/nonexistent/lumora-host";
  std::string error;
  EXPECT_EQ(Controller::launch(options, &error), nullptr);
  EXPECT_THAT(error, HasSubstr("/nonexistent/lumora-host"));
}

TEST(ControllerTest, NumbersCommandsFromOneAndMatchesRepliesById) {
  auto peer = launch_peer_or_fail("echo");
  ASSERT_NE(peer, nullptr);
  std::uint32_t first = peer->send_command(R"({"op":"a"})");
  std::uint32_t second = peer->send_command(R"({"op":"bb"})");
  std::uint32_t third = peer->send_command(R"({"op":"ccc"})");
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
  EXPECT_EQ(third, 3u);
  EXPECT_EQ(peer->last_id(), 3u);

  // Waiting for the last keeps the earlier replies for later.
  std::optional<Reply> reply = peer->wait_reply(third, 10);
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(reply->id, 3u);
  EXPECT_EQ(result_number(*reply, "length"), 12);
  reply = peer->wait_reply(first, 10);
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(result_number(*reply, "id"), 1);
  EXPECT_EQ(reply->body, R"({"ok":true,"result":{"id":1,"length":10}})");
  EXPECT_TRUE(test::reply_ok(peer->wait_reply(second, 10)));

  peer->set_next_id(40);
  reply = peer->request(R"({"op":"fail"})");
  EXPECT_TRUE(test::reply_fails_with(reply, "Unsupported native operation"));
  EXPECT_EQ(reply->id, 40u);
}

TEST(ControllerTest, KeepsEventsAndTheFinalNoticeInArrivalOrder) {
  auto peer = launch_peer_or_fail("echo");
  ASSERT_NE(peer, nullptr);
  for (int index = 0; index < 3; ++index) ASSERT_TRUE(test::reply_ok(peer->request(R"({"op":"x"})")));
  ASSERT_TRUE(peer->close());
  std::vector<Message> messages = peer->take_messages();
  ASSERT_EQ(messages.size(), 4u);
  for (int index = 0; index < 3; ++index) {
    EXPECT_EQ(messages[index].type, kFrameEvent);
    EXPECT_EQ(test::number_member(messages[index].body.get(), "n"), index + 1);
  }
  EXPECT_EQ(messages[3].type, kFrameFinal);
  EXPECT_EQ(test::string_member(messages[3].body.get(), "reason"), "closed");
  EXPECT_EQ(messages[3].text, R"({"reason":"closed","stats":{}})");
  EXPECT_TRUE(peer->take_messages().empty());
  EXPECT_EQ(peer->wait_exit(1), 0);
}

TEST(ControllerTest, RepliesOutOfOrderStillMeetTheirCommands) {
  auto peer = launch_peer_or_fail("reversed");
  ASSERT_NE(peer, nullptr);
  std::uint32_t first = peer->send_command(R"({"op":"one"})");
  std::uint32_t second = peer->send_command(R"({"op":"second"})");
  std::optional<Reply> reply = peer->wait_reply(first, 10);
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(result_number(*reply, "length"), 12);
  reply = peer->wait_reply(second, 10);
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(result_number(*reply, "length"), 15);
  std::optional<Message> event = peer->next_message(10);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type, kFrameEvent);
  std::optional<Message> notice = peer->next_message(10);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->type, kFrameFinal);
}

TEST(ControllerTest, EveryWaitIsBoundedWhenTheHostStaysQuiet) {
  auto peer = launch_peer_or_fail("mute");
  ASSERT_NE(peer, nullptr);
  double start = platform::now_seconds();
  std::uint32_t id = peer->send_command(R"({"op":"stats"})");
  ASSERT_NE(id, 0u);
  EXPECT_FALSE(peer->wait_reply(id, 0.2));
  EXPECT_FALSE(peer->next_message(0.2));
  EXPECT_TRUE(peer->take_messages().empty());
  EXPECT_LT(platform::now_seconds() - start, 5);
  EXPECT_TRUE(peer->connected());
}

TEST(ControllerTest, AMalformedFrameEndsEveryWaitAtOnce) {
  const char* scenarios[] = {"bad_magic",        "bad_type",         "reply_not_json", "reply_without_ok",
                             "reply_id_zero",    "event_not_object", "second_hello",   "oversized"};
  for (const char* scenario : scenarios) {
    auto peer = launch_peer_or_fail(scenario);
    ASSERT_NE(peer, nullptr) << scenario;
    double start = platform::now_seconds();
    EXPECT_FALSE(peer->request(R"({"op":"stats"})", 20)) << scenario;
    EXPECT_FALSE(peer->connected()) << scenario;
    EXPECT_THAT(peer->error(), HasSubstr("from the host")) << scenario;
    EXPECT_FALSE(peer->next_message(20)) << scenario;
    EXPECT_EQ(peer->send_command(R"({"op":"stats"})"), 0u) << scenario;
    EXPECT_LT(platform::now_seconds() - start, 5) << scenario;
  }
}

TEST(ControllerTest, AHangUpEndsTheWaitAndKeepsExitCodeAndStandardError) {
  auto peer = launch_peer_or_fail("hang_up");
  ASSERT_NE(peer, nullptr);
  double start = platform::now_seconds();
  EXPECT_FALSE(peer->request(R"({"op":"stats"})", 20));
  EXPECT_LT(platform::now_seconds() - start, 5);
  EXPECT_FALSE(peer->connected());
  EXPECT_EQ(peer->wait_exit(10), 3);
  EXPECT_EQ(peer->standard_error(), "leaving early\n");
}

TEST(ControllerTest, OurHangUpLetsTheHostEnd) {
  auto peer = launch_peer_or_fail("echo");
  ASSERT_NE(peer, nullptr);
  ASSERT_TRUE(test::reply_ok(peer->request(R"({"op":"x"})")));
  peer->hang_up();
  EXPECT_FALSE(peer->connected());
  EXPECT_EQ(peer->send_command(R"({"op":"x"})"), 0u);
  EXPECT_EQ(peer->wait_exit(10), 0);
}

TEST(ControllerTest, CarriesBodiesOfSixteenMebibytesBothWays) {
  auto peer = launch_peer_or_fail("largest");
  ASSERT_NE(peer, nullptr);
  std::string command = R"({"op":"x","pad":")";
  command.append(kMaxFrameBody - command.size() - 2, 'p');
  command += "\"}";
  ASSERT_EQ(command.size(), kMaxFrameBody);
  std::optional<Reply> reply = peer->request(command, 30);
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(reply->body.size(), kMaxFrameBody);
  ASSERT_TRUE(cJSON_IsString(reply->result.get()));
  EXPECT_EQ(reply->result->valuestring[0], 'y') << "the peer did not receive the whole command";

  // One byte more is refused before anything is sent.
  EXPECT_EQ(peer->send_command(command + " "), 0u);
  EXPECT_TRUE(peer->connected());
}

TEST(ControllerTest, ReadsWhileSendingSoAHostBusySendingCannotDeadlockIt) {
  auto peer = launch_peer_or_fail("flood_while_reading_nothing");
  ASSERT_NE(peer, nullptr);
  std::string command = R"({"op":"x","pad":")" + std::string(12 * 1024 * 1024, 'p') + "\"}";
  std::optional<Reply> reply = peer->request(command, 30);
  ASSERT_TRUE(test::reply_ok(reply));
  std::vector<Message> messages = peer->take_messages();
  ASSERT_EQ(messages.size(), 129u);
  for (std::size_t index = 0; index < messages.size(); ++index) {
    EXPECT_EQ(test::number_member(messages[index].body.get(), "n"), static_cast<double>(index + 1));
  }
}

}  // namespace
}  // namespace lumora::client
