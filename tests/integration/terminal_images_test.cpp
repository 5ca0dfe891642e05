// PNG images in a headless terminal driven through the real host: half-block
// cells with alpha-weighted samples and tint, every pixel format from files
// and data URIs, the luminance ramp, the fit modes and nine-slice, the
// "[image]" placeholder with its single "resource_error" per failing source,
// and the image cache as "info" shows it: charges, reloading and eviction.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "support/host_fixture.h"
#include "support/png_writer.h"

namespace lumora {
namespace {

using test::number_member;
using test::reply_fails_with;
using test::reply_ok;
using test_support::Bytes;
using test_support::png_data_uri;
using test_support::TempFile;

constexpr const char* kLoadFailedEvent =
    R"({"kind":"resource_error","text":"Terminal images require bounded PNG data; 16-bit sources must use RGBA channels"})";
constexpr std::size_t kMaxPngStreamBytes = 8388608;
constexpr double kEntryOverhead = 41;

// A JSON string literal for any text (paths and URIs included).
std::string quote(const std::string& text) {
  scene::JsonPtr value(cJSON_CreateString(text.c_str()));
  return test::json_text(value.get());
}

std::string image(const std::string& source, const std::string& rect, const std::string& tint = "#ffffff",
                  const std::string& fit = "stretch") {
  return R"(["image",)" + quote(source) + ",[" + rect + "]," + quote(tint) + "," + quote(fit) + "]";
}

std::string image_nine(const std::string& source, const std::string& rect, const std::string& insets) {
  return R"(["image_nine",)" + quote(source) + ",[" + rect + "],[" + insets + R"(],"#ffffff"])";
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

// Removes a file that a test creates beside a TempFile, however the test ends.
struct RemovedAtExit {
  std::string path;
  ~RemovedAtExit() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
};

void overwrite(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

// A valid PNG followed by zeros up to `size` bytes: the decoder stops at
// IEND, so only the stream's length decides whether it is accepted.
Bytes padded_png(std::size_t size) {
  Bytes bytes = two_pixels({0, 200, 100, 255}, {0, 200, 100, 255});
  bytes.resize(size, 0);
  return bytes;
}

class TerminalImagesTest : public testing::Test {
 protected:
  void open(int columns, int rows, const char* colour = "truecolor") {
    host = test::launch_default_host();
    ASSERT_TRUE(host);
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"open","backend":"terminal","headless":true,"columns":)" +
                                       std::to_string(columns) + R"(,"rows":)" + std::to_string(rows) +
                                       R"(,"color":")" + colour + "\"}")));
  }

  scene::JsonPtr result_of(const std::string& command, double timeout_seconds = 30) {
    auto reply = host->request(command, timeout_seconds);
    EXPECT_TRUE(reply_ok(reply)) << command.substr(0, 200);
    if (!reply || !reply->ok) return nullptr;
    return std::move(reply->result);
  }

  void commit(const std::vector<std::string>& commands) {
    ASSERT_TRUE(reply_ok(host->request(frame(commands)))) << frame(commands).substr(0, 300);
  }

  double info(const char* key) {
    scene::JsonPtr result = result_of(R"({"op":"info"})");
    return number_member(result.get(), key);
  }

  void take_snapshot() { snapshot = result_of(R"({"op":"snapshot"})"); }

  std::string cell(int column, int row) const { return test::snapshot_cell(snapshot.get(), column, row); }
  std::string row_text(int row) const { return test::snapshot_row(snapshot.get(), row); }

  // Every event queued until now. A loop turn sends its replies before the
  // events it drains, and a present at the end of a turn (the one after
  // "reload_image", say) queues its events for the next turn's drain, after
  // that turn's replies; the second round trip's reply therefore comes after
  // all of them.
  std::vector<std::string> events() {
    EXPECT_TRUE(reply_ok(host->request(R"({"op":"info"})")));
    EXPECT_TRUE(reply_ok(host->request(R"({"op":"info"})")));
    std::vector<std::string> texts;
    for (const client::Message& message : host->take_messages()) texts.push_back(message.text);
    return texts;
  }

  std::unique_ptr<client::Controller> host;
  scene::JsonPtr snapshot;
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
  EXPECT_EQ(cell(3, 0), "  255,255,255 / 32,64,96");
  EXPECT_EQ(row_text(0), "▀▀▀ ");

  // The file and the data URI are two entries, each charged its source, its
  // 2 × 4 × 4 bytes of pixels and the fixed overhead.
  EXPECT_EQ(info("image_count"), 2);
  EXPECT_EQ(info("image_bytes"), static_cast<double>(file.path().size() + uri.size()) + 2 * (32 + kEntryOverhead));
  EXPECT_TRUE(events().empty());
}

