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
  void open() { ASSERT_TRUE(reply_ok(host_->request(R"({"op":"open","backend":"terminal"})"))); }
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
  // Anything but "terminal" opens the window, and the open's scheduling members apply.
  std::optional<client::Reply> opened = host_->request(R"({"op":"open","backend":7,"fps_limit":20})");
  ASSERT_TRUE(reply_ok(opened));
  EXPECT_EQ("window", test::string_member(opened->result.get(), "kind"));
  EXPECT_EQ(20, stat("fps_limit"));
  const std::pair<const char*, const char*> failures[] = {
      {R"({"op":"open","backend":"terminal"})", "Host already open"},
      {R"({"op":"present"})", "Commit a scene before presenting"},
      {R"({"op":"frame"})", "Fake commit needs an array"},
      {R"({"op":"frame","commands":["fail"]})", "Could not commit scene"},
      {R"({"op":"patch","fail":true})", "Could not commit scene"},
      {R"({"op":"no_such_op"})", "Unsupported native operation"},
      {R"({"op":"fake_fail_op","message":"Bad font"})", "Bad font"},
  };
  for (const auto& [command, message] : failures) EXPECT_TRUE(reply_fails_with(host_->request(command), message)) << command;
  EXPECT_EQ(0, stat("scene_updates"));
  // A failed present reports the backend's own message.
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"frame","commands":[]})")));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_fail","present":"Output closed"})")));
  EXPECT_TRUE(reply_fails_with(host_->request(R"({"op":"present"})"), "Output closed"));
  std::optional<client::Reply> configured = host_->request(R"({"op":"configure"})");
  ASSERT_TRUE(reply_ok(configured));
  EXPECT_EQ(R"({"ok":true,"result":null})", configured->body);
  EXPECT_TRUE(host_->close());
  EXPECT_EQ(0, host_->wait_exit());
}

TEST_F(FakeHostTest, StatsResetReturnsTheOldValuesAndResetsTheBackendToo) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"frame","commands":[1,2]})")));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"present"})")));  // no update: no new sample
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"stats","reset":1})")));  // not true: no reset
  std::optional<client::Reply> old = host_->request(R"({"op":"stats","reset":true})");
  std::optional<client::Reply> fresh = host_->request(R"({"op":"stats"})");
  ASSERT_TRUE(reply_ok(old) && reply_ok(fresh));
  struct Expected {
    const char* key;
    double old_value, fresh_value;
  };
  const Expected table[] = {{"frames", 2, 0}, {"presents", 2, 0},  {"resets", 0, 1},
                            {"requests", 5, 1}, {"last_scene_commands_touched", 2, 0}};
  for (const Expected& row : table) {
    EXPECT_EQ(row.old_value, test::number_member(old->result.get(), row.key)) << row.key;
    EXPECT_EQ(row.fresh_value, test::number_member(fresh->result.get(), row.key)) << row.key;
  }
  EXPECT_EQ(1, cJSON_GetArraySize(test::member(old->result.get(), "scene_update_samples_ms")));
  EXPECT_EQ(0, cJSON_GetArraySize(test::member(fresh->result.get(), "scene_update_samples_ms")));
}

TEST_F(FakeHostTest, FortyCommandsInOneWriteAreServedOverTwoLoopTurns) {
  open();
  // Ids may leave gaps as long as they grow.
  const std::uint32_t first = host_->last_id() + 2;
  std::string bytes;
  for (std::uint32_t k = 0; k < 40; ++k) {
    unsigned char header[16];
    std::string body = R"({"op":"fake_drains"})";
    client::encode_frame_header(client::kFrameCommand, first + 2 * k, body.size(), header);
    bytes += std::string(reinterpret_cast<char*>(header), 16) + body;
  }
  ASSERT_TRUE(host_->send_raw(bytes));
  std::vector<double> drains;
  for (std::uint32_t k = 0; k < 40; ++k) {
    std::optional<client::Reply> reply = host_->wait_reply(first + 2 * k, 10);
    ASSERT_TRUE(reply_ok(reply));
    drains.push_back(reply->result->valuedouble);
  }
  // The first 32 share one turn, the other 8 the next one.
  for (int k = 0; k < 40; ++k) EXPECT_EQ(drains[0] + (k < 32 ? 0 : 1), drains[k]) << k;
  host_->set_next_id(first + 80);
}

TEST_F(FakeHostTest, SuspendHoldsScheduledPresentsUntilResume) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_queue_events","events":[{"kind":"suspend"}]})")));
  ASSERT_TRUE(host_->next_message(5));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"frame","commands":[]})")));
  EXPECT_EQ(0, stat("frames"));
  // A synchronous present still presents; a scheduled one waits.
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"present"})")));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"present","scheduled":true})")));
  EXPECT_EQ(1, stat("frames"));
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_queue_events","events":[{"kind":"resume"}]})")));
  ASSERT_TRUE(host_->next_message(5));
  EXPECT_EQ(2, stat("frames"));
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

TEST_F(FakeHostTest, ControllerHangingUpWhileTheHostSendsEndsWithCodeZero) {
  open();
  ASSERT_TRUE(reply_ok(host_->request(R"({"op":"fake_flood","per_drain":50,"text_bytes":1000})")));
  // Writing to the closed connection must end the loop, not raise a signal.
  host_->hang_up();
  EXPECT_EQ(0, host_->wait_exit(20));
  EXPECT_EQ("", host_->standard_error());
}

}  // namespace
}  // namespace lumora
