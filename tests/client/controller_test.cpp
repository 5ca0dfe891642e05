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
// set plays a host that misbehaves in one way, so that the controller's
// defences can be driven without the real host (which never misbehaves).

constexpr const char* kScenarioVariable = "LUMORA_SCRIPTED_PEER";
constexpr double kPeerWaitSeconds = 30;

std::string frame_bytes(std::uint32_t type, std::uint32_t id, std::string_view body) {
  unsigned char header[kFrameHeaderSize];
  encode_frame_header(type, id, static_cast<std::uint32_t>(body.size()), header);
  return std::string(reinterpret_cast<const char*>(header), sizeof header) + std::string(body);
}

// Sends or receives exactly `length` bytes; false at the end of the stream.
bool peer_transfer(const Socket& socket, char* data, std::size_t length, bool sending) {
  for (std::size_t done = 0; done < length;) {
    platform::IoResult result = sending ? platform::send_some(socket, data + done, length - done)
                                        : platform::recv_some(socket, data + done, length - done);
    if (result.status == IoStatus::ok) {
      done += result.bytes;
    } else if (result.status != IoStatus::would_block ||
               platform::wait_socket(socket, !sending, sending, kPeerWaitSeconds, nullptr) != platform::WaitStatus::ready) {
      return false;
    }
  }
  return true;
}

// Reads one frame and forgets it; false at the end of the stream.
bool peer_skip_frame(const Socket& socket) {
  unsigned char header[kFrameHeaderSize];
  if (!peer_transfer(socket, reinterpret_cast<char*>(header), sizeof header, false)) return false;
  std::string body(static_cast<std::size_t>(header[12]) | static_cast<std::size_t>(header[13]) << 8 |
                       static_cast<std::size_t>(header[14]) << 16 | static_cast<std::size_t>(header[15]) << 24,
                   '\0');
  return peer_transfer(socket, body.data(), body.size(), false);
}

std::string event_numbered(std::size_t number, std::size_t padding = 0) {
  return frame_bytes(kFrameEvent, 0,
                     R"({"kind":"tick","n":)" + std::to_string(number) + R"(,"pad":")" + std::string(padding, 'x') + "\"}");
}

// What the peer sends on connecting, how many commands it then reads, and
// what it answers to them; then it waits for the controller to hang up.
struct Script {
  std::string greeting;
  int commands = 0;
  std::string answer;
};

std::optional<Script> script_for(std::string_view name, const std::string& token) {
  const std::string hello = frame_bytes(kFrameHello, 0, token);
  const std::string null_reply = R"({"ok":true,"result":null})";
  if (name == "silent") return Script{};
  if (name == "wrong_token") return Script{frame_bytes(kFrameHello, 0, std::string(64, token[0] == 'a' ? 'b' : 'a')), 0, ""};
  if (name == "event_first") return Script{frame_bytes(kFrameEvent, 0, "{}"), 0, ""};
  if (name == "mute") return Script{hello, 0, ""};
  // The malformed answers, each to the first command.
  const std::pair<std::string_view, std::string> malformed[] = {
      {"bad_magic", "RZV2" + frame_bytes(kFrameReply, 1, null_reply).substr(4)},
      {"bad_type", frame_bytes(9, 1, null_reply)},
      {"reply_not_json", frame_bytes(kFrameReply, 1, "not json")},
      {"reply_without_ok", frame_bytes(kFrameReply, 1, R"({"result":null})")},
      {"reply_id_zero", frame_bytes(kFrameReply, 0, null_reply)},
      {"event_not_object", frame_bytes(kFrameEvent, 0, "[1,2]")},
      {"second_hello", hello},
      {"oversized", frame_bytes(kFrameReply, 1, "").substr(0, 12) + std::string("\x01\x00\x00\x01", 4)},
  };
  for (const auto& [each, answer] : malformed) {
    if (name == each) return Script{hello, 1, answer};
  }
  if (name == "flood_then_largest") {
    // 8 MiB of events before reading anything (a controller that only sends
    // while its command is going out would deadlock with us), then a reply
    // of the largest size.
    Script script{hello, 1, R"({"ok":true,"result":")"};
    for (int index = 0; index < 128; ++index) script.greeting += event_numbered(index + 1, 65536);
    script.answer.append(kMaxBody - script.answer.size() - 2, 'y');
    script.answer = frame_bytes(kFrameReply, 1, script.answer + "\"}");
    return script;
  }
  return std::nullopt;
}

