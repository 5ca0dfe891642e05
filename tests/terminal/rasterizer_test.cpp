#include "terminal/rasterizer.h"

#include <gtest/gtest.h>

#include <string>

#include "scene/json.h"
#include "terminal/primitives.h"

namespace lumora::terminal {
namespace {

scene::JsonPtr parse(const std::string& text) {
  scene::JsonPtr value(cJSON_Parse(text.c_str()));
  EXPECT_TRUE(value) << text;
  return value;
}

std::string row_text(const CellFrame& frame, int row) {
  std::string text;
  for (int c = 0; c < frame.columns; ++c) text += frame.at(c, row).glyph;
  return text;
}

RasterContext grid(int columns, int rows) {
  RasterContext context;
  context.columns = columns;
  context.rows = rows;
  return context;
}

struct Composed {
  CellFrameRef frame;
  std::string error;
};

Composed compose(const std::string& list, int columns = 8, int rows = 4, const RasterContext* base = nullptr) {
  RasterContext context = base != nullptr ? *base : grid(columns, rows);
  context.columns = columns;
  context.rows = rows;
  scene::HostErrorBuffer error;
  scene::JsonPtr value = parse(list);
  Composed result;
  result.frame = compose_frame(context, value.get(), kOpaqueBlack, error.text());
  result.error = error.c_str();
  return result;
}

bool valid(const std::string& command) {
  CellFrameRef frame = make_cell_frame(8, 4);
  scene::JsonPtr value = parse(command);
  return rasterize_command(grid(8, 4), *frame, value.get());
}

TEST(Validation, EveryKindByTheTerminalRules) {
  struct Case {
    const char* command;
    bool ok;
  };
  const Case cases[] = {
      {R"(["begin","#000"])", true},
      {R"(["begin",""])", true},
      {R"(["begin",null])", false},
      {R"(["begin"])", false},
      {R"(["clip",null])", true},
      {R"(["clip",[0,0,8,16]])", true},
      {R"(["clip",[0,0,-8,16]])", true},
      {R"(["clip"])", false},
      {R"(["clip",[0,0,8]])", false},
      {R"(["clip",[0,0,8,16,1]])", false},
      {R"(["clip",[0,0,8,"16"]])", false},
      {R"(["clip",[1e308,0,1e308,16]])", false},  // x + w overflows
      {R"(["rect",[0,0,8,16],"",0,"",0])", true},
      {R"(["rect",[0,0,-1,16],"#fff",0,"",0])", true},
      {R"(["rect",[2000000,0,8,16],"#fff",-3,"#fff",-1])", true},
      {R"(["rect",[0,0,8,16],null,0,"",0])", false},
      {R"(["rect",[0,0,8,16],"",0,"nope",0])", false},
      {R"(["rect",[0,0,8,16],"",0,""])", false},
      {R"(["text","hi",0,0,"#fff",0,false])", true},
      {R"(["text","hi",0,0,"#fff",12,1])", false},
      {R"(["text",5,0,0,"#fff",12,true])", false},
      {R"(["line",0,0,8,8,"#fff",1])", true},
      {R"(["line",0,0,8,8,"#fff"])", false},
      {R"(["line",0,0,8,"8","#fff",1])", false},
      {R"(["lines",[[0,0],[8,8],[16,0]],"#fff",1])", true},
      {R"(["lines",[],"#fff",1])", true},
      {R"(["lines",[[0,0,1]],"#fff",1])", false},
      {R"(["lines",[[0]],"#fff",1])", false},
      {R"(["lines",[0,0],"#fff",1])", false},
      {R"(["segments",[[0,0],[8,8],[16,0]],"#fff",1])", false},
      {R"(["segments",[[0,0],[8,8]],"#fff",1])", true},
      {R"(["gradient_rect",[0,0,8,16],"#000","#fff","vertical",0,0])", true},
      {R"(["gradient_rect",[0,0,8,16],"#000","#fff","diagonal",0,0])", false},
      {R"(["gradient_rect",[0,0,8,16],"#000","","horizontal",0,-2])", true},
      {R"(["styled_rect",[0,0,8,16],{}])", true},
      {R"(["styled_rect",[0,0,8,16],{},null])", true},
      {R"(["styled_rect",[0,0,8,16],{},[0,0,4,4]])", true},
      {R"(["styled_rect",[0,0,8,16],{},[0,0,-4,4]])", false},
      {R"(["styled_rect",[0,0,8,16],{},null,null])", false},
      {R"(["styled_rect",[0,0,8,16],{"radius":null,"bevel":"Raised","padding":-5}])", true},
      {R"(["styled_rect",[0,0,8,16],{"fill":"#fff","fill":"#000"}])", false},
      {R"(["styled_rect",[0,0,8,16],{"colour":"#fff"}])", false},
      {R"(["styled_rect",[0,0,8,16],{"fill":"zz"}])", false},
      {R"(["styled_rect",[0,0,8,16],{"fill":""}])", true},
      {R"(["styled_rect",[0,0,8,16],{"radius":[1]}])", false},
      {R"(["styled_rect",[0,0,8,16],[]])", false},
      {R"(["marker",[0,0,8,16],{},"square",true])", true},
      {R"(["marker",[0,0,8,16],{},"circle",false,null])", true},
      {R"(["marker",[0,0,8,16],{},"triangle",false])", false},
      {R"(["marker",[0,0,8,16],{},"square",0])", false},
      {R"(["focus_ring",[0,0,8,16],"#fff",2])", true},
      {R"(["focus_ring",[0,0,8,16],null,2])", false},
      {R"(["caret",0,0,16,"#fff"])", true},
      {R"(["caret",0,0,16])", false},
      {R"(["icon","layers",0,0,16,"#fff"])", true},
      {R"(["icon","rocket",0,0,16,"#fff"])", false},
      {R"(["icon","check",0,0,-1,"#fff"])", false},
      {R"(["image","a.png",[0,0,8,16],"#fff","cover"])", true},
      {R"(["image","a.png",[0,0,8,16],"#fff","fill"])", false},
      {R"(["image_nine","a.png",[0,0,8,16],[1,1,1,1],"#fff"])", true},
      {R"(["image_nine","a.png",[0,0,8,16],[1,1,1],"#fff"])", false},
      {R"(["sprite","a.png",[0,0,8,16],8,8,1,1,true,"#fff"])", false},
      {R"(["animated_rect",[0,0,8,16],"",0,"",0,{}])", false},
      {R"(["RECT",[0,0,8,16],"",0,"",0])", false},
      {R"([5])", false},
      {R"([])", false},
      {R"({"kind":"rect"})", false},
  };
  for (const Case& c : cases) EXPECT_EQ(valid(c.command), c.ok) << c.command;
}

TEST(Validation, PointLimitIsOneHundredThousand) {
  auto polyline = [](int points) {
    std::string text = R"(["lines",[)";
    for (int i = 0; i < points; ++i) text += (i ? ",[" : "[") + std::to_string(i % 500) + ",8]";
    return text + R"(],"#fff",1])";
  };
  EXPECT_TRUE(valid(polyline(100000)));
  EXPECT_FALSE(valid(polyline(100001)));
}

TEST(Validation, SixteenMebibyteTextIsValidatedAndIgnoredWithoutDrawer) {
  std::string huge(16 * 1024 * 1024, 'a');
  EXPECT_TRUE(valid(R"(["text",")" + huge + R"(",0,0,"#fff",12,true])"));
  EXPECT_FALSE(valid(R"(["rect",[0,0,8,16],")" + huge + R"(",0,"",0])"));
}

TEST(ComposeFrame, BeginPremultipliesTranslucentClear) {
  Composed c = compose(R"([["begin","#ff000080"]])");
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(c.frame->at(3, 2).background(), (Rgba{128, 0, 0, 255}));
  EXPECT_EQ(c.frame->background, (Rgba{128, 0, 0, 255}));
}

TEST(ComposeFrame, FilledThinRectDrawsALineInsteadOfAFill) {
  Composed c = compose(R"([["rect",[0,0,100,6],"#00ff00",0,"#ff0000",2]])", 16, 2);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 0), std::string() + "─────────────" + "   ");
  EXPECT_EQ(c.frame->at(0, 0).foreground(), (Rgba{0, 255, 0, 255}));
  EXPECT_EQ(c.frame->at(0, 0).background(), kOpaqueBlack);
  EXPECT_EQ(row_text(*c.frame, 1), std::string(16, ' '));
}

TEST(ComposeFrame, NarrowTallRectDrawsAVerticalLine) {
  Composed c = compose(R"([["rect",[8,0,2,48],"#00ff00",0,"",0]])", 4, 4);
  ASSERT_TRUE(c.frame) << c.error;
  for (int row = 0; row < 3; ++row) EXPECT_STREQ(c.frame->at(1, row).glyph, "│") << row;
  EXPECT_STREQ(c.frame->at(1, 3).glyph, " ");
}

TEST(ComposeFrame, RectFillsAndOutlines) {
  Composed c = compose(R"([["rect",[8,16,32,48],"#0000ff",4,"#ffffff",1]])", 6, 5);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 0), "      ");
  EXPECT_EQ(row_text(*c.frame, 1), " ╭──╮ ");
  EXPECT_EQ(row_text(*c.frame, 2), " │  │ ");
  EXPECT_EQ(row_text(*c.frame, 3), " ╰──╯ ");
  EXPECT_EQ(c.frame->at(2, 2).background(), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(c.frame->at(1, 1).background(), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(c.frame->at(1, 1).foreground(), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(c.frame->at(0, 1).background(), kOpaqueBlack);
}

TEST(ComposeFrame, TranslucentFillBlendsEachWideCharacterOnce) {
  RasterContext context = grid(4, 1);
  CellFrameRef frame = make_cell_frame(4, 1);
  put_glyph(*frame, 1, 0, "界", 2, Rgba{255, 255, 255, 255}, CellKind::text);
  scene::JsonPtr command = parse(R"(["rect",[0,0,32,16],"#ff000080",0,"",0])");
  ASSERT_TRUE(rasterize_command(context, *frame, command.get()));
  EXPECT_EQ(frame->at(1, 0).background(), (Rgba{128, 0, 0, 255}));
  EXPECT_EQ(frame->at(2, 0).background(), (Rgba{128, 0, 0, 255}));
  EXPECT_EQ(frame->at(0, 0).background(), (Rgba{128, 0, 0, 255}));
}

TEST(ComposeFrame, CrossingLinesJoin) {
  Composed c = compose(R"([["line",0,16,56,16,"#fff",1],["line",24,0,24,48,"#fff",1]])", 8, 4);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 0), "   │    ");
  EXPECT_EQ(row_text(*c.frame, 1), "───┼────");
  EXPECT_EQ(row_text(*c.frame, 3), "   │    ");
}

TEST(ComposeFrame, LineAcrossRoundedCornerMakesATee) {
  Composed c = compose(R"([["rect",[8,16,32,48],"",4,"#fff",1],["line",0,16,56,16,"#fff",1]])", 8, 5);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 1), "─┬──┬───");
}

TEST(ComposeFrame, DiagonalLinesUseSlashes) {
  Composed c = compose(R"([["line",0,0,24,48,"#fff",1],["line",56,0,32,48,"#fff",1]])", 8, 4);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 0), "╲      ╱");
  EXPECT_EQ(row_text(*c.frame, 3), "   ╲╱   ");
}

TEST(ComposeFrame, ZeroWidthLineDrawsNothing) {
  Composed c = compose(R"([["line",0,0,56,0,"#fff",0],["lines",[[0,0],[56,0]],"#fff",-1]])");
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 0), std::string(8, ' '));
}

TEST(ComposeFrame, HugeCoordinatesClampAndDraw) {
  Composed c = compose(R"([["line",-1e300,16,1e300,16,"#fff",1],["line",1e300,1e300,2e300,2e300,"#fff",1],)"
                       R"(["rect",[-1e300,-1e300,1e300,1e300],"#00f",1e300,"#fff",1e300],)"
                       R"(["caret",1e300,-1e300,1e300,"#fff"],["clip",[-1e300,-1e300,1e300,1e300]]])");
  // Far-away ends lose the grid to rounding; they must clamp, not crash.
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_STREQ(c.frame->at(0, 1).glyph, "─");
  c = compose(R"([["line",-1e6,16,1e6,16,"#fff",1]])");
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 1), "────────");
}

TEST(ComposeFrame, PolylineOfOneHundredThousandPoints) {
  std::string text = R"([["lines",[)";
  for (int i = 0; i < 100000; ++i) text += (i ? ",[" : "[") + std::to_string(i % 2 ? 1e6 : -1e6) + ",8]";
  text += R"(],"#fff",1]])";
  Composed c = compose(text, 8, 2);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 0), "────────");
}

TEST(ComposeFrame, SegmentsJoinPairs) {
  Composed c = compose(R"([["segments",[[0,0],[16,0],[40,32],[56,32]],"#fff",1]])", 8, 3);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 0), "───     ");
  EXPECT_EQ(row_text(*c.frame, 1), "        ");
  EXPECT_EQ(row_text(*c.frame, 2), "     ───");
}

TEST(ComposeFrame, ClipReplacesAndOutsideClipDrawsNothing) {
  Composed c = compose(R"([["clip",[1000,1000,8,16]],["rect",[0,0,64,64],"#fff",0,"",0],)"
                       R"(["clip",[16,0,16,16]],["line",0,0,56,0,"#fff",1],)"
                       R"(["clip",null],["line",0,16,56,16,"#fff",1]])");
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(row_text(*c.frame, 0), "  ──    ");
  EXPECT_EQ(row_text(*c.frame, 1), "────────");
  EXPECT_EQ(c.frame->at(0, 2).background(), kOpaqueBlack);
}

TEST(ComposeFrame, CaretUnderlinesAndZeroHeightDoesNothing) {
  Composed c = compose(R"([["caret",8,16,16,"#ff0000"],["caret",16,16,0,"#ff0000"]])");
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(c.frame->at(1, 1).underline, 1);
  EXPECT_EQ(c.frame->at(1, 1).foreground(), (Rgba{255, 0, 0, 255}));
  EXPECT_EQ(c.frame->at(2, 1).underline, 0);
}

TEST(ComposeFrame, FailingCommandReportsIndexAndKind) {
  Composed c = compose(R"([["begin","#000"],["rect",[0,0,8,16],"",0,"bax",0]])");
  EXPECT_FALSE(c.frame);
  EXPECT_EQ(c.error, "Invalid terminal command 1 (rect), geometry, color, or allocation budget");
  c = compose(R"([[7,1]])");
  EXPECT_EQ(c.error, "Invalid terminal command 0 (?), geometry, color, or allocation budget");
  c = compose(R"([["begin","#000"],5])");
  EXPECT_EQ(c.error, "Invalid terminal command 1 (?), geometry, color, or allocation budget");
}

TEST(ComposeFrame, MessageIsCutAtTwoHundredBytesOnACharacterBoundary) {
  std::string kind;
  for (int i = 0; i < 150; ++i) kind += "é";
  Composed c = compose(R"([[")" + kind + R"("]])");
  EXPECT_FALSE(c.frame);
  EXPECT_LE(c.error.size(), 199u);
  EXPECT_EQ(c.error.rfind("Invalid terminal command 0 (é", 0), 0u);
  EXPECT_EQ(c.error.size(), 199u - 1);  // 28 ASCII bytes + 85 two-byte characters
}

TEST(ComposeFrame, BeginInsideASegmentFails) {
  scene::JsonPtr first = parse(R"([["line",0,0,8,0,"#fff",1]])");
  scene::JsonPtr second = parse(R"([["begin","#fff"]])");
  const cJSON* lists[] = {first.get(), second.get()};
  scene::HostErrorBuffer error;
  CellFrameRef frame = compose_frame(grid(4, 1), std::span<const cJSON* const>(lists), kOpaqueBlack, error.text());
  EXPECT_FALSE(frame);
  EXPECT_STREQ(error.c_str(), "Invalid terminal command 0 (begin), geometry, color, or allocation budget");
}

TEST(ComposeFrame, EachSegmentStartsWithoutClip) {
  scene::JsonPtr first = parse(R"([["clip",[0,0,8,16]]])");
  scene::JsonPtr second = parse(R"([["line",0,0,24,0,"#fff",1]])");
  const cJSON* lists[] = {first.get(), second.get()};
  scene::HostErrorBuffer error;
  CellFrameRef frame =
      compose_frame(grid(4, 1), std::span<const cJSON* const>(lists), Rgba{0, 0, 255, 255}, error.text());
  ASSERT_TRUE(frame);
  EXPECT_EQ(row_text(*frame, 0), "────");
  EXPECT_EQ(frame->at(3, 0).background(), (Rgba{0, 0, 255, 255}));
}

TEST(ComposeFrame, MonochromeFlagFollowsTheContext) {
  RasterContext context = grid(2, 1);
  context.monochrome = true;
  Composed c = compose("[]", 2, 1, &context);
  ASSERT_TRUE(c.frame);
  EXPECT_TRUE(c.frame->monochrome);
}

TEST(ComposeFrame, DeferredKindsReachTheirDrawers) {
  static int calls = 0;
  KindDrawers drawers;
  drawers.text = [](const RasterContext&, CellFrame& frame, const cJSON* command) {
    ++calls;
    put_glyph(frame, 0, 0, cJSON_GetArrayItem(command, 1)->valuestring, 1, Rgba{255, 255, 255, 255},
              CellKind::text);
  };
  RasterContext context = grid(2, 1);
  context.drawers = &drawers;
  Composed c = compose(R"([["text","A",0,0,"#fff",12,false],["icon","check",0,0,16,"#fff"]])", 2, 1, &context);
  ASSERT_TRUE(c.frame) << c.error;
  EXPECT_EQ(calls, 1);
  EXPECT_STREQ(c.frame->at(0, 0).glyph, "A");
}

TEST(ComposeFrame, GlyphPoolExhaustionFailsTheCommand) {
  KindDrawers drawers;
  drawers.text = [](const RasterContext&, CellFrame& frame, const cJSON* command) {
    put_glyph(frame, 0, 0, cJSON_GetArrayItem(command, 1)->valuestring, 1, Rgba{255, 255, 255, 255},
              CellKind::text);
  };
  RasterContext context = grid(2, 1);
  context.drawers = &drawers;
  std::string big(9 * 1024 * 1024, 'g');
  std::string other(9 * 1024 * 1024, 'h');
  Composed c = compose(R"([["text",")" + big + R"(",0,0,"#fff",12,false],["text",")" + other +
                           R"(",0,0,"#fff",12,false]])",
                       2, 1, &context);
  EXPECT_FALSE(c.frame);
  EXPECT_EQ(c.error, "Invalid terminal command 1 (text), geometry, color, or allocation budget");
}

TEST(IconGlyph, KnowsAllNames) {
  EXPECT_STREQ(icon_glyph("layers"), "▱▱");
  EXPECT_STREQ(icon_glyph("code"), "‹›");
  EXPECT_STREQ(icon_glyph("mail"), "✉");
  EXPECT_EQ(icon_glyph("Mail"), nullptr);
}

}  // namespace
}  // namespace lumora::terminal
