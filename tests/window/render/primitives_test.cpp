// The geometry of every primitive at scales 1, 2 and 3, read back as exact
// pixels from the software renderer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/backend.h"
#include "support/png_writer.h"
#include "window/window_test_helpers.h"

namespace lumora::window {
namespace {

using namespace test_helpers;

// A rectangle of pixels that must all have one colour.
struct Area {
  int x, y, w, h;
  Rgba colour;
};

struct GeometryCase {
  const char* name;
  double scale;
  std::string commands;  // drawn over ["begin","#000000"]
  std::vector<Area> areas;
};

class PrimitivesTest : public WindowTest {};

TEST_F(PrimitivesTest, GeometryAtEachScale) {
  const GeometryCase cases[] = {
      {"abutting rects share an edge at scale 3", 3,
       R"(["rect",[0,0,0.5,1],"#ff0000",0,"",0],["rect",[0.5,0,0.5,1],"#0000ff",0,"",0])",
       {{0, 0, 2, 3, kRed}, {2, 0, 1, 3, kBlue}, {3, 0, 1, 3, kBlack}}},
      {"a border of 6 on 10 x 10 fills it", 1, R"(["rect",[2,2,10,10],"#ff0000",0,"#00ff00",6])",
       {{2, 2, 10, 10, kGreen}, {1, 1, 1, 12, kBlack}, {12, 2, 1, 10, kBlack}}},
      {"a border of 2 leaves the fill inside", 2, R"(["rect",[1,1,10,10],"#ff0000",0,"#00ff00",2])",
       {{2, 2, 20, 4, kGreen}, {2, 18, 20, 4, kGreen}, {2, 6, 4, 12, kGreen}, {18, 6, 4, 12, kGreen},
        {6, 6, 12, 12, kRed}}},
      {"a thin line at scale 2 is one pixel", 2, R"(["line",2,5,12,5,"#ffffff",0.4])",
       {{4, 10, 21, 1, kWhite}, {4, 9, 21, 1, kBlack}, {4, 11, 21, 1, kBlack}}},
      {"a width-1 line at scale 2 is a quad 2 pixels wide", 2, R"(["line",2,5,12,5,"#ffffff",1])",
       {{4, 9, 20, 2, kWhite}, {4, 8, 20, 1, kBlack}, {4, 11, 20, 1, kBlack}}},
      {"a zero-length thick line is a square", 1, R"(["line",5,5,5,5,"#ffffff",3])",
       {{4, 4, 3, 3, kWhite}, {3, 3, 5, 1, kBlack}, {3, 7, 5, 1, kBlack}, {3, 4, 1, 3, kBlack}, {7, 4, 1, 3, kBlack}}},
      {"a caret at scale 2 is 2 pixels wide", 2, R"(["caret",3,1,4,"#ffffff"])",
       {{5, 2, 2, 8, kWhite}, {4, 2, 1, 8, kBlack}, {7, 2, 1, 8, kBlack}}},
      {"a 2-pixel vertical gradient is its two end colours", 1,
       R"(["gradient_rect",[1,1,4,2],"#ff0000","#0000ff","vertical",0,0])",
       {{1, 1, 4, 1, kRed}, {1, 2, 4, 1, kBlue}, {1, 3, 4, 1, kBlack}}},
      {"a horizontal gradient runs left to right", 1,
       R"(["gradient_rect",[0,0,3,1],"#ff0000","#0000ff","horizontal",0,0])",
       {{0, 0, 1, 1, kRed}, {1, 0, 1, 1, {128, 0, 128, 255}}, {2, 0, 1, 1, kBlue}}},
      {"a clip rounds outwards and null removes it", 2,
       R"(["clip",[1.2,1.2,2,2]],["rect",[0,0,10,10],"#ff0000",0,"",0],["clip",null],["rect",[8,8,1,1],"#00ff00",0,"",0])",
       {{2, 2, 5, 5, kRed}, {1, 1, 1, 6, kBlack}, {7, 2, 1, 5, kBlack}, {16, 16, 2, 2, kGreen}}},
      {"a zero-size clip lets nothing through", 1, R"(["clip",[3,3,0,0]],["rect",[0,0,10,10],"#ff0000",0,"",0])",
       {{0, 0, 10, 10, kBlack}}},
      {"a focus ring is a 2-wide border inset by 1", 1, R"(["focus_ring",[2,2,10,10],"#ffffff",0])",
       {{3, 3, 8, 2, kWhite}, {3, 9, 8, 2, kWhite}, {5, 5, 4, 4, kBlack}, {2, 2, 10, 1, kBlack}}},
      {"segments join pairs, lines join neighbours", 1,
       R"(["segments",[[0,1],[4,1],[0,3],[4,3]],"#ffffff",1],["lines",[[0,6],[4,6],[4,9]],"#ff0000",1])",
       {{0, 1, 5, 1, kWhite}, {0, 3, 5, 1, kWhite}, {0, 2, 5, 1, kBlack}, {0, 6, 4, 1, kRed}, {4, 7, 1, 3, kRed}}},
      {"translucent fills blend over what is there", 1,
       R"(["rect",[0,0,4,4],"#0000ff",0,"",0],["rect",[0,0,4,4],"#ff000080",0,"",0])",
       {{0, 0, 4, 4, {128, 0, 127, 255}}}},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.name);
    open("\"width\":40,\"height\":30,\"scale\":" + std::to_string(c.scale));
    commit(std::string(R"([["begin","#000000"],)") + c.commands + "]");
    const CapturedPixels pixels = capture();
    ASSERT_EQ(pixels.width, static_cast<int>(40 * c.scale));
    for (const Area& area : c.areas) {
      EXPECT_EQ(pixels.count(area.x, area.y, area.w, area.h, area.colour), area.w * area.h)
          << "area " << area.x << "," << area.y << " " << area.w << "x" << area.h << " expected "
          << lumora::test::rgba_text(area.colour) << "; row " << area.y << ": "
          << row_text(pixels, area.y, area.x, area.x + area.w);
    }
    backend.reset();
  }
}

TEST_F(PrimitivesTest, RoundedShapesUseWholeOrSlicedMasks) {
  open(R"("width":400,"height":400)");
  commit(R"([["rect",[10,10,300,300],"#ffffff",10,"",0],["rect",[0,320,60,60],"#ff0000",30,"",0],
             ["rect",[100,320,50,30],"#00ff00",5,"#0000ff",2]])");
  const CapturedPixels pixels = capture();
  // 300 × 300 with radius 10: a 23 × 23 mask drawn as nine slices.
  EXPECT_TRUE(has_texture("mask:23:23:10:0:-1"));
  // 60 × 60 with radius 30 is a circle, drawn with its whole mask.
  EXPECT_TRUE(has_texture("mask:60:60:30:0:-1"));
  // Other shapes draw their corners from a mask of 2 × 6 + 1 pixels (radius
  // 5 plus one) and fill the rest; the ring has its own.
  EXPECT_TRUE(has_texture("mask:13:13:5:0:-1"));
  EXPECT_TRUE(has_texture("mask:13:13:5:2:-1"));
  EXPECT_EQ(pixels.at(160, 160), kWhite);
  EXPECT_EQ(pixels.at(10, 10), kBlack);     // the rounded corner leaves the corner pixel out
  EXPECT_EQ(pixels.at(309, 160), kWhite);   // edge middle, right side
  EXPECT_EQ(pixels.at(30, 350), kRed);      // circle centre
  EXPECT_EQ(pixels.at(1, 321), kBlack);     // outside the circle
  EXPECT_EQ(pixels.at(125, 320), kBlue);    // ring at the top edge
  EXPECT_EQ(pixels.at(125, 335), kGreen);   // fill inside the ring
  const std::uint64_t masks = backend->masks_built();
  // Drawn again: every mask comes from the cache.
  backend->invalidate_scene_cache();
  capture();
  EXPECT_EQ(backend->masks_built(), masks);
}

// The stretched middle of a sliced mask must cover every pixel of a clip
// that cuts it, however small the clip is against the stretch.
TEST_F(PrimitivesTest, SlicedShapesFillSmallClipsInsideThem) {
  open(R"("width":320,"height":320)");
  commit(R"([["clip",[140,150,10,10]],["rect",[10,10,300,300],"#ff0000",12,"",0],
             ["clip",[3,150,10,10]],["rect",[0,0,300,300],"#ffffff",12,"#0000ff",4],["clip",null]])");
  const CapturedPixels pixels = capture();
  EXPECT_EQ(pixels.count(140, 150, 10, 10, kRed), 100) << row_text(pixels, 155, 140, 150);
  // The ring's straight left edge and the fill inside it, both cut by the clip.
  EXPECT_EQ(pixels.count(3, 150, 1, 10, kBlue), 10);
  EXPECT_EQ(pixels.count(4, 150, 9, 10, kWhite), 90) << row_text(pixels, 155, 3, 13);
}

TEST_F(PrimitivesTest, PatchOverALargeRoundedPanelLeavesNoHoles) {
  open(R"("width":320,"height":320)");
  const auto body = [](const char* colour) {
    return std::string(R"({"op":"patch","upsert":[{"id":"panel","bounds":[10,10,300,300],"commands":[)"
                       R"(["styled_rect",[10,10,300,300],{"fill":"#ff0000","radius":12}]]},)"
                       R"({"id":"dot","bounds":[150,150,10,10],"commands":[["rect",[150,150,10,10],")") +
           colour + R"(",0,"",0]]}]})";
  };
  const auto patch = [this](const std::string& text) {
    json::JsonPtr command = lumora::test::parse_json(text);
    ASSERT_TRUE(command) << text;
    host::HostErrorBuffer error;
    ASSERT_TRUE(backend->patch_scene(command.get(), error.text())) << error.c_str();
  };
  patch(body("#00ff00"));
  EXPECT_EQ(capture().count(150, 150, 10, 10, kGreen), 100);
  patch(R"({"op":"patch","upsert":[{"id":"dot","bounds":[150,150,10,10],)"
        R"("commands":[["rect",[150,150,10,10],"#0000ff",0,"",0]]}]})");
  const CapturedPixels pixels = capture();
  EXPECT_EQ(pixels.count(150, 150, 10, 10, kBlue), 100);
  // The panel around the dot, redrawn under the damage clip, is whole.
  EXPECT_EQ(pixels.count(130, 130, 50, 50, kRed), 2500 - 100) << row_text(pixels, 155, 140, 170);
  EXPECT_EQ(pixels.at(149, 155), kRed);
}