TEST_F(TerminalImagesTest, EveryPixelFormatSamplesAlikeFromFilesAndDataUris) {
  struct Case {
    const char* name;
    Bytes png;
    const char* expected;
  };
  test_support::PngImage grey_alpha;
  grey_alpha.width = 1;
  grey_alpha.height = 2;
  grey_alpha.colour_type = test_support::kPngGreyAlpha;
  grey_alpha.samples = {90, 255, 240, 255};
  const std::vector<Case> cases = {
      {"rgba8", two_pixels({1, 2, 3, 255}, {250, 251, 252, 255}), "▀ 1,2,3 / 250,251,252"},
      {"rgb8", test_support::png_rgb8(1, 2, {10, 200, 30, 250, 5, 128}), "▀ 10,200,30 / 250,5,128"},
      {"grey8", test_support::png_grey8(1, 2, {77, 200}), "▀ 77,77,77 / 200,200,200"},
      {"grey alpha", test_support::encode_png(grey_alpha), "▀ 90,90,90 / 240,240,240"},
      // The second palette entry is blue at alpha 128 over black.
      {"palette", test_support::png_palette8(1, 2, {0, 1}, {{255, 0, 0}, {0, 0, 255}}, {255, 128}),
       "▀ 255,0,0 / 0,0,128"},
      {"rgba16", test_support::png_rgba16(1, 2, {0x8080, 0x4040, 0xFFFF, 0xFFFF, 0x1010, 0x2020, 0x3030, 0xFFFF}),
       "▀ 128,64,255 / 16,32,48"},
  };
  open(2, static_cast<int>(cases.size()));
  std::vector<std::unique_ptr<TempFile>> files;
  std::vector<std::string> commands;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    files.push_back(std::make_unique<TempFile>(cases[i].png));
    const std::string y = std::to_string(16 * i);
    commands.push_back(image(files.back()->path(), "0," + y + ",8,16"));
    commands.push_back(image(png_data_uri(cases[i].png), "8," + y + ",8,16"));
  }
  commit(commands);
  take_snapshot();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const int row = static_cast<int>(i);
    EXPECT_EQ(cell(0, row), cases[i].expected) << cases[i].name << " from a file";
    EXPECT_EQ(cell(1, row), cases[i].expected) << cases[i].name << " from a data URI";
  }
  EXPECT_EQ(info("image_count"), 2.0 * static_cast<double>(cases.size()));
  EXPECT_TRUE(events().empty());
}

