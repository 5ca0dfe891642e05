// What a hostile or careless controller can do to the shipped host, each case
// as it was first seen from outside: a capture path that would block, a reply
// larger than a frame may be, raw bytes that are not UTF-8, a frame cut off
// by a hang-up. The host answers each with an error and serves on.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "scene/error_text.h"
#include "support/files.h"
#include "support/host_fixture.h"
#include "support/png_writer.h"

namespace lumora {
namespace {

using test::reply_fails_with;
using test::reply_ok;

constexpr const char* kReplyTooLarge = "Reply exceeds 16 MiB frame limit";

std::string quote(const std::string& text) {
  json::JsonPtr value(cJSON_CreateString(text.c_str()));
  return test::json_text(value.get());
}

// The raw reply is well-formed UTF-8 and parses as JSON.
::testing::AssertionResult valid_utf8_json(const std::optional<client::Reply>& reply) {
  if (!reply) return ::testing::AssertionFailure() << "no reply";
  std::size_t bad = scene::first_ill_formed_utf8(reply->body);
  if (bad != reply->body.size()) return ::testing::AssertionFailure() << "ill-formed UTF-8 at byte " << bad;
  if (!test::parse_json(reply->body)) return ::testing::AssertionFailure() << "not JSON: " << reply->body;
  return ::testing::AssertionSuccess();
}

TEST(HostHostileInputTest, CaptureToAFifoNobodyReadsIsRefusedAndTheHostServesOn) {
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir.file("capture.fifo");
  ASSERT_TRUE(test::make_fifo(fifo));
  auto host = test::launch_headless_host(4, 2);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#102030"]]})")));
  // Before the mend the host blocked in open() until a reader came: neither
  // this reply nor the close behind it ever arrived.
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"capture","path":)" + quote(fifo) + "}", 10),
                               "Cannot open terminal capture path"));
  // A FIFO that is read gets the capture, and one whose reader stops
  // reading is a short write, not a wait.
  int reader = test::open_fifo_reader(fifo);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"capture","path":)" + quote(fifo) + "}", 10)));
  std::string captured = test::read_available(reader);
  EXPECT_NE("", captured);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","columns":400,"rows":100})")));
  ASSERT_TRUE(reply_ok(host->request(
      R"({"op":"frame","commands":[["begin","#102030"],["text",")" + std::string(400, 'w') + R"(",0,0,"#ff8000",14,false]]})")));
  bool full = false;
  for (int attempt = 0; attempt < 64 && !full; ++attempt) {
    std::optional<client::Reply> reply = host->request(R"({"op":"capture","path":)" + quote(fifo) + "}", 10);
    ASSERT_TRUE(reply);
    full = !reply->ok;
    if (full) {
      EXPECT_EQ("Cannot write terminal capture", reply->error);
    }
  }
  EXPECT_TRUE(full);
  test::close_descriptor(reader);
  const std::string file = dir.file("capture.ans");
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"capture","path":)" + quote(file) + "}")));
  std::optional<client::Reply> ansi = host->request(R"({"op":"ansi","diff":false})");
  ASSERT_TRUE(reply_ok(ansi));
  EXPECT_EQ(test::read_file(file), ansi->result->valuestring);
  EXPECT_NE(std::string(ansi->result->valuestring), captured);  // the grid has grown since
  EXPECT_TRUE(host->close());
}