TEST_F(PrimitivesTest, LargeRoundedGradientsKeepTheirMiddle) {
  open(R"("width":300,"height":300)");
  commit(R"([["begin","#000000"],["styled_rect",[0,0,300,300],{"fill":"#f00","fill_end":"#00f","radius":12}]])");
  const CapturedPixels pixels = capture();
  int black = 0;
  for (int y = 12; y < 288; ++y) {
    for (int x = 0; x < 300; ++x) black += pixels.at(x, y) == kBlack ? 1 : 0;
  }
  EXPECT_EQ(black, 0) << row_text(pixels, 150, 0, 12);
  const Rgba top = pixels.at(150, 1), middle = pixels.at(150, 150), bottom = pixels.at(150, 298);
  EXPECT_GT(top[0], middle[0]);
  EXPECT_GT(middle[0], bottom[0]);
  EXPECT_LT(top[2], middle[2]);
  EXPECT_LT(middle[2], bottom[2]);
}

TEST_F(PrimitivesTest, HugeRadiusFallsBackToScanlines) {
  open(R"("width":400,"height":300)");
  // A 5000-pixel wide rounded shape needs corners larger than any mask.
  commit(R"([["rect",[-2300,-2300,5000,5000],"#ffffff",2500,"",0]])");
  const CapturedPixels pixels = capture();
  EXPECT_EQ(backend->masks_built(), 0u);
  EXPECT_EQ(pixels.at(200, 150), kWhite);  // the circle's centre is inside the window
  EXPECT_EQ(pixels.count(0, 0, 400, 300, kWhite), 400 * 300);
}

// A 200 × 100 image: left quarter red, middle half green, right quarter blue.
std::string banded_image() {
  test_support::Bytes rgba;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 200; ++x) {
      const bool red = x < 50, blue = x >= 150;
      rgba.insert(rgba.end(), {static_cast<std::uint8_t>(red ? 255 : 0), static_cast<std::uint8_t>(!red && !blue ? 255 : 0),
                               static_cast<std::uint8_t>(blue ? 255 : 0), 255});
    }
  }
  return test_support::png_data_uri(test_support::png_rgba8(200, 100, rgba));
}