TEST_F(TerminalImagesTest, MonochromeFramesShowTheLuminanceRampAndFillsRechooseIt) {
  open(5, 2, "none");
  // Columns white, green, black, red, mid grey; both rows alike.
  Bytes rgba;
  for (int row = 0; row < 2; ++row) {
    for (const std::array<std::uint8_t, 4>& pixel : std::vector<std::array<std::uint8_t, 4>>{
             {255, 255, 255, 255}, {0, 255, 0, 255}, {0, 0, 0, 255}, {255, 0, 0, 255}, {128, 128, 128, 255}}) {
      rgba.insert(rgba.end(), pixel.begin(), pixel.end());
    }
  }
  const std::string uri = png_data_uri(test_support::png_rgba8(5, 2, rgba));
  // The second row is darkened by a translucent fill afterwards.
  commit({image(uri, "0,0,40,16"), image(uri, "0,16,40,16"), R"(["rect",[0,16,40,16],"#00000080",0,"",0])"});
  take_snapshot();
  // Green weighs most and red more than blue.
  EXPECT_EQ(row_text(0), "@* :+");
  EXPECT_EQ(cell(1, 0), "* 0,255,0 / 0,255,0");
  // Half the brightness: white 127 is index 4, green 3, red 1, grey 64 is 2.
  EXPECT_EQ(row_text(1), "=- .:");
  EXPECT_EQ(cell(0, 1), "= 127,127,127 / 127,127,127");

  // Leaving the mode "none" makes the frame unusable; the next present
  // composes with half blocks again.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","color":"truecolor"})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  take_snapshot();
  EXPECT_EQ(row_text(0), "▀▀▀▀▀");
  EXPECT_EQ(cell(4, 0), "▀ 128,128,128 / 128,128,128");
}

TEST_F(TerminalImagesTest, FitModesMapTheImageOntoItsRect) {
  open(10, 5);
  // Four pixels in a row, red, green, blue, white, into an 80 × 80 rect.
  const std::string uri = png_data_uri(
      test_support::png_rgba8(4, 1, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}));
  std::string blocks;
  for (int i = 0; i < 10; ++i) blocks += "▀";

  // "stretch": every row shows the whole image; column 2 straddles red and green.
  commit({image(uri, "0,0,80,80", "#ffffff", "stretch")});
  take_snapshot();
  for (int row = 0; row < 5; ++row) EXPECT_EQ(row_text(row), blocks) << "stretch row " << row;
  EXPECT_EQ(cell(0, 4), "▀ 255,0,0 / 255,0,0");
  EXPECT_EQ(cell(2, 0), "▀ 128,128,0 / 128,128,0");
  EXPECT_EQ(cell(9, 0), "▀ 255,255,255 / 255,255,255");

  // "contain": a band 20 high from y 30; the cells above and below are left
  // alone, and row 1 only catches half of its lower half.
  commit({image(uri, "0,0,80,80", "#ffffff", "contain")});
  take_snapshot();
  EXPECT_EQ(row_text(0), std::string(10, ' '));
  EXPECT_EQ(row_text(1), blocks);
  EXPECT_EQ(row_text(2), blocks);
  EXPECT_EQ(row_text(3), std::string(10, ' '));
  EXPECT_EQ(row_text(4), std::string(10, ' '));
  EXPECT_EQ(cell(0, 0), "  255,255,255 / 0,0,0");
  EXPECT_EQ(cell(0, 1), "▀ 0,0,0 / 128,0,0");
  EXPECT_EQ(cell(0, 2), "▀ 255,0,0 / 255,0,0");
  EXPECT_EQ(cell(9, 2), "▀ 255,255,255 / 255,255,255");

  // "cover": the middle quarter of each side shows; green left, blue right.
  commit({image(uri, "0,0,80,80", "#ffffff", "cover")});
  take_snapshot();
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(cell(4, row), "▀ 0,255,0 / 0,255,0") << "cover row " << row;
    EXPECT_EQ(cell(5, row), "▀ 0,0,255 / 0,0,255") << "cover row " << row;
  }
  EXPECT_EQ(cell(0, 0), "▀ 0,255,0 / 0,255,0");
  EXPECT_EQ(cell(9, 4), "▀ 0,0,255 / 0,0,255");
  EXPECT_EQ(info("image_count"), 1);
}

