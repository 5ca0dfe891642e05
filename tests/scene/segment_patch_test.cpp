#include "scene/segment_patch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/backend.h"
#include "json/json.h"

namespace lumora::scene {
namespace {

using json::JsonPtr;

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

// The smallest segment record the bookkeeping works with.
struct Record {
  std::string id;
  JsonPtr commands;
  std::uint64_t command_count = 0;
  std::uint64_t charge = 0;
  const Record* replaced = nullptr;  // what build() was handed
};

// Rules that accept any bounds that are an array, refuse lists holding the
// string "bad", and charge each record 1000 bytes per command.
struct TestRules {
  PatchMessages messages{"invalid", "allocation", "budget"};
  std::uint64_t charge_per_command = 1000;

  bool bounds_acceptable(const cJSON* bounds) const { return cJSON_IsArray(bounds); }
  const char* commands_refused(const cJSON* commands) const {
    for (const cJSON* item = commands->child; item != nullptr; item = item->next) {
      if (cJSON_IsString(item) && std::string_view(item->valuestring) == "bad") return "refused";
    }
    return nullptr;
  }
  std::unique_ptr<Record> build(std::string_view id, const cJSON* commands, std::uint64_t command_count,
                                const Record* replaced, const char*&) const {
    auto record = std::make_unique<Record>();
    record->id.assign(id);
    record->commands.reset(cJSON_Duplicate(commands, 1));
    record->command_count = command_count;
    record->charge = command_count * charge_per_command;
    record->replaced = replaced;
    return record;
  }
};

// A retained set of segments, patched the way a backend does: plan, adopt.
class SegmentPatchTest : public ::testing::Test {
 protected:
  std::vector<std::unique_ptr<Record>> segments_;
  SegmentIndex<Record> index_;
  SegmentPatch<Record> last_;
  std::string error_;

  bool patch(const std::string& text, const TestRules& rules = {}) {
    JsonPtr command = parse(text);
    host::HostErrorBuffer error;
    PatchMembers members;
    SegmentPatch<Record> plan;
    if (!read_patch_members(command.get(), members)) {
      error_ = "members";
      return false;
    }
    if (!plan_segment_patch(members, std::span<const std::unique_ptr<Record>>(segments_), index_, rules, plan,
                            error.text())) {
      error_ = error.c_str();
      return false;
    }
    last_.removals = plan.removals;
    last_.unchanged = plan.unchanged;
    last_.total_commands = plan.total_commands;
    last_.total_charge = plan.total_charge;
    segments_ = adopt_segments(plan, segments_);
    index_ = std::move(plan.index);
    return true;
  }

  std::string order() const {
    std::string text;
    for (const auto& segment : segments_) {
      text += segment->id + "@" + std::to_string(index_.find(segment->id)->position) + " ";
    }
    return text;
  }
};

TEST_F(SegmentPatchTest, UpsertsReplaceInPlaceAndAppendNewIds) {
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"a","bounds":[],"commands":[1]},{"id":"b","bounds":[],"commands":[2,3]}]})"));
  EXPECT_EQ(order(), "a@0 b@1 ");
  const Record* b = segments_[1].get();
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"c","bounds":[],"commands":[]},{"id":"a","bounds":[],"commands":[9]},
                                   {"id":"b","bounds":[],"commands":[2,3]}]})"));
  EXPECT_EQ(order(), "a@0 b@1 c@2 ");
  EXPECT_EQ(segments_[1].get(), b);  // unchanged: the same record
  EXPECT_EQ(last_.unchanged, 1u);
  EXPECT_NE(segments_[0]->replaced, nullptr);  // the replaced record reaches build()
  EXPECT_EQ(segments_[2]->replaced, nullptr);
  EXPECT_EQ(last_.total_commands, 3u);
  EXPECT_EQ(last_.total_charge, 3000u);
}

TEST_F(SegmentPatchTest, RemovalsAndOrder) {
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"a","bounds":[],"commands":[]},{"id":"b","bounds":[],"commands":[]},
                                   {"id":"c","bounds":[],"commands":[]}]})"));
  ASSERT_TRUE(patch(R"({"remove":["b","nope","nope"],"order":["c","a"]})"));
  EXPECT_EQ(order(), "c@0 a@1 ");
  EXPECT_EQ(last_.removals, 1u);
}

TEST_F(SegmentPatchTest, BrokenRulesNameTheirMessage) {
  ASSERT_TRUE(patch(R"({"upsert":[{"id":"a","bounds":[],"commands":[1]},{"id":"b","bounds":[],"commands":[]}]})"));
  const std::pair<const char*, const char*> cases[] = {
      {R"({"remove":["a","a"]})", "invalid"},
      {R"({"remove":[""]})", "invalid"},
      {R"({"remove":["a"],"upsert":[{"id":"a","bounds":[],"commands":[]}]})", "invalid"},
      {R"({"upsert":[{"id":"x","bounds":[],"commands":[]},{"id":"x","bounds":[],"commands":[]}]})", "invalid"},
      {R"({"upsert":[{"id":"x","bounds":{},"commands":[]}]})", "invalid"},
      {R"({"upsert":[{"id":"x","bounds":[],"commands":{}}]})", "invalid"},
      {R"({"upsert":[{"id":"x","bounds":[],"commands":["bad"]}]})", "refused"},
      {R"({"order":["a"]})", "invalid"},
      {R"({"order":["a","a"]})", "invalid"},
      {R"({"order":["a","z"]})", "invalid"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_FALSE(patch(text)) << text;
    EXPECT_EQ(error_, message) << text;
  }
  EXPECT_EQ(order(), "a@0 b@1 ");  // every failure left the segments as they were
  TestRules expensive;
  expensive.charge_per_command = kRetainedSceneBudget;
  EXPECT_FALSE(patch(R"({"upsert":[{"id":"b","bounds":[],"commands":[1]}]})", expensive));
  EXPECT_EQ(error_, "budget");
}

TEST(SegmentIndex, FindsEveryInsertedIdAndNeverFills) {
  EXPECT_EQ(SegmentIndex<Record>::capacity_for(4), 16u);  // at most half full
  SegmentIndex<Record> index;
  ASSERT_TRUE(index.reset(100));
  std::vector<Record> segments(100);
  for (int i = 0; i < 100; ++i) {
    segments[i].id = "segment-" + std::to_string(i);
    ASSERT_TRUE(index.insert(&segments[i], i));
  }
  EXPECT_FALSE(index.insert(&segments[7], 200));  // a duplicate id
  for (int i = 0; i < 100; ++i) {
    const SegmentIndex<Record>::Slot* slot = index.find(segments[i].id);
    ASSERT_TRUE(slot && slot->segment == &segments[i] && slot->position == static_cast<std::uint64_t>(i)) << i;
  }
  EXPECT_EQ(index.find("segment-100"), nullptr);
  // Overused, 8 slots take 7 entries and keep one empty for a probe to stop at.
  ASSERT_TRUE(index.reset(0));
  int inserted = 0;
  for (int i = 0; i < 10; ++i) inserted += index.insert(&segments[i], i);
  EXPECT_EQ(inserted, 7);
  EXPECT_EQ(index.find(segments[9].id), nullptr);
}

}  // namespace
}  // namespace lumora::scene