// Random pixels give every cell colours of its own, so the full "ansi" text
// of a 1024 × 512 truecolor grid is far above 16 MiB.
TEST(HostHostileInputTest, RepliesAboveTheFrameLimitAreRefusedAndTheSessionGoesOn) {
  constexpr std::uint32_t kColumns = 1024, kRows = 512;
  test_support::Bytes rgb(static_cast<std::size_t>(kColumns) * kRows * 2 * 3);
  std::mt19937 random(18);
  for (std::uint8_t& channel : rgb) channel = static_cast<std::uint8_t>(random());
  test_support::TempFile png(test_support::png_rgb8(kColumns, kRows * 2, rgb));
  auto host = test::launch_headless_host(kColumns, kRows);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["image",)" + quote(png.path()) + ",[0,0," +
                                     std::to_string(kColumns * 8) + "," + std::to_string(kRows * 16) +
                                     R"(],"#ffffff","stretch"]]})", 120)));
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"ansi","diff":false})", 120), kReplyTooLarge));
  // Still serving, with the same scene; the snapshot knows its own budget.
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"snapshot"})", 120),
                               "Terminal snapshot exceeds the 16 MiB reply budget; use a smaller viewport"));
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"ansi","diff":true})")));
  std::optional<client::Reply> info = host->request(R"({"op":"info"})");
  ASSERT_TRUE(reply_ok(info));
  EXPECT_EQ(1, test::number_member(info->result.get(), "command_count"));
  EXPECT_TRUE(host->close());
  EXPECT_EQ(0, host->wait_exit());
}

// A raw 0xDC byte (a lone continuation byte) inside a kind or an id is
// echoed in the error as U+FFFD, so that a strict reader can parse the reply.
std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int k = 0; k < times; ++k) out += text;
  return out;
}

TEST(HostHostileInputTest, EchoedInputIsValidUtf8) {
  auto host = test::launch_headless_host(8, 4);
  ASSERT_TRUE(host);
  struct Case {
    std::string command;
    std::string message;
  };
  const std::string kBudget = "), geometry, color, or allocation budget";
  const Case cases[] = {
      {"{\"op\":\"frame\",\"commands\":[[\"re\xdct\"]]}", "Invalid terminal command 0 (re\xEF\xBF\xBDt" + kBudget},
      {"{\"op\":\"frame\",\"commands\":[[\"rect\",[0,0,8,16],\"#fff\",0,\"\",0],[\"\xf0\x9f\x98\"]]}",
       "Invalid terminal command 1 (\xEF\xBF\xBD" + kBudget},
      {"{\"op\":\"patch\",\"upsert\":[{\"id\":\"s\",\"bounds\":[0,0,8,16],\"commands\":[[\"\xc0\xafx\"]]}]}",
       "Invalid terminal command 0 (\xEF\xBF\xBD\xEF\xBF\xBDx" + kBudget},
      // Repaired first, then cut whole within the message's 200 bytes.
      {"{\"op\":\"frame\",\"commands\":[[\"" + std::string(300, '\xdc') + "\"]]}",
       "Invalid terminal command 0 (" + repeated("\xEF\xBF\xBD", 57)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command.substr(0, 80));
    std::optional<client::Reply> reply = host->request(c.command);
    EXPECT_TRUE(valid_utf8_json(reply));
    EXPECT_TRUE(reply_fails_with(reply, c.message));
  }
  // Texts the host does not know the meaning of still reach the controller intact.
  for (const char* command : {"{\"op\":\"\xdc\"}", "{\"op\":\"measure\",\"text\":\"a\xff\"}",
                              "{\"op\":\"open\",\"backend\":\"\xdc\"}"}) {
    SCOPED_TRACE(command);
    EXPECT_TRUE(valid_utf8_json(host->request(command)));
  }
  EXPECT_TRUE(host->close());
}

TEST(HostHostileInputTest, FrameCutOffByAHangUpEndsQuietly) {
  for (std::size_t cut : {std::size_t{5}, std::size_t{16}, std::size_t{20}}) {
    SCOPED_TRACE(cut);
    auto host = test::launch_default_host();
    ASSERT_TRUE(host);
    ASSERT_TRUE(reply_fails_with(host->request(R"({"op":"stats"})"), "Open the backend first"));
    unsigned char header[16];
    const std::string body = R"({"op":"stats"})";
    client::encode_frame_header(client::kFrameCommand, host->last_id() + 1, static_cast<std::uint32_t>(body.size()),
                                header);
    std::string frame = std::string(reinterpret_cast<char*>(header), 16) + body;
    ASSERT_TRUE(host->send_raw(frame.substr(0, cut)));
    host->hang_up();
    EXPECT_EQ(0, host->wait_exit(10));
    EXPECT_EQ("", host->standard_error());
  }
}

}  // namespace
}  // namespace lumora
