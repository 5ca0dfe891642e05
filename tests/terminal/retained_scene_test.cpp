#include "terminal/retained_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "scene/footprint.h"
#include "scene/json.h"

namespace lumora::terminal {
namespace {

scene::JsonPtr parse(const std::string& text) {
  scene::JsonPtr value(cJSON_Parse(text.c_str()));
  EXPECT_TRUE(value) << text.substr(0, 200);
  return value;
}

std::string row_text(const CellFrame& frame, int row) {
  std::string text;
  for (int c = 0; c < frame.columns; ++c) text += frame.at(c, row).glyph;
  return text;
}

// Everything a failing call must leave as it was.
struct SceneState {
  SceneCounters counters;
  std::vector<std::string> ids;
  Rgba background;
  const CellFrame* frame;
  std::uint64_t commands;
  std::uint64_t bytes;
  bool segment_mode;
  bool frame_invalid;
  bool since_present;
  std::string committed;
  bool operator==(const SceneState&) const = default;
};

class TerminalSceneTest : public ::testing::Test {
 protected:
  TerminalSceneTest() {
    context_.columns = 8;
    context_.rows = 2;
  }

  bool commit(const std::string& list) {
    scene::JsonPtr value = parse(list);
    return commit_value(value.get());
  }
  bool commit_value(const cJSON* value) {
    error_ = scene::HostErrorBuffer{};
    return scene_.commit(context_, value, error_.text());
  }
  bool patch(const std::string& command) {
    scene::JsonPtr value = parse(command);
    return patch_value(value.get());
  }
  bool patch_value(const cJSON* value) {
    error_ = scene::HostErrorBuffer{};
    return scene_.patch(context_, value, error_.text());
  }
  bool present() {
    error_ = scene::HostErrorBuffer{};
    return scene_.present(context_, error_.text());
  }
  std::string error() const { return error_.c_str(); }
  const CellFrame& frame() const { return *scene_.current_frame(); }

  SceneState state() const {
    SceneState s{scene_.counters(), {}, scene_.background(), scene_.current_frame().get(), scene_.command_count(),
                 scene_.retained_bytes(), scene_.segment_mode(), scene_.frame_invalid(),
                 scene_.committed_since_present(), {}};
    for (std::uint64_t i = 0; i < scene_.segment_count(); ++i) s.ids.push_back(scene_.segment(i).id);
    if (scene_.committed_list() != nullptr) s.committed = scene::print_json(scene_.committed_list()).get();
    return s;
  }

  // Runs a call that must fail with `message` and leave everything as it was.
  void expect_failure_leaves_state(const std::function<bool()>& call, const std::string& message) {
    SceneState before = state();
    EXPECT_FALSE(call());
    EXPECT_EQ(error(), message);
    EXPECT_TRUE(state() == before) << message;
  }