TEST_F(PrimitivesTest, ImageFitModes) {
  const std::string source = banded_image();
  struct Case {
    const char* fit;
    std::vector<Area> areas;
  };
  const Case cases[] = {
      {"contain", {{0, 25, 25, 50, kRed}, {25, 25, 50, 50, kGreen}, {75, 25, 25, 50, kBlue}, {0, 0, 100, 25, kBlack},
                   {0, 75, 100, 25, kBlack}}},
      {"cover", {{0, 0, 100, 100, kGreen}}},
      {"stretch", {{0, 0, 25, 100, kRed}, {25, 0, 50, 100, kGreen}, {75, 0, 25, 100, kBlue}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fit);
    open(R"("width":100,"height":100)");
    commit(R"([["image",")" + source + R"(",[0,0,100,100],"#ffffff",")" + c.fit + "\"]]");
    const CapturedPixels pixels = capture();
    for (const Area& area : c.areas) {
      // Linear filtering blends one column at each band edge.
      const int inner = area.w > 2 ? 1 : 0;
      EXPECT_EQ(pixels.count(area.x + inner, area.y, area.w - 2 * inner, area.h, area.colour), (area.w - 2 * inner) * area.h)
          << area.x << "," << area.y << ": " << row_text(pixels, area.y + area.h / 2, area.x, area.x + area.w);
    }
    backend.reset();
  }
}

TEST_F(PrimitivesTest, NineSliceCornersKeepTheirPixelSizeAtScale2) {
  // 6 × 6: a 2-pixel red frame around a green centre.
  test_support::Bytes rgba;
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool frame = x < 2 || y < 2 || x >= 4 || y >= 4;
      rgba.insert(rgba.end(), {static_cast<std::uint8_t>(frame ? 255 : 0), static_cast<std::uint8_t>(frame ? 0 : 255), 0, 255});
    }
  }
  const std::string source = test_support::png_data_uri(test_support::png_rgba8(6, 6, rgba));
  open(R"("width":50,"height":50,"scale":2)");
  commit(R"([["image_nine",")" + source + R"(",[5,5,20,20],[2,2,2,2],"#ffffff"]])");
  const CapturedPixels pixels = capture();
  // The destination is 40 × 40 pixels at (10, 10); corners stay 2 × 2 pixels.
  EXPECT_EQ(pixels.count(10, 10, 2, 2, kRed), 4);
  EXPECT_EQ(pixels.count(48, 48, 2, 2, kRed), 4);
  EXPECT_EQ(pixels.count(13, 13, 34, 34, kGreen), 34 * 34);
  EXPECT_EQ(pixels.at(9, 9), kBlack);
}

TEST_F(PrimitivesTest, TextIsDrawnThroughTheTextCacheInLogicalUnits) {
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    open("\"width\":200,\"height\":60,\"scale\":" + std::to_string(scale));
    commit(R"([["text","Hi\nthere",10,10,"#ffffff",14,false]])");
    const CapturedPixels pixels = capture();
    const int s = static_cast<int>(scale);
    const std::string size = std::to_string(14 * s);
    EXPECT_TRUE(has_texture("text:" + size + ":0:Hi"));
    EXPECT_TRUE(has_texture("text:" + size + ":0:there"));
    // Nothing above or left of the text's origin; ink on both lines.
    EXPECT_EQ(pixels.count(0, 0, 200 * s, 10 * s, kBlack), 200 * s * 10 * s);
    EXPECT_EQ(pixels.count(0, 0, 10 * s, 60 * s, kBlack), 10 * s * 60 * s);
    EXPECT_LT(pixels.count(10 * s, 10 * s, 20 * s, 17 * s, kBlack), 20 * s * 17 * s);
    EXPECT_LT(pixels.count(10 * s, 27 * s, 30 * s, 17 * s, kBlack), 30 * s * 17 * s);
    backend.reset();
  }
}

TEST_F(PrimitivesTest, TextLargerThanTheClipIsCachedAsItsVisiblePart) {
  open(R"("width":100,"height":40)");
  commit(R"([["clip",[0,0,30,40]],["text","A line much wider than the clip",0,0,"#ffffff",14,false]])");
  const CapturedPixels pixels = capture();
  bool cropped = false;
  for (const CachedTexture& entry : backend->textures()) {
    if (entry.key.starts_with("text-crop:14:0:0:0:30:")) cropped = entry.width == 30;
  }
  EXPECT_TRUE(cropped);
  EXPECT_FALSE(has_texture("text:14:0:A line much wider than the clip"));
  EXPECT_EQ(pixels.count(30, 0, 70, 40, kBlack), 70 * 40);
  // Moving the clip makes a new entry.
  commit(R"([["clip",[0,0,40,40]],["text","A line much wider than the clip",0,0,"#ffffff",14,false]])");
  capture();
  int crops = 0;
  for (const CachedTexture& entry : backend->textures()) crops += entry.key.starts_with("text-crop:") ? 1 : 0;
  EXPECT_EQ(crops, 2);
}

TEST_F(PrimitivesTest, DrawTimeFailuresFailThePresent) {
  open(R"("width":100,"height":40,"scale":2)");
  commit(R"([["text","big",0,0,"#ffffff",2048,false]])");
  EXPECT_EQ(draw_error(), "Font pixel size exceeds 2048");
  // The scene stays retained; a drawable list draws again.
  commit(R"([["text","ok",0,0,"#ffffff",1024,false]])");
  EXPECT_EQ(draw_error(), "");
}

}  // namespace
}  // namespace lumora::window
