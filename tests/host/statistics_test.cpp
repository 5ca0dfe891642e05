#include "host/statistics.h"

#include <gtest/gtest.h>

#include <cstring>
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
  open_fake(*session);
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
  // Without a backend only the host's own members remain.
  session->backend.reset();
  EXPECT_EQ(std::vector<std::string>(expected.begin() + 6, expected.end()), keys(build_statistics(*session, 10).get()));
}

TEST(StatisticsTest, FramesPerSecondAndTimingsAccumulate) {
  auto session = make_session();
  session->start_time = 10;
  session->stats.frames = 5;
  EXPECT_EQ(2.5, cJSON_GetObjectItem(build_statistics(*session, 12).get(), "fps")->valuedouble);
  EXPECT_EQ(0, cJSON_GetObjectItem(build_statistics(*session, 10).get(), "fps")->valuedouble);  // no division by zero
  double last = 0, total = 0, max = 0;
  record_timing(0.3, &last, &total, &max);
  record_timing(0.1, &last, &total, &max);
  EXPECT_DOUBLE_EQ(0.1, last);
  EXPECT_DOUBLE_EQ(0.4, total);
  EXPECT_DOUBLE_EQ(0.3, max);
}

TEST(StatisticsTest, SamplesAreTheLatest120OldestFirstInMilliseconds) {
  auto session = make_session();
  for (int k = 1; k <= 125; ++k) record_update_sample(session->stats, k / 1000.0);
  // Read as a controller reads them, from the printed reply.
  json::JsonText printed = json::print_json(build_statistics(*session, 1).get());
  ASSERT_TRUE(printed);
  JsonPtr stats(cJSON_Parse(printed.get()));
  const cJSON* samples = cJSON_GetObjectItem(stats.get(), "scene_update_samples_ms");
  ASSERT_EQ(120, cJSON_GetArraySize(samples));
  EXPECT_DOUBLE_EQ(6, cJSON_GetArrayItem(samples, 0)->valuedouble);
  EXPECT_DOUBLE_EQ(125, cJSON_GetArrayItem(samples, 119)->valuedouble);
  // Printed as the library prints an array of those numbers.
  JsonPtr reference(cJSON_CreateArray());
  for (int k = 6; k <= 125; ++k) cJSON_AddItemToArray(reference.get(), cJSON_CreateNumber(k / 1000.0 * 1000.0));
  char* expected = cJSON_PrintUnformatted(reference.get());
  EXPECT_NE(nullptr, std::strstr(printed.get(), (std::string("\"scene_update_samples_ms\":") + expected).c_str()));
  cJSON_free(expected);
}

}  // namespace
}  // namespace lumora::host
