// Motion through the real host: while something moves the host presents on
// its own, a finite animation lets it stop once it has ended, and a loop
// keeps it going. Only "frames" of "stats" is read, with waits long enough
// for a loaded machine: the checks wait for a condition, never for a time.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/host_fixture.h"
#include "support/window_fixture.h"

namespace lumora {
namespace {

using test::number_member;
using test::reply_ok;

using Clock = std::chrono::steady_clock;

double frames(client::Controller& host) {
  auto reply = host.request(R"({"op":"stats"})");
  EXPECT_TRUE(reply_ok(reply));
  return reply && reply->ok ? number_member(reply->result.get(), "frames") : -1;
}

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

std::string animated_rect(const std::string& timing) {
  return R"({"op":"frame","commands":[["animated_rect",[0,0,8,8],"#ff0000",0,"",0,{"property":"x","from":0,"to":40,)" +
         timing + "}]]}";
}

TEST(WindowMotionTest, PresentsFollowTheAnimations) {
  auto host = test::launch_window_host(R"("width":64,"height":48)");
  ASSERT_TRUE(host);

  // A finite animation of one second: presented on its own while it runs,
  // then no more.
  const double before = frames(*host);
  const Clock::time_point committed = Clock::now();
  ASSERT_TRUE(reply_ok(host->request(animated_rect(R"("duration":1)"))));
  double last = frames(*host);
  bool stopped = false;
  while (Clock::now() - committed < std::chrono::seconds(30)) {
    pause(0.25);
    const double now = frames(*host);
    if (now == last && Clock::now() - committed > std::chrono::milliseconds(1100)) {
      stopped = true;
      break;
    }
    last = now;
  }
  ASSERT_TRUE(stopped) << "frames kept growing: " << last;
  // The commit's present and at least one more while it moved.
  EXPECT_GE(last - before, 2);
  pause(0.5);
  EXPECT_EQ(frames(*host), last);

  // A loop keeps the host presenting without any request.
  ASSERT_TRUE(reply_ok(host->request(animated_rect(R"("duration":1,"loop":true)"))));
  const double start = frames(*host);
  double grown = start;
  const Clock::time_point looping = Clock::now();
  while (grown - start < 5 && Clock::now() - looping < std::chrono::seconds(30)) {
    pause(0.1);
    grown = frames(*host);
  }
  EXPECT_GE(grown - start, 5);
}

}  // namespace
}  // namespace lumora
