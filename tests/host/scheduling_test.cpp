#include "host/scheduling.h"

#include <gtest/gtest.h>

#include <string>

#include "host/frames.h"
#include "platform/clock.h"
#include "scene/json.h"
#include "session_helpers.h"

namespace lumora::host {
namespace {

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

TEST(SchedulingTest, SchedulingMembersApplyInSequence) {
  struct Step {
    const char* members;
    bool continuous;
    double redraw_interval, fps_limit;
  };
  // Each step starts from the state the previous one left: absent members are kept.
  const Step steps[] = {
      {R"({"redraw_interval":0.5})", true, 0.5, 0},
      {R"({"fps_limit":30})", true, 0.5, 30},
      {R"({"redraw_interval":null})", false, 0, 30},
      // "continuous" is read first, so "redraw_interval" has the last word.
      {R"({"continuous":true,"redraw_interval":"fast"})", false, 0, 30},
      {R"({"continuous":true})", true, 0, 30},
      {R"({"continuous":1})", true, 0, 30},  // only booleans count
      {R"({"redraw_interval":-2,"fps_limit":-1})", true, 0, 0},
      {R"({"fps_limit":30})", true, 0, 30},
      {R"({"fps_limit":1e999})", true, 0, 0},  // infinite
  };
  HostSession session;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.members);
    apply_scheduling_members(session, parse(step.members).get());
    EXPECT_EQ(step.continuous, session.continuous);
    EXPECT_EQ(step.redraw_interval, session.redraw_interval);
    EXPECT_EQ(step.fps_limit, session.fps_limit);
  }
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

TEST(SchedulingTest, WaitIsAtMostTenMillisecondsAndZeroWhenWorkIsDue) {
  auto session = make_session();
  auto wait = [&] { return wait_timeout(*session, platform::now_seconds()); };
  EXPECT_EQ(kMaxWaitSeconds, wait());
  // A buffered whole frame is work, except for a closing host, which never parses again.
  std::string frame = frame_bytes(kFrameCommand, 1, "{}");
  std::memcpy(session->recv_buffer.get(), frame.data(), frame.size());
  session->recv_length = frame.size() - 1;
  EXPECT_EQ(kMaxWaitSeconds, wait());
  session->recv_length = frame.size();
  EXPECT_EQ(0, wait());
  session->closing = true;
  EXPECT_EQ(kMaxWaitSeconds, wait());
  session = make_session();
  session->window = open_fake_backend(nullptr, scene::HostErrorBuffer().text());
  session->backend_open = session->scene_committed = session->continuous = true;
  session->redraw_interval = 5;
  session->last_present_time = platform::now_seconds();
  EXPECT_EQ(kMaxWaitSeconds, wait());
  session->last_present_time = 0;
  EXPECT_EQ(0, wait());  // the first present is due now
  session->suspended = true;
  EXPECT_EQ(kMaxWaitSeconds, wait());
}

TEST(SchedulingTest, OnlyAWindowAnimationWantsFramesOfItsOwn) {
  for (bool window : {true, false}) {
    SCOPED_TRACE(window ? "window" : "terminal");
    auto session = make_session();
    std::unique_ptr<Backend> backend = open_fake_backend(nullptr, scene::HostErrorBuffer().text());
    ASSERT_TRUE(backend->run_operation(parse(R"({"op":"fake_set","animating":true})").get(),
                                       scene::HostErrorBuffer().text()));
    (window ? session->window : session->terminal) = std::move(backend);
    session->scene_committed = true;
    EXPECT_EQ(window, present_wanted(*session));
  }
}

}  // namespace
}  // namespace lumora::host