int play(Script script, const Socket& socket) {
  peer_transfer(socket, script.greeting.data(), script.greeting.size(), true);
  for (int index = 0; index < script.commands; ++index) {
    if (!peer_skip_frame(socket)) return 1;
  }
  peer_transfer(socket, script.answer.data(), script.answer.size(), true);
  while (peer_skip_frame(socket)) {
  }
  return 0;
}

// Runs before main when this binary was started as a peer.
const bool kPlayedPeer = [] {
  const char* name = std::getenv(kScenarioVariable);
  if (name == nullptr) return false;
  if (std::string(name) == "exit_at_once") {
    std::fputs("cannot start\n", stderr);
    std::_Exit(2);
  }
  std::ifstream command_line("/proc/self/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(command_line)), std::istreambuf_iterator<char>());
  auto value_of = [&](const std::string& option) {
    std::size_t at = text.find(option + '\0');
    return at == std::string::npos ? std::string() : std::string(text.c_str() + at + option.size() + 1);
  };
  Socket socket = platform::connect_loopback(static_cast<std::uint16_t>(std::atoi(value_of("--port").c_str())), 5);
  std::optional<Script> script = script_for(name, value_of("--token"));
  int code = socket.valid() && script ? play(std::move(*script), socket) : 2;
  socket.close();
  std::fflush(stderr);
  std::_Exit(code);
}();

LaunchOptions peer_options(const std::string& scenario, double connect_timeout_seconds = 10) {
  LaunchOptions options;
  options.host_path = "/proc/self/exe";
  options.environment = {std::string(kScenarioVariable) + "=" + scenario};
  options.connect_timeout_seconds = connect_timeout_seconds;
  return options;
}

std::unique_ptr<Controller> launch_peer_or_fail(const std::string& scenario) {
  std::string error;
  std::unique_ptr<Controller> peer = Controller::launch(peer_options(scenario), &error);
  EXPECT_NE(peer, nullptr) << error;
  return peer;
}

// ---------------------------------------------------------------------------

TEST(TokenTest, IsSixtyFourLowerCaseHexDigitsAndFreshEachTime) {
  std::string first = make_token();
  ASSERT_EQ(first.size(), 64u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos) << first;
  EXPECT_NE(first, make_token());
}

TEST(RunProcessTest, ReportsExitCodesOutputsAndTimeOuts) {
  struct Case {
    const char* script;
    double timeout;
    int exit_code;
    const char* output;
    const char* error;
  };
  const Case cases[] = {
      {"exit 0", 10, 0, "", ""},
      {"printf out; printf err >&2; exit 3", 10, 3, "out", "err"},
      {"kill -TERM $$", 10, 128 + 15, "", ""},
      {"kill -KILL $$", 10, 128 + 9, "", ""},
      // Outliving the time-out gets the program killed; what it wrote is kept.
      {"printf started; exec sleep 30", 0.3, 128 + 9, "started", ""},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.script);
    ProcessResult result = run_process("/bin/sh", {"-c", each.script}, each.timeout);
    EXPECT_EQ(result.exit_code, each.exit_code);
    EXPECT_EQ(result.standard_output, each.output);
    EXPECT_EQ(result.standard_error, each.error);
    EXPECT_EQ(result.timed_out, each.timeout < 1);
  }
  ProcessResult missing = run_process("/nonexistent/lumora-host", {}, 5);
  EXPECT_EQ(missing.exit_code, -1);
  EXPECT_THAT(missing.standard_error, HasSubstr("/nonexistent/lumora-host"));
}

TEST(RunProcessTest, DrainsLargeOutputsOnBothStreamsWithoutBlocking) {
  // Far more than a pipe holds, on both streams at once.
  ProcessResult result =
      run_process("/bin/sh", {"-c", "head -c 1000000 /dev/zero; head -c 700000 /dev/zero >&2"}, 20);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.standard_output.size(), 1000000u);
  EXPECT_EQ(result.standard_error.size(), 700000u);
}

