// The encoder's output replayed through libvterm, a terminal emulator with
// width tables of its own: wherever it and our frame agree that a cluster's
// width is not in dispute, it shows exactly our cells, and nowhere does it
// show a character that the frame does not hold at or left of that cell.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "host/backend.h"
#include "json/json.h"
#include "support/vterm_screen.h"
#include "terminal/drawing/boxes.h"
#include "terminal/drawing/text.h"
#include "terminal/console/console_session.h"
#include "terminal/terminal_helpers.h"
#include "terminal/vt/encoder.h"
#include "text/utf8.h"

namespace lumora::terminal {
namespace {

using lumora::test::VtermCell;
using lumora::test::VtermScreen;

// A disputed cluster's output reaches at most this many columns.
constexpr int kMaxReach = 128;

std::u32string code_points(std::string_view utf8) {
  std::u32string decoded;
  while (!utf8.empty()) {
    text::Utf8Char next = text::decode_utf8_final(utf8);
    decoded.push_back(next.code_point);
    utf8.remove_prefix(next.length > 0 ? next.length : 1);
  }
  return decoded;
}

std::string utf8(const std::u32string& decoded) {
  std::string text;
  for (char32_t code_point : decoded) text::append_utf8(text, code_point);
  return text;
}

std::uint32_t rgb(int r, int g, int b) {
  return static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b);
}

// The cell's own cluster, or its left half's for a right half.
const Cell& character_at(const CellFrame& frame, int column, int row) {
  const Cell& cell = frame.at(column, row);
  return cell.width == 0 && column > 0 ? frame.at(column - 1, row) : cell;
}

bool frame_disputed(const CellFrame& frame, int column, int row) {
  return cluster_width_disputed(character_at(frame, column, row).glyph);
}

bool vterm_disputed(const VtermScreen& screen, int column, int row) {
  VtermCell cell = screen.cell(column, row);
  if (cell.right_half && column > 0) cell = screen.cell(column - 1, row);
  return !cell.chars.empty() && cluster_width_disputed(utf8(cell.chars).c_str());
}

// Compares every cell; returns the first difference, or "" when they agree.
std::string compare(const CellFrame& frame, const VtermScreen& screen, bool colours) {
  for (int row = 0; row < frame.rows; ++row) {
    for (int column = 0; column < frame.columns; ++column) {
      const Cell& cell = frame.at(column, row);
      VtermCell shown = screen.cell(column, row);
      // A written space and an erased cell both show blank.
      if (shown.chars == U" ") shown.chars.clear();
      const std::string where = "row " + std::to_string(row) + " column " + std::to_string(column) + ": frame \"" +
                                test::row_text(frame, row) + "\", terminal \"" + screen.row_text(row) + "\"";
      if (!frame_disputed(frame, column, row) && !vterm_disputed(screen, column, row)) {
        if (cell.width == 0) {
          if (!shown.right_half) return "right half expected at " + where;
          continue;
        }
        const std::u32string expected = std::string_view(cell.glyph) == " " ? U"" : code_points(cell.glyph);
        if (shown.chars != expected || shown.width != cell.width) return "different character at " + where;
        if (colours && (shown.foreground != rgb(cell.fg_r, cell.fg_g, cell.fg_b) ||
                        shown.background != rgb(cell.bg_r, cell.bg_g, cell.bg_b))) {
          char colours_text[96];
          std::snprintf(colours_text, sizeof colours_text, "%06x on %06x instead of %06x on %06x", shown.foreground,
                        shown.background, rgb(cell.fg_r, cell.fg_g, cell.fg_b), rgb(cell.bg_r, cell.bg_g, cell.bg_b));
          return std::string("different colours (") + colours_text + ") at " + where;
        }
        continue;
      }
      // In dispute: whatever shows must come from a cluster of the frame at
      // this cell or from one whose output may reach it.
      for (char32_t code_point : shown.chars) {
        bool found = code_point == U' ';
        for (int left = column; left >= 0 && left > column - kMaxReach && !found; --left) {
          found = code_points(frame.at(left, row).glyph).find(code_point) != std::u32string::npos;
        }
        if (!found) return "stale character U+" + std::to_string(code_point) + " at " + where;
      }
    }
  }
  return "";
}

std::string printable(std::string_view bytes) {
  std::string text;
  for (char c : bytes) text += c == '\x1b' ? std::string("\\e") : std::string(1, c);
  return text;
}

class Replay {
 public:
  Replay(int columns, int rows, ColourMode mode) : columns_(columns), rows_(rows), mode_(mode), screen_(columns, rows) {
    context_ = test::grid(columns, rows);
    context_.monochrome = mode == ColourMode::none;
    // What the host writes first: auto-wrap off among the rest.
    screen_.feed(kEnterString);
  }

