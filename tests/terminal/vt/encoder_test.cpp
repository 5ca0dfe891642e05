#include "terminal/vt/encoder.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::terminal {
namespace {

const std::string kBegin = "\x1b[?2026h";
const std::string kEnd = "\x1b[0m\x1b[?2026l";
const std::string kWhiteOnBlack = "\x1b[38;2;255;255;255;48;2;0;0;0m";

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

// Two cells: a red "A" on blue, then a grey "b" on blue; the background is
// the same so only the foreground change shows in the second sequence.
TEST(EncoderTest, WritesExactBytesForASmallGridInEveryMode) {
  CellFrameRef frame = blank_frame(2, 1);
  frame->at(0, 0).glyph = "A";
  frame->at(0, 0).set_foreground({255, 0, 0, 255});
  frame->at(0, 0).set_background({0, 0, 255, 255});
  frame->at(1, 0).glyph = "b";
  frame->at(1, 0).set_foreground({128, 128, 128, 255});
  frame->at(1, 0).set_background({0, 0, 255, 255});
  const std::pair<ColourMode, std::string> cases[] = {
      {ColourMode::truecolor, "\x1b[38;2;255;0;0;48;2;0;0;255mA\x1b[38;2;128;128;128;48;2;0;0;255mb"},
      {ColourMode::indexed256, "\x1b[38;5;9;48;5;12mA\x1b[38;5;8;48;5;12mb"},
      {ColourMode::indexed16, "\x1b[91;104mA\x1b[90;104mb"},
      {ColourMode::none, "Ab"},
  };
  for (const auto& [mode, cells] : cases) {
    EXPECT_EQ(encode(frame.get(), nullptr, mode), kBegin + "\x1b[1;1H" + cells + kEnd) << static_cast<int>(mode);
  }
}

TEST(EncoderTest, DiffOfUnchangedFrameIsEmpty) {
  CellFrameRef frame = blank_frame(3, 2);
  frame->at(1, 1).glyph = "x";
  CellFrameRef copy = copy_frame(*frame);
  copy->at(1, 1).glyph = "x";  // another pointer to equal bytes
  for (ColourMode mode : {ColourMode::truecolor, ColourMode::indexed16}) EXPECT_EQ(encode(copy.get(), frame.get(), mode), "");
}

TEST(EncoderTest, DiffWritesOnlyTheChangedCharacters) {
  struct Case {
    const char* name;
    int columns, rows;
    void (*prepare)(CellFrame& before, CellFrame& after);
    ColourMode mode;
    std::string expected;
  };
  const Case cases[] = {
      {"changed_run", 5, 3, [](CellFrame&, CellFrame& after) { after.at(2, 1).glyph = after.at(3, 1).glyph = "Z"; },
       ColourMode::truecolor, kBegin + "\x1b[2;3H" + kWhiteOnBlack + "ZZ" + kEnd},
      {"separate_runs_send_the_colour_once", 6, 1,
       [](CellFrame&, CellFrame& after) { after.at(0, 0).glyph = after.at(4, 0).glyph = "a"; }, ColourMode::truecolor,
       kBegin + "\x1b[1;1H" + kWhiteOnBlack + "a\x1b[1;5Ha" + kEnd},
      {"changed_background", 2, 1, [](CellFrame&, CellFrame& after) { after.at(1, 0).set_background({10, 20, 30, 255}); },
       ColourMode::truecolor, kBegin + "\x1b[1;2H\x1b[38;2;255;255;255;48;2;10;20;30m " + kEnd},
      {"alpha_and_kind_do_not_count", 2, 1,
       [](CellFrame&, CellFrame& after) {
         after.at(0, 0).fg_a = 10;
         after.at(1, 0).kind = CellKind::text;
       },
       ColourMode::truecolor, ""},
      {"colours_do_not_count_in_mode_none", 2, 1,
       [](CellFrame&, CellFrame& after) { after.at(1, 0).set_background({10, 20, 30, 255}); }, ColourMode::none, ""},
      // Only column 0 differs, yet the character it starts covers column 1 too.
      {"new_wide_over_old_wide", 3, 1,
       [](CellFrame& before, CellFrame& after) {
         put_wide(before, 0, 0, "世");
         put_wide(after, 0, 0, "界");
       },
       ColourMode::none, kBegin + "\x1b[1;1H界" + kEnd},
      {"narrow_over_old_wide", 3, 1,
       [](CellFrame& before, CellFrame& after) {
         put_wide(before, 0, 0, "世");
         after.at(0, 0).glyph = "a";
       },
       ColourMode::none, kBegin + "\x1b[1;1Ha " + kEnd},
      // A change to the right half of the second of two wide characters
      // rewrites that character only, in its left half's colours.
      {"widening_stops_at_the_characters_own_columns", 5, 1,
       [](CellFrame& before, CellFrame& after) {
         for (CellFrame* frame : {&before, &after}) {
           put_wide(*frame, 0, 0, "界");
           put_wide(*frame, 2, 0, "世");
         }
         after.at(3, 0).set_foreground({1, 2, 3, 255});
       },
       ColourMode::truecolor, kBegin + "\x1b[1;3H" + kWhiteOnBlack + "世" + kEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CellFrameRef before = blank_frame(c.columns, c.rows);
    CellFrameRef after = blank_frame(c.columns, c.rows);
    c.prepare(*before, *after);
    EXPECT_EQ(encode(after.get(), before.get(), c.mode), c.expected);
  }
}

// A terminal may count a disputed cluster narrower or wider than we do: its
// cells are erased first, and the cell after it starts with an absolute move.
TEST(EncoderTest, DisputedClusterIsErasedFirstAndFollowedByAnAbsoluteMove) {
  CellFrameRef frame = blank_frame(8, 1);
  put_wide(*frame, 0, 0, "\U0001F44D\U0001F3FD");  // thumbs up, skin tone
  frame->at(2, 0).glyph = "x";
  put_wide(*frame, 3, 0, "漢");
  EXPECT_EQ(encode(frame.get(), nullptr, ColourMode::none),
            kBegin + "\x1b[1;1H\x1b[2X\U0001F44D\U0001F3FD\x1b[1;3Hx漢   " + kEnd);
  // One code point that is emoji by default, and a lone combining mark shown
  // on a dotted circle, also narrow: each erased over its own width.
  CellFrameRef single = blank_frame(8, 1);
  put_wide(*single, 0, 0, "\U0001FAE0");
  single->at(2, 0).glyph = "\u25CC\u0301";
  single->at(3, 0).glyph = "y";
  EXPECT_EQ(encode(single.get(), nullptr, ColourMode::none),
            kBegin + "\x1b[1;1H\x1b[2X\U0001FAE0\x1b[1;3H\x1b[1X\u25CC\u0301\x1b[1;4Hy    " + kEnd);
  // The erase comes after the colours, so that the erased cells take them.
  EXPECT_EQ(encode(single.get(), nullptr, ColourMode::truecolor),
            kBegin + "\x1b[1;1H" + kWhiteOnBlack + "\x1b[2X\U0001FAE0\x1b[1;3H\x1b[1X\u25CC\u0301\x1b[1;4Hy    " +
                kEnd);
}

// Some terminals wrap, and scroll, rather than clip what does not fit at the
// right margin: a disputed cluster there keeps only the code points that
// fit however wide they are drawn (a narrow first one counts one column,
// any other two), or becomes a blank.
TEST(EncoderTest, DisputedClusterAtTheRightMarginKeepsWhatFits) {
  CellFrameRef frame = blank_frame(5, 1);
  put_wide(*frame, 1, 0, "\U0001F469\u200D\U0001F4BB");  // woman, joiner, computer
  frame->at(3, 0).glyph = "e\u0301";
  frame->at(4, 0).glyph = "\U0001F1E9";  // a lone regional indicator, one cell here
  EXPECT_EQ(encode(frame.get(), nullptr, ColourMode::none),
            kBegin + "\x1b[1;1H \x1b[2X\U0001F469\u200D\x1b[1;4H\x1b[1Xe\x1b[1;5H\x1b[1X " + kEnd);
}

TEST(EncoderTest, DisputedClusterAndTheCellsItMayReachAreRewrittenTogether) {
  struct Case {
    const char* name;
    void (*prepare)(CellFrame& before, CellFrame& after);
    std::string expected;
  };
  // A heart with a variation selector: a narrow code point and one more, so
  // its output may reach three columns.
  const Case cases[] = {
      {"change_within_reach_rewrites_the_cluster",
       [](CellFrame& before, CellFrame& after) {
         put_wide(before, 0, 0, "\u2764\uFE0F");
         put_wide(after, 0, 0, "\u2764\uFE0F");
         after.at(2, 0).glyph = "Z";
       },
       kBegin + "\x1b[1;1H\x1b[2X\u2764\uFE0F\x1b[1;3HZ" + kEnd},
      {"change_beyond_reach_leaves_it",
       [](CellFrame& before, CellFrame& after) {
         put_wide(before, 0, 0, "\u2764\uFE0F");
         put_wide(after, 0, 0, "\u2764\uFE0F");
         after.at(3, 0).glyph = "Z";
       },
       kBegin + "\x1b[1;4HZ" + kEnd},
      // The old cluster's output may still cover columns 2 and 3.
      {"replaced_cluster_clears_its_old_reach",
       [](CellFrame& before, CellFrame& after) {
         put_wide(before, 0, 0, "\u2764\uFE0F");
         after.at(0, 0).glyph = "a";
       },
       kBegin + "\x1b[1;1Ha  " + kEnd},
      {"changed_cluster_rewrites_what_it_may_reach",
       [](CellFrame& before, CellFrame& after) {
         put_wide(before, 1, 0, "世");
         put_wide(after, 1, 0, "世");
         after.at(0, 0).glyph = "\u0915\u094D\u0937";  // a conjunct: one cell here, up to five there
       },
       kBegin + "\x1b[1;1H\x1b[1X\u0915\u094D\u0937\x1b[1;2H世  " + kEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CellFrameRef before = blank_frame(8, 1);
    CellFrameRef after = blank_frame(8, 1);
    c.prepare(*before, *after);
    EXPECT_EQ(encode(after.get(), before.get(), ColourMode::none), c.expected);
  }
}

TEST(EncoderTest, UnderlineIsSwitchedOnlyWhenItChangesAndCarriesAcrossRows) {
  CellFrameRef frame = blank_frame(4, 2);
  frame->at(1, 0).underline = 1;
  frame->at(2, 0).underline = 1;
  frame->at(3, 0).underline = 1;
  frame->at(0, 1).underline = 1;
  EXPECT_EQ(encode(frame.get(), nullptr, ColourMode::truecolor),
            kBegin + "\x1b[1;1H" + kWhiteOnBlack + " \x1b[4m   \x1b[2;1H \x1b[24m   " + kEnd);
  // The emitted state starts afresh in every call: the same bytes again.
  CellFrameRef one = blank_frame(1, 1);
  one->at(0, 0).underline = 1;
  const std::string first = encode(one.get(), nullptr, ColourMode::truecolor);
  EXPECT_EQ(first, kBegin + "\x1b[1;1H" + kWhiteOnBlack + "\x1b[4m " + kEnd);
  EXPECT_EQ(encode(one.get(), nullptr, ColourMode::truecolor), first);
}

TEST(EncoderTest, CursorMovesReachFarRowsAndColumns) {
  CellFrameRef before = blank_frame(16384, 64);
  CellFrameRef after = copy_frame(*before);
  after->at(16383, 63).glyph = "z";
  after->at(12345, 9).glyph = "y";
  EXPECT_EQ(encode(after.get(), before.get(), ColourMode::none),
            kBegin + "\x1b[10;12346Hy\x1b[64;16384Hz" + kEnd);
}

TEST(EncoderTest, NoFrameFailsAndOutputReplacesWhatTheBufferHeld) {
  ByteBuffer out;
  EXPECT_FALSE(encode_frame(nullptr, nullptr, ColourMode::truecolor, out));
  EXPECT_TRUE(out.failed());
  CellFrameRef frame = blank_frame(1, 1);
  out.clear();
  out.append("stale");
  ASSERT_TRUE(encode_frame(frame.get(), frame.get(), ColourMode::none, out));
  EXPECT_STREQ(out.c_str(), "");
}

// Each lookup is made twice, the second from the cache; the same colour in
// both palettes shows that each palette keeps its own cached answer.
TEST(PaletteTest, NearestEntryByDistanceWithLowerIndexOnTies) {
  struct Case {
    int r, g, b, size, expected;
  };
  const Case cases[] = {
      {0x5f, 0x87, 0xaf, kPalette256, 67}, {0x5f, 0x87, 0xaf, kPalette16, 8}, {0x12, 0x12, 0x12, kPalette256, 233},
      {100, 0, 0, kPalette16, 1},          {0x80, 0x80, 0x80, kPalette256, 8}, {0x5f, 0x87, 0xaf, kPalette256, 67},
  };
  EXPECT_EQ(palette_colour(16 + 36 * 2 + 6 * 3 + 4), 0x87afd7u);  // the cube
  EXPECT_EQ(palette_colour(244), 0x808080u);                       // the grey ramp
  for (const Case& c : cases) {
    for (int lookup = 0; lookup < 2; ++lookup) EXPECT_EQ(nearest_palette_index(c.r, c.g, c.b, c.size), c.expected) << c.r;
  }
}

}  // namespace
}  // namespace lumora::terminal