TEST_F(TerminalImagesTest, NineSliceKeepsCornersAndLaterRegionsWinOverlaps) {
  open(8, 4);
  // 24 × 48 pixels in a 3 × 3 grid of 8 × 16 colour blocks: with insets of
  // one block each, every corner is exactly one cell.
  const std::array<std::array<std::uint8_t, 3>, 9> colours = {{{255, 0, 0},
                                                               {0, 255, 0},
                                                               {0, 0, 255},
                                                               {255, 255, 0},
                                                               {0, 255, 255},
                                                               {255, 0, 255},
                                                               {128, 0, 0},
                                                               {0, 128, 0},
                                                               {0, 0, 128}}};
  Bytes rgba;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 24; ++x) {
      const auto& colour = colours[static_cast<std::size_t>(y / 16 * 3 + x / 8)];
      rgba.insert(rgba.end(), {colour[0], colour[1], colour[2], 255});
    }
  }
  TempFile file(test_support::png_rgba8(24, 48, rgba));
  // Stretched to 5 × 4 cells; and squeezed into one column, where the left
  // and right slices overlap and the right ones, drawn later, win.
  commit({image_nine(file.path(), "0,0,40,64", "8,16,8,16"), image_nine(file.path(), "48,0,8,64", "8,16,8,16")});
  take_snapshot();
  auto block = [](const char* rgb) { return std::string("▀ ") + rgb + " / " + rgb; };
  const std::vector<std::vector<const char*>> expected = {
      {"255,0,0", "0,255,0", "0,255,0", "0,255,0", "0,0,255"},
      {"255,255,0", "0,255,255", "0,255,255", "0,255,255", "255,0,255"},
      {"255,255,0", "0,255,255", "0,255,255", "0,255,255", "255,0,255"},
      {"128,0,0", "0,128,0", "0,128,0", "0,128,0", "0,0,128"},
  };
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 5; ++column) {
      EXPECT_EQ(cell(column, row), block(expected[row][column])) << column << "," << row;
    }
    EXPECT_EQ(cell(5, row), "  255,255,255 / 0,0,0");
    EXPECT_EQ(cell(6, row), block(expected[row][4])) << "squeezed row " << row;
  }
  EXPECT_EQ(info("image_count"), 1);
}

