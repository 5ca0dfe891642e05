#include "terminal/retained_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "host/backend.h"
#include "json/json.h"
#include "scene/footprint.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

using test::parse;
using test::row_text;

// Eight "text" commands whose footprint, with the member name "commands",
// totals exactly `total` bytes (drawn as nothing without a text drawer).
json::JsonPtr list_of_footprint(std::uint64_t total) {
  constexpr std::uint64_t kPerCommand = 523;  // 8 values, "text", "#fff"
  std::uint64_t remaining = total - 73 - 8 * kPerCommand;
  json::JsonPtr list(cJSON_CreateArray());
  for (int i = 0; i < 8; ++i) {
    std::uint64_t length = std::min<std::uint64_t>(remaining, kMaxRetainedStringBytes);
    remaining -= length;
    json::JsonPtr command = parse(R"(["text","",0,0,"#fff",12,false])");
    cJSON_ReplaceItemInArray(command.get(), 1, cJSON_CreateString(std::string(length, 'a' + i).c_str()));
    cJSON_AddItemToArray(list.get(), command.release());
  }
  EXPECT_EQ(remaining, 0u);
  EXPECT_EQ(scene::json_footprint_as_member(list.get(), "commands"), total);
  return list;
}

// A patch upserting one segment per list, with ids "s0", "s1"...
std::string upsert(const std::vector<std::string>& lists, const std::string& before = "") {
  std::string body = "{" + before + R"("upsert":[)";
  for (std::size_t i = 0; i < lists.size(); ++i) {
    body += (i ? "," : "") + std::string(R"({"id":"s)") + std::to_string(i) + R"(","bounds":[0,0,1,1],"commands":)" +
            lists[i] + "}";
  }
  return body + "]}";
}

struct FailureCase {
  std::string name;
  json::JsonPtr value;  // null stands for a missing member
  std::string message;
};

class TerminalSceneTest : public ::testing::Test {
 protected:
  scene::ErrorText fresh_error() {
    error_ = host::HostErrorBuffer{};
    return error_.text();
  }
  bool commit_value(const cJSON* value) { return scene_.commit(context_, value, fresh_error()); }
  bool patch_value(const cJSON* value) { return scene_.patch(context_, value, fresh_error()); }
  bool commit(const std::string& list) { return commit_value(parse(list).get()); }
  bool patch(const std::string& command) { return patch_value(parse(command).get()); }
  bool present() { return scene_.present(context_, fresh_error()); }
  std::string error() const { return error_.c_str(); }
  const CellFrame& frame() const { return *scene_.current_frame(); }

  // Everything a failing call must leave as it was.
  auto state() const {
    std::vector<std::string> ids;
    for (std::uint64_t i = 0; i < scene_.segment_count(); ++i) ids.push_back(scene_.segment(i).id);
    const cJSON* committed = scene_.committed_list();
    return std::make_tuple(scene_.counters(), ids, scene_.background(), scene_.current_frame().get(),
                           scene_.command_count(), scene_.retained_bytes(), scene_.segment_mode(), scene_.frame_invalid(),
                           scene_.committed_since_present(), committed ? json::print_json(committed).get() : std::string());
  }

  // Runs each failing call and checks its message and that nothing changed.
  void expect_failures_leave_state(const std::vector<FailureCase>& cases, const std::function<bool(const cJSON*)>& call) {
    for (const FailureCase& c : cases) {
      SCOPED_TRACE(c.name.substr(0, 160));
      const auto before = state();
      EXPECT_FALSE(call(c.value.get()));
      EXPECT_EQ(error(), c.message);
      EXPECT_TRUE(state() == before);
    }
  }

  RasterContext context_ = test::grid(8, 2);
  TerminalScene scene_;
  host::HostErrorBuffer error_;
};

const std::string kInvalidPatch = "Invalid retained terminal segment patch";
const std::string kInvalidList = "Invalid or oversized retained command list";
const std::string kBudget = "Retained scene exceeds 64 MiB memory budget";

std::string command_error(int index, const char* kind) {
  return "Invalid terminal command " + std::to_string(index) + " (" + kind +
         "), geometry, color, or allocation budget";
}

// The commit's counters and frame reuse are seen through a host; here the
// retained size and that a differently spelled list composes anew.
TEST_F(TerminalSceneTest, CommitChargesTheListAndRecomposesOnlyForADifferentOne) {
  const std::string list = R"([["line",0,0,56,0,"#fff",1],["caret",0,16,16,"#fff"]])";
  ASSERT_TRUE(commit(list)) << error();
  EXPECT_EQ(row_text(frame(), 0), "────────");
  EXPECT_EQ(scene_.retained_bytes(), scene::json_footprint_as_member(parse(list).get(), "commands"));
  ASSERT_TRUE(commit(list));
  ASSERT_TRUE(commit(R"([["line",0,0,56,0,"#FFF",1],["caret",0,16,16,"#fff"]])"));  // case matters
  EXPECT_EQ(scene_.counters().cell_frames_composed, 2u);
}

// Commits that share commands with the retained list keep those commands
// rather than copying them; whatever the overlap, the retained list is the
// list committed and the frame is what that list draws.
TEST_F(TerminalSceneTest, RetainedListIsTheCommittedListWhateverItSharesWithThePreviousOne) {
  const std::string a = R"(["text","a",0,0,"#fff",14,false])", b = R"(["text","b",8,0,"#fff",14,false])",
                    c = R"(["text","c",16,0,"#fff",14,false])", d = R"(["line",0,16,56,16,"#0f0",1])";
  const std::vector<std::string> lists = {
      "[" + a + "," + b + "," + c + "]",
      "[" + a + "," + d + "," + c + "]",           // one changed in the middle
      "[" + a + "," + d + "," + c + "," + b + "]",  // one more at the end
      "[" + a + "," + d + "]",                      // fewer
      "[" + d + "," + a + "]",                      // the same commands elsewhere
      "[]",
      "[" + c + "]",
  };
  const RasterContext drawing = context_;
  for (const std::string& list : lists) {
    ASSERT_TRUE(scene_.commit(drawing, parse(list).get(), fresh_error())) << error();
    EXPECT_EQ(test::print(scene_.committed_list()), test::print(parse(list).get()));
    CellFrameRef fresh = compose_frame(drawing, parse(list).get(), kOpaqueBlack, fresh_error());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(test::rows_text(frame()), test::rows_text(*fresh)) << list;
  }
  // The same list again, once the frame cannot be reused: composed anew, kept as it was.
  const std::uint64_t composed = scene_.counters().cell_frames_composed;
  scene_.invalidate_frame();
  ASSERT_TRUE(scene_.commit(drawing, parse(lists.back()).get(), fresh_error()));
  EXPECT_EQ(scene_.counters().cell_frames_composed, composed + 1);
  EXPECT_EQ(test::print(scene_.committed_list()), test::print(parse(lists.back()).get()));
  ASSERT_TRUE(scene_.present(drawing, fresh_error()));
  EXPECT_EQ(row_text(frame(), 0).substr(0, 3), "  c");
}

TEST_F(TerminalSceneTest, PresentReusesUntilSomethingInvalidatesTheFrame) {
  EXPECT_FALSE(present());
  EXPECT_EQ(error(), "Terminal has no retained frame");
  ASSERT_TRUE(commit(R"([["rect",[0,0,8,16],"#f00",0,"",0]])"));
  const SceneCounters& c = scene_.counters();
  ASSERT_TRUE(present());
  EXPECT_EQ(c.cell_cache_hits, 1u);
  scene_.invalidate_frame();
  ASSERT_TRUE(present());
  EXPECT_FALSE(scene_.frame_invalid());
  EXPECT_EQ(c.last_commands_replayed, 1u);
  context_.columns = 10;
  ASSERT_TRUE(present());
  context_.monochrome = true;
  ASSERT_TRUE(present());
  EXPECT_EQ(std::make_tuple(frame().columns, frame().monochrome, c.cell_frames_composed, c.cell_cache_hits),
            std::make_tuple(10, true, std::uint64_t{4}, std::uint64_t{1}));
}

TEST_F(TerminalSceneTest, PatchAndCommitReplaceEachOthersScene) {
  ASSERT_TRUE(commit(R"([["rect",[0,0,64,32],"#f00",0,"",0]])"));
  ASSERT_TRUE(patch("{}")) << error();
  EXPECT_TRUE(scene_.segment_mode());
  EXPECT_EQ(scene_.committed_list(), nullptr);
  EXPECT_EQ(scene_.retained_bytes(), 0u);
  EXPECT_EQ(frame().at(0, 0).background(), kOpaqueBlack);
  EXPECT_EQ(scene_.counters().cell_frames_composed, 2u);

  ASSERT_TRUE(patch(upsert({"[]"})));
  ASSERT_TRUE(commit("[]"));
  EXPECT_FALSE(scene_.segment_mode());
  EXPECT_EQ(scene_.segment_count(), 0u);
  EXPECT_EQ(scene_.segment_index().find("s0"), nullptr);
  // The next patch starts from an empty set: "s0" is new again.
  ASSERT_TRUE(patch(upsert({"[]"})));
  EXPECT_EQ(scene_.counters().unchanged_segments, 0u);
}

TEST_F(TerminalSceneTest, SegmentsDrawInOrderOverTheBackgroundAndAreChargedTheirRecords) {
  ASSERT_TRUE(patch(upsert({R"([["line",0,0,56,0,"#fff",1]])", R"([["line",24,0,24,16,"#fff",1]])"},
                           R"("background":"#00f",)")))
      << error();
  EXPECT_EQ(row_text(frame(), 0), "───┼────");
  EXPECT_EQ(frame().at(0, 1).background(), (scene::rgba(0, 0, 255, 255)));
  EXPECT_EQ(scene_.segment(0).charge,
            scene::json_footprint_as_member(scene_.segment(0).commands.get(), "commands") + 2 + 33);
  EXPECT_EQ(scene_.retained_bytes(), scene_.segment(0).charge + scene_.segment(1).charge);
  EXPECT_EQ(scene_.counters().last_segments_tested, 2u);
  ASSERT_TRUE(patch(R"({"background":""})"));
  EXPECT_EQ(frame().at(0, 0).background(), kOpaqueBlack);
  EXPECT_EQ(scene_.background(), (scene::rgba(0, 0, 0, 0)));
}

TEST_F(TerminalSceneTest, ReplacingRemovingAndOrdering) {
  ASSERT_TRUE(patch(upsert({"[]", "[]", "[]"})));
  ASSERT_TRUE(patch(R"({"remove":["s1","zz","zz"],"upsert":[{"id":"s3","bounds":[0,0,1,1],"commands":[]},)"
                    R"({"id":"s0","bounds":[0,0,1,1],"commands":[["caret",0,0,1,"#fff"]]}]})"))
      << error();
  auto ids = [this] {
    std::string text;
    for (std::uint64_t i = 0; i < scene_.segment_count(); ++i) {
      text += scene_.segment(i).id + "@" + std::to_string(scene_.segment_index().find(scene_.segment(i).id)->position) + " ";
    }
    return text;
  };
  EXPECT_EQ(ids(), "s0@0 s2@1 s3@2 ");
  EXPECT_EQ(scene_.counters().segments_removed, 1u);
  EXPECT_EQ(scene_.counters().segments_updated, 5u);
  EXPECT_EQ(scene_.command_count(), 1u);
  ASSERT_TRUE(patch(R"({"order":["s3","s0","s2"]})")) << error();
  EXPECT_EQ(ids(), "s3@0 s0@1 s2@2 ");
  EXPECT_EQ(scene_.counters().cell_frames_composed, 3u);  // a new order composes
}

TEST_F(TerminalSceneTest, EveryFailedPatchLeavesEverythingAsItWas) {
  ASSERT_TRUE(patch(R"({"background":"#123","upsert":[{"id":"a","bounds":[0,0,8,16],"commands":[["caret",0,0,16,"#fff"]]},)"
                    R"({"id":"b","bounds":[0,0,8,16],"commands":[]}]})"));
  ASSERT_TRUE(present());
  std::vector<FailureCase> cases;
  for (const std::string& body : std::vector<std::string>{
           "[]", R"({"upsert":{}})", R"({"background":"#12345"})", R"({"remove":[3]})",
           R"({"upsert":[{"id":")" + std::string(257, 'x') + R"(","bounds":[0,0,1,1],"commands":[]}]})",
           R"({"upsert":[{"id":"c","bounds":[1e308,0,1e308,1],"commands":[]}]})", R"({"upsert":[{"id":"c","commands":[]}]})",
           upsert({R"([["styled_rect",[0,0,1,1],{"colour":1}]])"}), upsert({"[[[[[[[[[[[[1]]]]]]]]]]]]"}),
           R"({"order":["a"]})", R"({"order":["a","zz"]})",
           R"({"upsert":[{"id":"c","bounds":[0,0,1,1],"commands":[]}],"order":["a","b"]})"}) {
    cases.push_back({body, parse(body), kInvalidPatch});
  }
  cases.push_back({"missing", nullptr, kInvalidPatch});
  const std::string nope = R"({"upsert":[{"id":"b","bounds":[0,0,1,1],"commands":[["caret",0,0,1,"#fff"],["nope"]]}]})";
  cases.push_back({nope, parse(nope), command_error(1, "nope")});
  // 200000 commands in one patch plus the one retained are over the command limit,
  // as are 200001 in one patch and 200001 entries to remove.
  std::string half = "[";
  for (int i = 0; i < 100000; ++i) half += i ? R"(,["clip",null])" : R"(["clip",null])";
  half += "]";
  cases.push_back({"200001_retained", parse(upsert({half, half})), kInvalidPatch});
  cases.push_back({"200001_sent", parse(upsert({half, half, R"([["clip",null]])"}, R"("remove":["a","b"],)")),
                   kInvalidPatch});
  json::JsonPtr removals = parse(R"({"remove":[]})");
  for (int i = 0; i < 200001; ++i) {
    cJSON_AddItemToArray(cJSON_GetObjectItem(removals.get(), "remove"), cJSON_CreateString("gone"));
  }
  cases.push_back({"200001_removals", std::move(removals), kInvalidPatch});
  // The list alone fits the budget; the id and the record push the segment over.
  json::JsonPtr over = parse(upsert({"[]"}));
  cJSON* entry = cJSON_GetArrayItem(cJSON_GetObjectItem(over.get(), "upsert"), 0);
  cJSON_ReplaceItemInObject(entry, "commands", list_of_footprint(scene::kRetainedSceneBudget - 10).release());
  cases.push_back({"segment_over_budget", std::move(over), kBudget});

  expect_failures_leave_state(cases, [this](const cJSON* value) { return patch_value(value); });
  EXPECT_EQ(frame().at(0, 0).underline, 1);
  ASSERT_TRUE(patch(upsert({half, half}, R"("remove":["a","b"],)"))) << error();
  EXPECT_EQ(scene_.command_count(), 200000u);
}

TEST_F(TerminalSceneTest, EveryFailedCommitLeavesEverythingAsItWas) {
  ASSERT_TRUE(commit(R"([["caret",0,0,16,"#fff"]])"));
  ASSERT_TRUE(present());
  std::vector<FailureCase> cases;
  for (const auto& [list, message] : std::vector<std::pair<std::string, std::string>>{
           {R"([["line",0,0,1,1,"#fff",1e999]])", kInvalidList},
           {R"([["styled_rect",[0,0,1,1],{"fill":"#fff","fill":"#fff"}]])", kInvalidList},
           {R"([["caret",0,0,16,"#fff"],["caret",0,0,16]])", command_error(1, "caret")}}) {
    cases.push_back({list, parse(list), message});
  }
  cases.push_back({"missing", nullptr, kInvalidList});
  // 200000 empty arrays pass the list check and fail composition at index 0.
  json::JsonPtr empties(cJSON_CreateArray());
  for (int i = 0; i < 200000; ++i) cJSON_AddItemToArray(empties.get(), cJSON_CreateArray());
  cases.push_back({"200000_empty_commands", std::move(empties), command_error(0, "?")});
  cases.push_back({"one_byte_over_budget", list_of_footprint(scene::kRetainedSceneBudget + 1), kBudget});

  expect_failures_leave_state(cases, [this](const cJSON* value) { return commit_value(value); });
  ASSERT_TRUE(commit_value(list_of_footprint(scene::kRetainedSceneBudget).get())) << error();
  EXPECT_EQ(scene_.retained_bytes(), scene::kRetainedSceneBudget);
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
  EXPECT_FALSE(commit(image(11184813, "")));            // longer than scene::kMaxPngDataUriBytes
  EXPECT_EQ(error(), kInvalidList);
}

TEST(RetainedListCheck, DepthStringsAndNumbers) {
  auto nested = [](int depth) {  // the number sits at `depth`: list 1, command 2, items 3...
    return parse("[[\"x\"," + std::string(depth - 3, '[') + "1" + std::string(depth - 3, ']') + "]]");
  };
  EXPECT_TRUE(retained_list_acceptable(nested(11).get()));
  EXPECT_FALSE(retained_list_acceptable(nested(12).get()));
  EXPECT_TRUE(retained_list_acceptable(parse(R"([["styled_rect",[0,0,1,1],{"fill":"not a colour"}]])").get()));
  EXPECT_FALSE(retained_list_acceptable(parse(R"([["marker",[0,0,1,1],{"bevel":[]}]])").get()));
  EXPECT_FALSE(retained_list_acceptable(parse(R"([["x",{"a":1e999}]])").get()));
  EXPECT_TRUE(retained_list_acceptable(parse(R"([[null,true,{"a":[1]}]])").get()));
  const std::string at_limit(kMaxRetainedStringBytes, 's');
  EXPECT_TRUE(retained_list_acceptable(parse("[[\"" + at_limit + "\"]]").get()));
  EXPECT_FALSE(retained_list_acceptable(parse("[[\"" + at_limit + "s\"]]").get()));
  EXPECT_FALSE(retained_list_acceptable(parse("{}").get()));
}

}  // namespace
}  // namespace lumora::terminal
