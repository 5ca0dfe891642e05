// Frames, replies and the end of a connection, against the shipped host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/controller.h"
#include "support/host_fixture.h"

namespace lumora {
namespace {

using test::launch_default_host;
using test::reply_fails_with;
using test::reply_ok;

std::string frame(std::uint32_t type, std::uint32_t id, std::string_view body, const char* magic = "RZV1",
                  std::uint32_t declared_length = UINT32_MAX) {
  unsigned char header[16];
  std::uint32_t length = declared_length == UINT32_MAX ? static_cast<std::uint32_t>(body.size()) : declared_length;
  client::encode_frame_header(type, id, length, header);
  std::memcpy(header, magic, 4);
  return std::string(reinterpret_cast<char*>(header), 16) + std::string(body);
}

struct InvalidFrameCase {
  const char* name;
  std::string bytes;
};

TEST(HostProtocolTest, EachInvalidFrameEndsWithOneLineOnStandardError) {
  const std::string stats = R"({"op":"stats"})";
  const InvalidFrameCase cases[] = {
      {"bad magic", frame(9, 1, stats, "RZV0")},
      {"hello from the controller", frame(1, 1, stats)},
      {"reply from the controller", frame(200, 1, stats)},
      {"event from the controller", frame(101, 1, stats)},
      {"id zero", frame(9, 0, stats)},
      {"repeated id", frame(9, 5, stats) + frame(9, 5, stats)},
      {"falling id", frame(9, 5, stats) + frame(9, 4, stats)},
      {"body above 16 MiB", frame(9, 1, "", "RZV1", client::kMaxFrameBody + 1)},
  };
  for (const InvalidFrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = launch_default_host();
    ASSERT_TRUE(host);
    ASSERT_TRUE(host->send_raw(c.bytes));
    EXPECT_EQ(2, host->wait_exit(10));
    EXPECT_EQ("Invalid native protocol frame\n", host->standard_error());
  }
}

TEST(HostProtocolTest, FortyCommandsInOneWriteAreAllAnsweredInOrder) {
  auto host = launch_default_host();
  ASSERT_TRUE(host);
  std::string bytes;
  for (std::uint32_t id = 1; id <= 40; ++id) bytes += frame(9, id * 2, R"({"op":"stats"})");
  ASSERT_TRUE(host->send_raw(bytes));
  for (std::uint32_t id = 1; id <= 40; ++id) {
    EXPECT_TRUE(reply_fails_with(host->wait_reply(id * 2, 10), "Open the backend first")) << id;
  }
  host->set_next_id(81);
  EXPECT_TRUE(host->close());
  EXPECT_EQ(0, host->wait_exit());
}

TEST(HostProtocolTest, BodyOfExactly16MiBIsAccepted) {
  auto host = launch_default_host();
  ASSERT_TRUE(host);
  std::string body = R"({"op":"stats","pad":")";
  body.append(client::kMaxFrameBody - body.size() - 2, 'x');
  body += "\"}";
  ASSERT_EQ(client::kMaxFrameBody, body.size());
  EXPECT_TRUE(reply_fails_with(host->request(body, 60), "Open the backend first"));
  // One byte more is a protocol error.
  body.insert(body.size() - 2, "x");
  host->send_raw(frame(9, host->last_id() + 1, body));  // the host may hang up before all of it is sent
  EXPECT_EQ(2, host->wait_exit(30));
  EXPECT_EQ("Invalid native protocol frame\n", host->standard_error());
}

TEST(HostProtocolTest, CloseBeforeOpenRepliesThenSendsTheFinalNotice) {
  auto host = launch_default_host();
  ASSERT_TRUE(host);
  // A command behind "close" in the same write is never answered.
  std::uint32_t close_id = host->send_command(R"({"op":"close"})");
  std::uint32_t stats_id = host->send_command(R"({"op":"stats"})");
  std::optional<client::Reply> reply = host->wait_reply(close_id, 10);
  ASSERT_TRUE(reply_ok(reply));
  EXPECT_EQ(R"({"ok":true,"result":null})", reply->body);
  std::optional<client::Message> notice = host->next_message(10);
  ASSERT_TRUE(notice);
  EXPECT_EQ(client::kFrameFinal, notice->type);
  EXPECT_EQ("closed", test::string_member(notice->body.get(), "reason"));
  EXPECT_EQ(nullptr, test::member(notice->body.get(), "error"));
  EXPECT_EQ(1, test::number_member(notice->body.get(), "stats.requests"));
  EXPECT_FALSE(test::number_member(notice->body.get(), "stats.frames") != 0);
  EXPECT_FALSE(host->wait_reply(stats_id, 0.5));
  EXPECT_EQ(0, host->wait_exit());
  EXPECT_EQ("", host->standard_error());
}

TEST(HostProtocolTest, ControllerHangingUpEndsNormally) {
  auto host = launch_default_host();
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_fails_with(host->request(R"({"op":"stats"})"), "Open the backend first"));
  host->hang_up();
  EXPECT_EQ(0, host->wait_exit());
  EXPECT_EQ("", host->standard_error());
}

TEST(HostProtocolTest, HostMessagesWithoutABackend) {
  auto host = launch_default_host();
  ASSERT_TRUE(host);
  const std::pair<std::string, const char*> cases[] = {
      {R"({"op":"open","name":"a\u0000b"})", "Embedded NUL is not representable in a native C string"},
      {std::string("{\"op\":\"open\",\"name\":\"a\0b\"}", 26), "Embedded NUL is not representable in a native C string"},
      {R"({"op":"open"} )", "Invalid JSON command"},
      {R"(["op","open"])", "Invalid JSON command"},
      {"{\"a\":" + std::string(65, '[') + std::string(65, ']') + "}", "Invalid JSON command"},
      {R"({"op":"frame","commands":[]})", "Open the backend first"},
      {R"({"op":"present"})", "Open the backend first"},
      {R"({"op":"snapshot"})", "Open the backend first"},
      {R"({"op":"open","backend":"Terminal"})", "Unsupported native backend"},
      // The window backend is not part of this build yet.
      {R"({"op":"open"})", "Could not open backend"},
      {R"({"op":"open","backend":"window"})", "Could not open backend"},
  };
  for (const auto& [body, message] : cases) {
    EXPECT_TRUE(reply_fails_with(host->request(body), message)) << body;
  }
  EXPECT_TRUE(host->close());
  EXPECT_EQ(0, host->wait_exit());
}

}  // namespace
}  // namespace lumora
