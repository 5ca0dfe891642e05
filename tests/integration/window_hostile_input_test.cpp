// What a hostile controller can do to a window host, each case as it was
// first seen from outside: paths that name a FIFO (captures, images, fonts), a drawable of gigabytes,
// a kind longer than the window's error text, PNG headers the decoder would
// complain about on standard error. The host answers each and serves on.
#include <gtest/gtest.h>

#include <string>

#include "json/json.h"
#include "scene/error_text.h"
#include "support/files.h"
#include "support/host_fixture.h"
#include "support/png_writer.h"
#include "support/window_fixture.h"

namespace lumora {
namespace {

using test::reply_fails_with;
using test::reply_ok;

// Long enough for the sanitizer build; a blocked host never answers at all.
constexpr double kPromptSeconds = 10;

std::string quote(const std::string& text) {
  json::JsonPtr value(cJSON_CreateString(text.c_str()));
  return test::json_text(value.get());
}

// The "resource_error" texts the host sent so far: events drawn in one
// command go out in that loop turn, before the reply to the next one.
std::vector<std::string> resource_errors(client::Controller& host) {
  std::vector<std::string> texts;
  if (!reply_ok(host.request(R"({"op":"info"})"))) return {"<no info>"};
  for (const client::Message& message : host.take_messages()) {
    if (test::string_member(message.body.get(), "kind") == "resource_error") {
      texts.push_back(test::string_member(message.body.get(), "text"));
    }
  }
  return texts;
}

TEST(WindowHostileInputTest, FifosAsCaptureOrImageAreRefusedAndTheHostServesOn) {
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir.file("pipe");
  const std::string link = dir.file("link.png");
  ASSERT_TRUE(test::make_fifo(fifo));
  ASSERT_TRUE(test::make_symlink(fifo, link));
  auto host = test::launch_window_host(R"("width":40,"height":30)");
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#123"]]})")));
  // Before the mend each of these blocked the host in open() until some
  // process opened the FIFO: no reply, and "close" was never read.
  for (const std::string& path : {fifo, link}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"capture","path":)" + quote(path) + "}", kPromptSeconds),
                                 "Save captured frame: Couldn't open " + path));
  }
  // A FIFO that somebody reads is no file either: nothing is written to it.
  int reader = test::open_fifo_reader(fifo);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"capture","path":)" + quote(fifo) + "}", kPromptSeconds),
                               "Save captured frame: Couldn't open " + fifo));
  EXPECT_EQ("", test::read_available(reader));
  test::close_descriptor(reader);

  // An image that names a FIFO: the commit succeeds, the draw refuses the
  // source with one event and the present goes on.
  const std::string unknown_size = "sdl3 image unavailable: PNG encoded input exceeds 8 MiB or has unknown size";
  for (const std::string& path : {fifo, link}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#123"],["image",)" + quote(path) +
                                       R"(,[0,0,10,10],"#ffffff","stretch"]]})")));
    EXPECT_TRUE(reply_ok(host->request(R"({"op":"present"})", kPromptSeconds)));
    EXPECT_EQ(resource_errors(*host), std::vector<std::string>{unknown_size});
    // Forgotten and tried again, with the same answer.
    EXPECT_TRUE(reply_ok(host->request(R"({"op":"reload_image","source":)" + quote(path) + "}", kPromptSeconds)));
    EXPECT_TRUE(reply_ok(host->request(R"({"op":"present"})", kPromptSeconds)));
    EXPECT_EQ(resource_errors(*host), std::vector<std::string>{unknown_size});
  }
  EXPECT_TRUE(host->close());
}

// "font_dir" comes from the controller too: a font file that is a FIFO
// held the open until somebody wrote to it.
TEST(WindowHostileInputTest, AFontFileThatIsAFifoFailsTheOpenAtOnce) {
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_TRUE(test::make_fifo(dir.file("DejaVuSans.ttf")));
  auto host = test::launch_default_host({}, test::headless_video_environment());
  ASSERT_TRUE(host);
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"open","hidden":true,"font_dir":)" + quote(dir.path()) + "}",
                                             kPromptSeconds),
                               "Open bundled font: Couldn't open " + dir.file("DejaVuSans.ttf")));
  EXPECT_TRUE(host->close());
}

// "set_size" 16384 × 16384 at scale 2 asked SDL for a drawable of 4.2 GB.
TEST(WindowHostileInputTest, DrawablesAboveThePixelBudgetAreRefused) {
  auto host = test::launch_window_host(R"("width":40,"height":30,"scale":2)");
  ASSERT_TRUE(host);
  const char* kMessage = "Window drawable exceeds 8388608 pixels";
  for (const char* size : {R"("width":16384,"height":16384)", R"("width":2048,"height":1025)",
                           R"("width":16384,"height":257)"}) {
    SCOPED_TRACE(size);
    EXPECT_TRUE(reply_fails_with(host->request(std::string(R"({"op":"set_size",)") + size + "}"), kMessage));
  }
  // Untouched by the refusals; exactly the budget fits (2048 × 1024 at scale 2).
  auto info = host->request(R"({"op":"info"})");
  ASSERT_TRUE(reply_ok(info));
  EXPECT_EQ(test::json_text(test::member(info->result.get(), "pixel_size")), "[80,60]");
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","scale":1})")));
  auto resized = host->request(R"({"op":"set_size","width":4096,"height":2048})");
  ASSERT_TRUE(reply_ok(resized));
  EXPECT_EQ(test::json_text(test::member(resized->result.get(), "pixel_size")), "[4096,2048]");
  EXPECT_TRUE(host->close());
}

// The kind of an invalid command is echoed within the window's 512-byte
// error text, cut at a character boundary: a 600-byte kind once gave 634.
TEST(WindowHostileInputTest, InvalidCommandMessagesFitTheWindowErrorText) {
  auto host = test::launch_window_host(R"("width":40,"height":30)");
  ASSERT_TRUE(host);
  std::string kind(301, 'k');
  for (int i = 0; i < 150; ++i) kind += "\xC3\xA9";  // é, two bytes each
  std::string expected = "Invalid draw command at index 1 (" + std::string(301, 'k');
  while (expected.size() + 2 <= 511) expected += "\xC3\xA9";
  auto reply = host->request(R"({"op":"frame","commands":[["begin","#123"],[)" + quote(kind) + "]]}");
  EXPECT_TRUE(reply_fails_with(reply, expected));
  EXPECT_EQ(expected.size(), 510u);
  EXPECT_TRUE(host->close());
}

// The decoder used to write "libpng warning: ..." and "libpng error:
// Invalid IHDR data" for these; the only text the host may write is its
// protocol notice.
TEST(WindowHostileInputTest, PngsTheDecoderComplainsAboutLeaveStandardErrorEmpty) {
  auto host = test::launch_window_host(R"("width":40,"height":30)");
  ASSERT_TRUE(host);
  const test_support::ComplainingPngScene scene("[0,0,10,10]", "[10,0,10,10]");
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":)" + scene.commands + "}")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  // Every invalid header is refused with its own event; the image with a
  // gamma of 0 is drawn.
  EXPECT_EQ(resource_errors(*host).size(), 2 * scene.invalid_headers);
  EXPECT_TRUE(host->close());
  EXPECT_EQ("", host->standard_error());
}

}  // namespace
}  // namespace lumora
