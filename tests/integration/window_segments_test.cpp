// Segmented scenes in the window, driven through the real host in the
// headless video environment: what a patch accepts and refuses, what it
// leaves behind when it fails, the drawing order, and that a segmented scene
// shows exactly the pixels of the same commands committed as one list.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/host_fixture.h"
#include "support/window_fixture.h"

namespace lumora {
namespace {

using test::number_member;
using test::reply_fails_with;
using test::reply_ok;

constexpr const char* kSmallWindow = R"("width":64,"height":48)";

// The pixels the window shows now, read through "capture".
test::CapturedPixels capture(client::Controller& host) {
  test::TempPath path(".bmp");
  test::CapturedPixels pixels;
  auto reply = host.request(R"({"op":"capture","path":")" + path.path() + "\"}");
  EXPECT_TRUE(reply_ok(reply));
  EXPECT_TRUE(test::read_capture(path.path(), pixels));
  return pixels;
}

std::map<std::string, double> scene_counters(client::Controller& host) {
  auto reply = host.request(R"({"op":"info"})");
  EXPECT_TRUE(reply_ok(reply));
  std::map<std::string, double> counters;
  if (!reply || !reply->ok) return counters;
  for (const char* key : {"retained_scene_bytes", "segment_count", "command_count", "commands_touched",
                          "last_commands_touched", "segments_updated", "segments_removed", "scene_patch_updates",
                          "unchanged_segments"}) {
    counters[key] = number_member(reply->result.get(), key);
  }
  return counters;
}

std::string segment(const std::string& id, const std::string& commands) {
  return R"({"id":")" + id + R"(","bounds":[0,0,10,10],"commands":[)" + commands + "]}";
}

std::string rect(int x, int y, int w, int h, const char* colour) {
  return R"(["rect",[)" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," +
         std::to_string(h) + R"(],")" + colour + R"(",0,"",0])";
}

TEST(WindowSegmentsTest, SegmentedSceneShowsThePixelsOfTheSameList) {
  struct Case {
    const char* name;
    std::vector<std::string> segments;  // the command lists, drawn in this order
    const char* background;
  };
  const Case cases[] = {
      {"overlapping rectangles", {rect(2, 2, 30, 20, "#ff0000"), rect(10, 8, 30, 30, "#00ff0080")}, "#000000"},
      {"lines and gradients",
       {R"(["line",1,1,60,40,"#ffffff",2])", R"(["gradient_rect",[4,20,40,20],"#ff0000","#0000ff","horizontal",0,0])",
        R"(["lines",[[0,47],[30,5],[63,47]],"#ffff00",1])"},
       "#203040"},
      {"a clip stays inside its segment",
       {R"(["clip",[0,0,16,16]],)" + rect(0, 0, 64, 48, "#ff00ff"), rect(20, 20, 30, 10, "#00ffff")},
       "#101010"},
      {"empty segments paint nothing", {"", rect(5, 5, 5, 5, "#ffffff"), ""}, "#000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = test::launch_window_host(kSmallWindow);
    ASSERT_TRUE(host);
    std::string upsert;
    std::string list = std::string(R"(["begin",")") + c.background + "\"]";
    for (std::size_t i = 0; i < c.segments.size(); ++i) {
      if (i > 0) upsert += ",";
      upsert += segment("s" + std::to_string(i), c.segments[i]);
      // Each segment starts unclipped, as the list does after a null clip.
      if (!c.segments[i].empty()) list += "," + c.segments[i] + R"(,["clip",null])";
    }
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","background":")" + std::string(c.background) +
                                       R"(","upsert":[)" + upsert + "]}")));
    const test::CapturedPixels segmented = capture(*host);
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[)" + list + "]}")));
    const test::CapturedPixels committed = capture(*host);
    ASSERT_EQ(segmented.width, 64);
    ASSERT_EQ(segmented.height, 48);
    EXPECT_TRUE(segmented.rgba == committed.rgba);
  }
}

