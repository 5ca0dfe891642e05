// Sprites and animated rectangles in the window at chosen moments of a
// frozen clock, read back as pixels, and the animation state that tells the
// host whether to keep presenting.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/backend.h"
#include "support/png_writer.h"
#include "window/render/motion.h"
#include "window/window_test_helpers.h"

namespace lumora::window {
namespace {

using namespace test_helpers;

constexpr double kCommitTime = 100;
constexpr Rgba kYellow = {255, 255, 0, 255};
constexpr std::array<Rgba, 4> kFrameColours = {kRed, kGreen, kBlue, kYellow};

// A sheet of four 8 × 8 frames in the given colours, `columns` frames per
// row (4: one row of 32 × 8; 2: two rows of 16 × 16).
std::string sprite_sheet(int columns) {
  const int rows = 4 / columns;
  const int width = 8 * columns, height = 8 * rows;
  test_support::Bytes rgba;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgba& c = kFrameColours[(y / 8) * columns + x / 8];
      rgba.insert(rgba.end(), c.begin(), c.end());
    }
  }
  return test_support::png_data_uri(test_support::png_rgba8(width, height, rgba));
}

std::string solid_image(int width, int height) {
  return test_support::png_data_uri(test_support::png_solid(width, height, {255, 255, 255, 255}));
}

std::string sprite(const std::string& source, int frame_w, int frame_h, int frames, double fps, bool loop) {
  return R"(["sprite",")" + source + R"(",[0,0,8,8],)" + std::to_string(frame_w) + "," + std::to_string(frame_h) +
         "," + std::to_string(frames) + "," + std::to_string(fps) + "," + (loop ? "true" : "false") +
         R"(,"#ffffff"])";
}

// A 4 × 4 red box whose property runs between `from` and `to`.
std::string animated_rect(const std::string& animation) {
  return R"(["animated_rect",[0,0,4,4],"#ff0000",0,"",0,)" + animation + "]";
}

class MotionTest : public WindowTest {
 protected:
  void open_small() { open(R"("width":64,"height":32)"); }

  // Commits `list` at kCommitTime, so that every command starts then.
  void commit_at_start(const std::string& list) {
    backend->set_clock_for_testing(kCommitTime);
    commit(list);
  }

  CapturedPixels capture_at(double elapsed) {
    backend->set_clock_for_testing(kCommitTime + elapsed);
    return capture();
  }

  // One present of the host: draw, then present.
  void present_at(double elapsed) {
    backend->set_clock_for_testing(kCommitTime + elapsed);
    host::HostErrorBuffer error;
    ASSERT_TRUE(backend->draw_retained_scene(error.text())) << error.c_str();
    ASSERT_TRUE(backend->present_frame(error.text())) << error.c_str();
  }

  void patch(const std::string& body) {
    json::JsonPtr command = lumora::test::parse_json(body);
    ASSERT_TRUE(command) << body;
    host::HostErrorBuffer error;
    ASSERT_TRUE(backend->patch_scene(command.get(), error.text())) << error.c_str();
  }

  void configure(const std::string& members) {
    std::string error;
    ASSERT_TRUE(operation(R"({"op":"configure",)" + members + "}", &error)) << error;
  }

  // The colour of the frame the sprite at (0, 0, 8, 8) shows.
  int shown_frame(const CapturedPixels& pixels) {
    const Rgba centre = pixels.at(4, 4);
    for (std::size_t i = 0; i < kFrameColours.size(); ++i) {
      if (centre == kFrameColours[i]) return static_cast<int>(i);
    }
    ADD_FAILURE() << "no frame colour: " << lumora::test::rgba_text(centre);
    return -1;
  }

  // The left edge of the one red box on row 1, or -1.
  static int box_x(const CapturedPixels& pixels, int row = 1) {
    for (int x = 0; x < pixels.width; ++x) {
      if (pixels.at(x, row) == kRed) return x;
    }
    return -1;
  }
};

