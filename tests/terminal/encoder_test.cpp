#include "terminal/encoder.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::terminal {
namespace {

constexpr const char* kBegin = "\x1b[?2026h";
constexpr const char* kEnd = "\x1b[0m\x1b[?2026l";
constexpr const char* kWhiteOnBlack = "\x1b[38;2;255;255;255;48;2;0;0;0m";

CellFrameRef blank_frame(int columns, int rows) {
  CellFrameRef frame = make_cell_frame(columns, rows);
  EXPECT_TRUE(frame);
  return frame;
}

// A copy with the same cells (glyph pointers included), as a recomposition of
// an unchanged scene would give.
CellFrameRef copy_frame(const CellFrame& source) {
  CellFrameRef frame = blank_frame(source.columns, source.rows);
  for (int i = 0; i < source.columns * source.rows; ++i) frame->cells[i] = source.cells[i];
  return frame;
}

void put_wide(CellFrame& frame, int column, int row, const char* glyph) {
  frame.at(column, row).glyph = glyph;
  frame.at(column, row).width = 2;
  frame.at(column + 1, row) = frame.at(column, row);
  frame.at(column + 1, row).glyph = "";
  frame.at(column + 1, row).width = 0;
}

std::string encode(const CellFrame* current, const CellFrame* previous, ColourMode mode) {
  ByteBuffer out;
  EXPECT_TRUE(encode_frame(current, previous, mode, out));
  return std::string(out.view());
}

struct ModeCase {
  ColourMode mode;
  std::string expected;
};

class EncoderModeTest : public testing::TestWithParam<ModeCase> {};

// Two cells: a red "A" on blue, then a grey "b" on blue; the background is
// the same so only the foreground change shows in the second sequence.
TEST_P(EncoderModeTest, WritesExactBytesForASmallGrid) {
  CellFrameRef frame = blank_frame(2, 1);
  frame->at(0, 0).glyph = "A";
  frame->at(0, 0).set_foreground({255, 0, 0, 255});
  frame->at(0, 0).set_background({0, 0, 255, 255});
  frame->at(1, 0).glyph = "b";
  frame->at(1, 0).set_foreground({128, 128, 128, 255});
  frame->at(1, 0).set_background({0, 0, 255, 255});
  EXPECT_EQ(encode(frame.get(), nullptr, GetParam().mode), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, EncoderModeTest,
    testing::Values(ModeCase{ColourMode::truecolor, std::string(kBegin) + "\x1b[1;1H\x1b[38;2;255;0;0;48;2;0;0;255mA" +
                                                        "\x1b[38;2;128;128;128;48;2;0;0;255mb" + kEnd},
                    ModeCase{ColourMode::indexed256,
                             std::string(kBegin) + "\x1b[1;1H\x1b[38;5;9;48;5;12mA\x1b[38;5;8;48;5;12mb" + kEnd},
                    ModeCase{ColourMode::indexed16, std::string(kBegin) + "\x1b[1;1H\x1b[91;104mA\x1b[90;104mb" + kEnd},
                    ModeCase{ColourMode::none, std::string(kBegin) + "\x1b[1;1HAb" + kEnd}));

TEST(EncoderTest, EachRowStartsWithACursorMoveAndColoursCarryOver) {
  CellFrameRef frame = blank_frame(2, 2);
  EXPECT_EQ(encode(frame.get(), nullptr, ColourMode::truecolor),
            std::string(kBegin) + "\x1b[1;1H" + kWhiteOnBlack + "  \x1b[2;1H  " + kEnd);
}

TEST(EncoderTest, DiffAgainstTheSameFrameIsEmpty) {
  CellFrameRef frame = blank_frame(3, 2);
  EXPECT_EQ(encode(frame.get(), frame.get(), ColourMode::truecolor), "");
}

TEST(EncoderTest, DiffAgainstAnEqualFrameIsEmpty) {
  CellFrameRef frame = blank_frame(3, 2);
  frame->at(1, 1).glyph = "x";
  CellFrameRef copy = copy_frame(*frame);
  copy->at(1, 1).glyph = "x";  // another pointer to equal bytes
  for (ColourMode mode : {ColourMode::truecolor, ColourMode::indexed256, ColourMode::indexed16, ColourMode::none}) {
    EXPECT_EQ(encode(copy.get(), frame.get(), mode), "");
  }
}

TEST(EncoderTest, DiffWritesOnlyTheChangedRunWithItsColour) {
  CellFrameRef before = blank_frame(5, 3);
  CellFrameRef after = copy_frame(*before);
  after->at(2, 1).glyph = "Z";
  after->at(3, 1).glyph = "Y";
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::truecolor),
            std::string(kBegin) + "\x1b[2;3H" + kWhiteOnBlack + "ZY" + kEnd);
}