  RasterContext context_;
  TerminalScene scene_;
  scene::HostErrorBuffer error_;
};

constexpr const char* kInvalidPatch = "Invalid retained terminal segment patch";
constexpr const char* kInvalidList = "Invalid or oversized retained command list";
constexpr const char* kBudget = "Retained scene exceeds 64 MiB memory budget";

TEST_F(TerminalSceneTest, CommitComposesAndCounts) {
  const std::string list = R"([["line",0,0,56,0,"#fff",1],["caret",0,16,16,"#fff"]])";
  ASSERT_TRUE(commit(list)) << error();
  EXPECT_EQ(row_text(frame(), 0), "────────");
  const SceneCounters& c = scene_.counters();
  EXPECT_EQ(c.cell_frames_composed, 1u);
  EXPECT_EQ(c.commands_replayed, 2u);
  EXPECT_EQ(c.last_commands_replayed, 2u);
  EXPECT_EQ(c.commands_touched, 2u);
  EXPECT_EQ(c.last_commands_touched, 2u);
  EXPECT_EQ(c.last_segments_tested, 0u);
  EXPECT_EQ(scene_.command_count(), 2u);
  scene::JsonPtr value = parse(list);
  EXPECT_EQ(scene_.retained_bytes(), scene::json_footprint_as_member(value.get(), "commands"));
  EXPECT_TRUE(scene_.committed_since_present());
}

TEST_F(TerminalSceneTest, SameListTwiceComposesOnce) {
  ASSERT_TRUE(commit(R"([["rect",[0,0,8,16],"#f00",0,"",0]])"));
  const CellFrame* first = scene_.current_frame().get();
  ASSERT_TRUE(commit(R"([["rect",[0,0,8,16],"#f00",0,"",0]])"));
  EXPECT_EQ(scene_.current_frame().get(), first);
  EXPECT_EQ(scene_.counters().cell_frames_composed, 1u);
  EXPECT_EQ(scene_.counters().commands_touched, 2u);
  EXPECT_EQ(scene_.counters().last_commands_replayed, 0u);
  ASSERT_TRUE(commit(R"([["rect",[0,0,8,16],"#F00",0,"",0]])"));  // case matters
  EXPECT_EQ(scene_.counters().cell_frames_composed, 2u);
}

TEST_F(TerminalSceneTest, PresentReusesUntilSomethingInvalidatesTheFrame) {
  EXPECT_FALSE(present());
  EXPECT_EQ(error(), "Terminal has no retained frame");
  ASSERT_TRUE(commit(R"([["rect",[0,0,8,16],"#f00",0,"",0]])"));
  ASSERT_TRUE(present());
  EXPECT_EQ(scene_.counters().cell_cache_hits, 1u);
  EXPECT_EQ(scene_.counters().last_commands_touched, 1u);  // the commit's, until the next present
  ASSERT_TRUE(present());
  EXPECT_EQ(scene_.counters().cell_cache_hits, 2u);
  EXPECT_EQ(scene_.counters().last_commands_touched, 0u);
  EXPECT_EQ(scene_.counters().cell_frames_composed, 1u);

  scene_.invalidate_frame();
  ASSERT_TRUE(present());
  EXPECT_EQ(scene_.counters().cell_frames_composed, 2u);
  EXPECT_FALSE(scene_.frame_invalid());
  EXPECT_EQ(scene_.counters().last_commands_replayed, 1u);

  context_.columns = 10;
  ASSERT_TRUE(present());
  EXPECT_EQ(scene_.counters().cell_frames_composed, 3u);
  EXPECT_EQ(frame().columns, 10);

  context_.monochrome = true;
  ASSERT_TRUE(present());
  EXPECT_EQ(scene_.counters().cell_frames_composed, 4u);
  EXPECT_TRUE(frame().monochrome);
  EXPECT_EQ(scene_.counters().cell_cache_hits, 2u);
}

TEST_F(TerminalSceneTest, EmptyPatchOnCommittedListGivesEmptySegmentScene) {
  ASSERT_TRUE(commit(R"([["rect",[0,0,64,32],"#f00",0,"",0]])"));
  ASSERT_TRUE(patch("{}")) << error();
  EXPECT_TRUE(scene_.segment_mode());
  EXPECT_EQ(scene_.committed_list(), nullptr);
  EXPECT_EQ(scene_.segment_count(), 0u);
  EXPECT_EQ(scene_.retained_bytes(), 0u);
  EXPECT_EQ(frame().at(0, 0).background(), kOpaqueBlack);
  EXPECT_EQ(scene_.counters().cell_frames_composed, 2u);
  EXPECT_EQ(scene_.counters().scene_patch_updates, 1u);
}

TEST_F(TerminalSceneTest, SegmentsDrawInOrderOverTheBackground) {
  ASSERT_TRUE(patch(R"({"background":"#00f","upsert":[)"
                    R"({"id":"a","bounds":[0,0,8,16],"commands":[["line",0,0,56,0,"#fff",1]]},)"
                    R"({"id":"b","bounds":[0,0,8,16],"commands":[["line",24,0,24,16,"#fff",1]]}]})"))
      << error();
  EXPECT_EQ(row_text(frame(), 0), "───┼────");
  EXPECT_EQ(frame().at(0, 1).background(), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(scene_.segment_count(), 2u);
  EXPECT_EQ(scene_.segment(0).id, "a");
  EXPECT_EQ(scene_.segment(0).charge, scene::json_footprint_as_member(scene_.segment(0).commands.get(), "commands") + 1 + 33);
  EXPECT_EQ(scene_.retained_bytes(), scene_.segment(0).charge + scene_.segment(1).charge);
  EXPECT_EQ(scene_.command_count(), 2u);
  const SceneCounters& c = scene_.counters();
  EXPECT_EQ(c.segments_updated, 2u);
  EXPECT_EQ(c.segments_tested, 2u);
  EXPECT_EQ(c.last_segments_tested, 2u);
  EXPECT_EQ(c.commands_touched, 2u);
  EXPECT_EQ(scene_.segment_index().find("b")->position, 1u);
}

TEST_F(TerminalSceneTest, IdenticalResendComposesNothing) {
  const std::string body = R"({"upsert":[{"id":"a","bounds":[0,0,8,16],"commands":[["caret",0,0,16,"#fff"]]}]})";
  ASSERT_TRUE(patch(body));
  const TerminalSegment* record = &scene_.segment(0);
  const CellFrame* composed = scene_.current_frame().get();
  ASSERT_TRUE(patch(body));
  EXPECT_EQ(&scene_.segment(0), record);
  EXPECT_EQ(scene_.current_frame().get(), composed);
  const SceneCounters& c = scene_.counters();
  EXPECT_EQ(c.unchanged_segments, 1u);
  EXPECT_EQ(c.cell_frames_composed, 1u);
  EXPECT_EQ(c.segments_updated, 1u);
  EXPECT_EQ(c.scene_patch_updates, 2u);
  EXPECT_EQ(c.commands_touched, 2u);
  EXPECT_EQ(c.last_commands_replayed, 0u);
  EXPECT_EQ(c.last_segments_tested, 0u);
}

TEST_F(TerminalSceneTest, ReplacingRemovingAndOrdering) {
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"a","bounds":[0,0,1,1],"commands":[]},)"
                    R"({"id":"b","bounds":[0,0,1,1],"commands":[]},{"id":"c","bounds":[0,0,1,1],"commands":[]}]})"));
  ASSERT_TRUE(patch(R"({"remove":["b","zz","zz"],"upsert":[{"id":"d","bounds":[0,0,1,1],"commands":[]},)"
                    R"({"id":"a","bounds":[0,0,1,1],"commands":[["caret",0,0,1,"#fff"]]}]})"))
      << error();
  ASSERT_EQ(scene_.segment_count(), 3u);
  EXPECT_EQ(scene_.segment(0).id, "a");
  EXPECT_EQ(scene_.segment(1).id, "c");
  EXPECT_EQ(scene_.segment(2).id, "d");
  EXPECT_EQ(scene_.counters().segments_removed, 1u);
  EXPECT_EQ(scene_.counters().segments_updated, 5u);
  EXPECT_EQ(scene_.command_count(), 1u);

  ASSERT_TRUE(patch(R"({"order":["d","a","c"]})")) << error();
  EXPECT_EQ(scene_.segment(0).id, "d");
  EXPECT_EQ(scene_.segment_index().find("c")->position, 2u);
  EXPECT_EQ(scene_.segment_index().find("d")->position, 0u);
  EXPECT_EQ(scene_.counters().cell_frames_composed, 3u);  // a new order composes
}

TEST_F(TerminalSceneTest, BackgroundOfEmptyStringClearsToBlack) {
  ASSERT_TRUE(patch(R"({"background":"#fff"})"));
  EXPECT_EQ(frame().at(0, 0).background(), (Rgba{255, 255, 255, 255}));
  ASSERT_TRUE(patch(R"({"background":""})"));
  EXPECT_EQ(frame().at(0, 0).background(), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(scene_.background(), (Rgba{0, 0, 0, 0}));
}

TEST_F(TerminalSceneTest, CommitDropsSegments) {
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"a","bounds":[0,0,1,1],"commands":[]}]})"));
  ASSERT_TRUE(commit("[]"));
  EXPECT_FALSE(scene_.segment_mode());
  EXPECT_EQ(scene_.segment_count(), 0u);
  EXPECT_EQ(scene_.segment_index().find("a"), nullptr);
  // The next patch starts from an empty set: "a" is new again.
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"a","bounds":[0,0,1,1],"commands":[]}]})"));
  EXPECT_EQ(scene_.counters().unchanged_segments, 0u);
}

TEST_F(TerminalSceneTest, BeginInCommittedListIsDrawn) {
  ASSERT_TRUE(commit(R"([["begin","#0f0"]])"));
  EXPECT_EQ(frame().at(0, 0).background(), (Rgba{0, 255, 0, 255}));
}

TEST_F(TerminalSceneTest, EveryFailedPatchLeavesEverythingAsItWas) {
  ASSERT_TRUE(patch(R"({"background":"#123","upsert":[{"id":"a","bounds":[0,0,8,16],"commands":[["caret",0,0,16,"#fff"]]},)"
                    R"({"id":"b","bounds":[0,0,8,16],"commands":[]}]})"));
  ASSERT_TRUE(present());
  struct Case {
    const char* body;
    const char* message;
  };
  const std::string too_long_id(257, 'x');
  const Case cases[] = {
      {"[]", kInvalidPatch},
      {R"({"upsert":{}})", kInvalidPatch},
      {R"({"remove":"a"})", kInvalidPatch},
      {R"({"order":null})", kInvalidPatch},
      {R"({"background":"#12345"})", kInvalidPatch},
      {R"({"background":5})", kInvalidPatch},
      {R"({"remove":["a","a"]})", kInvalidPatch},
      {R"({"remove":[""]})", kInvalidPatch},
      {R"({"remove":[3]})", kInvalidPatch},
      {R"({"upsert":[{"id":"a","bounds":[0,0,1,1],"commands":[]}],"remove":["a"]})", kInvalidPatch},
      {R"({"upsert":[{"id":"new","bounds":[0,0,1,1],"commands":[]}],"remove":["new"]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[]},{"id":"c","bounds":[0,0,1,1],"commands":[]}]})",
       kInvalidPatch},
      {R"({"upsert":[{"id":"","bounds":[0,0,1,1],"commands":[]}]})", kInvalidPatch},
      {R"({"upsert":[{"bounds":[0,0,1,1],"commands":[]}]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,-1,1],"commands":[]}]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[1e308,0,1e308,1],"commands":[]}]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1],"commands":[]}]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","commands":[]}]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":{}}]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[5]}]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[["begin","#fff"]]}]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[["styled_rect",[0,0,1,1],{"colour":1}]]}]})",
       kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[[[[[[[[[[[[1]]]]]]]]]]]]}]})", kInvalidPatch},
      {R"({"upsert":[5]})", kInvalidPatch},
      {R"({"order":["a"]})", kInvalidPatch},
      {R"({"order":["a","a"]})", kInvalidPatch},
      {R"({"order":["a","zz"]})", kInvalidPatch},
      {R"({"order":["a","b","c"]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[]}],"order":["a","b"]})", kInvalidPatch},
      {R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[["icon","rocket",0,0,16,"#fff"]]}]})",
       "Invalid terminal command 0 (icon), geometry, color, or allocation budget"},
      {R"({"upsert":[{"id":"b","bounds":[0,0,1,1],"commands":[["caret",0,0,1,"#fff"],["nope"]]}]})",
       "Invalid terminal command 1 (nope), geometry, color, or allocation budget"},
  };
  for (const Case& c : cases) {
    expect_failure_leaves_state([&] { return patch(c.body); }, c.message);
  }
  std::string body = R"({"upsert":[{"id":")" + too_long_id + R"(","bounds":[0,0,1,1],"commands":[]}]})";
  expect_failure_leaves_state([&] { return patch(body); }, kInvalidPatch);
  expect_failure_leaves_state([&] { return patch_value(nullptr); }, kInvalidPatch);
  EXPECT_EQ(row_text(frame(), 1), "        ");
  EXPECT_EQ(frame().at(0, 0).underline, 1);
}

TEST_F(TerminalSceneTest, EveryFailedCommitLeavesEverythingAsItWas) {
  ASSERT_TRUE(commit(R"([["caret",0,0,16,"#fff"]])"));
  ASSERT_TRUE(present());
  const char* cases[][2] = {
      {"{}", kInvalidList},
      {"[5]", kInvalidList},
      {R"([["line",0,0,1,1,"#fff",1e999]])", kInvalidList},
      {R"([["styled_rect",[0,0,1,1],{"fill":"#fff","fill":"#fff"}]])", kInvalidList},
      {R"([["styled_rect",[0,0,1,1]]])", kInvalidList},
      {R"([["caret",0,0,16,"#fff"],["caret",0,0,16]])",
       "Invalid terminal command 1 (caret), geometry, color, or allocation budget"},
      {R"([["sprite","a.png",[0,0,8,16],8,8,1,1,true,"#fff"]])",
       "Invalid terminal command 0 (sprite), geometry, color, or allocation budget"},
  };
  for (const auto& c : cases) expect_failure_leaves_state([&] { return commit(c[0]); }, c[1]);
  expect_failure_leaves_state([&] { return commit_value(nullptr); }, kInvalidList);
}

TEST_F(TerminalSceneTest, CommitOf200001CommandsFails) {
  scene::JsonPtr list(cJSON_CreateArray());
  for (int i = 0; i < 200000; ++i) cJSON_AddItemToArray(list.get(), cJSON_CreateArray());
  // 200000 empty arrays pass the list check and fail composition at index 0.
  ASSERT_TRUE(commit(R"([["caret",0,0,16,"#fff"]])"));
  expect_failure_leaves_state([&] { return commit_value(list.get()); },
                              "Invalid terminal command 0 (?), geometry, color, or allocation budget");
  cJSON_AddItemToArray(list.get(), cJSON_CreateArray());
  expect_failure_leaves_state([&] { return commit_value(list.get()); }, kInvalidList);
}

TEST_F(TerminalSceneTest, PatchCommandTotalsAreBounded) {
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"keep","bounds":[0,0,1,1],"commands":[["caret",0,0,1,"#fff"]]}]})"));
  std::string commands = "[";
  // The smallest valid command, so that 200000 of them stay within the byte budget.
  for (int i = 0; i < 100000; ++i) commands += i ? R"(,["clip",null])" : R"(["clip",null])";
  commands += "]";
  std::string two = R"({"upsert":[{"id":"x","bounds":[0,0,1,1],"commands":)" + commands +
                    R"(},{"id":"y","bounds":[0,0,1,1],"commands":)" + commands + "}]}";
  // 200000 in one patch plus the one retained: over the retained limit.
  expect_failure_leaves_state([&] { return patch(two); }, kInvalidPatch);
  std::string three = R"({"remove":["keep"],"upsert":[{"id":"x","bounds":[0,0,1,1],"commands":)" + commands +
                      R"(},{"id":"y","bounds":[0,0,1,1],"commands":)" + commands +
                      R"(},{"id":"z","bounds":[0,0,1,1],"commands":[["caret",0,0,0,"#fff"]]}]})";
  expect_failure_leaves_state([&] { return patch(three); }, kInvalidPatch);
  std::string exact = R"({"remove":["keep"],"upsert":[{"id":"x","bounds":[0,0,1,1],"commands":)" + commands +
                      R"(},{"id":"y","bounds":[0,0,1,1],"commands":)" + commands + "}]}";
  ASSERT_TRUE(patch(exact)) << error();
  EXPECT_EQ(scene_.command_count(), 200000u);
}

TEST_F(TerminalSceneTest, TooManyPatchEntriesFail) {
  scene::JsonPtr command(cJSON_CreateObject());
  cJSON* remove = cJSON_AddArrayToObject(command.get(), "remove");
  for (int i = 0; i < 200001; ++i) cJSON_AddItemToArray(remove, cJSON_CreateString("gone"));
  expect_failure_leaves_state([&] { return patch_value(command.get()); }, kInvalidPatch);
}

// Eight "text" commands whose footprint, with the member name "commands",
// totals exactly `total` bytes (drawn as nothing without a text drawer).
scene::JsonPtr list_of_footprint(std::uint64_t total) {
  constexpr std::uint64_t kPerCommand = 523;  // 8 values, "text", "#fff"
  std::uint64_t remaining = total - 73 - 8 * kPerCommand;
  scene::JsonPtr list(cJSON_CreateArray());
  for (int i = 0; i < 8; ++i) {
    std::uint64_t length = std::min<std::uint64_t>(remaining, kMaxRetainedStringBytes);
    remaining -= length;
    std::string text(length, 'a' + i);
    cJSON* command = cJSON_CreateArray();
    cJSON_AddItemToArray(command, cJSON_CreateString("text"));
    cJSON_AddItemToArray(command, cJSON_CreateString(text.c_str()));
    cJSON_AddItemToArray(command, cJSON_CreateNumber(0));
    cJSON_AddItemToArray(command, cJSON_CreateNumber(0));
    cJSON_AddItemToArray(command, cJSON_CreateString("#fff"));
    cJSON_AddItemToArray(command, cJSON_CreateNumber(12));
    cJSON_AddItemToArray(command, cJSON_CreateFalse());
    cJSON_AddItemToArray(list.get(), command);
  }
  EXPECT_EQ(remaining, 0u);
  return list;
}

TEST_F(TerminalSceneTest, BudgetAllowsEqualAndRefusesOneByteMore) {
  ASSERT_TRUE(commit(R"([["caret",0,0,16,"#fff"]])"));
  scene::JsonPtr over = list_of_footprint(kMaxRetainedBytes + 1);
  ASSERT_EQ(scene::json_footprint_as_member(over.get(), "commands"), kMaxRetainedBytes + 1);
  expect_failure_leaves_state([&] { return commit_value(over.get()); }, kBudget);
  over.reset();
  scene::JsonPtr exact = list_of_footprint(kMaxRetainedBytes);
  ASSERT_TRUE(commit_value(exact.get())) << error();
  EXPECT_EQ(scene_.retained_bytes(), kMaxRetainedBytes);
}

TEST_F(TerminalSceneTest, SegmentOverBudgetFails) {
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"a","bounds":[0,0,1,1],"commands":[]}]})"));
  scene::JsonPtr command(cJSON_CreateObject());
  cJSON* upsert = cJSON_AddArrayToObject(command.get(), "upsert");
  cJSON* entry = cJSON_CreateObject();
  cJSON_AddStringToObject(entry, "id", "big");
  cJSON_AddItemToObject(entry, "bounds", cJSON_CreateIntArray(std::array<int, 4>{0, 0, 1, 1}.data(), 4));
  // The list alone fits; the id and the record push the segment over.
  cJSON_AddItemToObject(entry, "commands", list_of_footprint(kMaxRetainedBytes - 10).release());
  cJSON_AddItemToArray(upsert, entry);
  expect_failure_leaves_state([&] { return patch_value(command.get()); }, kBudget);
}

TEST_F(TerminalSceneTest, SixteenMebibyteStringIsRefusedByTheListCheck) {
  std::string huge(16 * 1024 * 1024, 'a');
  ASSERT_TRUE(commit("[]"));
  expect_failure_leaves_state([&] { return commit(R"([["text",")" + huge + R"(",0,0,"#fff",12,true]])"); },
                              kInvalidList);
}

TEST_F(TerminalSceneTest, DataUrisAreBoundedByTheirDecodedSize) {
  auto image = [](std::size_t payload, const char* tail) {
    return R"([["image","data:image/png;base64,)" + std::string(payload, 'A') + tail +
           R"(",[0,0,8,16],"#fff","stretch"]])";
  };
  EXPECT_TRUE(commit(image(11184808, ""))) << error();  // 8388606 decoded bytes
  EXPECT_FALSE(commit(image(11184812, "")));            // 8388609
  EXPECT_EQ(error(), kInvalidList);
  EXPECT_TRUE(commit(image(11184811, "="))) << error();  // 8388609 less one for the padding
  EXPECT_FALSE(commit(image(11184813, "")));            // longer than 11184834 bytes
  EXPECT_EQ(error(), kInvalidList);
}

