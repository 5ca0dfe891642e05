#include "terminal/drawing/rasterizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/backend.h"
#include "json/json.h"
#include "scene/limits.h"
#include "terminal/drawing/primitives.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

using test::grid;
using test::parse;
using test::rows_text;

struct Composed {
  CellFrameRef frame;
  std::string error;
};

Composed compose(const std::string& list, RasterContext context = grid(8, 4)) {
  host::HostErrorBuffer error;
  Composed result;
  result.frame = compose_frame(context, parse(list).get(), kOpaqueBlack, error.text());
  result.error = error.c_str();
  return result;
}

bool valid(const std::string& command) {
  CellFrameRef frame = make_cell_frame(8, 4);
  return rasterize_command(grid(8, 4), *frame, parse(command).get());
}

std::string polyline(int points, double far) {
  std::string text = R"(["lines",[)";
  for (int i = 0; i < points; ++i) text += (i ? ",[" : "[") + std::to_string(i % 2 ? far : -far) + ",8]";
  return text + R"(],"#fff",1])";
}

TEST(Validation, EveryKindByTheTerminalRules) {
  const std::pair<std::string, bool> cases[] = {
      {R"(["begin",null])", false},
      {R"(["clip",[0,0,-8,16]])", true},
      {R"(["clip",[1e308,0,1e308,16]])", false},  // x + w overflows
      {R"(["rect",[2000000,0,-8,16],"#fff",-3,"#fff",-1])", true},
      {R"(["rect",[0,0,8,16],"",0,"nope",0])", false},
      {R"(["rect",[0,0,8,16],"",0,""])", false},
      {R"(["rect",[0,0,8,16],null,0,"",0])", false},  // null is no colour to the window only
      {R"(["text","hi",0,0,"#fff",12,1])", false},
      {R"(["lines",[[0,0,1]],"#fff",1])", false},
      {R"(["segments",[[0,0],[8,8],[16,0]],"#fff",1])", false},
      {R"(["gradient_rect",[0,0,8,16],"#000","","horizontal",0,-2])", true},
      {R"(["gradient_rect",[0,0,8,16],"#000","#fff","diagonal",0,0])", false},
      {R"(["styled_rect",[0,0,8,16],{},[0,0,4,4]])", true},
      {R"(["styled_rect",[0,0,8,16],{},[0,0,-4,4]])", false},
      {R"(["styled_rect",[0,0,8,16],{"radius":null,"bevel":"Raised","padding":-5,"fill":""}])", true},
      {R"(["styled_rect",[0,0,8,16],{"fill":"#fff","fill":"#000"}])", false},
      {R"(["styled_rect",[0,0,8,16],{"colour":"#fff"}])", false},
      {R"(["marker",[0,0,8,16],{},"circle",false,null])", true},
      {R"(["marker",[0,0,8,16],{},"triangle",false])", false},
      {R"(["marker",[0,0,8,16],{},"square",true,null,null])", false},
      {R"(["icon","check",0,0,0,"#fff"])", true},
      {R"(["icon","check",0,0,-1,"#fff"])", false},
      {R"(["image","a.png",[0,0,8,16],"#fff","fill"])", false},
      {R"(["image_nine","a.png",[0,0,8,16],[1,1,1],"#fff"])", false},
      {R"(["sprite","a.png",[0,0,8,16],8,8,1,1,true,"#fff"])", false},
      {R"(["animated_rect",[0,0,8,16],"",0,"",0,{"property":"x","from":0,"to":1,"duration":1}])", false},
      {R"(["RECT",[0,0,8,16],"",0,"",0])", false},
      {polyline(100000, 8), true},
      {polyline(100001, 8), false},
      // The longest string an item may be.
      {R"(["text",")" + std::string(scene::kMaxStringBytes, 'a') + R"(",0,0,"#fff",12,true])", true},
  };
  for (const auto& [command, ok] : cases) EXPECT_EQ(valid(command), ok) << command.substr(0, 80);
}

TEST(ComposeFrame, LinesBoxesAndClipsLandOnTheirCells) {
  const std::pair<std::string, const char*> cases[] = {
      {R"([["rect",[0,0,100,6],"#00ff00",0,"#ff0000",2]])", "────────"},  // a thin filled rect is a line
      {R"([["rect",[8,16,32,48],"#0000ff",4,"#ffffff",1]])", "/ ╭──╮/ │  │/ ╰──╯"},
      {R"([["line",0,16,56,16,"#fff",1],["line",24,0,24,48,"#fff",1]])", "   │/───┼────/   │/   │"},
      {R"([["rect",[8,16,32,48],"",4,"#fff",1],["line",0,16,56,16,"#fff",1]])", "/─┬──┬───/ │  │/ ╰──╯"},
      {R"([["line",0,0,24,48,"#fff",1],["line",56,0,32,48,"#fff",1]])", "╲      ╱/ ╲    ╱/  ╲  ╱/   ╲╱"},
      {R"([["line",0,0,56,0,"#fff",0],["lines",[[0,0],[56,0]],"#fff",-1]])", ""},
      {R"([["segments",[[0,0],[16,0],[40,32],[56,32]],"#fff",1]])", "───//     ───"},
      {R"([["clip",[1000,1000,8,16]],["rect",[0,0,64,64],"#fff",0,"",0],["clip",[16,0,16,16]],)"
       R"(["line",0,0,56,0,"#fff",1],["clip",null],["line",0,16,56,16,"#fff",1]])",
       "  ──/────────"},
      {"[" + polyline(100000, 1e6) + "]", "────────"},
  };
  for (const auto& [list, expected] : cases) {
    Composed composed = compose(list);
    ASSERT_TRUE(composed.frame) << composed.error;
    EXPECT_EQ(test::drawn(*composed.frame), expected) << list.substr(0, 120);
  }
}

TEST(ComposeFrame, FillsOutlinesAndCaretsCarryTheirColours) {
  Composed c = compose(R"([["begin","#ff000080"]])");
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(c.frame->at(3, 2).background(), (scene::rgba(128, 0, 0, 255)));  // premultiplied over black
  EXPECT_EQ(c.frame->background, (scene::rgba(128, 0, 0, 255)));

  c = compose(R"([["rect",[0,0,100,6],"#00ff00",0,"#ff0000",2]])");
  EXPECT_EQ(c.frame->at(0, 0).foreground(), (scene::rgba(0, 255, 0, 255)));  // a thin fill is a line in its colour
  EXPECT_EQ(c.frame->at(0, 0).background(), kOpaqueBlack);

  c = compose(R"([["rect",[8,16,32,48],"#0000ff",4,"#ffffff",1]])", grid(6, 5));
  EXPECT_EQ(c.frame->at(1, 1).background(), (scene::rgba(0, 0, 255, 255)));
  EXPECT_EQ(c.frame->at(1, 1).foreground(), (scene::rgba(255, 255, 255, 255)));

  c = compose(R"([["caret",8,16,16,"#ff0000"],["caret",16,16,0,"#ff0000"]])");
  EXPECT_EQ(c.frame->at(1, 1).underline, 1);
  EXPECT_EQ(c.frame->at(1, 1).foreground(), (scene::rgba(255, 0, 0, 255)));
  EXPECT_EQ(c.frame->at(2, 1).underline, 0);  // zero height

  // Far-away ends lose the grid to rounding; they must clamp, not crash.
  c = compose(R"([["line",-1e300,16,1e300,16,"#fff",1],["line",1e300,1e300,2e300,2e300,"#fff",1],)"
              R"(["rect",[-1e300,-1e300,1e300,1e300],"#00f",1e300,"#fff",1e300],)"
              R"(["caret",1e300,-1e300,1e300,"#fff"],["clip",[-1e300,-1e300,1e300,1e300]]])");
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_STREQ(c.frame->at(0, 1).glyph, "─");
}

TEST(ComposeFrame, TranslucentFillBlendsEachWideCharacterOnce) {
  CellFrameRef frame = make_cell_frame(4, 1);
  put_glyph(*frame, 1, 0, "界", 2, scene::rgba(255, 255, 255, 255), CellKind::text);
  ASSERT_TRUE(rasterize_command(grid(4, 1), *frame, parse(R"(["rect",[0,0,32,16],"#ff000080",0,"",0])").get()));
  for (int column = 0; column < 3; ++column) EXPECT_EQ(frame->at(column, 0).background(), (scene::rgba(128, 0, 0, 255)));
}

TEST(ComposeFrame, FailingCommandReportsIndexAndKindCutAtACharacterBoundary) {
  const std::pair<std::string, std::string> cases[] = {
      {R"([["begin","#000"],["rect",[0,0,8,16],"",0,"bax",0]])",
       "Invalid terminal command 1 (rect), geometry, color, or allocation budget"},
      {R"([[7,1]])", "Invalid terminal command 0 (?), geometry, color, or allocation budget"},
      {R"([["begin","#000"],5])", "Invalid terminal command 1 (?), geometry, color, or allocation budget"},
  };
  for (const auto& [list, message] : cases) {
    Composed c = compose(list);
    EXPECT_FALSE(c.frame);
    EXPECT_EQ(c.error, message);
  }
  std::string kind;
  for (int i = 0; i < 150; ++i) kind += "é";
  Composed c = compose(R"([[")" + kind + R"("]])");
  EXPECT_FALSE(c.frame);
  EXPECT_EQ(c.error.rfind("Invalid terminal command 0 (é", 0), 0u);
  EXPECT_EQ(c.error.size(), 198u);  // 28 ASCII bytes + 85 two-byte characters, within 199
}

TEST(ComposeFrame, EachSegmentStartsWithoutClip) {
  json::JsonPtr clip = parse(R"([["clip",[0,0,8,16]]])");
  json::JsonPtr line = parse(R"([["line",0,0,24,0,"#fff",1]])");
  const cJSON* lists[] = {clip.get(), line.get()};
  host::HostErrorBuffer error;
  CellFrameRef frame =
      compose_frame(grid(4, 1), std::span<const cJSON* const>(lists), scene::rgba(0, 0, 255, 255), error.text());
  ASSERT_TRUE(frame);
  EXPECT_EQ(rows_text(*frame), std::vector<std::string>{"────"});
  EXPECT_EQ(frame->at(3, 0).background(), (scene::rgba(0, 0, 255, 255)));
}

TEST(ComposeFrame, TextAndIconsAreDrawnAndAFullGlyphPoolFailsTheCommand) {
  const RasterContext context = grid(3, 1);
  Composed c = compose(R"([["text","A",0,0,"#fff",12,false],["icon","check",8,0,16,"#fff"]])", context);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(rows_text(*c.frame), std::vector<std::string>{"A✓ "});

  // A glyph the pool refuses fails the command that drew it.
  CellFrameRef frame = make_cell_frame(3, 1);
  const std::string nearly_full(GlyphPool::kMaxBytes - GlyphPool::kEntryOverhead - 8, 'g');
  put_glyph(*frame, 2, 0, nearly_full, 1, scene::rgba(255, 255, 255, 255), CellKind::text);
  ASSERT_FALSE(frame->pool_exhausted);
  json::JsonPtr list = parse(R"([["text","A",0,0,"#fff",12,false]])");
  host::HostErrorBuffer error;
  EXPECT_FALSE(draw_command_list(context, *frame, list.get(), false, error.text()));
  EXPECT_STREQ(error.c_str(), "Invalid terminal command 0 (text), geometry, color, or allocation budget");
}

}  // namespace
}  // namespace lumora::terminal