TEST(WindowSegmentsTest, FailedPatchLeavesSceneAndCountersAsTheyWere) {
  auto host = test::launch_window_host(kSmallWindow);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","background":"#102030","upsert":[)" +
                                     segment("a", rect(0, 0, 20, 20, "#ff0000")) + "," +
                                     segment("b", rect(10, 10, 20, 20, "#00ff00")) + "]}")));
  const auto counters = scene_counters(*host);
  const test::CapturedPixels pixels = capture(*host);
  const std::string id257(257, 'x');
  const std::string valid = segment("c", rect(0, 0, 5, 5, "#0000ff"));
  std::string too_many = R"("x")";
  for (int i = 0; i < 200000; ++i) too_many += R"(,"x")";
  const std::pair<std::string, const char*> cases[] = {
      {R"({"op":"patch","remove":[)" + too_many + "]}", "Invalid retained segment patch"},
      {R"({"op":"patch","order":[)" + too_many + "]}", "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":{}})", "Invalid retained segment patch"},
      {R"({"op":"patch","remove":"a"})", "Invalid retained segment patch"},
      {R"({"op":"patch","order":null})", "Invalid retained segment patch"},
      {R"({"op":"patch","background":"#12345"})", "Invalid retained segment patch"},
      {R"({"op":"patch","background":7})", "Invalid retained segment patch"},
      {R"({"op":"patch","remove":["a","a"]})", "Invalid retained segment patch"},
      {R"({"op":"patch","remove":[""]})", "Invalid retained segment patch"},
      {R"({"op":"patch","remove":[")" + id257 + R"("]})", "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[)" + valid + "," + valid + "]}", "Invalid retained segment patch"},
      {R"({"op":"patch","remove":["c"],"upsert":[)" + valid + "]}", "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[)" + segment(id257, "") + "]}", "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[{"id":"c","commands":[]}]})", "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[{"id":"c","bounds":[0,0,-1,5],"commands":[]}]})",
       "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[{"id":"c","bounds":[2000000,0,1,5],"commands":[]}]})",
       "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[{"id":"c","bounds":[0,0,1,5],"commands":{}}]})",
       "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[)" + segment("c", R"(["begin","#ffffff"])") + "]}",
       "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[)" + segment("c", R"(["rect","wrong"])") + "]}",
       "Invalid retained segment patch"},
      {R"({"op":"patch","order":["a"]})", "Invalid retained segment patch"},
      {R"({"op":"patch","order":["a","b","b"]})", "Invalid retained segment patch"},
      {R"({"op":"patch","order":["a","z"]})", "Invalid retained segment patch"},
      {R"({"op":"patch","order":["a",1]})", "Invalid retained segment patch"},
      {R"({"op":"patch","upsert":[)" + valid + R"(],"order":["a","b"]})", "Invalid retained segment patch"},
      // A valid change of "a" followed by a broken entry: nothing is kept.
      {R"({"op":"patch","background":"#ffffff","upsert":[)" + segment("a", rect(0, 0, 9, 9, "#ffffff")) +
           R"(,{"id":"d"}]})",
       "Invalid retained segment patch"},
  };
  for (const auto& [body, message] : cases) {
    SCOPED_TRACE(body.substr(0, 120));
    EXPECT_TRUE(reply_fails_with(host->request(body), message));
    EXPECT_EQ(scene_counters(*host), counters);
  }
  const test::CapturedPixels after = capture(*host);
  EXPECT_TRUE(after.rgba == pixels.rgba);
  EXPECT_EQ(test::rgba_text(after.at(63, 47)), "#102030ff");
  // The limit itself is allowed: 200000 removals of ids that name nothing.
  too_many.erase(0, 4);
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"patch","remove":[)" + too_many + "]}")));
  EXPECT_EQ(scene_counters(*host)["segment_count"], 2);
}

