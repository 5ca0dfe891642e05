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

TEST(DrawTextTest, StartsAtTheNearestCellOfThePixelPosition) {
  CellFrameRef frame = blank_frame();
  draw_text(*frame, "ab", 16, 16, kRed);
  EXPECT_EQ(row_text(*frame, 1), "  ab      ");
  const Cell& cell = frame->at(2, 1);
  EXPECT_EQ(cell.kind, CellKind::text);
  EXPECT_EQ(cell.foreground(), kRed);
  EXPECT_EQ(cell.background(), kOpaqueBlack);
}

TEST(DrawTextTest, TabsAreRelativeToTheStartColumn) {
  CellFrameRef frame = blank_frame();
  frame->at(4, 0).set_background({0, 0, 255, 255});
  draw_text_at_cell(*frame, "a\tb", 2, 0, kRed);
  EXPECT_EQ(row_text(*frame, 0), "  a   b   ");
  for (int column = 3; column <= 5; ++column) {
    EXPECT_EQ(frame->at(column, 0).kind, CellKind::text) << column;
    EXPECT_EQ(frame->at(column, 0).foreground(), kRed) << column;
  }
  // The tab's spaces keep what was filled beneath them.
  EXPECT_EQ(frame->at(4, 0).background(), (Rgba{0, 0, 255, 255}));
}

TEST(DrawTextTest, LineFeedReturnsToTheStartColumnAndCrIsDropped) {
  CellFrameRef frame = blank_frame();
  draw_text_at_cell(*frame, "ab\r\ncd\re\n\tf", 1, 0, kWhite);
  EXPECT_EQ(rows_text(*frame), (std::vector<std::string>{" ab       ", " cde      ", "     f    ", "          "}));
}

TEST(DrawTextTest, WideClustersTakeTwoCells) {
  CellFrameRef frame = blank_frame();
  draw_text_at_cell(*frame, "\xE4\xB8\xAD" "a", 0, 0, kRed);  // 中a
  EXPECT_STREQ(frame->at(0, 0).glyph, "\xE4\xB8\xAD");
  EXPECT_EQ(frame->at(0, 0).width, 2);
  EXPECT_STREQ(frame->at(1, 0).glyph, "");
  EXPECT_EQ(frame->at(1, 0).width, 0);
  EXPECT_EQ(frame->at(1, 0).kind, CellKind::text);
  EXPECT_STREQ(frame->at(2, 0).glyph, "a");
}

TEST(DrawTextTest, WideClusterIsDroppedWholeAtTheClipEdge) {
  CellFrameRef frame = blank_frame();
  frame->clip = {0, 0, 4, 4};
  draw_text_at_cell(*frame, "abc\xE4\xB8\xAD" "d", 0, 0, kRed);
  EXPECT_EQ(row_text(*frame, 0), "abc       ");
  EXPECT_EQ(frame->at(3, 0).width, 1);
  EXPECT_EQ(frame->at(3, 0).kind, CellKind::plain);
}

TEST(DrawTextTest, NothingWrapsAndTextLeftOfTheClipIsSkipped) {
  CellFrameRef frame = blank_frame(6, 2);
  draw_text_at_cell(*frame, "abcdefghij\nxy", -2, 0, kWhite);
  EXPECT_EQ(rows_text(*frame), (std::vector<std::string>{"cdefgh", "      "}));
}

TEST(DrawTextTest, RowsAboveTheClipAreSkippedAndBelowItEnd) {
  CellFrameRef frame = blank_frame(4, 4);
  frame->clip = {0, 1, 4, 3};
  draw_text_at_cell(*frame, "a\nb\nc\nd", 0, 0, kWhite);
  EXPECT_EQ(rows_text(*frame), (std::vector<std::string>{"    ", "b   ", "c   ", "    "}));
}

TEST(DrawTextTest, TranslucentColourBlendsOverTheBackground) {
  CellFrameRef frame = blank_frame();
  frame->at(0, 0).set_background({0, 0, 100, 255});
  draw_text_at_cell(*frame, "x", 0, 0, {255, 0, 0, 128});
  EXPECT_EQ(frame->at(0, 0).foreground(), (Rgba{128, 0, 50, 255}));
  EXPECT_EQ(frame->at(0, 0).background(), (Rgba{0, 0, 100, 255}));
}

TEST(DrawTextTest, WritingOverHalfOfAWideCharacterBlanksBothHalves) {
  CellFrameRef frame = blank_frame();
  draw_text_at_cell(*frame, "\xE4\xB8\xAD", 0, 0, kWhite);
  draw_text_at_cell(*frame, "z", 1, 0, kWhite);
  EXPECT_EQ(row_text(*frame, 0), " z        ");
  EXPECT_EQ(frame->at(0, 0).width, 1);
}

