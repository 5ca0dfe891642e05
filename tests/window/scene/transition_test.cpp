// Cross-fades between commits and between a segment's versions: what each
// position shows while the fade runs, read back as pixels on a frozen
// clock, and the snapshots' lifetime and charge.
#include "window/scene/transition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "host/backend.h"
#include "scene/footprint.h"
#include "window/window_test_helpers.h"

namespace lumora::window {
namespace {

using namespace test_helpers;
using json::JsonPtr;

// Seconds after a transition's start at which its eased progress is exactly
// one half: 1 − (1 − p)³ = 0.5.
const double kHalfway = 1 - std::cbrt(0.5);
constexpr double kCommitTime = 10;

JsonPtr parse(const std::string& json) {
  JsonPtr value(cJSON_Parse(json.c_str()));
  EXPECT_TRUE(value) << json;
  return value;
}

// Within one step of 8-bit blending rounding of the expected colour.
::testing::AssertionResult near(Rgba actual, Rgba expected) {
  for (int i = 0; i < 4; ++i) {
    if (std::abs(actual[i] - expected[i]) > 1) {
      return ::testing::AssertionFailure() << lumora::test::rgba_text(actual) << " is not near "
                                           << lumora::test::rgba_text(expected);
    }
  }
  return ::testing::AssertionSuccess();
}

class TransitionTest : public WindowTest {
 protected:
  void SetUp() override {
    open(R"("width":40,"height":20)");
    ASSERT_TRUE(backend);
    backend->set_clock_for_testing(kCommitTime);
  }

  void set_transition_ms(int ms) {
    ASSERT_TRUE(operation("{\"op\":\"configure\",\"transition_ms\":" + std::to_string(ms) + "}"));
  }

  // The shown list, then `next` fading in over one second from kCommitTime.
  void fade(const std::string& shown, const std::string& next) {
    set_transition_ms(0);
    commit(shown);
    set_transition_ms(1000);
    commit(next);
  }

  bool patch(const std::string& body, std::string* message = nullptr) {
    JsonPtr command = parse(body);
    host::HostErrorBuffer error;
    const bool ok = backend->patch_scene(command.get(), error.text());
    if (message != nullptr) *message = error.c_str();
    return ok;
  }

  double info_number(const char* key) {
    JsonPtr info = backend->info();
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(info.get(), key);
    EXPECT_TRUE(cJSON_IsNumber(item)) << key;
    return cJSON_IsNumber(item) ? item->valuedouble : -1;
  }

  void at(double seconds_after_commit) { backend->set_clock_for_testing(kCommitTime + seconds_after_commit); }