TEST(WindowSegmentsTest, CountersFollowBuiltUnchangedAndRemovedSegments) {
  auto host = test::launch_window_host(kSmallWindow);
  ASSERT_TRUE(host);
  // One empty segment: its record (193), id (1), one start-time slot (8)
  // and its list ([] as "commands": 73), plus the order (2 × 8) and a
  // lookup of 8 slots (8 × 16).
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("a", "") + "]}")));
  auto counters = scene_counters(*host);
  EXPECT_EQ(counters["retained_scene_bytes"], 193 + 1 + 8 + 73 + 16 + 128);
  // The longest id costs 255 bytes more; the order is sized for the
  // segment before and the upsert (3 × 8).
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","remove":["a"],"upsert":[)" +
                                     segment(std::string(256, 'i'), "") + "]}")));
  EXPECT_EQ(scene_counters(*host)["retained_scene_bytes"], 193 + 256 + 8 + 73 + 24 + 128);

  const std::string a = segment("a", rect(0, 0, 4, 4, "#ff0000") + "," + rect(4, 4, 4, 4, "#00ff00"));
  const std::string b = segment("b", rect(8, 8, 4, 4, "#0000ff"));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + a + "," + b + "]}")));
  counters = scene_counters(*host);
  EXPECT_EQ(counters["segment_count"], 3);
  EXPECT_EQ(counters["command_count"], 3);
  EXPECT_EQ(counters["last_commands_touched"], 3);
  EXPECT_EQ(counters["segments_updated"], 4);
  EXPECT_EQ(counters["segments_removed"], 1);

  // Re-sending "a" unchanged keeps it; "b" changed is built anew; an unknown
  // id in "remove" is ignored, also twice.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","remove":["nope","nope"],"upsert":[)" + a + "," +
                                     segment("b", rect(8, 8, 5, 5, "#0000ff")) + "]}")));
  auto next = scene_counters(*host);
  EXPECT_EQ(next["unchanged_segments"], counters["unchanged_segments"] + 1);
  EXPECT_EQ(next["segments_updated"], counters["segments_updated"] + 1);
  EXPECT_EQ(next["segments_removed"], counters["segments_removed"]);
  EXPECT_EQ(next["scene_patch_updates"], counters["scene_patch_updates"] + 1);
  EXPECT_EQ(next["commands_touched"], counters["commands_touched"] + 3);
  EXPECT_EQ(next["segment_count"], 3);

  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","remove":["a",")" + std::string(256, 'i') + R"("]})")));
  next = scene_counters(*host);
  EXPECT_EQ(next["segment_count"], 1);
  EXPECT_EQ(next["command_count"], 1);
  EXPECT_EQ(next["segments_removed"], counters["segments_removed"] + 2);
  // Nothing left: no index is charged either.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","remove":["b"]})")));
  EXPECT_EQ(scene_counters(*host)["retained_scene_bytes"], 0);
}

TEST(WindowSegmentsTest, OrderDecidesWhichSegmentIsOnTop) {
  auto host = test::launch_window_host(kSmallWindow);
  ASSERT_TRUE(host);
  // Three squares over the same pixel; the last drawn shows there.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("r", rect(0, 0, 20, 20, "#ff0000")) +
                                     "," + segment("g", rect(5, 5, 20, 20, "#00ff00")) + "," +
                                     segment("b", rect(10, 10, 20, 20, "#0000ff")) + "]}")));
  EXPECT_EQ(test::rgba_text(capture(*host).at(12, 12)), "#0000ffff");
  const std::pair<const char*, const char*> orders[] = {
      {R"(["b","g","r"])", "#ff0000ff"}, {R"(["r","b","g"])", "#00ff00ff"},
      {R"(["g","r","b"])", "#0000ffff"}, {R"(["b","r","g"])", "#00ff00ff"},
  };
  for (const auto& [order, top] : orders) {
    SCOPED_TRACE(order);
    ASSERT_TRUE(reply_ok(host->request(std::string(R"({"op":"patch","order":)") + order + "}")));
    const test::CapturedPixels pixels = capture(*host);
    EXPECT_EQ(test::rgba_text(pixels.at(12, 12)), top);
    EXPECT_EQ(test::rgba_text(pixels.at(1, 1)), "#ff0000ff");
  }
  // A replaced segment keeps its place; a new one placed first by "order"
  // is drawn first.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("r", rect(0, 0, 20, 20, "#ffffff")) +
                                     "," + segment("w", rect(0, 0, 64, 48, "#404040")) +
                                     R"(],"order":["w","b","r","g"]})")));
  const test::CapturedPixels pixels = capture(*host);
  EXPECT_EQ(test::rgba_text(pixels.at(12, 12)), "#00ff00ff");
  EXPECT_EQ(test::rgba_text(pixels.at(1, 1)), "#ffffffff");
  EXPECT_EQ(test::rgba_text(pixels.at(60, 44)), "#404040ff");
}