TEST(DrawTextTest, ClusterWithoutVisibleCodePointShowsDottedCircle) {
  CellFrameRef frame = blank_frame();
  draw_text_at_cell(*frame, "\xCC\x81" "e\xCC\x81", 0, 0, kWhite);
  EXPECT_STREQ(frame->at(0, 0).glyph, "\xE2\x97\x8C\xCC\x81");
  EXPECT_STREQ(frame->at(1, 0).glyph, "e\xCC\x81");
}

TEST(DrawTextTest, MalformedUtf8ShowsReplacementCharacter) {
  CellFrameRef frame = blank_frame();
  draw_text_at_cell(*frame, "a\xC3(\xFF", 0, 0, kWhite);
  EXPECT_EQ(row_text(*frame, 0), "a\xEF\xBF\xBD(\xEF\xBF\xBD      ");
}

TEST(DrawTextTest, OnlyControlCharactersDrawNothing) {
  CellFrameRef frame = blank_frame();
  draw_text_at_cell(*frame, "\x01\x02\x1B[31m\x7F\r", 0, 0, kWhite);
  // The escape byte is dropped; the printable rest of the sequence stays text.
  EXPECT_EQ(row_text(*frame, 0), "[31m      ");
  CellFrameRef untouched = blank_frame();
  draw_text_at_cell(*untouched, "\x01\x02\x1B\x7F\r\xC2\x85", 0, 0, kWhite);
  EXPECT_EQ(row_text(*untouched, 0), "          ");
  EXPECT_EQ(untouched->at(0, 0).kind, CellKind::plain);
}

TEST(DrawTextTest, MegabyteOfMarksOnOneBaseFillsOneCell) {
  CellFrameRef frame = blank_frame();
  std::string text = "x";
  while (text.size() < (1u << 20)) text += "\xCC\x88";
  text += "y";
  draw_text_at_cell(*frame, text, 0, 0, kWhite);
  EXPECT_EQ(std::string(frame->at(0, 0).glyph).size(), 1u + 63u * 2u);
  EXPECT_STREQ(frame->at(1, 0).glyph, "y");
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
  std::string single(8u * 1024 * 1024, 'q');
  draw_text_at_cell(*frame, single, 0, 0, kRed);
  EXPECT_STREQ(frame->at(79, 0).glyph, "q");
  EXPECT_LT(frame->pool.total_bytes(), 4096u);
}