TEST_F(TerminalSceneTest, ResetCountersKeepsSizes) {
  ASSERT_TRUE(commit(R"([["caret",0,0,16,"#fff"]])"));
  scene_.reset_counters();
  EXPECT_TRUE(scene_.counters() == SceneCounters{});
  EXPECT_EQ(scene_.command_count(), 1u);
  EXPECT_NE(scene_.retained_bytes(), 0u);
}

TEST(RetainedListCheck, DepthStringsAndNumbers) {
  auto nested = [](int depth) {  // the number sits at `depth`: list 1, command 2, items 3...
    std::string text = "[[\"x\"," + std::string(depth - 3, '[') + "1" + std::string(depth - 3, ']') + "]]";
    return parse(text);
  };
  EXPECT_TRUE(retained_list_acceptable(nested(11).get()));
  EXPECT_FALSE(retained_list_acceptable(nested(12).get()));
  EXPECT_TRUE(retained_list_acceptable(parse(R"([["styled_rect",[0,0,1,1],{"fill":"not a colour"}]])").get()));
  EXPECT_FALSE(retained_list_acceptable(parse(R"([["styled_rect",[0,0,1,1],{"fill":{}}]])").get()));
  EXPECT_FALSE(retained_list_acceptable(parse(R"([["marker",[0,0,1,1],{"bevel":[]}]])").get()));
  EXPECT_FALSE(retained_list_acceptable(parse(R"([["x",{"a":1e999}]])").get()));
  EXPECT_TRUE(retained_list_acceptable(parse(R"([[null,true,{"a":[1]}]])").get()));
  std::string at_limit(kMaxRetainedStringBytes, 's');
  EXPECT_TRUE(retained_list_acceptable(parse("[[\"" + at_limit + "\"]]").get()));
  EXPECT_FALSE(retained_list_acceptable(parse("[[\"" + at_limit + "s\"]]").get()));
  EXPECT_FALSE(retained_list_acceptable(parse("{}").get()));
}

TEST(SegmentIndex, CapacityAndProbing) {
  EXPECT_EQ(SegmentIndex::capacity_for(0), 8u);
  EXPECT_EQ(SegmentIndex::capacity_for(3), 8u);
  EXPECT_EQ(SegmentIndex::capacity_for(4), 16u);
  EXPECT_EQ(SegmentIndex::capacity_for(200000), 524288u);
  SegmentIndex index;
  ASSERT_TRUE(index.reset(100));
  std::vector<TerminalSegment> segments(100);
  for (int i = 0; i < 100; ++i) {
    segments[i].id = "segment-" + std::to_string(i);
    ASSERT_TRUE(index.insert(&segments[i], i));
  }
  EXPECT_FALSE(index.insert(&segments[7], 200));
  EXPECT_EQ(index.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    const SegmentIndex::Slot* slot = index.find(segments[i].id);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->segment, &segments[i]);
    EXPECT_EQ(slot->position, static_cast<std::uint64_t>(i));
  }
  EXPECT_EQ(index.find("segment-100"), nullptr);
  EXPECT_EQ(index.find(""), nullptr);
}

TEST(SegmentIndex, NeverFillsEvenWhenOverused) {
  SegmentIndex index;
  ASSERT_TRUE(index.reset(0));  // 8 slots
  std::vector<TerminalSegment> segments(10);
  int inserted = 0;
  for (int i = 0; i < 10; ++i) {
    segments[i].id = std::to_string(i);
    inserted += index.insert(&segments[i], i);
  }
  EXPECT_EQ(inserted, 7);
  EXPECT_EQ(index.find("9"), nullptr);
}

}  // namespace
}  // namespace lumora::terminal