TEST(WindowSegmentsTest, CommitsAndPatchesSwitchFormsBothWays) {
  auto host = test::launch_window_host(kSmallWindow);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["begin","#ffffff"]]})")));
  // An empty patch drops the list and leaves an empty scene over black.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch"})")));
  auto counters = scene_counters(*host);
  EXPECT_EQ(counters["segment_count"], 0);
  EXPECT_EQ(counters["command_count"], 0);
  EXPECT_EQ(counters["retained_scene_bytes"], 0);
  EXPECT_EQ(capture(*host).count(0, 0, 64, 48, {0, 0, 0, 255}), 64 * 48);

  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","background":"#00f","upsert":[)" +
                                     segment("a", rect(0, 0, 10, 10, "#ff0000")) + "]}")));
  EXPECT_EQ(test::rgba_text(capture(*host).at(30, 30)), "#0000ffff");
  // A commit discards every segment; the background stays for the next
  // segmented scene, which starts from no segments.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[)" + rect(20, 20, 5, 5, "#00ff00") + "]}")));
  counters = scene_counters(*host);
  EXPECT_EQ(counters["segment_count"], 0);
  EXPECT_EQ(counters["command_count"], 1);
  test::CapturedPixels pixels = capture(*host);
  EXPECT_EQ(test::rgba_text(pixels.at(1, 1)), "#000000ff");
  EXPECT_EQ(test::rgba_text(pixels.at(22, 22)), "#00ff00ff");

  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("b", rect(40, 40, 5, 5, "#ffff00")) +
                                     "]}")));
  counters = scene_counters(*host);
  EXPECT_EQ(counters["segment_count"], 1);
  EXPECT_EQ(counters["command_count"], 1);
  pixels = capture(*host);
  EXPECT_EQ(test::rgba_text(pixels.at(1, 1)), "#000000ff");
  EXPECT_EQ(test::rgba_text(pixels.at(22, 22)), "#000000ff");
  EXPECT_EQ(test::rgba_text(pixels.at(42, 42)), "#ffff00ff");
}

TEST(WindowSegmentsTest, UnchangedSegmentedSceneIsDrawnFromTheCache) {
  for (const bool cached : {true, false}) {
    SCOPED_TRACE(cached ? "cache_scene on" : "cache_scene off");
    auto host = test::launch_window_host(kSmallWindow);
    ASSERT_TRUE(host);
    if (!cached) {
      ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","cache_scene":false})")));
    }
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("a", rect(0, 0, 4, 4, "#ff0000")) +
                                       "," + segment("b", rect(8, 8, 4, 4, "#00ff00")) + "]}")));
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
    auto first = host->request(R"({"op":"info"})");
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
    auto second = host->request(R"({"op":"info"})");
    ASSERT_TRUE(reply_ok(first));
    ASSERT_TRUE(reply_ok(second));
    const double hits = number_member(second->result.get(), "scene_cache_hits") -
                        number_member(first->result.get(), "scene_cache_hits");
    EXPECT_EQ(hits, cached ? 1 : 0);
    EXPECT_EQ(number_member(second->result.get(), "last_commands_replayed"), cached ? 0 : 2);
    EXPECT_EQ(number_member(second->result.get(), "last_segments_tested"), cached ? 0 : 2);
  }
}

// A grid of 500 small segments, 2 logical units apart: damage grown by one
// pixel around one of them touches no neighbour.
std::string grid_patch(int changed_a, int changed_b, const char* colour) {
  std::string upsert;
  for (int i = 0; i < 500; ++i) {
    if (i > 0) upsert += ",";
    const bool changed = i == changed_a || i == changed_b;
    upsert += segment("g" + std::to_string(i), rect((i % 25) * 8 + 1, (i / 25) * 5 + 1, 6, 3,
                                                    changed ? colour : (i % 2 != 0 ? "#ff0000" : "#00ff00")));
  }
  return R"({"op":"patch","upsert":[)" + upsert + "]}";
}