TEST_F(TerminalImagesTest, FailingSourcesDrawThePlaceholderAndReportOnceEach) {
  const Bytes good = two_pixels({255, 0, 0, 255}, {0, 0, 255, 255});
  Bytes wrong_signature = good;
  wrong_signature[1] = 'Q';
  const Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
  Bytes corrupt_chunk = good;
  corrupt_chunk[corrupt_chunk.size() - 20] ^= 0x55;  // inside IDAT: its CRC no longer matches
  TempFile good_file(good);
  TempFile wrong_signature_file(wrong_signature);
  TempFile truncated_file(truncated);
  TempFile corrupt_file(corrupt_chunk);
  TempFile oversized_file(padded_png(kMaxPngStreamBytes + 1));
  const std::string missing = good_file.path() + ".missing";
  std::string spaced = png_data_uri(good);
  spaced.insert(40, " ");
  std::string broken_line = png_data_uri(good);
  broken_line.insert(40, "\n");
  const std::vector<std::string> sources = {
      missing,
      wrong_signature_file.path(),
      truncated_file.path(),
      corrupt_file.path(),
      oversized_file.path(),
      std::filesystem::path(good_file.path()).parent_path().string(),  // a directory
      png_data_uri(test_support::png_header_only(65536, 65536, 8, test_support::kPngRgba)),
      png_data_uri(test_support::png_header_only(1, 1u << 30, 8, test_support::kPngGrey)),
      png_data_uri(test_support::png_rgb16(1, 2, {1, 2, 3, 4, 5, 6})),
      spaced,
      broken_line,
      "https://example.invalid/picture.png",
      "file://" + good_file.path(),  // an existing file, but named by a URL
      "data:image/gif;base64,R0lGODlhAQABAAAAACw=",
  };
  open(10, static_cast<int>(sources.size()) + 1);
  std::vector<std::string> commands = {R"(["begin","#000000"])"};
  for (std::size_t i = 0; i < sources.size(); ++i) {
    commands.push_back(image(sources[i], "0," + std::to_string(16 * i) + ",80,16", "#ffcc00"));
  }
  // The first source once more, in an area three cells wide: the placeholder
  // is cut at the area's edge, and the cached failure raises no second event.
  const std::string last_row = std::to_string(16 * sources.size());
  commands.push_back(image(missing, "0," + last_row + ",24,16", "#ffcc00"));
  commit(commands);
  take_snapshot();
  for (std::size_t i = 0; i < sources.size(); ++i) {
    EXPECT_EQ(row_text(static_cast<int>(i)), "[image]   ") << sources[i].substr(0, 80);
  }
  EXPECT_EQ(row_text(static_cast<int>(sources.size())), "[im       ");
  EXPECT_EQ(cell(0, 0), "[ 255,204,0 / 0,0,0");  // the tint's colour
  EXPECT_EQ(events(), std::vector<std::string>(sources.size(), kLoadFailedEvent));
  // Failed loads are cached like any other, charged their source and the overhead.
  EXPECT_EQ(info("image_count"), static_cast<double>(sources.size()));

  // Presents, a recomposition and a new commit that draws them all again
  // raise nothing more.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"reload_image","source":"never drawn"})")));
  commands.push_back(R"(["rect",[72,0,8,16],"#ff0000",0,"",0])");
  commit(commands);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  EXPECT_EQ(info("cell_frames_composed"), 3);
  EXPECT_TRUE(events().empty());

  // Forgetting one failure loads it anew at the next present: one more event.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"reload_image","source":)" + quote(missing) + "}")));
  EXPECT_EQ(events(), std::vector<std::string>{kLoadFailedEvent});
}

TEST_F(TerminalImagesTest, StreamsOfEightMebibytesLoadAndOneByteMoreIsRefused) {
  open(2, 2);
  TempFile largest_file(padded_png(kMaxPngStreamBytes));
  const std::string largest_uri = png_data_uri(padded_png(kMaxPngStreamBytes));
  commit({image(largest_file.path(), "0,0,8,16"), image(largest_uri, "8,0,8,16")});
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 0,200,100 / 0,200,100");
  EXPECT_EQ(cell(1, 0), "▀ 0,200,100 / 0,200,100");
  EXPECT_TRUE(events().empty());
  const double bytes = info("image_bytes");

  // As a data URI, one byte more is refused by the command list's own check
  // (its length alone, 11184834 characters, is still allowed), and the scene
  // stays as it was.
  const std::string too_long = png_data_uri(padded_png(kMaxPngStreamBytes + 1));
  ASSERT_EQ(too_long.size(), 11184834u);
  EXPECT_TRUE(reply_fails_with(host->request(frame({image(too_long, "0,16,8,16")}), 60),
                               "Invalid or oversized retained command list"));
  take_snapshot();
  EXPECT_EQ(row_text(0), "▀▀");
  EXPECT_EQ(info("image_bytes"), bytes);
  EXPECT_TRUE(events().empty());
}

TEST_F(TerminalImagesTest, ReloadImageDropsOneEntryAndTheNextPresentLoadsTheFileAnew) {
  open(4, 1);
  TempFile file(two_pixels({255, 0, 0, 255}, {255, 0, 0, 255}));
  const std::string other = png_data_uri(two_pixels({0, 0, 0, 255}, {9, 9, 9, 255}));
  const std::string later = file.path() + ".later";
  const RemovedAtExit later_file{later};
  commit({image(file.path(), "0,0,8,16"), image(other, "8,0,8,16"), image(later, "16,0,32,16")});
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 255,0,0 / 255,0,0");
  EXPECT_EQ(row_text(0), "▀▀[i");
  EXPECT_EQ(events(), std::vector<std::string>{kLoadFailedEvent});
  const double file_charge = static_cast<double>(file.path().size()) + 8 + kEntryOverhead;
  const double total = file_charge + static_cast<double>(other.size()) + 8 + kEntryOverhead +
                       static_cast<double>(later.size()) + kEntryOverhead;
  EXPECT_EQ(info("image_bytes"), total);

  // A changed file is not seen while its entry is cached, even by a new composition.
  overwrite(file.path(), two_pixels({0, 0, 255, 255}, {0, 255, 0, 255}));
  overwrite(later, two_pixels({1, 2, 3, 255}, {4, 5, 6, 255}));
  commit({image(file.path(), "0,0,8,16"), image(other, "8,0,8,16"), image(later, "16,0,32,16"),
          R"(["clip",null])"});
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 255,0,0 / 255,0,0");
  EXPECT_EQ(row_text(0), "▀▀[i");
  const double composed = info("cell_frames_composed");
  const double revision = info("resource_revision");

  // The reply is the info object with the entry already gone; the host then
  // presents by itself, and that present loads the file again.
  scene::JsonPtr reloaded = result_of(R"({"op":"reload_image","source":)" + quote(file.path()) + "}");
  EXPECT_EQ(number_member(reloaded.get(), "image_count"), 2);
  EXPECT_EQ(number_member(reloaded.get(), "image_bytes"), total - file_charge);
  EXPECT_EQ(number_member(reloaded.get(), "resource_revision"), revision + 1);
  EXPECT_EQ(info("cell_frames_composed"), composed + 1);
  EXPECT_EQ(info("image_count"), 3);
  EXPECT_EQ(info("image_bytes"), total);
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 0,0,255 / 0,255,0");
  EXPECT_EQ(cell(1, 0), "▀ 0,0,0 / 9,9,9");  // the data URI stayed cached
  EXPECT_EQ(row_text(0), "▀▀[i");            // the failure behind `later` too

  // The file that was missing at first shows once its failure is forgotten.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"reload_image","source":)" + quote(later) + "}")));
  take_snapshot();
  EXPECT_EQ(row_text(0), "▀▀▀▀");
  EXPECT_EQ(cell(3, 0), "▀ 1,2,3 / 4,5,6");
  EXPECT_TRUE(events().empty());

  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"reload_image","source":5})"), "Invalid terminal image source"));
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"reload_image"})"), "Invalid terminal image source"));
  EXPECT_EQ(info("resource_revision"), revision + 2);
}