TEST_F(MotionTest, SpriteShowsTheFrameOfItsElapsedTime) {
  struct Case {
    int columns;
    bool loop;
    double elapsed;
    int frame;
  };
  // Four frames at 2 per second: a new frame every half second.
  const Case cases[] = {
      {4, false, 0, 0},    {4, false, 0.49, 0}, {4, false, 0.5, 1}, {4, false, 1.5, 3},
      {4, false, 2, 3},    {4, false, 60, 3},   {4, true, 1.5, 3},  {4, true, 2, 0},
      {4, true, 2.5, 1},   {4, true, 61, 2},    {2, false, 1, 2},   {2, true, 3.5, 3},
  };
  open_small();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.columns << " columns, loop " << c.loop << ", e = " << c.elapsed);
    commit_at_start("[" + sprite(sprite_sheet(c.columns), 8, 8, 4, 2, c.loop) + "]");
    EXPECT_EQ(shown_frame(capture_at(c.elapsed)), c.frame);
  }
}

TEST_F(MotionTest, RecommittingTheSameSpriteKeepsItsClock) {
  open_small();
  const std::string list = "[" + sprite(sprite_sheet(4), 8, 8, 4, 2, false) + "]";
  commit_at_start(list);
  backend->set_clock_for_testing(kCommitTime + 1);
  commit(list);
  EXPECT_EQ(shown_frame(capture_at(1.5)), 3);
  // Moved to another position, it is another command and starts over.
  backend->set_clock_for_testing(kCommitTime + 1.5);
  commit(R"([["rect",[60,0,1,1],"#000000",0,"",0],)" + sprite(sprite_sheet(4), 8, 8, 4, 2, false) + "]");
  EXPECT_EQ(shown_frame(capture_at(1.5)), 0);
}

TEST_F(MotionTest, SpriteSheetCheck) {
  struct Case {
    int image_w, image_h, frame_w, frame_h, frames;
    bool valid;
  };
  const Case cases[] = {
      {64, 32, 32, 32, 2, true},  {64, 32, 32, 32, 3, false}, {64, 32, 33, 32, 1, true},
      {64, 32, 65, 32, 1, false}, {64, 32, 32, 33, 1, false}, {64, 64, 32, 32, 4, true},
  };
  open_small();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.image_w << "x" << c.image_h << " frames " << c.frame_w << "x" << c.frame_h
                                    << " × " << c.frames);
    commit_at_start("[" + sprite(solid_image(c.image_w, c.image_h), c.frame_w, c.frame_h, c.frames, 1, true) + "]");
    EXPECT_EQ(draw_error(), c.valid ? "" : kSpriteFramesExceedImage);
  }
}

TEST_F(MotionTest, SpriteWithoutImageDrawsNothingAndSucceeds) {
  open_small();
  commit_at_start("[" + sprite("/nonexistent/sheet.png", 8, 8, 4, 2, true) + "]");
  EXPECT_EQ(draw_error(), "");
  const CapturedPixels pixels = capture_at(1);
  EXPECT_EQ(pixels.count(0, 0, 64, 32, kBlack), 64 * 32);
}

TEST_F(MotionTest, AnimatedRectMovesByItsPhase) {
  struct Case {
    const char* animation;
    double elapsed;
    int x;  // of the box; the y cases give the row where it stands
  };
  const Case cases[] = {
      {R"({"property":"x","from":0,"to":10,"duration":2,"loop":true})", 1, 5},
      {R"({"property":"x","from":0,"to":10,"duration":2,"loop":true})", 3, 5},
      {R"({"property":"x","from":0,"to":10,"duration":2,"loop":true})", 4, 0},
      {R"({"property":"x","from":0,"to":10,"duration":1})", 0, 0},
      {R"({"property":"x","from":0,"to":10,"duration":1})", 0.5, 5},
      {R"({"property":"x","from":0,"to":10,"duration":1})", 7, 10},
      {R"({"property":"x","from":20,"to":40,"duration":1,"yoyo":true})", 1, 40},
      {R"({"property":"x","from":20,"to":40,"duration":1,"yoyo":true})", 1.5, 30},
      {R"({"property":"x","from":20,"to":40,"duration":1,"yoyo":true})", 2, 20},
      {R"({"property":"x","from":20,"to":40,"duration":1,"yoyo":true})", 9, 20},
      {R"({"property":"x","from":20,"to":40,"duration":1,"yoyo":true,"loop":true})", 2.5, 30},
      {R"({"property":"x","from":20,"to":40,"duration":1,"yoyo":true,"loop":true})", 3, 40},
  };
  open_small();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.animation << " at e = " << c.elapsed);
    commit_at_start("[" + animated_rect(c.animation) + "]");
    const CapturedPixels pixels = capture_at(c.elapsed);
    EXPECT_EQ(box_x(pixels), c.x) << row_text(pixels, 1, 0, 48);
    EXPECT_EQ(pixels.count(c.x, 0, 4, 4, kRed), 16);
  }
}

