// What a hostile or careless controller can do to the shipped host, each case
// as it was first seen from outside: a capture path that would block, a reply
// larger than a frame may be, raw bytes that are not UTF-8, a frame cut off
// by a hang-up. The host answers each with an error and serves on.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

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

TEST(HostHostileInputTest, CaptureToAFifoIsRefusedAndTheHostServesOn) {
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir.file("capture.fifo");
  const std::string link = dir.file("capture.ans");
  ASSERT_TRUE(test::make_fifo(fifo));
  ASSERT_TRUE(test::make_symlink(fifo, link));
  auto host = test::launch_headless_host(4, 2);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#102030"]]})")));
  // Before the mend the host blocked in open() until a reader came: neither
  // this reply nor the close behind it ever arrived.
  for (const std::string& path : {fifo, link}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"capture","path":)" + quote(path) + "}", 10),
                                 "Cannot open terminal capture path"));
  }
  // A FIFO that is read is no file either; its reader gets nothing.
  int reader = test::open_fifo_reader(fifo);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"capture","path":)" + quote(fifo) + "}", 10),
                               "Cannot open terminal capture path"));
  EXPECT_EQ("", test::read_available(reader));
  test::close_descriptor(reader);
  const std::string file = dir.file("capture.txt");
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"capture","path":)" + quote(file) + "}")));
  std::optional<client::Reply> ansi = host->request(R"({"op":"ansi","diff":false})");
  ASSERT_TRUE(reply_ok(ansi));
  EXPECT_EQ(test::read_file(file), ansi->result->valuestring);
  EXPECT_TRUE(host->close());
}

// Images that name a FIFO: refused as unreadable, drawn as the placeholder.
TEST(HostHostileInputTest, ImageFromAFifoIsRefusedAndTheHostServesOn) {
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir.file("image.fifo");
  ASSERT_TRUE(test::make_fifo(fifo));
  auto host = test::launch_headless_host(8, 1);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["image",)" + quote(fifo) +
                                     R"(,[0,0,64,16],"#ffffff","stretch"]]})", 10)));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"reload_image","source":)" + quote(fifo) + "}", 10)));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})", 10)));
  std::optional<client::Reply> snapshot = host->request(R"({"op":"snapshot"})");
  ASSERT_TRUE(reply_ok(snapshot));
  EXPECT_EQ("[image]", test::snapshot_row(snapshot->result.get(), 0).substr(0, 7));
  EXPECT_TRUE(host->close());
}

// An image of random pixels, two per cell of a columns × rows grid: every
// cell gets colours of its own, the most expensive "ansi" text there is.
test_support::Bytes noise_png(std::uint32_t columns, std::uint32_t rows, unsigned seed) {
  test_support::Bytes rgb(static_cast<std::size_t>(columns) * rows * 2 * 3);
  std::mt19937 random(seed);
  for (std::uint8_t& channel : rgb) channel = static_cast<std::uint8_t>(random());
  return test_support::png_rgb8(columns, rows * 2, rgb);
}

// A "frame" that stretches the image at `path` over the whole grid.
std::string whole_grid_image_frame(const std::string& path, std::uint32_t columns, std::uint32_t rows) {
  return R"({"op":"frame","commands":[["image",)" + quote(path) + ",[0,0," + std::to_string(columns * 8) + "," +
         std::to_string(rows * 16) + R"(],"#ffffff","stretch"]]})";
}

// The full "ansi" text of a 1024 × 512 truecolor grid of noise is far above 16 MiB.
TEST(HostHostileInputTest, RepliesAboveTheFrameLimitAreRefusedAndTheSessionGoesOn) {
  constexpr std::uint32_t kColumns = 1024, kRows = 512;
  test_support::TempFile png(noise_png(kColumns, kRows, 18));
  auto host = test::launch_headless_host(kColumns, kRows);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(whole_grid_image_frame(png.path(), kColumns, kRows), 120)));
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

// A controller that shuts down its sending side while more replies wait
// than the host queues before it stops reading, and reads none of them:
// the host never read again, so it never saw the end of input, and lived on.
TEST(HostHostileInputTest, HalfClosedControllerThatStopsReadingIsLetGo) {
  constexpr std::uint32_t kColumns = 1024, kRows = 256;
  test_support::TempFile png(noise_png(kColumns, kRows, 24));
  auto host = test::launch_headless_host(kColumns, kRows);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(whole_grid_image_frame(png.path(), kColumns, kRows), 120)));
  // Each full "ansi" of these random cells is about 12 MiB.
  for (int i = 0; i < 6; ++i) ASSERT_NE(0u, host->send_command(R"({"op":"ansi","diff":false})"));
  ASSERT_TRUE(host->close_sending());
  EXPECT_EQ(0, host->wait_exit(60));
  EXPECT_EQ("", host->standard_error());
}

// Memory that runs out while a valid command is read says nothing about its
// JSON. The host runs with a bounded address space, and one command asks
// for far more items than fit in it.
TEST(HostHostileInputTest, RunningOutOfMemoryWhileReadingIsNotInvalidJson) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the bound allows";
#endif
  client::LaunchOptions options = test::default_host_options();
  options.launcher = {"prlimit", "--as=" + std::to_string(320L << 20)};
  auto host = test::launch_host(options);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"open","backend":"terminal","headless":true,"columns":8,"rows":2})")));
  // Six million items of 64 bytes each: about 380 MB.
  std::string numbers;
  numbers.reserve(12000000);
  for (int i = 0; i < 6000000; ++i) numbers += i ? ",0" : "0";
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"stats","padding":[)" + numbers + "]}", 60),
                               "Cannot allocate JSON command"));
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"stats"})")));
  EXPECT_TRUE(host->close());
}

// The decoder used to write "libpng warning: ..." and "libpng error:
// Invalid IHDR data" for these; the only text the host may write is its
// protocol notice.
TEST(HostHostileInputTest, PngsTheDecoderComplainsAboutLeaveStandardErrorEmpty) {
  auto host = test::launch_headless_host(8, 2);
  ASSERT_TRUE(host);
  const test_support::ComplainingPngScene scene("[0,0,64,16]", "[0,16,64,16]");
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":)" + scene.commands + "}")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  // The invalid headers show the placeholder; the image with a gamma of 0,
  // drawn last, covers it in red.
  std::optional<client::Reply> snapshot = host->request(R"({"op":"snapshot"})");
  ASSERT_TRUE(reply_ok(snapshot));
  EXPECT_EQ("\u2580 255,0,0 / 255,0,0", test::snapshot_cell(snapshot->result.get(), 0, 0));
  EXPECT_TRUE(host->close());
  EXPECT_EQ("", host->standard_error());
}

}  // namespace
}  // namespace lumora
