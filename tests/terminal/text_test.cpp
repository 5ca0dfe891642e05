#include "terminal/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/json.h"
#include "terminal/primitives.h"

namespace lumora::terminal {
namespace {

constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kRed{255, 0, 0, 255};

CellFrameRef blank_frame(int columns = 10, int rows = 4) {
  CellFrameRef frame = make_cell_frame(columns, rows);
  EXPECT_TRUE(frame);
  return frame;
}

std::string row_text(const CellFrame& frame, int row) {
  std::string text;
  for (int column = 0; column < frame.columns; ++column) text += frame.at(column, row).glyph;
  return text;
}

std::vector<std::string> rows_text(const CellFrame& frame) {
  std::vector<std::string> rows;
  for (int row = 0; row < frame.rows; ++row) rows.push_back(row_text(frame, row));
  return rows;
}

scene::JsonPtr parse(const char* json) {
  scene::JsonPtr value(cJSON_Parse(json));
  EXPECT_TRUE(value) << json;
  return value;
}

std::string print(const scene::JsonPtr& value) {
  scene::JsonText text = scene::print_json(value.get());
  return text ? text.get() : "";
}

// ---- Drawing text ------------------------------------------------------------------

TEST(DrawTextTest, LaysOutClustersFromTheStartCellWithinTheClip) {
  struct Case {
    const char* name;
    std::string text;
    int column;
    CellRect clip;
    std::vector<std::string> rows;
  };
  const std::string blank(8, ' ');
  const Case cases[] = {
      {"tabs_are_relative_to_the_start_column", "a\tb", 2, {0, 0, 8, 3}, {"  a   b ", blank, blank}},
      {"line_feed_returns_to_the_start_column_and_cr_is_dropped", "ab\r\ncd\re\n\tf", 1, {0, 0, 8, 3},
       {" ab     ", " cde    ", "     f  "}},
      {"nothing_wraps_and_text_left_of_the_clip_is_skipped", "abcdefghijkl\nxy", -2, {0, 0, 8, 3},
       {"cdefghij", blank, blank}},
      {"rows_above_the_clip_are_skipped_and_below_it_end", "a\nb\nc\nd", 0, {0, 1, 8, 2}, {blank, "b       ", blank}},
      {"wide_cluster_is_dropped_whole_at_the_clip_edge", "abc\xE4\xB8\xAD" "d", 0, {0, 0, 4, 3},
       {"abc     ", blank, blank}},
      // The escape byte is dropped; the printable rest of the sequence stays text.
      {"controls_are_dropped", "\x01\x02\x1B[31m\x7F\r\xC2\x85", 0, {0, 0, 8, 3}, {"[31m    ", blank, blank}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CellFrameRef frame = blank_frame(8, 3);
    frame->clip = c.clip;
    draw_text_at_cell(*frame, c.text, c.column, 0, kWhite);
    EXPECT_EQ(rows_text(*frame), c.rows);
  }
}

TEST(DrawTextTest, CellsCarryTheColourKindAndWidthOfTheirClusters) {
  CellFrameRef frame = blank_frame();
  frame->at(4, 1).set_background({0, 0, 255, 255});
  scene::JsonPtr command = parse(R"(["text", "a\tb\u4E2Dc", 16, 16, "#ff0000", 14, false])");
  draw_text_command(RasterContext{}, *frame, command.get());
  EXPECT_EQ(row_text(*frame, 1), "  a   b\xE4\xB8\xAD" "c");
  for (int column = 2; column <= 9; ++column) {
    EXPECT_EQ(frame->at(column, 1).kind, CellKind::text) << column;
    EXPECT_EQ(frame->at(column, 1).foreground(), kRed) << column;
  }
  // The tab's spaces keep what was filled beneath them.
  EXPECT_EQ(frame->at(4, 1).background(), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(frame->at(2, 1).background(), kOpaqueBlack);
  EXPECT_EQ(frame->at(7, 1).width, 2);
  EXPECT_EQ(frame->at(8, 1).width, 0);
  EXPECT_STREQ(frame->at(8, 1).glyph, "");
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
      {"ab\ncde", 24, 32}, {"\tx", 40, 16},    {"", 0, 16},          {"\xE4\xB8\xAD", 16, 16},
      {"ab\tc", 40, 16},   {"abcd\t", 64, 16}, {"\n", 0, 32},        {"abc\n\n", 24, 48},
      {"\x01\x02\r", 0, 16}, {"a\r\nb", 8, 32}, {"\xCC\x81", 8, 16}, {"\xFF\xFE", 16, 16},
      {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 16, 16},
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
      {R"({"op":"measure"})", "Invalid terminal text"},
      {R"({"op":"measure","text":5})", "Invalid terminal text"},
      {R"({"op":"measure_many"})", "Invalid terminal text batch"},
      {R"({"op":"measure_many","texts":"abc"})", "Invalid terminal text batch"},
      {R"({"op":"measure_many","texts":["a", 1, "b"]})", "Invalid terminal text batch"},
  };
  for (const auto& [json, expected] : cases) {
    scene::HostErrorBuffer buffer;
    scene::JsonPtr command = parse(json);
    scene::JsonPtr result = std::string_view(json).find("measure_many") != std::string_view::npos
                                ? measure_many_operation(command.get(), buffer.text())
                                : measure_operation(command.get(), buffer.text());
    EXPECT_EQ(result ? print(result) : buffer.c_str(), expected) << json;
  }
}

TEST(MeasureOperationTest, LengthAndCountLimits) {
  scene::JsonPtr command(cJSON_CreateObject());
  std::string text(kMaxMeasureTextBytes, 'a');
  cJSON_AddStringToObject(command.get(), "text", text.c_str());
  scene::HostErrorBuffer buffer;
  EXPECT_EQ(print(measure_operation(command.get(), buffer.text())), "[67108864,16]");
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
  scene::JsonPtr result = measure_many_operation(command.get(), buffer.text());
  ASSERT_TRUE(result);
  EXPECT_EQ(cJSON_GetArraySize(result.get()), 4096);
}

// ---- Icons -------------------------------------------------------------------------

TEST(IconTest, IsCentredInItsBoxOrNotDrawnAtAll) {
  struct Case {
    const char* name;
    const char* glyph;
    double x, y, size;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"layers_spans_two_columns", "\u25B1\u25B1", 0, 0, 16, {"\u25B1\u25B1        ", "          "}},
      {"centred", "\u2713", 16, 16, 32, {"          ", "   \u2713      "}},  // box columns 2..5, rows 1..2
      // A 16-pixel box at x = 64 spans columns 8..9; centring would start at 7.
      {"wide_glyph_raised_to_the_left_edge", "\xE4\xB8\xAD", 64, 0, 16, {"        \xE4\xB8\xAD", "          "}},
      {"box_too_narrow", "\u2039\u203A", 0, 0, 8, {"          ", "          "}},
      {"empty_box", "\u2713", 0, 0, 0, {"          ", "          "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CellFrameRef frame = blank_frame(10, 2);
    draw_icon(*frame, c.glyph, c.x, c.y, c.size, kWhite);
    EXPECT_EQ(rows_text(*frame), c.rows);
  }
  // The command draws the named glyph; names are exact.
  CellFrameRef frame = blank_frame();
  draw_icon_command(RasterContext{}, *frame, parse(R"(["icon", "heart", 0, 0, 16, "#fff"])").get());
  EXPECT_STREQ(frame->at(0, 0).glyph, "\u2665");
  EXPECT_EQ(frame->at(0, 0).kind, CellKind::text);
  const std::pair<const char*, const char*> names[] = {
      {"check", "\u2713"}, {"layers", "\u25B1\u25B1"}, {"bolt", "\u03DF"}, {"code", "\u2039\u203A"}, {"mail", "\u2709"}};
  for (const auto& [name, glyph] : names) EXPECT_STREQ(icon_glyph(name), glyph) << name;
  for (const char* name : {"Check", "check ", ""}) EXPECT_EQ(icon_glyph(name), nullptr) << name;
}

TEST(IconTest, RestoresTheClipAndStaysInsideIt) {
  CellFrameRef frame = blank_frame();
  frame->clip = {1, 0, 10, 4};
  // The box spans columns 0..3; the pair lands at columns 0..1 and only the
  // half inside the clip shows.
  draw_icon(*frame, "\u2039\u203A", 0, 0, 32, kWhite);
  EXPECT_EQ(row_text(*frame, 0), " \u203A        ");
  EXPECT_EQ(frame->clip.x0, 1);
  EXPECT_EQ(frame->clip.x1, 10);
  // Drawing after the icon is clipped by the restored clip, not the box.
  draw_text_at_cell(*frame, "z", 6, 0, kWhite);
  EXPECT_STREQ(frame->at(6, 0).glyph, "z");
}

}  // namespace
}  // namespace lumora::terminal