  // Draws as the host's present does and presents.
  void present() {
    ASSERT_EQ(draw_error(), "");
    host::HostErrorBuffer error;
    ASSERT_TRUE(backend->present_frame(error.text()));
  }
};

constexpr char kRed10[] = R"([["rect",[0,0,10,10],"#ff0000",0,"",0]])";
constexpr char kBlue10[] = R"([["rect",[0,0,10,10],"#0000ff",0,"",0]])";

TEST_F(TransitionTest, HalfwayOpaqueColoursShowTheStraightAverage) {
  fade(kRed10, kBlue10);
  at(0);
  EXPECT_EQ(capture().at(5, 5), kRed);
  at(kHalfway);
  EXPECT_EQ(capture().at(5, 5), (Rgba{128, 0, 128, 255}));
  at(1);
  EXPECT_EQ(capture().at(5, 5), kBlue);
}

TEST_F(TransitionTest, ColourThatAppearsFadesInAtHalfAlphaNotDarkened) {
  fade(R"([["rect",[0,0,10,10],"",0,"",0]])", kBlue10);
  at(kHalfway);
  // Blue at alpha 128 over black; a darkened blue would show about 64.
  EXPECT_TRUE(near(capture().at(5, 5), Rgba{0, 0, 128, 255}));
}

TEST_F(TransitionTest, ColourThatDisappearsFadesOut) {
  fade(kBlue10, R"([["rect",[0,0,10,10],"",0,"",0]])");
  at(kHalfway);
  EXPECT_TRUE(near(capture().at(5, 5), Rgba{0, 0, 128, 255}));
}

TEST_F(TransitionTest, PairsThatCannotBlendShowTheNewCommandAtOnce) {
  // The first pair blends its fill; the second also changes its border
  // width, the third its kind, the fourth is new: all three jump.
  fade(R"([["rect",[0,0,10,10],"#ff0000",0,"",0],["rect",[10,0,10,10],"#ff0000",0,"",0],)"
       R"(["styled_rect",[20,0,10,10],{"fill":"#ff0000"}]])",
       R"([["rect",[0,0,10,10],"#0000ff",0,"",0],["rect",[10,0,10,10],"#0000ff",0,"#00ff00",2],)"
       R"(["marker",[20,0,10,10],{"fill":"#0000ff"},"square",false],["rect",[30,0,10,10],"#0000ff",0,"",0]])");
  at(kHalfway);
  const CapturedPixels pixels = capture();
  EXPECT_EQ(pixels.at(5, 5), (Rgba{128, 0, 128, 255}));
  EXPECT_EQ(pixels.at(15, 5), kBlue);
  EXPECT_EQ(pixels.at(10, 5), kGreen);
  EXPECT_EQ(pixels.at(25, 5), kBlue);
  EXPECT_EQ(pixels.at(35, 5), kBlue);
}

TEST_F(TransitionTest, ChangeThatCannotBlendKeepsNoSnapshot) {
  set_transition_ms(0);
  commit(R"([["text","a",0,0,"#ffffff",14,false]])");
  const double bytes = info_number("retained_scene_bytes");
  set_transition_ms(1000);
  // A text whose text changes does not blend.
  commit(R"([["text","b",0,0,"#ffffff",14,false]])");
  EXPECT_EQ(info_number("retained_scene_bytes"), bytes);
  EXPECT_FALSE(backend->is_animating());
}

TEST_F(TransitionTest, StyledRectSlidesAndReshapes) {
  fade(R"([["styled_rect",[0,0,10,10],{"fill":"#ff0000"}]])",
       R"([["styled_rect",[20,4,10,16],{"fill":"#0000ff"}]])");
  at(kHalfway);
  const CapturedPixels pixels = capture();
  // Halfway: [10, 2, 10, 13], the fill between red and blue.
  EXPECT_EQ(pixels.count(10, 2, 10, 13, Rgba{128, 0, 128, 255}), 10 * 13);
  EXPECT_EQ(pixels.count(0, 0, 10, 20, kBlack), 10 * 20);
  EXPECT_EQ(pixels.count(20, 0, 20, 20, kBlack), 20 * 20);
  EXPECT_EQ(pixels.count(10, 0, 10, 2, kBlack), 10 * 2);
  EXPECT_EQ(pixels.count(10, 15, 10, 5, kBlack), 10 * 5);
}

TEST_F(TransitionTest, RecommitMidTransitionStartsFromWhatIsShown) {
  fade(kRed10, kBlue10);
  at(kHalfway);
  ASSERT_EQ(capture().at(5, 5), (Rgba{128, 0, 128, 255}));
  // Re-committed while purple is shown: the new fade starts from purple,
  // not from the blue the first one was heading for.
  backend->set_clock_for_testing(kCommitTime + kHalfway);
  commit(R"([["rect",[0,0,10,10],"#00ff00",0,"",0]])");
  EXPECT_EQ(capture().at(5, 5), (Rgba{128, 0, 128, 255}));
  backend->set_clock_for_testing(kCommitTime + 2 * kHalfway);
  EXPECT_EQ(capture().at(5, 5), (Rgba{64, 128, 64, 255}));
  backend->set_clock_for_testing(kCommitTime + kHalfway + 1);
  EXPECT_EQ(capture().at(5, 5), kGreen);
}

// Every kind whose commands blend; the list shown before has one command
// more, which fades out with nothing to pair with.
constexpr char kEveryKindBefore[] =
    R"([["rect",[1,1,8,6],"#ff0000",2,"#00ff00",1],["text","Ab",1,8,"#ffffff",10,false],)"
    R"(["line",0,19,39,15,"#ffff00",2],["lines",[[12,1],[18,6],[14,8]],"#00ffff",1],)"
    R"(["gradient_rect",[20,1,9,6],"#ff0000","#0000ff","horizontal",2,0],)"
    R"(["styled_rect",[30,1,8,8],{"fill":"#336699","border":"#ffffff","border_width":1,"radius":2,)"
    R"("shadow":"#000000c0","shadow_blur":2,"shadow_x":1,"shadow_y":1}],)"
    R"(["marker",[20,10,8,8],{"fill":"#202020","foreground":"#ffffff"},"circle",true],)"
    R"(["caret",12,10,6,"#ff00ff"],["focus_ring",[30,11,8,8],"#ffaa00",1],["rect",[15,10,3,3],"#ffffff",0,"",0]])";
constexpr char kEveryKindAfter[] =
    R"([["rect",[1,1,8,6],"#0000ff",2,"#ff00ff",1],["text","Ab",1,8,"#00ff00",10,false],)"
    R"(["line",0,19,39,15,"#ff0000",2],["lines",[[12,1],[18,6],[14,8]],"#ff8800",1],)"
    R"(["gradient_rect",[20,1,9,6],"#00ff00","#ffffff","horizontal",2,0],)"
    R"(["styled_rect",[31,2,7,7],{"fill":"#993366","border":"#00ff00","border_width":2,"radius":3,)"
    R"("shadow":"#000000","shadow_blur":3,"shadow_x":-1,"shadow_y":1,"glow":"#ffff00","glow_width":2}],)"
    R"(["marker",[21,11,7,7],{"fill":"#404040","foreground":"#ff0000"},"circle",false],)"
    R"(["caret",12,10,6,"#00ffff"],["focus_ring",[30,11,8,8],"#00aaff",1]])";

TEST_F(TransitionTest, TransitionEndsOnExactlyThePlainDrawing) {
  fade(kEveryKindBefore, kEveryKindAfter);
  const double with_snapshot = info_number("retained_scene_bytes");
  at(kHalfway);
  const CapturedPixels halfway = capture();
  EXPECT_EQ(halfway.at(16, 11), kBlack);  // a command without counterpart is not drawn
  // The progress reaches 1 before the time is up: 1 − (1 − 0.81)³ rounds to 64/64.
  at(0.81);
  const CapturedPixels last = capture();
  EXPECT_LT(info_number("retained_scene_bytes"), with_snapshot);  // dropped with that frame
  set_transition_ms(0);
  commit("[]");
  commit(kEveryKindAfter);
  const CapturedPixels decoded = capture();
  ASSERT_EQ(last.rgba.size(), decoded.rgba.size());
  EXPECT_TRUE(last.rgba == decoded.rgba);
  EXPECT_FALSE(halfway.rgba == decoded.rgba);
}

TEST(TransitionBlendTest, ProgressOneGivesTheDecodedFields) {
  JsonPtr before = parse(kEveryKindBefore);
  JsonPtr after = parse(kEveryKindAfter);
  DecodedList decoded;
  ASSERT_TRUE(decode_draw_commands(after.get(), decoded));
  std::size_t index = 0;
  for (const cJSON *command = after->child, *old = before->child; command != nullptr;
       command = command->next, old = old->next, ++index) {
    SCOPED_TRACE(index);
    const DrawCommand& current = decoded[index];
    DrawCommand blended;
    ASSERT_TRUE(blend_draw_command(current, command, old, 1, blended));
    EXPECT_EQ(blended.rect, current.rect);
    EXPECT_EQ(blended.color, current.color);
    EXPECT_EQ(blended.color2, current.color2);
    EXPECT_EQ(blended.points, current.points);
    // A gradient end that is absent continues its start colour, which a
    // blend writes out; both draw a plain fill or border.
    scene::RectStyle expected = current.style;
    if (!expected.fill_end.present) expected.fill_end = expected.fill;
    if (!expected.border_end.present) expected.border_end = expected.border;
    EXPECT_EQ(std::string(json::print_json(scene::serialize_rect_style(blended.style).get()).get()),
              std::string(json::print_json(scene::serialize_rect_style(expected).get()).get()));
  }
}

TEST(TransitionBlendTest, OnlyBlendablePairsBlend) {
  struct Case {
    const char* old_command;
    const char* new_command;
    bool blends;
  };
  const Case cases[] = {
      {R"(["rect",[0,0,1,1],"#ff0000",0,"",0])", R"(["rect",[0,0,1,1],"#0000ff",0,"#ffffff",0])", true},
      {R"(["rect",[0,0,1,1],"#ff0000",0,"",0])", R"(["rect",[0,0,1,2],"#0000ff",0,"",0])", false},
      {R"(["text","a",0,0,"#ffffff",14,false])", R"(["text","a",0,0,"#000000",14,false])", true},
      {R"(["text","a",0,0,"#ffffff",14,false])", R"(["text","b",0,0,"#ffffff",14,false])", false},
      {R"(["styled_rect",[0,0,1,1],{}])", R"(["styled_rect",[5,5,1,1],{"radius":3}])", true},
      {R"(["styled_rect",[0,0,1,1],{}])", R"(["marker",[0,0,1,1],{},"square",true])", false},
      {R"(["marker",[0,0,1,1],{},"square",true])", R"(["marker",[0,0,2,2],{},"circle",false])", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.new_command);
    JsonPtr old = parse(c.old_command);
    JsonPtr command = parse(c.new_command);
    const DrawCommand current = decode_draw_command_fields(command.get());
    DrawCommand out;
    EXPECT_EQ(blend_draw_command(current, command.get(), old.get(), 0.5, out), c.blends);
  }
}

TEST(TransitionSnapshotTest, KeptOnlyWhenSomePairBlendsAndChargedItsFootprint) {
  struct Case {
    const char* shown;
    const char* next;
    double duration;
    bool reduced;
    bool kept;
  };
  const Case cases[] = {
      {kRed10, kBlue10, 1, false, true},
      {kRed10, kBlue10, 0, false, false},
      {kRed10, kBlue10, 1, true, false},
      {kRed10, kRed10, 1, false, false},
      {kRed10, R"([["rect",[0,0,10,11],"#0000ff",0,"",0]])", 1, false, false},
      {kRed10, R"([["text","a",0,0,"#ffffff",14,false]])", 1, false, false},
      // Only positions both lists hold are compared.
      {kRed10, R"([["rect",[0,0,10,10],"#ff0000",0,"",0],["rect",[0,0,5,5],"#00ff00",0,"",0]])", 1, false, false},
      {R"([["rect",[0,0,10,10],"#ff0000",0,"",0],["rect",[0,0,5,5],"#00ff00",0,"",0]])", kBlue10, 1, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.shown) + " -> " + c.next);
    JsonPtr shown = parse(c.shown);
    JsonPtr next = parse(c.next);
    TransitionSnapshot out;
    ASSERT_TRUE(make_transition_snapshot(next.get(), shown.get(), TransitionSnapshot{}, 3, c.duration, c.reduced, out));
    EXPECT_EQ(out.kept(), c.kept);
    if (!c.kept) {
      EXPECT_EQ(out.cost, 0u);
      continue;
    }
    EXPECT_TRUE(scene::json_equal(out.list.get(), shown.get()));
    EXPECT_EQ(out.cost, scene::json_footprint_as_member(shown.get(), "commands"));
    EXPECT_EQ(out.command_count, static_cast<std::uint64_t>(cJSON_GetArraySize(shown.get())));
    EXPECT_EQ(out.start, 3);
    EXPECT_EQ(out.duration, c.duration);
    EXPECT_EQ(out.progress(3, false), 0);
    EXPECT_EQ(out.progress(3 + c.duration, false), 1);
    EXPECT_EQ(out.progress(3, true), 1);
  }
}

TEST(TransitionSnapshotTest, RunningTransitionIsBlendedIntoTheNewSnapshot) {
  JsonPtr older = parse(kRed10);
  JsonPtr shown = parse(kBlue10);
  TransitionSnapshot running;
  ASSERT_TRUE(make_transition_snapshot(shown.get(), older.get(), TransitionSnapshot{}, 0, 1, false, running));
  ASSERT_TRUE(running.kept());
  JsonPtr next = parse(R"([["rect",[0,0,10,10],"#00ff00",0,"",0]])");
  TransitionSnapshot out;
  ASSERT_TRUE(make_transition_snapshot(next.get(), shown.get(), running, kHalfway, 1, false, out));
  ASSERT_TRUE(out.kept());
  EXPECT_STREQ(cJSON_GetArrayItem(cJSON_GetArrayItem(out.list.get(), 0), 2)->valuestring, "#800080ff");
  // Once the running one is over, what is shown is its target.
  ASSERT_TRUE(make_transition_snapshot(next.get(), shown.get(), running, 1, 1, false, out));
  EXPECT_TRUE(scene::json_equal(out.list.get(), shown.get()));
}

TEST_F(TransitionTest, AnimatingWhileTheTransitionRunsAndReleasedAfterItsLastFrame) {
  set_transition_ms(0);
  commit(kRed10);
  const double plain = info_number("retained_scene_bytes");
  set_transition_ms(1000);
  commit(kBlue10);
  JsonPtr red = parse(kRed10);
  const double snapshot = static_cast<double>(scene::json_footprint_as_member(red.get(), "commands"));
  EXPECT_EQ(info_number("retained_scene_bytes"), plain + snapshot);
  EXPECT_TRUE(backend->is_animating());
  at(kHalfway);
  present();
  EXPECT_TRUE(backend->is_animating());
  at(1);
  present();
  EXPECT_FALSE(backend->is_animating());
  EXPECT_EQ(info_number("retained_scene_bytes"), plain);
  // Settled again, the scene cache holds the final frame.
  const double hits = info_number("scene_cache_hits");
  present();
  present();
  EXPECT_GT(info_number("scene_cache_hits"), hits);
  EXPECT_EQ(capture().at(5, 5), kBlue);
}

TEST_F(TransitionTest, ReducedMotionKeepsNoSnapshotAndDropsARunningOne) {
  fade(kRed10, kBlue10);
  const double with_snapshot = info_number("retained_scene_bytes");
  ASSERT_TRUE(operation(R"({"op":"configure","reduce_motion":true})"));
  JsonPtr red = parse(kRed10);
  EXPECT_EQ(info_number("retained_scene_bytes"),
            with_snapshot - static_cast<double>(scene::json_footprint_as_member(red.get(), "commands")));
  at(kHalfway);
  EXPECT_EQ(capture().at(5, 5), kBlue);
  const double bytes = info_number("retained_scene_bytes");
  commit(kRed10);
  EXPECT_EQ(info_number("retained_scene_bytes"), bytes);
  EXPECT_EQ(capture().at(5, 5), kRed);
}

TEST_F(TransitionTest, FailedCommitLeavesTheRunningTransitionAlone) {
  fade(kRed10, kBlue10);
  const double bytes = info_number("retained_scene_bytes");
  JsonPtr invalid = parse(R"([["rect",[0,0,10,10],"#00ff00",0,"",0],["rect"]])");
  host::HostErrorBuffer error;
  EXPECT_FALSE(backend->commit_scene(invalid.get(), error.text()));
  EXPECT_EQ(info_number("retained_scene_bytes"), bytes);
  at(kHalfway);
  EXPECT_EQ(capture().at(5, 5), (Rgba{128, 0, 128, 255}));
}

// ---- Segments ----------------------------------------------------------------

std::string upsert(const std::string& id, const std::string& commands) {
  return R"({"upsert":[{"id":")" + id + R"(","bounds":[0,0,40,20],"commands":)" + commands + "}]}";
}

constexpr char kRedLeft[] = R"([["styled_rect",[0,0,10,10],{"fill":"#ff0000"}]])";
constexpr char kBlueRight[] = R"([["styled_rect",[20,0,10,10],{"fill":"#0000ff"}]])";

TEST_F(TransitionTest, SegmentFadesWithinItsJoinedExtentAndReleasesItsSnapshot) {
  set_transition_ms(0);
  ASSERT_TRUE(patch(upsert("s", kRedLeft)));
  ASSERT_TRUE(patch(upsert("still", R"([["rect",[0,12,4,4],"#00ff00",0,"",0]])")));
  present();
  const double plain = info_number("retained_scene_bytes");
  set_transition_ms(1000);
  ASSERT_TRUE(patch(upsert("s", kBlueRight)));
  JsonPtr red = parse(kRedLeft);
  const double snapshot = static_cast<double>(scene::json_footprint_as_member(red.get(), "commands"));
  EXPECT_EQ(info_number("retained_scene_bytes"), plain + snapshot);
  EXPECT_EQ(info_number("transition_snapshot_commands"), 1);
  EXPECT_EQ(info_number("active_segment_count"), 1);
  EXPECT_TRUE(backend->is_animating());

  at(kHalfway);
  present();
  EXPECT_EQ(info_number("last_commands_replayed"), 1);  // only the fading segment
  CapturedPixels pixels = capture();
  EXPECT_EQ(pixels.count(10, 0, 10, 10, Rgba{128, 0, 128, 255}), 100);
  EXPECT_EQ(pixels.count(0, 0, 10, 10, kBlack), 100);
  EXPECT_EQ(pixels.at(1, 13), kGreen);

  at(1);
  present();
  EXPECT_EQ(info_number("retained_scene_bytes"), plain);
  EXPECT_EQ(info_number("transition_snapshot_commands"), 0);
  EXPECT_EQ(info_number("active_segment_count"), 0);
  present();  // the frame the segment's leaving asks for
  EXPECT_FALSE(backend->is_animating());
  pixels = capture();
  EXPECT_EQ(pixels.count(20, 0, 10, 10, kBlue), 100);
  EXPECT_EQ(pixels.count(0, 0, 20, 10, kBlack), 200);
  EXPECT_EQ(pixels.at(1, 13), kGreen);
}

TEST_F(TransitionTest, ScaleChangeKeepsTheReplacedAreaInTheFadingExtent) {
  set_transition_ms(0);
  ASSERT_TRUE(patch(upsert("s", R"([["styled_rect",[0,0,4,4],{"fill":"#ff0000"}]])")));
  set_transition_ms(1000);
  ASSERT_TRUE(patch(upsert("s", R"([["styled_rect",[8,0,4,4],{"fill":"#0000ff"}]])")));
  at(kHalfway);
  // The same pixels now hold half the logical area, drawn afresh.
  ASSERT_TRUE(operation(R"({"op":"configure","scale":2})"));
  CapturedPixels pixels = capture();
  ASSERT_EQ(pixels.count(8, 0, 8, 8, Rgba{128, 0, 128, 255}), 64);
  // Its end clears where it was shown, which lies outside its new content.
  at(1);
  pixels = capture();
  EXPECT_EQ(pixels.count(0, 0, 16, 8, kBlack), 128);
  EXPECT_EQ(pixels.count(16, 0, 8, 8, kBlue), 64);
}

TEST_F(TransitionTest, SegmentRepatchedMidTransitionStartsFromWhatIsShown) {
  set_transition_ms(0);
  ASSERT_TRUE(patch(upsert("s", kRed10)));
  set_transition_ms(1000);
  ASSERT_TRUE(patch(upsert("s", kBlue10)));
  at(kHalfway);
  ASSERT_EQ(capture().at(5, 5), (Rgba{128, 0, 128, 255}));
  ASSERT_TRUE(patch(upsert("s", R"([["rect",[0,0,10,10],"#00ff00",0,"",0]])")));
  EXPECT_EQ(capture().at(5, 5), (Rgba{128, 0, 128, 255}));
  at(2 * kHalfway);
  EXPECT_EQ(capture().at(5, 5), (Rgba{64, 128, 64, 255}));
}

TEST_F(TransitionTest, FailedPatchLeavesSegmentSnapshotsAlone) {
  set_transition_ms(0);
  ASSERT_TRUE(patch(upsert("s", kRed10)));
  set_transition_ms(1000);
  ASSERT_TRUE(patch(upsert("s", kBlue10)));
  const double bytes = info_number("retained_scene_bytes");
  std::string message;
  // A valid replacement of "s" next to an entry that breaks the patch.
  EXPECT_FALSE(patch(R"({"upsert":[{"id":"s","bounds":[0,0,1,1],"commands":[["rect",[0,0,10,10],"#00ff00",0,"",0]]},)"
                     R"({"id":"t","bounds":[0,0,1,1],"commands":[["begin","#000000"]]}]})",
                     &message));
  EXPECT_EQ(message, "Invalid retained segment patch");
  EXPECT_EQ(info_number("retained_scene_bytes"), bytes);
  EXPECT_EQ(info_number("transition_snapshot_commands"), 1);
  at(kHalfway);
  EXPECT_EQ(capture().at(5, 5), (Rgba{128, 0, 128, 255}));
}

TEST_F(TransitionTest, SegmentsKeepNoSnapshotWithReducedMotionAndDropTheirsAtTheNextDrawing) {
  set_transition_ms(0);
  ASSERT_TRUE(patch(upsert("s", kRed10)));
  const double plain = info_number("retained_scene_bytes");
  set_transition_ms(1000);
  ASSERT_TRUE(patch(upsert("s", kBlue10)));
  ASSERT_GT(info_number("retained_scene_bytes"), plain);
  ASSERT_TRUE(operation(R"({"op":"configure","reduce_motion":true})"));
  EXPECT_EQ(capture().at(5, 5), kBlue);
  EXPECT_EQ(info_number("retained_scene_bytes"), plain);
  EXPECT_EQ(info_number("transition_snapshot_commands"), 0);
  ASSERT_TRUE(patch(upsert("s", kRed10)));
  EXPECT_EQ(info_number("retained_scene_bytes"), plain);
  EXPECT_EQ(capture().at(5, 5), kRed);
}

}  // namespace
}  // namespace lumora::window
