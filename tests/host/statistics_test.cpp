#include "host/statistics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session_helpers.h"

namespace lumora::host {
namespace {

std::vector<std::string> keys(const cJSON* object) {
  std::vector<std::string> names;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, object) names.emplace_back(item->string);
  return names;
}

TEST(StatisticsTest, KeysFollowTheBackendInfoInFixedOrder) {
  auto session = make_session();
  session->window = open_fake_backend(nullptr, scene::HostErrorBuffer().text());
  JsonPtr stats = build_statistics(*session, 10);
  ASSERT_TRUE(stats);
  const std::vector<std::string> expected = {
      "backend", "kind", "draws", "presents", "commits", "resets",  // the fake's info
      "frames", "elapsed_seconds", "fps", "draw_seconds", "present_seconds", "last_draw_seconds",
      "max_draw_seconds", "last_present_seconds", "max_present_seconds", "scene_update_seconds",
      "last_scene_update_seconds", "max_scene_update_seconds", "update_seconds", "last_update_seconds",
      "max_update_seconds", "scene_commit_seconds", "last_scene_commit_seconds", "max_scene_commit_seconds",
      "last_commit_seconds", "scene_render_seconds", "last_scene_render_seconds", "max_scene_render_seconds",
      "last_update_draw_seconds", "last_update_present_seconds", "last_scene_commands_touched",
      "last_scene_commands_replayed", "last_scene_segments_tested", "scene_update_samples_ms", "requests",
      "input_events", "scene_updates", "continuous", "fps_limit"};
  EXPECT_EQ(expected, keys(stats.get()));
  EXPECT_TRUE(cJSON_IsFalse(cJSON_GetObjectItem(stats.get(), "continuous")));
}

TEST(StatisticsTest, WithoutBackendOnlyHostMembers) {
  auto session = make_session();
  session->start_time = 10;
  session->stats.frames = 5;
  JsonPtr stats = build_statistics(*session, 12);
  EXPECT_EQ("frames", keys(stats.get()).front());
  EXPECT_EQ(2.5, cJSON_GetObjectItem(stats.get(), "fps")->valuedouble);
  EXPECT_EQ(2, cJSON_GetObjectItem(stats.get(), "elapsed_seconds")->valuedouble);
  JsonPtr at_start = build_statistics(*session, 10);
  EXPECT_EQ(0, cJSON_GetObjectItem(at_start.get(), "fps")->valuedouble);
}

TEST(StatisticsTest, SamplesAreOldestFirstInMilliseconds) {
  auto session = make_session();
  for (int k = 1; k <= 125; ++k) record_update_sample(session->stats, k / 1000.0);
  JsonPtr stats = build_statistics(*session, 1);
  const cJSON* samples = cJSON_GetObjectItem(stats.get(), "scene_update_samples_ms");
  ASSERT_EQ(120, cJSON_GetArraySize(samples));
  EXPECT_DOUBLE_EQ(6, cJSON_GetArrayItem(samples, 0)->valuedouble);
  EXPECT_DOUBLE_EQ(125, cJSON_GetArrayItem(samples, 119)->valuedouble);
}

TEST(StatisticsTest, ResetZeroesEverythingButTheLastPresentTime) {
  auto session = make_session();
  session->stats.frames = 3;
  session->stats.requests = 4;
  session->stats.max_draw = 1;
  record_update_sample(session->stats, 0.1);
  session->stats.last_scene_commands_touched = 9;
  session->last_present_time = 42;
  reset_host_statistics(*session, 50);
  EXPECT_EQ(0u, session->stats.frames);
  EXPECT_EQ(0u, session->stats.requests);
  EXPECT_EQ(0, session->stats.max_draw);
  EXPECT_EQ(0u, session->stats.sample_count);
  EXPECT_EQ(0u, session->stats.next_sample);
  EXPECT_EQ(0u, session->stats.last_scene_commands_touched);
  EXPECT_EQ(50, session->start_time);
  EXPECT_EQ(42, session->last_present_time);
}

TEST(StatisticsTest, TimingsKeepLastTotalAndMaximum) {
  double last = 0, total = 0, max = 0;
  record_timing(0.3, &last, &total, &max);
  record_timing(0.1, &last, &total, &max);
  EXPECT_DOUBLE_EQ(0.1, last);
  EXPECT_DOUBLE_EQ(0.4, total);
  EXPECT_DOUBLE_EQ(0.3, max);
}

}  // namespace
}  // namespace lumora::host
