#include "terminal/drawing/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/backend.h"
#include "json/json.h"
#include "terminal/drawing/primitives.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

using test::parse;
using test::print;
using test::row_text;

constexpr scene::ColorValue kWhite = scene::rgba(255, 255, 255, 255);
constexpr scene::ColorValue kRed = scene::rgba(255, 0, 0, 255);

CellFrameRef blank_frame(int columns = 10, int rows = 4) {
  CellFrameRef frame = make_cell_frame(columns, rows);
  EXPECT_TRUE(frame);
  return frame;
}

// ---- Drawing text ------------------------------------------------------------------

TEST(DrawTextTest, LaysOutClustersFromTheStartCellWithinTheClip) {
  struct Case {
    std::string text;
    int column;
    CellRect clip;
    const char* drawn;
  };
  const Case cases[] = {
      {"a\tb", 2, {0, 0, 8, 3}, "  a   b"},                            // tabs are relative to the start column
      {"ab\r\ncd\re\n\tf", 1, {0, 0, 8, 3}, " ab/ cde/     f"},        // and so are line feeds; CR is dropped
      {"abcdefghijkl\nxy", -2, {0, 0, 8, 3}, "cdefghij"},              // nothing wraps
      {"a\nb\nc\nd", 0, {0, 1, 8, 2}, "/b"},                           // rows outside the clip are skipped
      {"abc\xE4\xB8\xAD" "d", 0, {0, 0, 4, 3}, "abc"},                  // a wide cluster is dropped whole
  };
  for (const Case& c : cases) {
    CellFrameRef frame = blank_frame(8, 3);
    frame->clip = c.clip;
    draw_text_at_cell(*frame, c.text, c.column, 0, kWhite);
    EXPECT_EQ(test::drawn(*frame), c.drawn) << c.text;
  }
}

TEST(DrawTextTest, CellsCarryTheColourKindAndWidthOfTheirClusters) {
  CellFrameRef frame = blank_frame();
  frame->at(4, 1).set_background({0, 0, 255, 255});
  json::JsonPtr command = parse(R"(["text", "a\tb\u4E2Dc", 16, 16, "#ff0000", 14, false])");
  draw_text_command(RasterContext{}, *frame, command.get());
  EXPECT_EQ(row_text(*frame, 1), "  a   b\xE4\xB8\xAD" "c");
  for (int column = 2; column <= 9; ++column) {
    EXPECT_TRUE(frame->at(column, 1).kind == CellKind::text && frame->at(column, 1).foreground() == kRed) << column;
  }
  // The tab's spaces keep what was filled beneath them.
  EXPECT_EQ(frame->at(4, 1).background(), (scene::rgba(0, 0, 255, 255)));
  EXPECT_EQ(frame->at(2, 1).background(), kOpaqueBlack);
  EXPECT_TRUE(frame->at(7, 1).width == 2 && frame->at(8, 1).width == 0);
}

TEST(DrawTextTest, EightMegabyteTextKeepsThePoolBounded) {
  CellFrameRef frame = blank_frame(80, 24);
  // Mixed scripts with a line feed every 100 clusters: far more text than cells.
  std::string line;
  for (int i = 0; i < 25; ++i) line += "a\xE4\xB8\xAD\xE0\xA4\x95\xF0\x9F\x98\x80";
  line += "\n";
  std::string text;
  while (text.size() < 8u * 1024 * 1024) text += line;
  draw_text_at_cell(*frame, text, 0, 0, kWhite);
  EXPECT_FALSE(frame->pool_exhausted);
  EXPECT_LT(frame->pool.total_bytes(), 4096u);
  EXPECT_STREQ(frame->at(0, 23).glyph, "a");
  // A single line of the same size only walks past the right edge.
  draw_text_at_cell(*frame, std::string(8u * 1024 * 1024, 'q'), 0, 0, kRed);
  EXPECT_STREQ(frame->at(79, 0).glyph, "q");
  EXPECT_LT(frame->pool.total_bytes(), 4096u);
}

// ---- Measuring ---------------------------------------------------------------------

TEST(MeasureTextTest, CellsTimesEightByRowsTimesSixteen) {
  struct Case {
    const char* text;
    double width, height;
  };
  const Case cases[] = {
      {"", 0, 16},         {"\xE4\xB8\xAD", 16, 16}, {"ab\tc", 40, 16},   {"abcd\t", 64, 16},
      {"abc\n\n", 24, 48}, {"\x01\x02\r", 0, 16},      {"a\r\nb", 8, 32},   {"\xCC\x81", 8, 16},
      {"\xFF\xFE", 16, 16},
  };
  for (const Case& c : cases) {
    const TextSize size = measure_text(c.text);
    EXPECT_EQ(size.width, c.width) << c.text;
    EXPECT_EQ(size.height, c.height) << c.text;
  }
}

TEST(MeasureOperationTest, MeasuresTextAndBatchesOrRefusesThem) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"op":"measure","text":"ab\ncde"})", "[24,32]"},
      {R"({"op":"measure_many","texts":["", "\tx", "ab\ncde"]})", "[[0,16],[40,16],[24,32]]"},
      {R"({"op":"measure_many","texts":[]})", "[]"},
      {R"({"op":"measure","text":5})", "Invalid terminal text"},
      {R"({"op":"measure_many","texts":"abc"})", "Invalid terminal text batch"},
      {R"({"op":"measure_many","texts":["a", 1, "b"]})", "Invalid terminal text batch"},
  };
  for (const auto& [json, expected] : cases) {
    host::HostErrorBuffer buffer;
    json::JsonPtr command = parse(json);
    json::JsonPtr result = std::string_view(json).find("measure_many") != std::string_view::npos
                                ? measure_many_operation(command.get(), buffer.text())
                                : measure_operation(command.get(), buffer.text());
    EXPECT_EQ(result ? print(result.get()) : buffer.c_str(), expected) << json;
  }
}