  // Composes the list, encodes it against the frame written last and feeds
  // the bytes to the terminal; "" when the terminal then agrees.
  std::string update(const std::string& list) {
    host::HostErrorBuffer error;
    CellFrameRef frame = compose_frame(context_, test::parse(list).get(), kOpaqueBlack, error.text());
    if (!frame) return std::string("composition failed: ") + error.c_str();
    ByteBuffer out;
    if (!encode_frame(frame.get(), written_.get(), mode_, out)) return "encoding failed";
    screen_.feed(out.view());
    written_ = std::move(frame);
    std::string difference = compare(*written_, screen_, mode_ == ColourMode::truecolor);
    if (!difference.empty()) difference += "\nwritten: " + printable(out.view());
    return difference;
  }

  const VtermScreen& screen() const { return screen_; }

 private:
  int columns_;
  int rows_;
  ColourMode mode_;
  VtermScreen screen_;
  RasterContext context_;
  CellFrameRef written_;
};

TEST(EncoderVtermTest, EmojiThatATerminalCountsWiderLeavesNoGhostBehind) {
  Replay replay(8, 1, ColourMode::truecolor);
  ASSERT_EQ(replay.update(R"([["text","👍🏽x漢",0,0,"#ffffff",16,true]])"), "");
  ASSERT_EQ(replay.update(R"([["text","ab",0,0,"#ffffff",16,true]])"), "");
  EXPECT_EQ(replay.screen().row_text(0), "ab      ");
}

// Every script and emoji class we know terminals to count their own way.
const char* const kSamples[] = {
    "plain ASCII", "Ünïcödé", "e\u0301\u0302", "\u0301", "Ελληνικά", "Кириллица", "עברית", "العربية",
    "देवनागरी", "स्ते", "क्\u200Dष", "ไทย", "漢字かな", "한국어", "\u1100\u1161\u11A8", "ＦＵＬＬ", "─│┼╭╯",
    "😀", "❤️", "❤", "1️⃣", "©️", "👍🏽", "👩‍💻", "👨‍👩‍👧‍👦", "🇩🇪", "🇩", "🇩🇪🇫", "🫠", "⌚", "☺️", "\U0001FAE9",
    "a\tb", "x\u200By", "\u200D", "🏳️‍🌈", "🧑🏿‍🦱",
};

std::string json_string(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string random_update(std::mt19937& random, int columns, int rows) {
  std::uniform_int_distribution<int> commands(1, 6);
  std::uniform_int_distribution<int> column(-2, columns);
  std::uniform_int_distribution<int> row(0, rows - 1);
  std::uniform_int_distribution<std::size_t> sample(0, std::size(kSamples) - 1);
  std::uniform_int_distribution<int> channel(0, 255);
  std::uniform_int_distribution<int> kind(0, 9);
  auto colour = [&] {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", channel(random), channel(random), channel(random));
    return std::string(text);
  };
  std::string list = R"([["begin",")" + colour() + R"("])";
  const int count = commands(random);
  for (int i = 0; i < count; ++i) {
    const int x = column(random) * 8;
    const int y = row(random) * 16;
    switch (kind(random)) {
      case 0:
        list += R"(,["rect",[)" + std::to_string(x) + "," + std::to_string(y) + R"(,64,32],")" + colour() +
                R"(",0,"",0])";
        break;
      case 1:
        list += R"(,["styled_rect",[)" + std::to_string(x) + "," + std::to_string(y) + R"(,96,48],{"border":")" +
                colour() + R"(","border_width":1,"radius":4}])";
        break;
      default: {
        std::string text;
        const int pieces = kind(random) % 4 + 1;
        for (int k = 0; k < pieces; ++k) text += kSamples[sample(random)];
        list += R"(,["text",)" + json_string(text) + "," + std::to_string(x) + "," + std::to_string(y) + R"(,")" + colour() +
                R"(",16,true])";
      }
    }
  }
  return list + "]";
}

TEST(EncoderVtermTest, RandomUpdatesOverAllScriptsAndEmojiClassesKeepTheTerminalInStep) {
  for (ColourMode mode : {ColourMode::truecolor, ColourMode::none}) {
    SCOPED_TRACE(static_cast<int>(mode));
    std::mt19937 random(27);
    Replay replay(40, 8, mode);
    for (int update = 0; update < 500; ++update) {
      const std::string list = random_update(random, 40, 8);
      const std::string difference = replay.update(list);
      ASSERT_EQ(difference, "") << "update " << update << ": " << list;
    }
  }
}

}  // namespace
}  // namespace lumora::terminal