TEST(EncoderTest, SeparateRunsEachGetACursorMoveButColourIsSentOnce) {
  CellFrameRef before = blank_frame(6, 1);
  CellFrameRef after = copy_frame(*before);
  after->at(0, 0).glyph = "a";
  after->at(4, 0).glyph = "b";
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::truecolor),
            std::string(kBegin) + "\x1b[1;1H" + kWhiteOnBlack + "a\x1b[1;5Hb" + kEnd);
}

TEST(EncoderTest, ChangedColoursAreDirtyExceptInModeNone) {
  CellFrameRef before = blank_frame(2, 1);
  CellFrameRef after = copy_frame(*before);
  after->at(1, 0).set_background({10, 20, 30, 255});
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::truecolor),
            std::string(kBegin) + "\x1b[1;2H\x1b[38;2;255;255;255;48;2;10;20;30m " + kEnd);
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::none), "");
}

TEST(EncoderTest, AlphaAndKindAreNotCompared) {
  CellFrameRef before = blank_frame(2, 1);
  CellFrameRef after = copy_frame(*before);
  after->at(0, 0).fg_a = 10;
  after->at(0, 0).bg_a = 20;
  after->at(1, 0).kind = CellKind::text;
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::truecolor), "");
}

TEST(EncoderTest, ChangingTheRightHalfRewritesTheWholeWideCharacter) {
  CellFrameRef before = blank_frame(4, 1);
  put_wide(*before, 1, 0, "世");
  CellFrameRef after = copy_frame(*before);
  after->at(2, 0).set_foreground({0, 255, 0, 255});
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::truecolor),
            std::string(kBegin) + "\x1b[1;2H" + kWhiteOnBlack + "世" + kEnd);
}

TEST(EncoderTest, OverwritingAnOldWideCharacterRewritesBothOfItsColumns) {
  // Only column 0 differs, yet the character it starts covers column 1 too.
  CellFrameRef before = blank_frame(3, 1);
  put_wide(*before, 0, 0, "世");
  CellFrameRef after = copy_frame(*before);
  put_wide(*after, 0, 0, "界");
  after->at(2, 0).glyph = " ";
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::none), std::string(kBegin) + "\x1b[1;1H界" + kEnd);

  CellFrameRef narrow = copy_frame(*before);
  narrow->at(0, 0).glyph = "a";
  narrow->at(0, 0).width = 1;
  narrow->at(1, 0).glyph = " ";
  narrow->at(1, 0).width = 1;
  EXPECT_EQ(encode(narrow.get(), before.get(), ColourMode::none), std::string(kBegin) + "\x1b[1;1Ha " + kEnd);
}

TEST(EncoderTest, WideningStopsAtTheChangedCharactersOwnColumns) {
  // Two wide characters side by side; a change to the right half of the
  // second rewrites that character only, in its left half's colours.
  CellFrameRef before = blank_frame(5, 1);
  put_wide(*before, 2, 0, "世");
  put_wide(*before, 0, 0, "界");
  CellFrameRef after = copy_frame(*before);
  after->at(3, 0).set_foreground({1, 2, 3, 255});
  std::string output = encode(after.get(), before.get(), ColourMode::truecolor);
  EXPECT_EQ(output, std::string(kBegin) + "\x1b[1;3H\x1b[38;2;255;255;255;48;2;0;0;0m世" + kEnd);
}

TEST(EncoderTest, AFrameOfAnotherSizeIsWrittenInFull) {
  CellFrameRef before = blank_frame(2, 1);
  CellFrameRef after = blank_frame(3, 1);
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::none), std::string(kBegin) + "\x1b[1;1H   " + kEnd);
  CellFrameRef taller = blank_frame(2, 2);
  EXPECT_EQ(encode(taller.get(), before.get(), ColourMode::none),
            std::string(kBegin) + "\x1b[1;1H  \x1b[2;1H  " + kEnd);
}

TEST(EncoderTest, UnderlineIsSwitchedOnAndOffOnlyWhenItChanges) {
  CellFrameRef frame = blank_frame(4, 1);
  frame->at(1, 0).underline = 1;
  frame->at(2, 0).underline = 1;
  EXPECT_EQ(encode(frame.get(), nullptr, ColourMode::none),
            std::string(kBegin) + "\x1b[1;1H \x1b[4m  \x1b[24m " + kEnd);
}

