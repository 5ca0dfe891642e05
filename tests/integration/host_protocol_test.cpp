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

TEST(HostProtocolTest, EachInvalidFrameEndsWithOneLineOnStandardError) {
  const std::string stats = R"({"op":"stats"})";
  const std::pair<const char*, std::string> cases[] = {
      {"bad magic", frame(9, 1, stats, "RZV0")},
      {"hello from the controller", frame(1, 1, stats)},
      {"reply from the controller", frame(200, 1, stats)},
      {"event from the controller", frame(101, 1, stats)},
      {"id zero", frame(9, 0, stats)},
      {"repeated id", frame(9, 5, stats) + frame(9, 5, stats)},
      {"falling id", frame(9, 5, stats) + frame(9, 4, stats)},
      {"body above 16 MiB", frame(9, 1, "", "RZV1", client::kMaxBody + 1)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    auto host = launch_default_host();
    ASSERT_TRUE(host);
    ASSERT_TRUE(host->send_raw(bytes));
    EXPECT_FALSE(host->next_message(10));  // the host's hang-up ends the wait
    EXPECT_FALSE(host->connected());
    EXPECT_EQ(2, host->wait_exit(10));
    EXPECT_EQ("Invalid native protocol frame\n", host->standard_error());
  }
}

TEST(HostProtocolTest, BodyOfExactly16MiBIsAccepted) {
  auto host = launch_default_host();
  ASSERT_TRUE(host);
  std::string body = R"({"op":"stats","pad":")";
  body.append(client::kMaxBody - body.size() - 2, 'x');
  body += "\"}";
  ASSERT_EQ(client::kMaxBody, body.size());
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
  ASSERT_TRUE(notice->body && notice->body->child && notice->body->child->next);
  EXPECT_STREQ("reason", notice->body->child->string);
  EXPECT_STREQ("stats", notice->body->child->next->string);  // no "error" member between them
  EXPECT_EQ("closed", test::string_member(notice->body.get(), "reason"));
  EXPECT_EQ(1, test::number_member(notice->body.get(), "stats.requests"));
  EXPECT_FALSE(host->wait_reply(stats_id, 0.5));
  EXPECT_EQ(0, host->wait_exit());
  EXPECT_EQ("", host->standard_error());
}

TEST(HostProtocolTest, HostMessagesWithoutABackend) {
  auto host = launch_default_host();
  ASSERT_TRUE(host);
  const char* kNul = "Embedded NUL is not representable in a native C string";
  const char* kInvalid = "Invalid JSON command";
  const char* kNotOpen = "Open the backend first";
  const std::pair<std::string, const char*> cases[] = {
      {R"({"op":"open","name":"a\u0000b"})", kNul},
      {"", kInvalid},
      {R"({"op":"open"}x)", kInvalid},
      {R"(["op","open"])", kInvalid},
      {"{\"op\":\"open\"} ", kInvalid},  // trailing whitespace is not part of one value
      {R"({"op":"open","name":"\u00zz"})", kInvalid},
      {std::string(64, '[') + std::string(64, ']'), kInvalid},  // an array, at the deepest nesting
      {"{\"a\":" + std::string(64, '[') + std::string(64, ']') + "}", kInvalid},  // one level too deep
      // A NUL in a string decides the message even after a syntax error.
      {R"({"op":"open",,"name":"a\u0000b"})", kNul},
      {R"({"op":"open","name":"a\u0000b"} )", kNul},
      // A byte-order mark is accepted; an unknown op waits for the backend.
      {"\xEF\xBB\xBF{\"op\":\"stats\"}", kNotOpen},
      {R"({"op":"Open"})", kNotOpen},
      {R"({"op":"open","backend":"Terminal"})", "Unsupported native backend"},
      // A refused window (the default backend) leaves no backend open.
      {R"({"op":"open","width":0})", "Invalid window dimensions or scale"},
      {R"({"op":"open","backend":"window","scale":0.1})", "Invalid window dimensions or scale"},
  };
  double counted = 1;  // the close below
  for (const auto& [body, message] : cases) {
    EXPECT_TRUE(reply_fails_with(host->request(body), message)) << body;
    if (message != kNul && message != kInvalid) ++counted;
  }
  EXPECT_TRUE(host->close());
  // Bodies refused before they were parsed are not requests.
  std::vector<client::Message> messages = host->take_messages();
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(counted, test::number_member(messages[0].body.get(), "stats.requests"));
  EXPECT_EQ(0, host->wait_exit());
}

}  // namespace
}  // namespace lumora
