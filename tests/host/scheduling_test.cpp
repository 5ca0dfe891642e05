#include "host/scheduling.h"

#include <gtest/gtest.h>

#include <string>

#include "host/frames.h"
#include "json/json.h"
#include "platform/clock.h"
#include "platform/console.h"
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
  open_fake(*session);
  session->scene_committed = session->continuous = true;
  session->redraw_interval = 5;
  session->last_present_time = platform::now_seconds();
  EXPECT_EQ(kMaxWaitSeconds, wait());
  session->last_present_time = 0;
  EXPECT_EQ(0, wait());  // the first present is due now
  session->suspended = true;
  EXPECT_EQ(kMaxWaitSeconds, wait());
}

TEST(SchedulingTest, AnAnimatingBackendWantsFramesOfItsOwn) {
  for (bool animating : {true, false}) {
    SCOPED_TRACE(animating ? "animating" : "still");
    auto session = make_session();
    Backend& backend = open_fake(*session);
    const std::string set = std::string(R"({"op":"fake_set","animating":)") + (animating ? "true" : "false") + "}";
    ASSERT_TRUE(backend.run_operation(parse(set).get(), HostErrorBuffer().text()));
    session->scene_committed = true;
    EXPECT_EQ(animating, present_wanted(*session));
  }
}

// The open backend's descriptor wakes the wait together with the socket, and
// a backend with input already waiting skips the wait; the no-backend path
// only times out. No case depends on timing: a ready
// descriptor returns at once, and the others wait at most kMaxWaitSeconds.
TEST(SchedulingTest, BackendWaitSourceTakesPartInTheWait) {
  std::unique_ptr<platform::WakeSignal> signal = platform::WakeSignal::create();
  ASSERT_TRUE(signal);
  struct Case {
    const char* name;
    bool open;  // false: no backend open
    bool offer_descriptor, raised, ready, input_pending, closing;
    WaitOutcome expected;
  };
  const Case cases[] = {
      {"no backend", false, false, false, false, false, false, WaitOutcome::timed_out},
      {"nothing offered", true, false, true, false, false, false, WaitOutcome::timed_out},
      {"quiet descriptor", true, true, false, false, false, false, WaitOutcome::timed_out},
      {"raised descriptor", true, true, true, false, false, false, WaitOutcome::woken},
      {"ready", true, false, false, true, false, false, WaitOutcome::not_waited},
      {"input pending", true, false, false, false, true, false, WaitOutcome::not_waited},
      // a closing host drains nothing, so the backend takes no part
      {"closing", true, true, true, true, true, true, WaitOutcome::timed_out},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto session = make_session();
    session->closing = c.closing;
    if (c.open) {
      Backend& backend = open_fake(*session);
      std::string set = R"({"op":"fake_set","wait_descriptor":)" +
                        std::to_string(c.offer_descriptor ? signal->native_handle() : -1) +
                        R"(,"wait_ready":)" + (c.ready ? "true" : "false") + R"(,"input_pending":)" +
                        (c.input_pending ? "true" : "false") + "}";
      ASSERT_TRUE(backend.run_operation(parse(set).get(), HostErrorBuffer().text()));
    }
    signal->clear();
    if (c.raised) signal->raise();
    EXPECT_EQ(c.expected, wait_for_activity(*session));
    EXPECT_FALSE(session->stopped);
  }
}

TEST(SchedulingTest, WaitSourceIsPreparedBeforeEveryWaitUntilClosing) {
  auto session = make_session();
  Backend& backend = open_fake(*session);
  auto preparations = [&] {
    JsonPtr count = backend.run_operation(parse(R"({"op":"fake_wait_preparations"})").get(),
                                          HostErrorBuffer().text());
    return count ? count->valuedouble : -1;
  };
  session->recv_length = 0;
  wait_for_activity(*session);
  wait_for_activity(*session);
  EXPECT_EQ(2, preparations());
  session->closing = true;
  wait_for_activity(*session);
  EXPECT_EQ(2, preparations());
}

}  // namespace
}  // namespace lumora::host
