#include "scene/animation_timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scene/rounding.h"

namespace lumora::scene {
namespace {

TEST(RoundingTest, HalvesGoToTheEvenNeighbour) {
  struct Case {
    double value, rounded;
  };
  const Case cases[] = {
      {0.5, 0},   {1.5, 2},   {2.5, 2},     {3.5, 4},   {-0.5, -0},         {-1.5, -2}, {-2.5, -2},
      {2.4, 2},   {2.6, 3},   {-2.6, -3},   {0, 0},     {0.49999999999999994, 0},        {127.5, 128},
      {126.5, 126}, {4503599627370497.0, 4503599627370497.0},
  };
  for (const Case& c : cases) EXPECT_EQ(round_half_even(c.value), c.rounded) << c.value;
  EXPECT_TRUE(std::isnan(round_half_even(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(round_half_even(std::numeric_limits<double>::infinity()), std::numeric_limits<double>::infinity());
}

TEST(AnimationTimingTest, EasedProgressSteps) {
  struct Case {
    double now, start, duration;
    bool reduced_motion;
    double progress;
  };
  const Case cases[] = {
      {10.5, 10, 1, false, 56.0 / 64},   // 1 − 0.5³ = 0.875
      {10.01, 10, 1, false, 2.0 / 64},   // 1 − 0.99³ = 0.029701, × 64 = 1.90
      {10, 10, 1, false, 0},
      {9, 10, 1, false, 0},              // a start in the future shows the start
      {12, 10, 1, false, 1},
      {10.001, 10, 1, false, 0},         // 0.19 of a step
      {10.5, 10, 0, false, 1},           // no duration: over at once
      {10.5, 10, -1, false, 1},
      {10.5, 10, 1, true, 1},            // reduced motion: never runs
      {std::numeric_limits<double>::quiet_NaN(), 10, 1, false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(eased_progress(c.now, c.start, c.duration, c.reduced_motion), c.progress)
        << c.now << " " << c.start << " " << c.duration;
  }
  // Steps of 1/64 only, rising to 1.
  double last = 0;
  for (int i = 0; i <= 1000; ++i) {
    const double progress = eased_progress(i / 1000.0, 0, 1, false);
    EXPECT_EQ(progress * 64, std::floor(progress * 64));
    EXPECT_GE(progress, last);
    last = progress;
  }
  EXPECT_EQ(last, 1);
}

TEST(AnimationTimingTest, AnimationPhaseTable) {
  struct Case {
    double elapsed, duration;
    bool loop, yoyo, reduced_motion;
    double phase;
  };
  const Case cases[] = {
      {0.5, 1, false, false, false, 0.5},
      {1, 1, false, false, false, 1},
      {5, 1, false, false, false, 1},      // rests at the end
      {1, 1, false, true, false, 1},       // a yoyo at "to" after one duration
      {1.5, 1, false, true, false, 0.5},   // on its way back
      {2, 1, false, true, false, 0},       // and back at "from" from 2 on
      {7, 1, false, true, false, 0},
      {1, 2, true, false, false, 0.5},     // looping: the same phase every period
      {3, 2, true, false, false, 0.5},
      {2, 2, true, false, false, 0},
      {2.5, 1, true, true, false, 0.5},
      {3.5, 1, true, true, false, 0.5},
      {-1, 1, false, false, false, 0},
      {0.5, 1, true, true, true, 1},       // reduced motion: the "to" state
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(animation_phase(c.elapsed, c.duration, c.loop, c.yoyo, c.reduced_motion), c.phase)
        << c.elapsed << " " << c.duration << " loop " << c.loop << " yoyo " << c.yoyo;
  }
  // A looping rect from 0 to 10 over 2 seconds is at 5 at 1 s and at 3 s.
  EXPECT_DOUBLE_EQ(animated_value(0, 10, animation_phase(1, 2, true, false, false)), 5);
  EXPECT_DOUBLE_EQ(animated_value(0, 10, animation_phase(3, 2, true, false, false)), 5);
  EXPECT_EQ(animated_rect_run_seconds(1, true), 2);
  EXPECT_EQ(animated_rect_run_seconds(1.5, false), 1.5);
}

TEST(AnimationTimingTest, SpriteFrames) {
  struct Case {
    double elapsed;
    bool loop, reduced_motion;
    std::int32_t frame;
  };
  // Four frames at two frames per second.
  const Case cases[] = {
      {0, false, false, 0},   {0.49, false, false, 0}, {0.5, false, false, 1}, {1.49, false, false, 2},
      {1.5, false, false, 3}, {100, false, false, 3},  {1.5, true, false, 3},  {2, true, false, 0},
      {2.6, true, false, 1},  {-3, true, false, 0},    {1.5, true, true, 0},   {1e300, true, false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sprite_frame_index(c.elapsed, 2, 4, c.loop, c.reduced_motion), c.frame)
        << c.elapsed << " loop " << c.loop;
  }
  EXPECT_EQ(sprite_run_seconds(4, 2), 2);
}

TEST(AnimationTimingTest, SpriteSheets) {
  struct Case {
    std::int32_t image_width, image_height, frame_width, frame_height, frame_count;
    bool valid;
  };
  const Case cases[] = {
      {64, 32, 32, 32, 2, true},  {64, 32, 32, 32, 3, false}, {64, 64, 32, 32, 4, true},
      {95, 64, 32, 32, 4, true},  {31, 64, 32, 32, 1, false}, {64, 31, 32, 32, 1, false},
      {64, 32, 0, 32, 1, false},  {8192, 8192, 1, 1, 4096, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sprite_sheet_valid(c.image_width, c.image_height, c.frame_width, c.frame_height, c.frame_count),
              c.valid)
        << c.image_width << "x" << c.image_height << " frames " << c.frame_width << "x" << c.frame_height << " × "
        << c.frame_count;
  }
  // Row by row: on a 3-column sheet frame 4 is the middle of the second row.
  EXPECT_EQ(sprite_frame_rect(4, 96, 32, 16), (FrameRect{32, 16, 32, 16}));
  EXPECT_EQ(sprite_frame_rect(0, 96, 32, 16), (FrameRect{0, 0, 32, 16}));
  EXPECT_EQ(sprite_frame_rect(1, 64, 32, 32), (FrameRect{32, 0, 32, 32}));
}

}  // namespace
}  // namespace lumora::scene
