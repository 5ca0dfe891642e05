// The host's forwarding, scheduling and fatal notices, driven through the
// test-only host whose backend is scripted by its commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/controller.h"
#include "platform/clock.h"
#include "support/host_fixture.h"

namespace lumora {
namespace {

using test::reply_fails_with;
using test::reply_ok;

class FakeHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = test::launch_host(LUMORA_FAKE_HOST_PATH);
    ASSERT_TRUE(host_);
  }
  void open(const std::string& extra = "") {
    ASSERT_TRUE(reply_ok(host_->request(R"({"op":"open","backend":"terminal")" + extra + "}")));
  }
  double stat(const char* name) {
    std::optional<client::Reply> reply = host_->request(R"({"op":"stats"})");
    return reply && reply->ok ? test::number_member(reply->result.get(), name) : -1;
  }
  // Waits for the final notice, skipping events.
  std::optional<client::Message> final_notice(double seconds) {
    double deadline = platform::now_seconds() + seconds;
    while (platform::now_seconds() < deadline) {
      std::optional<client::Message> message = host_->next_message(deadline - platform::now_seconds());
      if (!message) break;
      if (message->type == client::kFrameFinal) return message;
    }
    return std::nullopt;
  }

  std::unique_ptr<client::Controller> host_;
};

TEST_F(FakeHostTest, HostMessagesWithABackend) {
  EXPECT_TRUE(reply_fails_with(host_->request(R"({"op":"open","fake_open_error":"No console"})"), "No console"));
  EXPECT_TRUE(reply_fails_with(host_->request(R"({"op":"open","fake_open_error":""})"), "Could not open backend"));
  open();
  EXPECT_TRUE(reply_fails_with(host_->request(R"({"op":"open","backend":"terminal"})"), "Host already open"));
  EXPECT_TRUE(reply_fails_with(host_->request(R"({"op":"present"})"), "Commit a scene before presenting"));
  EXPECT_TRUE(reply_fails_with(host_->request(R"({"op":"frame"})"), "Fake commit needs an array"));
  EXPECT_TRUE(reply_fails_with(host_->request(R"({"op":"patch","fail":true})"), "Could not commit scene"));
  EXPECT_TRUE(reply_fails_with(host_->request(R"({"op":"no_such_op"})"), "Unsupported native operation"));
  std::optional<client::Reply> configured = host_->request(R"({"op":"configure"})");
  ASSERT_TRUE(reply_ok(configured));
  EXPECT_EQ(R"({"ok":true,"result":null})", configured->body);
  EXPECT_TRUE(host_->close());
  EXPECT_EQ(0, host_->wait_exit());
}

TEST_F(FakeHostTest, FortyCommandsAreServedOverTwoLoopTurns) {
  open();
  std::string bytes;
  for (int k = 0; k < 40; ++k) {
    unsigned char header[16];
    std::string body = R"({"op":"fake_drains"})";
    client::encode_frame_header(client::kFrameCommand, host_->last_id() + 1 + k, body.size(), header);
    bytes += std::string(reinterpret_cast<char*>(header), 16) + body;
  }
  std::uint32_t first = host_->last_id() + 1;
  ASSERT_TRUE(host_->send_raw(bytes));
  std::vector<double> drains;
  for (std::uint32_t id = first; id < first + 40; ++id) {
    std::optional<client::Reply> reply = host_->wait_reply(id, 10);
    ASSERT_TRUE(reply_ok(reply));
    drains.push_back(reply->result->valuedouble);
  }
  // The first 32 share one turn, the other 8 the next one.
  for (int k = 0; k < 40; ++k) EXPECT_EQ(drains[0] + (k < 32 ? 0 : 1), drains[k]) << k;
  host_->set_next_id(first + 40);
}

TEST_F(FakeHostTest, EventsArriveInOrderAndTheFirstPresentFollowsTheFrame) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(
      R"({"op":"fake_queue_events","events":[{"kind":"key_down","key":"a","shift":false,"ctrl":false},{"kind":"blur"}]})")));
  std::optional<client::Message> first = host_->next_message(5);
  std::optional<client::Message> second = host_->next_message(5);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(client::kFrameEvent, first->type);
  EXPECT_EQ(R"({"kind":"key_down","key":"a","shift":false,"ctrl":false})", first->text);
  EXPECT_EQ(R"({"kind":"blur"})", second->text);
  EXPECT_EQ(2, stat("input_events"));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"frame","commands":[]})")));
  EXPECT_EQ(1, stat("frames"));
  EXPECT_EQ(1, stat("presents"));
  EXPECT_EQ(1, stat("scene_updates"));
}

TEST_F(FakeHostTest, SuspendHoldsPresentsUntilResume) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_queue_events","events":[{"kind":"suspend"}]})")));
  ASSERT_TRUE(host_->next_message(5));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"frame","commands":[]})")));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"present","scheduled":true})")));
  EXPECT_EQ(0, stat("frames"));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_queue_events","events":[{"kind":"resume"}]})")));
  ASSERT_TRUE(host_->next_message(5));
  EXPECT_EQ(1, stat("frames"));
}

TEST_F(FakeHostTest, ContinuousRedrawFollowsConfigure) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"frame","commands":[]})")));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"configure","redraw_interval":0.02})")));
  platform::sleep_seconds(0.3);
  EXPECT_GE(stat("frames"), 3);
  EXPECT_EQ(true, cJSON_IsTrue(test::member(host_->request(R"({"op":"stats"})")->result.get(), "continuous")));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"configure","redraw_interval":null})")));
  double frames = stat("frames");
  platform::sleep_seconds(0.2);
  EXPECT_EQ(frames, stat("frames"));
}

TEST_F(FakeHostTest, FailedScheduledPresentEndsWithNativeError) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_fail","present":"Console gone"})")));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"frame","commands":[]})")));
  std::optional<client::Message> notice = final_notice(10);
  ASSERT_TRUE(notice);
  EXPECT_EQ("native_error", test::string_member(notice->body.get(), "reason"));
  EXPECT_EQ("Console gone", test::string_member(notice->body.get(), "error"));
  EXPECT_EQ(0, test::number_member(notice->body.get(), "stats.frames"));
  EXPECT_EQ(0, host_->wait_exit());
  EXPECT_EQ("", host_->standard_error());
}

TEST_F(FakeHostTest, ControllerNotReadingEndsWithEventOverload) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_flood","per_drain":50,"text_bytes":100000})")));
  // Not reading while the host fills its send queue.
  platform::sleep_seconds(1.0);
  std::optional<client::Message> notice = final_notice(30);
  ASSERT_TRUE(notice);
  EXPECT_EQ("event_overload", test::string_member(notice->body.get(), "reason"));
  EXPECT_EQ("Native input queue exhausted", test::string_member(notice->body.get(), "error"));
  EXPECT_GT(test::number_member(notice->body.get(), "stats.input_events"), 100);
  EXPECT_EQ(0, host_->wait_exit());
}

TEST_F(FakeHostTest, ClosingHostStopsDrainingAfterItsDeadline) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_flood","per_drain":50,"text_bytes":100000})")));
  // Never reading again: the final notice cannot be delivered, and the host
  // gives up on it instead of waiting forever.
  EXPECT_EQ(0, host_->wait_exit(20));
}

}  // namespace
}  // namespace lumora
