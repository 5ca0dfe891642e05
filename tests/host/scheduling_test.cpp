#include "host/scheduling.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "host/frames.h"
#include "platform/clock.h"
#include "scene/json.h"
#include "session_helpers.h"

namespace lumora::host {
namespace {

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

TEST(SchedulingTest, SchedulingMembers) {
  HostSession session;
  apply_scheduling_members(session, parse(R"({"redraw_interval":0.5})").get());
  EXPECT_TRUE(session.continuous);
  EXPECT_EQ(0.5, session.redraw_interval);
  apply_scheduling_members(session, parse(R"({"fps_limit":30})").get());
  EXPECT_TRUE(session.continuous);  // absent members are kept
  EXPECT_EQ(30, session.fps_limit);
  apply_scheduling_members(session, parse(R"({"redraw_interval":null})").get());
  EXPECT_FALSE(session.continuous);
  EXPECT_EQ(0, session.redraw_interval);
  // "continuous" is read first, so "redraw_interval" has the last word.
  apply_scheduling_members(session, parse(R"({"continuous":true,"redraw_interval":"fast"})").get());
  EXPECT_FALSE(session.continuous);
  apply_scheduling_members(session, parse(R"({"continuous":true})").get());
  EXPECT_TRUE(session.continuous);
  apply_scheduling_members(session, parse(R"({"continuous":1})").get());
  EXPECT_TRUE(session.continuous);  // only booleans count
  apply_scheduling_members(session, parse(R"({"redraw_interval":-2,"fps_limit":-1})").get());
  EXPECT_EQ(0, session.redraw_interval);
  EXPECT_EQ(0, session.fps_limit);
  EXPECT_TRUE(session.continuous);
  apply_scheduling_members(session, parse(R"({"fps_limit":1e999})").get());  // infinite
  EXPECT_EQ(0, session.fps_limit);
}

TEST(SchedulingTest, TimeUntilNextPresent) {
  HostSession session;
  EXPECT_EQ(0, time_until_next_present(session, 100));  // never presented
  session.last_present_time = 100;
  EXPECT_EQ(0, time_until_next_present(session, 100));  // requested and unthrottled
  session.continuous = true;
  session.redraw_interval = 0.5;
  EXPECT_NEAR(0.4, time_until_next_present(session, 100.1), 1e-9);
  session.present_requested = true;  // a request skips the interval...
  EXPECT_EQ(0, time_until_next_present(session, 100.1));
  session.fps_limit = 4;  // ...but not the frame-rate limit
  EXPECT_NEAR(0.15, time_until_next_present(session, 100.1), 1e-9);
  session.present_requested = false;
  EXPECT_NEAR(0.4, time_until_next_present(session, 100.1), 1e-9);  // the larger of both
  session.fps_limit = 1;
  EXPECT_NEAR(0.9, time_until_next_present(session, 100.1), 1e-9);
  EXPECT_EQ(0, time_until_next_present(session, 200));
}

TEST(SchedulingTest, WaitNeverExceedsTenMilliseconds) {
  auto session = make_session();
  EXPECT_EQ(kMaxWaitSeconds, wait_timeout(*session, platform::now_seconds()));
  session->window = open_fake_backend(nullptr, scene::HostErrorBuffer().text());
  session->backend_open = true;
  session->scene_committed = true;
  session->continuous = true;
  session->redraw_interval = 5;
  session->last_present_time = platform::now_seconds();
  EXPECT_EQ(kMaxWaitSeconds, wait_timeout(*session, platform::now_seconds()));
  session->last_present_time = 0;
  EXPECT_EQ(0, wait_timeout(*session, platform::now_seconds()));  // first present is due now
  session->suspended = true;
  EXPECT_EQ(kMaxWaitSeconds, wait_timeout(*session, platform::now_seconds()));
}

TEST(SchedulingTest, OnlyAWindowAnimationWantsFramesOfItsOwn) {
  for (bool window : {true, false}) {
    SCOPED_TRACE(window ? "window" : "terminal");
    auto session = make_session();
    std::unique_ptr<Backend> backend = open_fake_backend(nullptr, scene::HostErrorBuffer().text());
    JsonPtr animate = parse(R"({"op":"fake_set","animating":true})");
    ASSERT_TRUE(backend->run_operation(animate.get(), scene::HostErrorBuffer().text()));
    (window ? session->window : session->terminal) = std::move(backend);
    session->scene_committed = true;
    EXPECT_EQ(window, present_wanted(*session));
  }
}

TEST(SchedulingTest, BufferedFrameShortensTheWaitOnlyWhileNotClosing) {
  auto session = make_session();
  std::string frame = frame_bytes(kFrameCommand, 1, "{}");
  std::memcpy(session->recv_buffer.get(), frame.data(), frame.size());
  session->recv_length = frame.size() - 1;
  EXPECT_EQ(kMaxWaitSeconds, wait_timeout(*session, platform::now_seconds()));
  session->recv_length = frame.size();
  EXPECT_EQ(0, wait_timeout(*session, platform::now_seconds()));
  session->closing = true;
  EXPECT_EQ(kMaxWaitSeconds, wait_timeout(*session, platform::now_seconds()));
}

TEST(SchedulingTest, PresentRecordsTheUpdateOnce) {
  auto session = make_session();
  session->window = open_fake_backend(nullptr, scene::HostErrorBuffer().text());
  session->update_pending = true;
  session->present_requested = true;
  session->update_start_time = platform::now_seconds() - 0.25;
  scene::HostErrorBuffer error;
  ASSERT_TRUE(present(*session, error.text()));
  const HostStatistics& stats = session->stats;
  EXPECT_EQ(1u, stats.frames);
  EXPECT_FALSE(session->present_requested);
  EXPECT_FALSE(session->update_pending);
  EXPECT_GT(session->last_present_time, 0);
  EXPECT_GE(stats.last_update, 0.25);
  EXPECT_EQ(1u, stats.sample_count);
  EXPECT_EQ(7u, stats.last_scene_commands_replayed);
  EXPECT_EQ(3u, stats.last_scene_segments_tested);
  EXPECT_DOUBLE_EQ(stats.last_draw + stats.last_present, stats.last_render);
  ASSERT_TRUE(present(*session, error.text()));
  EXPECT_EQ(2u, stats.frames);
  EXPECT_EQ(1u, stats.sample_count);  // no update, no sample
}

}  // namespace
}  // namespace lumora::host