TEST(WindowSegmentsTest, PatchRedrawsOnlyTheSegmentsThatTouchItsDamage) {
  struct Case {
    const char* name;
    int a, b;
    double replayed;  // commands drawn by the present after the patch
  };
  const Case cases[] = {
      {"one segment", 260, -1, 1},
      {"two neighbours", 0, 1, 2},
      {"opposite corners, drawn as one rectangle spanning both", 0, 499, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = test::launch_window_host(R"("width":200,"height":100)");
    ASSERT_TRUE(host);
    ASSERT_TRUE(reply_ok(host->request(grid_patch(-1, -1, ""))));
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
    // The host presents the patched scene in the turn that answers it.
    ASSERT_TRUE(reply_ok(host->request(grid_patch(c.a, c.b, "#ffffff"))));
    auto info = host->request(R"({"op":"info"})");
    ASSERT_TRUE(reply_ok(info));
    EXPECT_EQ(number_member(info->result.get(), "last_segments_tested"), 500);
    EXPECT_EQ(number_member(info->result.get(), "last_commands_replayed"), c.replayed);
    EXPECT_EQ(number_member(info->result.get(), "unchanged_segments"), c.b < 0 ? 499 : 498);

    // The cached frame equals the same scene drawn in full.
    const test::CapturedPixels partial = capture(*host);
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","cache_scene":false})")));
    const test::CapturedPixels full = capture(*host);
    EXPECT_TRUE(partial.rgba == full.rgba);
    EXPECT_EQ(test::rgba_text(partial.at((c.a % 25) * 8 + 3, (c.a / 25) * 5 + 2)), "#ffffffff");
  }
}

TEST(WindowSegmentsTest, LoopingSegmentsStayActiveAndAreRedrawnEveryFrame) {
  auto host = test::launch_window_host(kSmallWindow);
  ASSERT_TRUE(host);
  const std::string looping =
      R"(["animated_rect",[0,0,8,8],"#ff0000",0,"",0,{"property":"x","from":0,"to":10,"duration":1,"loop":true}])";
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("spin", looping) + "," +
                                     segment("still", rect(20, 20, 4, 4, "#ffffff")) + "]}")));
  auto tested = [&] {
    auto info = host->request(R"({"op":"info"})");
    EXPECT_TRUE(reply_ok(info));
    return std::make_pair(number_member(info->result.get(), "active_segment_count"),
                          number_member(info->result.get(), "animation_segments_tested"));
  };
  EXPECT_EQ(tested().first, 1);
  for (const bool reduced : {false, true}) {
    SCOPED_TRACE(reduced ? "reduced motion" : "motion");
    if (reduced) {
      ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","reduce_motion":true})")));
    }
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
    const double before = tested().second;
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
    ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
    const auto after = tested();
    // A looping segment never leaves the list; reduced motion stops redrawing
    // it. While it animates the host may present on its own in between.
    EXPECT_EQ(after.first, 1);
    if (reduced) {
      EXPECT_EQ(after.second - before, 0);
    } else {
      EXPECT_GE(after.second - before, 2);
    }
  }
  // Replacing it with a still list takes it off the list; so does a commit.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("spin", rect(0, 0, 8, 8, "#ff0000")) +
                                     "]}")));
  EXPECT_EQ(tested().first, 0);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("spin", looping) + "]}")));
  EXPECT_EQ(tested().first, 1);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[]})")));
  EXPECT_EQ(tested().first, 0);
}

TEST(WindowSegmentsTest, PartialRedrawAfterAScaleChangeMatchesAFullRedraw) {
  auto host = test::launch_window_host(kSmallWindow);
  ASSERT_TRUE(host);
  auto text = [](const char* words, int y) {
    return R"(["text",")" + std::string(words) + R"(",2,)" + std::to_string(y) + R"(,"#ffffff",10,false])";
  };
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("a", text("Wide words", 2)) + "," +
                                     segment("b", text("More", 20)) + "]}")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","scale":2})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));
  // Only "a" changes; the damage must cover what it painted at the new scale.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"patch","upsert":[)" + segment("a", text("Other text", 2)) + "]}")));
  const test::CapturedPixels partial = capture(*host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"configure","cache_scene":false})")));
  const test::CapturedPixels full = capture(*host);
  EXPECT_TRUE(partial.rgba == full.rgba);
}