TEST(MeasureOperationTest, LengthAndCountLimits) {
  json::JsonPtr command(cJSON_CreateObject());
  std::string text(kMaxMeasureTextBytes, 'a');
  cJSON_AddStringToObject(command.get(), "text", text.c_str());
  host::HostErrorBuffer buffer;
  EXPECT_EQ(print(measure_operation(command.get(), buffer.text()).get()), "[67108864,16]");
  text.push_back('a');
  cJSON_ReplaceItemInObject(command.get(), "text", cJSON_CreateString(text.c_str()));
  EXPECT_FALSE(measure_operation(command.get(), buffer.text()));
  EXPECT_STREQ(buffer.c_str(), "Invalid terminal text");

  // An overlong entry fails the batch.
  cJSON* texts = cJSON_AddArrayToObject(command.get(), "texts");
  cJSON_AddItemToArray(texts, cJSON_CreateString(text.c_str()));
  buffer.text().clear();
  EXPECT_FALSE(measure_many_operation(command.get(), buffer.text()));
  EXPECT_STREQ(buffer.c_str(), "Invalid terminal text batch");
  // 4097 entries fail on their count before any entry is looked at; 4096 are measured.
  for (std::size_t i = 1; i <= kMaxMeasureBatch; ++i) cJSON_AddItemToArray(texts, cJSON_CreateString("x"));
  buffer.text().clear();
  EXPECT_FALSE(measure_many_operation(command.get(), buffer.text()));
  EXPECT_STREQ(buffer.c_str(), "Terminal text batch exceeds 4096 strings");
  cJSON_DeleteItemFromArray(texts, 0);
  json::JsonPtr result = measure_many_operation(command.get(), buffer.text());
  ASSERT_TRUE(result);
  EXPECT_EQ(cJSON_GetArraySize(result.get()), 4096);
}

// ---- Icons -------------------------------------------------------------------------

TEST(IconTest, IsCentredInItsBoxOrNotDrawnAtAll) {
  struct Case {
    const char* glyph;
    double x, y, size;
    const char* drawn;
  };
  const Case cases[] = {
      {"\u25B1\u25B1", 0, 0, 16, "\u25B1\u25B1"},
      {"\u2713", 16, 16, 32, "/   \u2713"},  // box columns 2..5, rows 1..2
      // A 16-pixel box at x = 64 spans columns 8..9; centring would start at 7.
      {"\xE4\xB8\xAD", 64, 0, 16, "        \xE4\xB8\xAD"},
      {"\u2039\u203A", 0, 0, 8, ""},  // the box is too narrow
      {"\u2713", 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    CellFrameRef frame = blank_frame(10, 2);
    draw_icon(*frame, c.glyph, c.x, c.y, c.size, kWhite);
    EXPECT_EQ(test::drawn(*frame), c.drawn) << c.glyph;
  }
  // The command draws the named glyph; names are exact.
  CellFrameRef frame = blank_frame();
  draw_icon_command(RasterContext{}, *frame, parse(R"(["icon", "heart", 0, 0, 16, "#fff"])").get());
  EXPECT_STREQ(frame->at(0, 0).glyph, "\u2665");
  EXPECT_EQ(frame->at(0, 0).kind, CellKind::text);
  EXPECT_EQ(icon_glyph("Check"), nullptr);
}

TEST(IconTest, RestoresTheClipAndStaysInsideIt) {
  CellFrameRef frame = blank_frame();
  frame->clip = {1, 0, 10, 4};
  // The box spans columns 0..3; the pair lands at columns 0..1 and only the
  // half inside the clip shows.
  draw_icon(*frame, "\u2039\u203A", 0, 0, 32, kWhite);
  EXPECT_EQ(row_text(*frame, 0), " \u203A        ");
  EXPECT_EQ(std::make_pair(frame->clip.x0, frame->clip.x1), std::make_pair(std::int64_t{1}, std::int64_t{10}));
  // Drawing after the icon is clipped by the restored clip, not the box.
  draw_text_at_cell(*frame, "z", 6, 0, kWhite);
  EXPECT_STREQ(frame->at(6, 0).glyph, "z");
}

}  // namespace
}  // namespace lumora::terminal