TEST(EncoderTest, UnderlineStateCarriesAcrossRows) {
  CellFrameRef frame = blank_frame(1, 2);
  frame->at(0, 0).underline = 1;
  frame->at(0, 1).underline = 1;
  EXPECT_EQ(encode(frame.get(), nullptr, ColourMode::none), std::string(kBegin) + "\x1b[1;1H\x1b[4m \x1b[2;1H " + kEnd);
}

TEST(EncoderTest, EmittedStateStartsAfreshInEveryCall) {
  CellFrameRef frame = blank_frame(1, 1);
  frame->at(0, 0).underline = 1;
  std::string first = encode(frame.get(), nullptr, ColourMode::truecolor);
  EXPECT_EQ(encode(frame.get(), nullptr, ColourMode::truecolor), first);
  EXPECT_EQ(first, std::string(kBegin) + "\x1b[1;1H" + kWhiteOnBlack + "\x1b[4m " + kEnd);
}

TEST(EncoderTest, CursorMovesReachFarRowsAndColumns) {
  CellFrameRef before = blank_frame(16384, 64);
  CellFrameRef after = copy_frame(*before);
  after->at(16383, 63).glyph = "z";
  after->at(12345, 9).glyph = "y";
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::none),
            std::string(kBegin) + "\x1b[10;12346Hy\x1b[64;16384Hz" + kEnd);
}

TEST(EncoderTest, NoFrameIsAnError) {
  ByteBuffer out;
  EXPECT_FALSE(encode_frame(nullptr, nullptr, ColourMode::truecolor, out));
  EXPECT_TRUE(out.failed());
}

TEST(EncoderTest, OutputReplacesWhatTheBufferHeld) {
  CellFrameRef frame = blank_frame(1, 1);
  ByteBuffer out;
  out.append("stale");
  ASSERT_TRUE(encode_frame(frame.get(), frame.get(), ColourMode::none, out));
  EXPECT_EQ(out.view(), "");
  EXPECT_STREQ(out.c_str(), "");
}

TEST(PaletteTest, MiddleGreyMapsToBaseEightInBothPalettes) {
  EXPECT_EQ(nearest_palette_index(0x80, 0x80, 0x80, kPalette256), 8);
  EXPECT_EQ(nearest_palette_index(0x80, 0x80, 0x80, kPalette16), 8);
  EXPECT_EQ(palette_colour(244), 0x808080u);
}

TEST(PaletteTest, EntriesFollowTheBaseCubeAndGreyRamp) {
  EXPECT_EQ(palette_colour(7), 0xc0c0c0u);
  EXPECT_EQ(palette_colour(16), 0x000000u);
  EXPECT_EQ(palette_colour(17), 0x00005fu);
  EXPECT_EQ(palette_colour(16 + 36 * 2 + 6 * 3 + 4), 0x87afd7u);
  EXPECT_EQ(palette_colour(231), 0xffffffu);
  EXPECT_EQ(palette_colour(232), 0x080808u);
  EXPECT_EQ(palette_colour(255), 0xeeeeeeu);
}

TEST(PaletteTest, NearestEntryByDistanceWithLowerIndexOnTies) {
  struct Case {
    int r, g, b, size, expected;
  };
  const Case cases[] = {
      {0, 0, 0, kPalette256, 0},          {255, 255, 255, kPalette256, 15},  {0x5f, 0x87, 0xaf, kPalette256, 67},
      {0x5f, 0x87, 0xaf, kPalette16, 8},  {0x12, 0x12, 0x12, kPalette256, 233}, {250, 10, 10, kPalette16, 9},
      {100, 0, 0, kPalette16, 1},         {0xd0, 0xd0, 0xd0, kPalette16, 7},    {0, 0, 0x82, kPalette256, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nearest_palette_index(c.r, c.g, c.b, c.size), c.expected) << c.r << "," << c.g << "," << c.b;
    // The cached answer is the same on the second lookup.
    EXPECT_EQ(nearest_palette_index(c.r, c.g, c.b, c.size), c.expected);
  }
}

TEST(PaletteTest, CachesOfTheTwoPalettesAreSeparate) {
  // Same colour, same slot number in both caches: each palette keeps its own answer.
  EXPECT_EQ(nearest_palette_index(0x5f, 0x87, 0xaf, kPalette256), 67);
  EXPECT_EQ(nearest_palette_index(0x5f, 0x87, 0xaf, kPalette16), 8);
  EXPECT_EQ(nearest_palette_index(0x5f, 0x87, 0xaf, kPalette256), 67);
}

}  // namespace
}  // namespace lumora::terminal