TEST(DrawTextTest, TextCommandDrawsAtItsPosition) {
  CellFrameRef frame = blank_frame();
  scene::JsonPtr command = parse(R"(["text", "hi", 8, 16, "#00ff00", 14, false])");
  draw_text_command(RasterContext{}, *frame, command.get());
  EXPECT_EQ(row_text(*frame, 1), " hi       ");
  EXPECT_EQ(frame->at(1, 1).foreground(), (Rgba{0, 255, 0, 255}));
}

// ---- Measuring ---------------------------------------------------------------------

struct MeasureCase {
  const char* text;
  double width;
  double height;
};

class MeasureTextTest : public ::testing::TestWithParam<MeasureCase> {};

TEST_P(MeasureTextTest, Size) {
  const TextSize size = measure_text(GetParam().text);
  EXPECT_EQ(size.width, GetParam().width);
  EXPECT_EQ(size.height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Cases, MeasureTextTest,
                         ::testing::Values(MeasureCase{"ab\ncde", 24, 32}, MeasureCase{"\tx", 40, 16},
                                           MeasureCase{"", 0, 16}, MeasureCase{"\xE4\xB8\xAD", 16, 16},
                                           MeasureCase{"ab\tc", 40, 16}, MeasureCase{"abcd\t", 64, 16},
                                           MeasureCase{"\n", 0, 32}, MeasureCase{"abc\n\n", 24, 48},
                                           MeasureCase{"\x01\x02\r", 0, 16}, MeasureCase{"a\r\nb", 8, 32},
                                           MeasureCase{"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 16, 16},
                                           MeasureCase{"\xCC\x81", 8, 16}, MeasureCase{"\xFF\xFE", 16, 16}));

TEST(MeasureOperationTest, MeasuresText) {
  scene::HostErrorBuffer buffer;
  scene::JsonPtr command = parse(R"({"op":"measure","text":"ab\ncde"})");
  scene::JsonPtr result = measure_operation(command.get(), buffer.text());
  ASSERT_TRUE(result);
  EXPECT_EQ(print(result), "[24,32]");
  EXPECT_TRUE(buffer.empty());
}

TEST(MeasureOperationTest, RejectsMissingOrNonStringText) {
  for (const char* json : {R"({"op":"measure"})", R"({"op":"measure","text":5})", R"({"op":"measure","text":null})"}) {
    scene::HostErrorBuffer buffer;
    scene::JsonPtr command = parse(json);
    EXPECT_FALSE(measure_operation(command.get(), buffer.text())) << json;
    EXPECT_STREQ(buffer.c_str(), "Invalid terminal text") << json;
  }
}

TEST(MeasureOperationTest, TextLengthLimit) {
  scene::JsonPtr command(cJSON_CreateObject());
  std::string text(kMaxMeasureTextBytes, 'a');
  cJSON_AddStringToObject(command.get(), "text", text.c_str());
  scene::HostErrorBuffer buffer;
  scene::JsonPtr result = measure_operation(command.get(), buffer.text());
  ASSERT_TRUE(result);
  EXPECT_EQ(print(result), "[67108864,16]");

  text.push_back('a');
  cJSON_ReplaceItemInObject(command.get(), "text", cJSON_CreateString(text.c_str()));
  EXPECT_FALSE(measure_operation(command.get(), buffer.text()));
  EXPECT_STREQ(buffer.c_str(), "Invalid terminal text");
}

TEST(MeasureManyOperationTest, MeasuresEachStringInOrder) {
  scene::HostErrorBuffer buffer;
  scene::JsonPtr command = parse(R"({"op":"measure_many","texts":["", "\tx", "ab\ncde"]})");
  scene::JsonPtr result = measure_many_operation(command.get(), buffer.text());
  ASSERT_TRUE(result);
  EXPECT_EQ(print(result), "[[0,16],[40,16],[24,32]]");

  scene::JsonPtr empty = parse(R"({"op":"measure_many","texts":[]})");
  result = measure_many_operation(empty.get(), buffer.text());
  ASSERT_TRUE(result);
  EXPECT_EQ(print(result), "[]");
}

TEST(MeasureManyOperationTest, RejectsBadBatches) {
  struct Case {
    const char* json;
    const char* message;
  };
  for (const Case& test : {Case{R"({"op":"measure_many"})", "Invalid terminal text batch"},
                           Case{R"({"op":"measure_many","texts":"abc"})", "Invalid terminal text batch"},
                           Case{R"({"op":"measure_many","texts":["a", 1, "b"]})", "Invalid terminal text batch"},
                           Case{R"({"op":"measure_many","texts":["a", null]})", "Invalid terminal text batch"}}) {
    scene::HostErrorBuffer buffer;
    scene::JsonPtr command = parse(test.json);
    EXPECT_FALSE(measure_many_operation(command.get(), buffer.text())) << test.json;
    EXPECT_STREQ(buffer.c_str(), test.message) << test.json;
  }
}

TEST(MeasureManyOperationTest, CountLimitIsCheckedBeforeEntries) {
  scene::JsonPtr command(cJSON_CreateObject());
  cJSON* texts = cJSON_AddArrayToObject(command.get(), "texts");
  cJSON_AddItemToArray(texts, cJSON_CreateNumber(1));  // invalid, but the count fails first
  for (std::size_t i = 1; i < kMaxMeasureBatch; ++i) cJSON_AddItemToArray(texts, cJSON_CreateString("x"));
  cJSON* last = cJSON_CreateString("x");
  cJSON_AddItemToArray(texts, last);
  scene::HostErrorBuffer buffer;
  EXPECT_FALSE(measure_many_operation(command.get(), buffer.text()));
  EXPECT_STREQ(buffer.c_str(), "Terminal text batch exceeds 4096 strings");

  // 4096 entries are allowed.
  cJSON_DeleteItemFromArray(texts, 0);
  scene::HostErrorBuffer ok;
  scene::JsonPtr result = measure_many_operation(command.get(), ok.text());
  ASSERT_TRUE(result);
  EXPECT_EQ(cJSON_GetArraySize(result.get()), 4096);
}

TEST(MeasureManyOperationTest, OverlongEntryFailsTheBatch) {
  scene::JsonPtr command(cJSON_CreateObject());
  cJSON* texts = cJSON_AddArrayToObject(command.get(), "texts");
  cJSON_AddItemToArray(texts, cJSON_CreateString("fine"));
  cJSON_AddItemToArray(texts, cJSON_CreateString(std::string(kMaxMeasureTextBytes + 1, 'a').c_str()));
  scene::HostErrorBuffer buffer;
  EXPECT_FALSE(measure_many_operation(command.get(), buffer.text()));
  EXPECT_STREQ(buffer.c_str(), "Invalid terminal text batch");
}

// ---- Icons -------------------------------------------------------------------------

struct IconName {
  const char* name;
  const char* glyph;
};

TEST(IconTest, EveryNameHasItsGlyph) {
  const IconName icons[] = {
      {"check", "\u2713"},         {"close", "\u00D7"},         {"plus", "+"},
      {"minus", "\u2212"},         {"play", "\u25B6"},          {"pause", "\u2016"},
      {"home", "\u2302"},          {"save", "\u25A3"},          {"folder", "\u25B1"},
      {"search", "\u2315"},        {"undo", "\u21B6"},          {"redo", "\u21B7"},
      {"chevron_left", "\u2039"},  {"chevron_right", "\u203A"}, {"chevron_up", "\u25B4"},
      {"chevron_down", "\u25BE"},  {"arrow_left", "\u2190"},    {"arrow_right", "\u2192"},
      {"arrow_up", "\u2191"},      {"arrow_down", "\u2193"},    {"diamond", "\u25C7"},
      {"settings", "\u2699"},      {"layers", "\u25B1\u25B1"},  {"sparkles", "\u2727"},
      {"sun", "\u263C"},           {"moon", "\u263E"},          {"heart", "\u2665"},
      {"copy", "\u29C9"},          {"download", "\u2193"},      {"upload", "\u2191"},
      {"refresh", "\u21BB"},       {"external_link", "\u2197"}, {"grid", "\u25A6"},
      {"chart", "\u25A5"},         {"bolt", "\u03DF"},          {"menu", "\u2261"},
      {"code", "\u2039\u203A"},    {"mail", "\u2709"},
  };
  static_assert(sizeof(icons) / sizeof(icons[0]) == 38);
  for (const IconName& icon : icons) {
    const char* glyph = icon_glyph(icon.name);
    ASSERT_NE(glyph, nullptr) << icon.name;
    EXPECT_STREQ(glyph, icon.glyph) << icon.name;
  }
  EXPECT_EQ(icon_glyph("Check"), nullptr);
  EXPECT_EQ(icon_glyph("check "), nullptr);
  EXPECT_EQ(icon_glyph(""), nullptr);
}

TEST(IconTest, LayersSpansTwoColumns) {
  CellFrameRef frame = blank_frame();
  draw_icon(*frame, "\u25B1\u25B1", 0, 0, 16, kWhite);
  EXPECT_EQ(row_text(*frame, 0), "\u25B1\u25B1        ");
  EXPECT_EQ(frame->at(0, 0).kind, CellKind::text);
}

TEST(IconTest, IsCentredInItsBox) {
  CellFrameRef frame = blank_frame();
  draw_icon(*frame, "\u2713", 16, 16, 32, kRed);  // box columns 2..5, rows 1..2
  EXPECT_EQ(rows_text(*frame), (std::vector<std::string>{"          ", "   \u2713      ", "          ",
                                                         "          "}));
}

TEST(IconTest, BoxTooNarrowDrawsNothing) {
  CellFrameRef frame = blank_frame();
  draw_icon(*frame, "\u2039\u203A", 0, 0, 8, kWhite);
  EXPECT_EQ(row_text(*frame, 0), "          ");
  draw_icon(*frame, "\u2713", 0, 0, 0, kWhite);
  EXPECT_EQ(row_text(*frame, 0), "          ");
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

TEST(IconTest, WideGlyphIsRaisedToTheBoxLeftEdge) {
  CellFrameRef frame = blank_frame();
  // A 16-pixel box at x = 64 spans columns 8..9; centring would start at 7.
  draw_icon(*frame, "\xE4\xB8\xAD", 64, 0, 16, kWhite);
  EXPECT_STREQ(frame->at(7, 0).glyph, " ");
  EXPECT_STREQ(frame->at(8, 0).glyph, "\xE4\xB8\xAD");
}

TEST(IconTest, IconCommandDrawsNamedGlyph) {
  CellFrameRef frame = blank_frame();
  scene::JsonPtr command = parse(R"(["icon", "heart", 0, 0, 16, "#fff"])");
  draw_icon_command(RasterContext{}, *frame, command.get());
  EXPECT_STREQ(frame->at(0, 0).glyph, "\u2665");
}

}  // namespace
}  // namespace lumora::terminal