TEST_F(TerminalImagesTest, SegmentPatchesLoadImagesAndReloadingRedrawsThem) {
  open(4, 1);
  // Before any scene there is nothing to present again.
  scene::JsonPtr early = result_of(R"({"op":"reload_image","source":"nothing yet"})");
  EXPECT_EQ(number_member(early.get(), "resource_revision"), 1);
  EXPECT_EQ(info("cell_frames_composed"), 0);

  TempFile file(two_pixels({255, 0, 0, 255}, {0, 0, 255, 255}));
  const std::string missing = file.path() + ".missing";
  const std::string patch = R"({"op":"patch","upsert":[{"id":"picture","bounds":[0,0,8,16],"commands":[)" +
                            image(file.path(), "0,0,8,16") +
                            R"(]},{"id":"broken","bounds":[8,0,24,16],"commands":[)" + image(missing, "8,0,24,16") +
                            "]}]}";
  ASSERT_TRUE(reply_ok(host->request(patch)));
  take_snapshot();
  EXPECT_EQ(row_text(0), "▀[im");
  EXPECT_EQ(cell(0, 0), "▀ 255,0,0 / 0,0,255");
  EXPECT_EQ(events(), std::vector<std::string>{kLoadFailedEvent});

  // The same segments again compose nothing and load nothing.
  ASSERT_TRUE(reply_ok(host->request(patch)));
  EXPECT_EQ(info("unchanged_segments"), 2);
  EXPECT_EQ(info("cell_frames_composed"), 1);
  EXPECT_TRUE(events().empty());

  overwrite(file.path(), two_pixels({0, 255, 0, 255}, {255, 255, 0, 255}));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"reload_image","source":)" + quote(file.path()) + "}")));
  EXPECT_EQ(info("cell_frames_composed"), 2);
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 0,255,0 / 255,255,0");
  EXPECT_EQ(row_text(0), "▀[im");
  EXPECT_TRUE(events().empty());

  // A source longer than any retained list could hold is refused.
  EXPECT_TRUE(reply_fails_with(
      host->request(R"({"op":"reload_image","source":")" + std::string(11184835, 'a') + "\"}", 60),
      "Invalid terminal image source"));
  EXPECT_EQ(info("resource_revision"), 2);
}

