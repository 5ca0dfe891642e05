// Segment records as the window builds them from patch entries, and the
// window's order of checks in the shared patch planner.
#include "window/scene/segments.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "json/json.h"
#include "scene/footprint.h"
#include "scene/limits.h"

namespace lumora::window {
namespace {

using json::JsonPtr;

JsonPtr parse(const std::string& json) {
  JsonPtr value(cJSON_Parse(json.c_str()));
  EXPECT_TRUE(value) << json;
  return value;
}

std::unique_ptr<WindowSegment> build(const WindowPatchRules& rules, const std::string& id, const cJSON* commands,
                                     const WindowSegment* replaced = nullptr) {
  const char* message = nullptr;
  auto segment = rules.build(id, commands, static_cast<std::uint64_t>(cJSON_GetArraySize(commands)), replaced,
                             message);
  EXPECT_TRUE(segment) << (message != nullptr ? message : "");
  return segment;
}

TEST(WindowSegmentsBuildTest, ChargeCountsRecordIdStartTimesListDecodedCommandsAndPoints) {
  struct Case {
    const char* commands;
    std::uint64_t decoded;  // what the decoded records and their points add
  };
  const Case cases[] = {
      {"[]", 0},
      {R"([["rect",[0,0,4,4],"#ff0000",0,"",0]])", 376},
      {R"([["lines",[[0,0],[5,5],[9,0]],"#ffffff",1],["clip",null]])", 2 * 376 + 3 * 16},
  };
  WindowPatchRules rules;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commands);
    JsonPtr commands = parse(c.commands);
    for (const std::string& id : {std::string("a"), std::string(256, 'z')}) {
      auto segment = build(rules, id, commands.get());
      ASSERT_TRUE(segment);
      const std::uint64_t n = segment->command_count;
      EXPECT_EQ(segment->charge, 193 + id.size() + 8 * std::max<std::uint64_t>(1, n) +
                                     scene::json_footprint_as_member(commands.get(), "commands") + c.decoded);
      EXPECT_EQ(segment->start_times.size(), std::max<std::uint64_t>(1, n));
      EXPECT_EQ(segment->decoded.size(), n);
    }
  }
}

TEST(WindowSegmentsBuildTest, EqualCommandsAtTheSamePositionKeepTheirStartTimes) {
  WindowPatchRules rules;
  rules.now = 10;
  JsonPtr old_list = parse(R"([["rect",[0,0,1,1],"#f00",0,"",0],["rect",[1,0,1,1],"#0f0",0,"",0],)"
                           R"(["rect",[2,0,1,1],"#00f",0,"",0]])");
  auto replaced = build(rules, "s", old_list.get());
  ASSERT_TRUE(replaced);
  replaced->start_times = {1, 2, 3};
  rules.now = 20;
  // The first is equal, the second changed, the third moved one place on.
  JsonPtr new_list = parse(R"([["rect",[0,0,1,1],"#f00",0,"",0],["rect",[1,0,1,1],"#fff",0,"",0],)"
                           R"(["rect",[9,9,1,1],"#000",0,"",0],["rect",[2,0,1,1],"#00f",0,"",0]])");
  auto segment = build(rules, "s", new_list.get(), replaced.get());
  ASSERT_TRUE(segment);
  EXPECT_EQ(segment->start_times, (std::vector<double>{1, 20, 20, 20}));
}

TEST(WindowSegmentsBuildTest, ExtentJoinsTheCommandsAndAnEmptyListCoversNothing) {
  WindowPatchRules rules;
  JsonPtr commands = parse(R"([["rect",[0,0,10,10],"#f00",0,"",0],["rect",[30,20,5,5],"#0f0",0,"",0]])");
  auto segment = build(rules, "s", commands.get());
  ASSERT_TRUE(segment);
  const Rect e = segment->extent;
  EXPECT_LE(e.x, 0);
  EXPECT_LE(e.y, 0);
  EXPECT_GE(e.x + e.w, 35);
  EXPECT_GE(e.y + e.h, 25);
  EXPECT_LT(e.x + e.w, 40);  // nothing far beyond what the commands paint
  EXPECT_EQ(segment->content_extent.w, e.w);

  JsonPtr empty = parse("[]");
  auto blank = build(rules, "b", empty.get());
  ASSERT_TRUE(blank);
  EXPECT_TRUE(rect_empty(blank->extent));
  EXPECT_TRUE(blank->decoded.empty());
}

TEST(WindowSegmentsBuildTest, EntryCommandsThatASegmentRefuses) {
  const std::pair<const char*, const char*> cases[] = {
      {R"([["rect",[0,0,4,4],"#f00",0,"",0]])", nullptr},
      {R"([["begin","#000"]])", kInvalidSegmentPatch},
      {R"([["rect",[0,0,4,4],"#f00",0,"",0],["rect","wrong"]])", kInvalidSegmentPatch},
  };
  WindowPatchRules rules;
  for (const auto& [json, refused] : cases) {
    SCOPED_TRACE(json);
    JsonPtr commands = parse(json);
    const char* message = rules.commands_refused(commands.get());
    EXPECT_STREQ(message != nullptr ? message : "(accepted)", refused != nullptr ? refused : "(accepted)");
  }
}

// Rules that keep the planner's other order: segment count first.
struct CountFirstRules : WindowPatchRules {
  static constexpr bool charge_before_segment_count = false;
};

TEST(WindowSegmentsPlanTest, WindowReportsTheBudgetBeforeTooManySegments) {
  // kMaxSegments retained segments whose charges pass the budget together;
  // one more segment breaks both the count and the budget.
  std::vector<std::unique_ptr<WindowSegment>> retained;
  retained.reserve(scene::kMaxSegments);
  scene::SegmentIndex<WindowSegment> index;
  ASSERT_TRUE(index.reset(scene::kMaxSegments));
  const std::uint64_t each = scene::kRetainedSceneBudget / scene::kMaxSegments + 1;
  for (std::uint64_t i = 0; i < scene::kMaxSegments; ++i) {
    auto segment = std::make_unique<WindowSegment>();
    segment->id = "s" + std::to_string(i);
    segment->charge = each;
    ASSERT_TRUE(index.insert(segment.get(), i));
    retained.push_back(std::move(segment));
  }
  JsonPtr patch = parse(R"({"upsert":[{"id":"new","bounds":[0,0,1,1],)"
                        R"("commands":[["rect",[0,0,4,4],"#f00",0,"",0]]}]})");
  scene::PatchMembers members;
  ASSERT_TRUE(scene::read_patch_members(patch.get(), members));
  const std::span<const std::unique_ptr<WindowSegment>> view(retained);

  char buffer[512] = {};
  scene::SegmentPatch<WindowSegment> window_plan;
  EXPECT_FALSE(scene::plan_segment_patch(members, view, index, WindowPatchRules{}, window_plan,
                                         scene::ErrorText(buffer, sizeof buffer)));
  EXPECT_STREQ(buffer, kSceneOverBudget);

  char other[512] = {};
  scene::SegmentPatch<WindowSegment> count_plan;
  EXPECT_FALSE(scene::plan_segment_patch(members, view, index, CountFirstRules{}, count_plan,
                                         scene::ErrorText(other, sizeof other)));
  EXPECT_STREQ(other, kInvalidSegmentPatch);
}

}  // namespace
}  // namespace lumora::window