TEST_F(MotionTest, AnimatedRectMovesDownForPropertyY) {
  open_small();
  commit_at_start("[" + animated_rect(R"({"property":"y","from":0,"to":20,"duration":2})") + "]");
  const CapturedPixels pixels = capture_at(1);
  EXPECT_EQ(pixels.count(0, 10, 4, 4, kRed), 16);
  EXPECT_EQ(pixels.count(0, 0, 4, 10, kBlack), 40);
}

TEST_F(MotionTest, OpacityFadesFillAndBorderAtHalfPhase) {
  // The decoded state is exact: 200 × 0.5 = 100, and 255 × 0.5 = 127.5 rounds to even.
  json::JsonPtr list = lumora::test::parse_json(
      R"([["animated_rect",[0,0,10,10],"#ff0000c8",0,"#00ff00",2,{"property":"opacity","from":1,"to":0,"duration":1}]])");
  ASSERT_TRUE(list);
  DecodedList decoded;
  ASSERT_TRUE(decode_draw_commands(list.get(), decoded));
  const AnimatedBox half = animated_box(decoded[0], 0.5, false);
  EXPECT_EQ(half.fill, scene::rgba(255, 0, 0, 100));
  EXPECT_EQ(half.border, scene::rgba(0, 255, 0, 128));
  EXPECT_EQ(half.rect, decoded[0].rect);
  // Values outside 0..1 are clamped; absent colours stay absent.
  json::JsonPtr beyond = lumora::test::parse_json(
      R"([["animated_rect",[0,0,10,10],"#ff0000",0,"",0,{"property":"opacity","from":-1,"to":3,"duration":1}]])");
  ASSERT_TRUE(decode_draw_commands(beyond.get(), decoded));
  EXPECT_EQ(animated_box(decoded[0], 0, false).fill.a, 0);
  EXPECT_EQ(animated_box(decoded[0], 1, false).fill.a, 255);
  EXPECT_FALSE(animated_box(decoded[0], 1, false).border.present);

  open_small();
  commit_at_start(
      R"([["animated_rect",[0,0,10,10],"#ff0000c8",0,"#00ff00",2,{"property":"opacity","from":1,"to":0,"duration":1}]])");
  const CapturedPixels pixels = capture_at(0.5);
  const Rgba fill = pixels.at(5, 5);
  const Rgba border = pixels.at(0, 5);
  EXPECT_LE(std::abs(fill[0] - 100), 1) << lumora::test::rgba_text(fill);
  EXPECT_EQ(fill[1], 0);
  EXPECT_LE(std::abs(border[1] - 128), 1) << lumora::test::rgba_text(border);
  // At the end it has faded out completely.
  EXPECT_EQ(capture_at(1).count(0, 0, 10, 10, kBlack), 100);
}

TEST_F(MotionTest, ReducedMotionShowsFrameZeroAndEndStates) {
  open_small();
  configure(R"("reduce_motion":true)");
  const std::string sheet = sprite_sheet(4);
  for (const bool loop : {false, true}) {
    commit_at_start("[" + sprite(sheet, 8, 8, 4, 2, loop) + "]");
    EXPECT_EQ(shown_frame(capture_at(1.5)), 0) << "loop " << loop;
  }
  // Animated rectangles rest at "to", a yoyo too, whatever the time.
  for (const char* animation : {R"({"property":"x","from":0,"to":10,"duration":1,"yoyo":true})",
                                R"({"property":"x","from":0,"to":10,"duration":4,"loop":true})"}) {
    commit_at_start("[" + animated_rect(animation) + "]");
    EXPECT_EQ(box_x(capture_at(0)), 10) << animation;
    EXPECT_EQ(box_x(capture_at(2.5)), 10) << animation;
  }
  // A looping list does not keep the host presenting.
  present_at(0);
  EXPECT_FALSE(backend->is_animating());
  // Switching back resumes the motion from the commands' start times.
  configure(R"("reduce_motion":false)");
  EXPECT_TRUE(backend->is_animating());
  EXPECT_EQ(box_x(capture_at(2)), 5);
}

TEST_F(MotionTest, FiniteAnimationStopsPresentsOnceItEnds) {
  open_small();
  // Runs until e = 2 (a yoyo of one second); the sprite ends at 4 ÷ 8 = 0.5.
  commit_at_start("[" + sprite(sprite_sheet(4), 8, 8, 4, 8, false) + "," +
                  animated_rect(R"({"property":"x","from":0,"to":10,"duration":1,"yoyo":true})") + "]");
  EXPECT_TRUE(backend->is_animating());
  present_at(0.5);
  EXPECT_TRUE(backend->is_animating());
  present_at(1.99);
  EXPECT_TRUE(backend->is_animating());
  present_at(2);
  EXPECT_FALSE(backend->is_animating());
  // Settled, it is drawn through the scene cache again.
  const std::uint64_t hits = backend->counters().scene_cache_hits;
  present_at(3);
  present_at(4);
  EXPECT_EQ(backend->counters().scene_cache_hits, hits + 1);

  // A list without motion asks for nothing beyond the requested present.
  commit_at_start(R"([["rect",[0,0,4,4],"#ff0000",0,"",0]])");
  EXPECT_FALSE(backend->is_animating());
}

TEST_F(MotionTest, LoopingListKeepsPresentingAndBypassesTheCache) {
  open_small();
  commit_at_start("[" + sprite(sprite_sheet(4), 8, 8, 4, 2, true) + "]");
  for (const double elapsed : {0.0, 10.0, 1000.0}) {
    present_at(elapsed);
    EXPECT_TRUE(backend->is_animating()) << elapsed;
  }
  EXPECT_EQ(backend->counters().scene_cache_hits, 0u);
  EXPECT_EQ(backend->counters().commands_replayed, 3u);
  // Replacing it by a still list ends the motion.
  commit_at_start(R"([["rect",[0,0,4,4],"#ff0000",0,"",0]])");
  EXPECT_FALSE(backend->is_animating());
}

TEST_F(MotionTest, SegmentsAnimateUntilTheirAnimationsEnd) {
  open_small();
  backend->set_clock_for_testing(kCommitTime);
  const std::string sheet = sprite_sheet(4);
  patch(R"({"op":"patch","upsert":[{"id":"sprite","bounds":[0,0,8,8],"commands":[)" +
        sprite(sheet, 8, 8, 4, 2, false) +
        R"(]},{"id":"still","bounds":[40,0,4,4],"commands":[["rect",[40,0,4,4],"#ffffff",0,"",0]]}]})");
  EXPECT_TRUE(backend->is_animating());
  EXPECT_EQ(shown_frame(capture_at(1)), 2);
  present_at(1.5);
  EXPECT_TRUE(backend->is_animating());
  present_at(2);
  EXPECT_FALSE(backend->is_animating());
  const CapturedPixels pixels = capture_at(2);
  EXPECT_EQ(shown_frame(pixels), 3);
  EXPECT_EQ(pixels.count(40, 0, 4, 4, kWhite), 16);

  // Re-sending the same segment later does not restart it.
  backend->set_clock_for_testing(kCommitTime + 3);
  patch(R"({"op":"patch","upsert":[{"id":"sprite","bounds":[0,0,8,8],"commands":[)" +
        sprite(sheet, 8, 8, 4, 2, false) + "]}]}");
  EXPECT_FALSE(backend->is_animating());
  EXPECT_EQ(shown_frame(capture_at(3)), 3);
}

TEST_F(MotionTest, ReducedMotionSwitchInSegmentedFormAsksForOneFrame) {
  open_small();
  backend->set_clock_for_testing(kCommitTime);
  patch(R"({"op":"patch","upsert":[{"id":"spin","bounds":[0,0,8,8],"commands":[)" +
        sprite(sprite_sheet(4), 8, 8, 4, 2, true) + "]}]}");
  present_at(0);
  EXPECT_TRUE(backend->is_animating());
  configure(R"("reduce_motion":true)");
  EXPECT_TRUE(backend->is_animating());
  present_at(1);
  EXPECT_FALSE(backend->is_animating());
  EXPECT_EQ(shown_frame(capture_at(1)), 0);
  configure(R"("reduce_motion":false)");
  present_at(1);
  EXPECT_TRUE(backend->is_animating());
  EXPECT_EQ(shown_frame(capture_at(1)), 2);
}

}  // namespace
}  // namespace lumora::window