TEST_F(TerminalImagesTest, CacheEvictsTheLeastRecentlyUsedByCountAndByMemory) {
  open(2, 1);
  std::vector<std::string> sources;
  for (int i = 0; i < 65; ++i) {
    const auto level = static_cast<std::uint8_t>(i);
    sources.push_back(png_data_uri(two_pixels({level, 0, 0, 255}, {0, level, 0, 255})));
  }
  const double charge = static_cast<double>(sources[0].size()) + 8 + kEntryOverhead;
  std::vector<std::string> first_64;
  for (int i = 0; i < 64; ++i) first_64.push_back(image(sources[static_cast<std::size_t>(i)], "0,0,8,16"));
  commit(first_64);
  EXPECT_EQ(info("image_count"), 64);
  EXPECT_EQ(info("image_bytes"), 64 * charge);

  // Source 0 was drawn first, but is used again before the 65th arrives: the
  // least recently used is now source 1, and that is the one evicted.
  commit({image(sources[0], "0,0,8,16"), image(sources[64], "8,0,8,16")});
  EXPECT_EQ(info("image_count"), 64);
  EXPECT_EQ(info("image_bytes"), 64 * charge);
  scene::JsonPtr after = result_of(R"({"op":"reload_image","source":)" + quote(sources[1]) + "}");
  EXPECT_EQ(number_member(after.get(), "image_count"), 64);  // nothing left to drop
  after = result_of(R"({"op":"reload_image","source":)" + quote(sources[0]) + "}");
  EXPECT_EQ(number_member(after.get(), "image_count"), 63);
  after = result_of(R"({"op":"reload_image","source":)" + quote(sources[2]) + "}");
  EXPECT_EQ(number_member(after.get(), "image_count"), 63);  // the present reloaded source 0 first

  // 2048 × 1024 images are charged 8 MiB of pixels each, and the 32 MiB
  // budget cannot hold four of them with their sources: the fourth evicts
  // every small entry and then the first large one.
  std::vector<std::unique_ptr<TempFile>> large;
  for (int i = 0; i < 4; ++i) {
    large.push_back(std::make_unique<TempFile>(
        test_support::png_grey8(2048, 1024, Bytes(2048 * 1024, static_cast<std::uint8_t>(60 * i)))));
  }
  // Temporary paths differ in length, and each entry is charged its own.
  auto large_charge = [&](std::size_t i) {
    return static_cast<double>(large[i]->path().size()) + 2048.0 * 1024 * 4 + kEntryOverhead;
  };
  commit({image(large[0]->path(), "0,0,8,16"), image(large[1]->path(), "0,0,8,16"),
          image(large[2]->path(), "0,0,8,16")});
  // Three fit beside the small ones, which leave by count alone.
  EXPECT_EQ(info("image_count"), 64);
  EXPECT_EQ(info("image_bytes"), large_charge(0) + large_charge(1) + large_charge(2) + 61 * charge);
  commit({image(large[3]->path(), "0,0,8,16")});
  EXPECT_EQ(info("image_count"), 3);
  EXPECT_EQ(info("image_bytes"), large_charge(1) + large_charge(2) + large_charge(3));
  after = result_of(R"({"op":"reload_image","source":)" + quote(large[0]->path()) + "}");
  EXPECT_EQ(number_member(after.get(), "image_count"), 3);
  after = result_of(R"({"op":"reload_image","source":)" + quote(large[1]->path()) + "}");
  EXPECT_EQ(number_member(after.get(), "image_count"), 2);
  take_snapshot();
  EXPECT_EQ(cell(0, 0), "▀ 180,180,180 / 180,180,180");
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace lumora