// Random patches against a model of the segmented scene: after every step
// the window shows exactly the pixels of a second window that was sent the
// same scene committed as one list.
TEST(WindowSegmentsTest, RandomPatchesShowThePixelsOfTheEquivalentList) {
  auto segmented = test::launch_window_host(kSmallWindow);
  auto committed = test::launch_window_host(kSmallWindow);
  ASSERT_TRUE(segmented);
  ASSERT_TRUE(committed);
  std::mt19937 random(12);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto colour = [&] {
    static const char* const palette[] = {"#ff0000", "#00ff0080", "#0000ff", "#ffffffc0", "#808000", "#00000000"};
    return palette[pick(6)];
  };
  auto random_list = [&] {
    std::string list;
    for (int i = pick(4); i > 0; --i) {
      if (!list.empty()) list += ",";
      list += rect(pick(60) - 4, pick(44) - 4, pick(30), pick(30), colour());
    }
    return list;
  };
  std::vector<std::pair<std::string, std::string>> model;  // id and commands, in drawing order
  std::string background = "#000000";
  auto find = [&](const std::string& id) {
    return std::find_if(model.begin(), model.end(), [&](const auto& entry) { return entry.first == id; });
  };
  for (int step = 0; step < 40; ++step) {
    std::string patch = R"({"op":"patch")";
    switch (pick(4)) {
      case 0: {  // upserts: replaced ones keep their place, new ones follow
        std::vector<std::string> ids;
        for (int i = 1 + pick(3); i > 0; --i) {
          const std::string id = "s" + std::to_string(pick(8));
          if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
        }
        patch += R"(,"upsert":[)";
        for (std::size_t i = 0; i < ids.size(); ++i) {
          const std::string list = random_list();
          patch += (i > 0 ? "," : "") + segment(ids[i], list);
          auto it = find(ids[i]);
          if (it != model.end()) {
            it->second = list;
          } else {
            model.emplace_back(ids[i], list);
          }
        }
        patch += "]";
        break;
      }
      case 1: {  // removals, unknown ids included
        const std::string a = "s" + std::to_string(pick(8));
        const std::string b = "s" + std::to_string((std::stoi(a.substr(1)) + 1 + pick(7)) % 8);
        patch += R"(,"remove":[")" + a + R"(",")" + b + R"("])";
        for (const std::string& id : {a, b}) {
          auto it = find(id);
          if (it != model.end()) model.erase(it);
        }
        break;
      }
      case 2: {  // a new order
        std::shuffle(model.begin(), model.end(), random);
        patch += R"(,"order":[)";
        for (std::size_t i = 0; i < model.size(); ++i) patch += (i > 0 ? ",\"" : "\"") + model[i].first + "\"";
        patch += "]";
        break;
      }
      default:
        background = colour();
        background.resize(7);  // opaque, as a cleared window is
        patch += R"(,"background":")" + background + "\"";
        break;
    }
    patch += "}";
    SCOPED_TRACE("step " + std::to_string(step) + ": " + patch);
    ASSERT_TRUE(reply_ok(segmented->request(patch)));
    std::string list = R"(["begin",")" + background + "\"]";
    for (const auto& entry : model) {
      if (!entry.second.empty()) list += "," + entry.second;
    }
    ASSERT_TRUE(reply_ok(committed->request(R"({"op":"frame","commands":[)" + list + "]}")));
    EXPECT_EQ(number_member(segmented->request(R"({"op":"info"})")->result.get(), "segment_count"),
              static_cast<double>(model.size()));
    const test::CapturedPixels got = capture(*segmented);
    const test::CapturedPixels want = capture(*committed);
    ASSERT_TRUE(got.rgba == want.rgba);
  }
}

}  // namespace
}  // namespace lumora