TEST(ControllerLaunchTest, ChecksTheHelloAndReportsWhyItFailed) {
  struct Case {
    const char* scenario;
    const char* host_path;
    double timeout;
    const char* message;
  };
  const Case cases[] = {
      {"wrong_token", "/proc/self/exe", 10, "wrong token"},
      {"event_first", "/proc/self/exe", 10, "not a hello"},
      {"exit_at_once", "/proc/self/exe", 10, "exited with code 2 before connecting: cannot start"},
      {"silent", "/proc/self/exe", 0.3, "hello"},
      {"mute", "/nonexistent/lumora-host", 10, "/nonexistent/lumora-host"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.scenario);
    double start = platform::now_seconds();
    LaunchOptions options = peer_options(each.scenario, each.timeout);
    options.host_path = each.host_path;
    std::string error;
    EXPECT_EQ(Controller::launch(options, &error), nullptr);
    EXPECT_THAT(error, HasSubstr(each.message));
    EXPECT_LT(platform::now_seconds() - start, 5);
  }
}

// Against the test host, whose backend is scripted by its commands.
TEST(ControllerTest, NumbersCommandsFromOneAndMatchesRepliesById) {
  auto host = test::launch_host(LUMORA_FAKE_HOST_PATH);
  ASSERT_TRUE(host);
  // Each of these opens fails with its own message.
  EXPECT_EQ(host->send_command(R"({"op":"open","fake_open_error":"one"})"), 1u);
  EXPECT_EQ(host->send_command(R"({"op":"open","fake_open_error":"two"})"), 2u);
  EXPECT_EQ(host->send_command(R"({"op":"open","fake_open_error":"three"})"), 3u);
  // Waiting for the last keeps the earlier replies for later.
  EXPECT_TRUE(test::reply_fails_with(host->wait_reply(3, 10), "three"));
  EXPECT_TRUE(test::reply_fails_with(host->wait_reply(1, 10), "one"));
  EXPECT_TRUE(test::reply_fails_with(host->wait_reply(2, 10), "two"));
  host->set_next_id(40);
  std::optional<Reply> reply = host->request(R"({"op":"open"})");
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(reply->id, 40u);

  EXPECT_TRUE(host->close());
}

TEST(ControllerTest, EveryWaitIsBoundedAndOurHangUpLetsTheHostEnd) {
  auto peer = launch_peer_or_fail("mute");
  ASSERT_NE(peer, nullptr);
  double start = platform::now_seconds();
  std::uint32_t id = peer->send_command(R"({"op":"stats"})");
  ASSERT_NE(id, 0u);
  EXPECT_FALSE(peer->wait_reply(id, 0.2));
  EXPECT_FALSE(peer->next_message(0.2));
  EXPECT_LT(platform::now_seconds() - start, 5);
  EXPECT_TRUE(peer->connected());
  peer->hang_up();
  EXPECT_FALSE(peer->connected());
  EXPECT_EQ(peer->send_command(R"({"op":"x"})"), 0u);
  EXPECT_EQ(peer->wait_exit(10), 0);
}

TEST(ControllerTest, AMalformedFrameEndsEveryWaitAtOnce) {
  for (const char* scenario : {"bad_magic", "bad_type", "reply_not_json", "reply_without_ok", "reply_id_zero",
                               "event_not_object", "second_hello", "oversized"}) {
    SCOPED_TRACE(scenario);
    auto peer = launch_peer_or_fail(scenario);
    ASSERT_NE(peer, nullptr);
    double start = platform::now_seconds();
    EXPECT_FALSE(peer->request(R"({"op":"stats"})", 20));
    EXPECT_FALSE(peer->connected());
    EXPECT_THAT(peer->error(), HasSubstr("from the host"));
    EXPECT_FALSE(peer->next_message(20));
    EXPECT_EQ(peer->send_command(R"({"op":"stats"})"), 0u);
    EXPECT_LT(platform::now_seconds() - start, 5);
  }
}

TEST(ControllerTest, ReadsWhileSendingAndCarriesSixteenMebibytesBothWays) {
  auto peer = launch_peer_or_fail("flood_then_largest");
  ASSERT_NE(peer, nullptr);
  std::string command = R"({"op":"x","pad":")";
  command.append(kMaxBody - command.size() - 2, 'p');
  command += "\"}";
  std::optional<Reply> reply = peer->request(command, 30);
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(reply->body.size(), kMaxBody);
  std::vector<Message> messages = peer->take_messages();
  ASSERT_EQ(messages.size(), 128u);
  for (std::size_t index = 0; index < messages.size(); ++index) {
    EXPECT_EQ(test::number_member(messages[index].body.get(), "n"), static_cast<double>(index + 1));
  }
  // One byte more is refused before anything is sent.
  EXPECT_EQ(peer->send_command(command + " "), 0u);
  EXPECT_TRUE(peer->connected());
}

}  // namespace
}  // namespace lumora::client
