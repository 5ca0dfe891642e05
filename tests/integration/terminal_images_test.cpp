// PNG images in a headless terminal driven through the real host: half-block
// cells with alpha-weighted samples and tint, every pixel format from files
// and data URIs, the luminance ramp, the fit modes, the "[image]" placeholder
// with its single "resource_error" per failing source, and the image cache as
// "info" shows it: charges, reloading and eviction. Nine-slice regions, the
// header and base64 rules and the cache's budget are unit tests.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "scene/limits.h"
#include "support/host_fixture.h"
#include "support/png_writer.h"

namespace lumora {
namespace {

using test::number_member;
using test::reply_ok;
using test_support::Bytes;
using test_support::png_data_uri;
using test_support::TempFile;

constexpr const char* kLoadFailedEvent =
    R"({"kind":"resource_error","text":"Terminal images require bounded PNG data; 16-bit sources must use RGBA channels"})";
constexpr double kEntryOverhead = 41;

// A JSON string literal for any text (paths and URIs included).
std::string quote(const std::string& text) {
  json::JsonPtr value(cJSON_CreateString(text.c_str()));
  return test::json_text(value.get());
}

std::string image(const std::string& source, const std::string& rect, const std::string& tint = "#ffffff",
                  const std::string& fit = "stretch") {
  return R"(["image",)" + quote(source) + ",[" + rect + "]," + quote(tint) + "," + quote(fit) + "]";
}

std::string frame(const std::vector<std::string>& commands) {
  std::string text = R"({"op":"frame","commands":[)";
  for (std::size_t i = 0; i < commands.size(); ++i) text += (i == 0 ? "" : ",") + commands[i];
  return text + "]}";
}

// A 1 × 2 image: stretched over one cell (8 × 16), its upper pixel gives the
// cell's foreground and its lower pixel the background.
Bytes two_pixels(std::array<std::uint8_t, 4> upper, std::array<std::uint8_t, 4> lower) {
  return test_support::png_rgba8(1, 2, {upper[0], upper[1], upper[2], upper[3], lower[0], lower[1], lower[2], lower[3]});
}

void overwrite(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

// A valid PNG followed by zeros up to `size` bytes: the decoder stops at
// IEND, so only the stream's length decides whether it is accepted.
Bytes padded_png(std::size_t size) {
  Bytes bytes = test_support::png_solid(1, 1, {0, 200, 100, 255});
  bytes.resize(size, 0);
  return bytes;
}

class TerminalImagesTest : public testing::Test {
 protected:
  void open(int columns, int rows, const char* colour = "truecolor") {
    host = test::launch_headless_host(columns, rows, colour);
    ASSERT_TRUE(host);
  }

  json::JsonPtr result_of(const std::string& command) {
    auto reply = host->request(command);
    EXPECT_TRUE(reply_ok(reply)) << command.substr(0, 200);
    if (!reply || !reply->ok) return nullptr;
    return std::move(reply->result);
  }

  void commit(const std::vector<std::string>& commands) {
    ASSERT_TRUE(reply_ok(host->request(frame(commands)))) << frame(commands).substr(0, 300);
  }

  double info(const char* key) { return number_member(result_of(R"({"op":"info"})").get(), key); }

  void take_snapshot() { snapshot = result_of(R"({"op":"snapshot"})"); }

  std::string cell(int column, int row) const { return test::snapshot_cell(snapshot.get(), column, row); }
  std::string row_text(int row) const { return test::snapshot_row(snapshot.get(), row); }

  // Every event queued until now: a present at the end of a turn (the one
  // after "reload_image", say) queues its events behind the next turn's
  // replies, so the second round trip's reply comes after all of them.
  std::vector<std::string> events() {
    EXPECT_TRUE(reply_ok(host->request(R"({"op":"info"})")));
    EXPECT_TRUE(reply_ok(host->request(R"({"op":"info"})")));
    std::vector<std::string> texts;
    for (const client::Message& message : host->take_messages()) texts.push_back(message.text);
    return texts;
  }

  std::unique_ptr<client::Controller> host;
  json::JsonPtr snapshot;
};

TEST_F(TerminalImagesTest, HalfBlockCellsCarryAlphaWeightedSamplesAndTint) {
  open(4, 1);
  // Upper half: opaque dark red, dark green and dark blue, and a transparent
  // white that must not count; lower half opaque, red summing to a tie
  // (138 / 4 = 34.5) that rounds to the even 34.
  const Bytes png = test_support::png_rgba8(2, 4,
                                            {200, 0, 0, 255, 0, 100, 0, 255,       //
                                             0, 0, 50, 255, 255, 255, 255, 0,      //
                                             10, 20, 30, 255, 30, 20, 10, 255,     //
                                             98, 100, 100, 255, 0, 40, 200, 255});
  TempFile file(png);
  const std::string uri = png_data_uri(png);
  commit({R"(["begin","#204060"])", image(file.path(), "0,0,8,16"), image(uri, "8,0,8,16", "#ffffff80"),
          image(uri, "16,0,8,16", "#8040ff80")});
  take_snapshot();
  // Upper: (67, 33, 17) at alpha 191 over the background; lower: (34, 45, 85).
  EXPECT_EQ(cell(0, 0), "▀ 58,41,37 / 34,45,85");
  // Tint alpha 128: upper alpha 96, lower 128, both over the background.
  EXPECT_EQ(cell(1, 0), "▀ 45,52,66 / 33,54,90");
  // The tint's channels scale the samples as well.
  EXPECT_EQ(cell(2, 0), "▀ 32,43,66 / 24,37,90");
  EXPECT_TRUE(events().empty());
}

TEST_F(TerminalImagesTest, EveryPixelFormatSamplesAlike) {
  struct Case {
    const char* name;
    Bytes png;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"rgba8", two_pixels({1, 2, 3, 255}, {250, 251, 252, 255}), "▀ 1,2,3 / 250,251,252"},
      {"rgb8", test_support::png_rgb8(1, 2, {10, 200, 30, 250, 5, 128}), "▀ 10,200,30 / 250,5,128"},
      {"grey8", test_support::png_grey8(1, 2, {77, 200}), "▀ 77,77,77 / 200,200,200"},
      {"grey alpha", test_support::encode_png({1, 2, 8, test_support::kPngGreyAlpha, {90, 255, 240, 255}, {}, {}}),
       "▀ 90,90,90 / 240,240,240"},
      // The second palette entry is blue at alpha 128 over black.
      {"palette", test_support::png_palette8(1, 2, {0, 1}, {{255, 0, 0}, {0, 0, 255}}, {255, 128}),
       "▀ 255,0,0 / 0,0,128"},
      {"rgba16", test_support::png_rgba16(1, 2, {0x8080, 0x4040, 0xFFFF, 0xFFFF, 0x1010, 0x2020, 0x3030, 0xFFFF}),
       "▀ 128,64,255 / 16,32,48"},
  };
  open(1, static_cast<int>(cases.size()));
  std::vector<std::string> commands;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    commands.push_back(image(png_data_uri(cases[i].png), "0," + std::to_string(16 * i) + ",8,16"));
  }
  commit(commands);
  take_snapshot();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cell(0, static_cast<int>(i)), cases[i].expected) << cases[i].name;
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(TerminalImagesTest, MonochromeFramesShowTheLuminanceRampAndFillsRechooseIt) {
  open(5, 2, "none");
  // Columns white, green, black, red, mid grey; both rows alike.
  const std::string uri = png_data_uri(test_support::png_rgb8(
      5, 2, {255, 255, 255, 0, 255, 0, 0, 0, 0, 255, 0, 0, 128, 128, 128,    //
             255, 255, 255, 0, 255, 0, 0, 0, 0, 255, 0, 0, 128, 128, 128}));
  // The second row is darkened by a translucent fill afterwards.
  commit({image(uri, "0,0,40,16"), image(uri, "0,16,40,16"), R"(["rect",[0,16,40,16],"#00000080",0,"",0])"});
  take_snapshot();
  // Green weighs most and red more than blue.
  EXPECT_EQ(row_text(0), "@* :+");
  EXPECT_EQ(cell(1, 0), "* 0,255,0 / 0,255,0");
  // Half the brightness: white 127 is index 4, green 3, red 1, grey 64 is 2.
  EXPECT_EQ(row_text(1), "=- .:");
}

TEST_F(TerminalImagesTest, FitModesMapTheImageOntoItsRect) {
  open(10, 5);
  // Four pixels in a row, red, green, blue, white, into an 80 × 80 rect.
  const std::string uri = png_data_uri(
      test_support::png_rgba8(4, 1, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}));
  std::string blocks;
  for (int i = 0; i < 10; ++i) blocks += "▀";

  // "contain": a band 20 high from y 30; the cells above and below are left
  // alone, and row 1 only catches half of its lower half.
  commit({image(uri, "0,0,80,80", "#ffffff", "contain")});
  take_snapshot();
  EXPECT_EQ(row_text(0), std::string(10, ' '));
  EXPECT_EQ(row_text(2), blocks);
  EXPECT_EQ(row_text(3), std::string(10, ' '));
  EXPECT_EQ(cell(0, 1), "▀ 0,0,0 / 128,0,0");

  // "cover": the middle quarter of each side shows; green left, blue right.
  commit({image(uri, "0,0,80,80", "#ffffff", "cover")});
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 0,255,0 / 0,255,0");
  EXPECT_EQ(cell(9, 4), "▀ 0,0,255 / 0,0,255");
}

TEST_F(TerminalImagesTest, FailingSourcesDrawThePlaceholderAndReportOnceEach) {
  // Each kind of failure once: unreadable, not PNG, damaged, too large, bad
  // base64 and a scheme that is not a path.
  const Bytes good = two_pixels({255, 0, 0, 255}, {0, 0, 255, 255});
  Bytes wrong_signature = good;
  wrong_signature[1] = 'Q';
  Bytes corrupt_chunk = good;
  corrupt_chunk[corrupt_chunk.size() - 20] ^= 0x55;  // inside IDAT: its CRC no longer matches
  TempFile good_file(good);
  TempFile wrong_signature_file(wrong_signature);
  TempFile truncated_file(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)));
  TempFile corrupt_file(corrupt_chunk);
  TempFile oversized_file(padded_png(scene::kMaxPngStreamBytes + 1));
  TempFile largest_file(padded_png(scene::kMaxPngStreamBytes));
  const std::string missing = good_file.path() + ".missing";
  std::string spaced = png_data_uri(good);
  spaced.insert(40, " ");
  const std::vector<std::string> sources = {
      missing,
      wrong_signature_file.path(),
      truncated_file.path(),
      corrupt_file.path(),
      oversized_file.path(),
      png_data_uri(test_support::png_header_only(65536, 65536, 8, test_support::kPngRgba)),
      spaced,
      "https://example.invalid/picture.png",
  };
  open(10, static_cast<int>(sources.size()) + 1);
  std::vector<std::string> commands = {R"(["begin","#000000"])"};
  for (std::size_t i = 0; i < sources.size(); ++i) {
    commands.push_back(image(sources[i], "0," + std::to_string(16 * i) + ",80,16", "#ffcc00"));
  }
  // The first source once more, in an area three cells wide: the placeholder
  // is cut at the area's edge, and the cached failure raises no second event.
  // Beside it, a stream of exactly 8 MiB loads.
  const std::string last_row = std::to_string(16 * sources.size());
  commands.push_back(image(missing, "0," + last_row + ",24,16", "#ffcc00"));
  commands.push_back(image(largest_file.path(), "24," + last_row + ",8,16"));
  commit(commands);
  take_snapshot();
  for (std::size_t i = 0; i < sources.size(); ++i) {
    EXPECT_EQ(row_text(static_cast<int>(i)), "[image]   ") << sources[i].substr(0, 80);
  }
  EXPECT_EQ(row_text(static_cast<int>(sources.size())), "[im▀      ");
  EXPECT_EQ(cell(3, static_cast<int>(sources.size())), "▀ 0,200,100 / 0,200,100");
  EXPECT_EQ(cell(0, 0), "[ 255,204,0 / 0,0,0");  // the tint's colour
  EXPECT_EQ(events(), std::vector<std::string>(sources.size(), kLoadFailedEvent));
  // Failed loads are cached like any other.
  EXPECT_EQ(info("image_count"), static_cast<double>(sources.size()) + 1);

  // A new commit that draws them all again and a present raise nothing more.
  commands.push_back(R"(["rect",[72,0,8,16],"#ff0000",0,"",0])");
  commit(commands);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  EXPECT_TRUE(events().empty());
}

TEST_F(TerminalImagesTest, ReloadImageDropsOneEntryAndTheNextPresentLoadsTheFileAnew) {
  open(2, 1);
  TempFile file(two_pixels({255, 0, 0, 255}, {255, 0, 0, 255}));
  const std::string other = png_data_uri(two_pixels({0, 0, 0, 255}, {9, 9, 9, 255}));
  const std::vector<std::string> commands = {image(file.path(), "0,0,8,16"), image(other, "8,0,8,16")};
  commit(commands);
  const double total = info("image_bytes");

  // A changed file is not seen while its entry is cached, even by a new composition.
  overwrite(file.path(), two_pixels({0, 0, 255, 255}, {0, 255, 0, 255}));
  commit({commands[0], commands[1], R"(["clip",null])"});
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 255,0,0 / 255,0,0");
  const double composed = info("cell_frames_composed");
  const double revision = info("resource_revision");

  // The reply is the info object with the entry already gone; the host then
  // presents by itself, and that present loads the file again.
  json::JsonPtr reloaded = result_of(R"({"op":"reload_image","source":)" + quote(file.path()) + "}");
  EXPECT_EQ(number_member(reloaded.get(), "image_count"), 1);
  EXPECT_EQ(number_member(reloaded.get(), "image_bytes"),
            total - (static_cast<double>(file.path().size()) + 8 + kEntryOverhead));
  EXPECT_EQ(number_member(reloaded.get(), "resource_revision"), revision + 1);
  EXPECT_EQ(info("cell_frames_composed"), composed + 1);
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 0,0,255 / 0,255,0");
  EXPECT_EQ(cell(1, 0), "▀ 0,0,0 / 9,9,9");  // the data URI stayed cached
  EXPECT_TRUE(events().empty());
}

TEST_F(TerminalImagesTest, The65thSourceEvictsTheLeastRecentlyUsed) {
  open(2, 1);
  std::vector<std::string> sources;
  for (int i = 0; i < 65; ++i) {
    const auto level = static_cast<std::uint8_t>(i);
    sources.push_back(png_data_uri(two_pixels({level, 0, 0, 255}, {0, level, 0, 255})));
  }
  std::vector<std::string> first_64;
  for (int i = 0; i < 64; ++i) first_64.push_back(image(sources[static_cast<std::size_t>(i)], "0,0,8,16"));
  commit(first_64);
  EXPECT_EQ(info("image_count"), 64);

  // Source 0 was drawn first, but is used again before the 65th arrives: the
  // least recently used is now source 1, and that is the one evicted.
  commit({image(sources[0], "0,0,8,16"), image(sources[64], "8,0,8,16")});
  EXPECT_EQ(info("image_count"), 64);
  json::JsonPtr after = result_of(R"({"op":"reload_image","source":)" + quote(sources[1]) + "}");
  EXPECT_EQ(number_member(after.get(), "image_count"), 64);  // nothing left to drop
  after = result_of(R"({"op":"reload_image","source":)" + quote(sources[0]) + "}");
  EXPECT_EQ(number_member(after.get(), "image_count"), 63);
}

}  // namespace
}  // namespace lumora
