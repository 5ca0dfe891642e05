#include "host/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/events.h"
#include "host/scheduling.h"
#include "scene/error_text.h"
#include "session_helpers.h"

namespace lumora::host {
namespace {

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { session_ = make_session(); }

  // Handles one command and returns its one reply, parsed.
  JsonPtr command(const std::string& body) {
    handle_command(*session_, ++id_, body.data(), body.size());
    std::vector<QueuedFrame> frames = take_queued(*session_);
    EXPECT_EQ(1u, frames.size()) << body;
    if (frames.empty()) return nullptr;
    EXPECT_EQ(kFrameReply, frames[0].type);
    EXPECT_EQ(id_, frames[0].id);
    JsonPtr reply = frames[0].json();
    EXPECT_TRUE(reply) << frames[0].body;
    if (reply) {
      EXPECT_STREQ("ok", reply->child->string) << "\"ok\" comes first";
    }
    return reply;
  }
  std::string error_of(const std::string& body) {
    JsonPtr reply = command(body);
    if (!reply || !cJSON_IsFalse(cJSON_GetObjectItem(reply.get(), "ok"))) return "<success>";
    return cJSON_GetObjectItem(reply.get(), "error")->valuestring;
  }
  std::string result_of(const std::string& body) {
    JsonPtr reply = command(body);
    if (!reply || !cJSON_IsTrue(cJSON_GetObjectItem(reply.get(), "ok"))) return "<failure>";
    scene::JsonText text = scene::print_json(cJSON_GetObjectItem(reply.get(), "result"));
    return text.get();
  }
  std::vector<std::string> fake_log() {
    JsonPtr reply = command(R"({"op":"fake_log"})");
    std::vector<std::string> entries;
    const cJSON* entry = nullptr;
    cJSON_ArrayForEach(entry, cJSON_GetObjectItem(reply.get(), "result")) entries.emplace_back(entry->valuestring);
    return entries;
  }
  double stat(const char* name) {
    JsonPtr reply = command(R"({"op":"stats"})");
    return cJSON_GetObjectItem(cJSON_GetObjectItem(reply.get(), "result"), name)->valuedouble;
  }

  std::unique_ptr<HostSession> session_;
  std::uint32_t id_ = 0;
};

TEST_F(DispatchTest, BodiesThatAreNotOneObject) {
  using namespace std::string_literals;
  const char* kNul = "Embedded NUL is not representable in a native C string";
  EXPECT_EQ(kNul, error_of(R"({"op":"x\u0000"})"));
  EXPECT_EQ(kNul, error_of("{\"op\":\"x\0\"}"s));
  const std::string invalid[] = {"", "{\"op\":\"stats\"} ", "{\"op\":\"stats\"}x", "[1]", "\"text\"", "{",
                                 "{\"a\":" + std::string(64, '[') + std::string(64, ']') + "}"};
  for (const std::string& body : invalid) EXPECT_EQ("Invalid JSON command", error_of(body)) << body;
  // Neither kind of refusal counts as a request.
  EXPECT_EQ(0u, session_->stats.requests);
  // The deepest accepted document and a leading byte-order mark parse.
  EXPECT_EQ("Open the backend first",
            error_of("{\"a\":" + std::string(63, '[') + std::string(63, ']') + "}"));
  EXPECT_EQ("Open the backend first", error_of("\xEF\xBB\xBF{\"op\":\"stats\"}"));
  EXPECT_EQ("Open the backend first", error_of(R"({"op":"x\u0001"})"));
  EXPECT_EQ(3u, session_->stats.requests);
}

TEST_F(DispatchTest, EverythingButOpenAndCloseNeedsABackend) {
  for (const char* op : {"frame", "patch", "present", "stats", "configure", "", "Open"}) {
    EXPECT_EQ("Open the backend first", error_of(std::string("{\"op\":\"") + op + "\"}")) << op;
  }
  EXPECT_EQ("Open the backend first", error_of(R"({"op":5})"));
}

TEST_F(DispatchTest, OpenChoosesTheBackendByName) {
  EXPECT_EQ("Unsupported native backend", error_of(R"({"op":"open","backend":"Terminal"})"));
  EXPECT_EQ("Could not open backend", error_of(R"({"op":"open","fake_open_error":""})"));
  EXPECT_EQ("No display", error_of(R"({"op":"open","fake_open_error":"No display"})"));
  EXPECT_FALSE(session_->backend_open);
  JsonPtr reply = command(R"({"op":"open","backend":7,"redraw_interval":0.5,"fps_limit":20})");
  const cJSON* info = cJSON_GetObjectItem(reply.get(), "result");
  EXPECT_STREQ("window", cJSON_GetObjectItem(info, "kind")->valuestring);
  EXPECT_TRUE(session_->window && !session_->terminal);
  EXPECT_TRUE(session_->continuous);
  EXPECT_EQ(20, session_->fps_limit);
  EXPECT_EQ("Host already open", error_of(R"({"op":"open","backend":"terminal"})"));
}

TEST_F(DispatchTest, OpenWithoutAnOpenerFailsPlainly) {
  session_->openers.window = nullptr;
  EXPECT_EQ("Could not open backend", error_of(R"({"op":"open"})"));
  EXPECT_EQ("Could not open backend", error_of(R"({"op":"open","backend":"window"})"));
  EXPECT_EQ("<success>", error_of(R"({"op":"open","backend":"terminal"})"));
  EXPECT_TRUE(session_->terminal && !session_->window);
}

TEST_F(DispatchTest, FrameSetsTheTransitionThenCommits) {
  command(R"({"op":"open"})");
  EXPECT_EQ("null", result_of(R"({"op":"frame","commands":[]})"));
  EXPECT_EQ("null", result_of(R"({"op":"frame","commands":[],"transition_seconds":0.2})"));
  EXPECT_EQ("null", result_of(R"({"op":"frame","commands":[],"transition_seconds":9})"));
  EXPECT_EQ("null", result_of(R"({"op":"patch","transition_seconds":-1})"));
  EXPECT_EQ("null", result_of(R"({"op":"frame","commands":[],"transition_seconds":"1"})"));
  const std::vector<std::string> expected = {"configure:0",    "commit", "configure:200", "commit",
                                             "configure:5000", "commit", "configure:0",   "patch",
                                             "configure:0",    "commit", "fake_log"};
  EXPECT_EQ(expected, fake_log());
  EXPECT_TRUE(session_->scene_committed);
  EXPECT_TRUE(session_->present_requested);
  EXPECT_TRUE(session_->update_pending);
  EXPECT_EQ(5u, session_->stats.scene_updates);
}

TEST_F(DispatchTest, FailedCommitsAndPresents) {
  command(R"({"op":"open"})");
  EXPECT_EQ("Commit a scene before presenting", error_of(R"({"op":"present"})"));
  EXPECT_EQ("Commit a scene before presenting", error_of(R"({"op":"present","scheduled":true})"));
  EXPECT_EQ("Fake commit needs an array", error_of(R"({"op":"frame"})"));
  EXPECT_EQ("Could not commit scene", error_of(R"({"op":"frame","commands":["fail"]})"));
  EXPECT_EQ("Could not commit scene", error_of(R"({"op":"patch","fail":true})"));
  EXPECT_FALSE(session_->scene_committed);
  EXPECT_EQ(0u, session_->stats.scene_updates);
  command(R"({"op":"frame","commands":[]})");
  command(R"({"op":"fake_fail","present":"Output closed"})");
  EXPECT_EQ("Output closed", error_of(R"({"op":"present"})"));
  command(R"({"op":"fake_fail","present":null,"draw":""})");
  EXPECT_EQ("Commit a scene before presenting", error_of(R"({"op":"present"})"));
  command(R"({"op":"fake_fail","draw":null})");
  EXPECT_EQ("null", result_of(R"({"op":"present"})"));
  EXPECT_EQ(1u, session_->stats.frames);
}

TEST_F(DispatchTest, ScheduledPresentOnlyForTrue) {
  command(R"({"op":"open"})");
  command(R"({"op":"frame","commands":[]})");
  ASSERT_TRUE(present(*session_, scene::HostErrorBuffer().text()));
  EXPECT_FALSE(session_->present_requested);
  EXPECT_EQ("null", result_of(R"({"op":"present","scheduled":1})"));  // presents at once
  EXPECT_EQ(2u, session_->stats.frames);
  EXPECT_EQ("null", result_of(R"({"op":"present","scheduled":true})"));
  EXPECT_EQ(2u, session_->stats.frames);
  EXPECT_TRUE(session_->present_requested);
}

TEST_F(DispatchTest, OperationsReachTheBackend) {
  command(R"({"op":"open"})");
  EXPECT_EQ("Unsupported native operation", error_of(R"({"op":"measure_everything"})"));
  EXPECT_EQ("Unsupported native operation", error_of(R"({"op":"fake_fail_op"})"));
  EXPECT_EQ("Bad font", error_of(R"({"op":"fake_fail_op","message":"Bad font"})"));
  // A null result is a success.
  EXPECT_EQ("null", result_of(R"({"op":"configure","fps_limit":12})"));
  EXPECT_EQ(12, session_->fps_limit);
  // A failed configure changes no scheduling.
  EXPECT_EQ("Unsupported native operation", error_of(R"({"op":"configure","fail":true,"fps_limit":50})"));
  EXPECT_EQ(12, session_->fps_limit);
  // Other operations carrying scheduling members do not schedule.
  EXPECT_EQ("null", result_of(R"({"op":"reload_image","fps_limit":50})"));
  EXPECT_EQ(12, session_->fps_limit);
  EXPECT_FALSE(session_->present_requested);  // no scene yet
  command(R"({"op":"frame","commands":[]})");
  ASSERT_TRUE(present(*session_, scene::HostErrorBuffer().text()));
  command(R"({"op":"reload_image"})");
  EXPECT_TRUE(session_->present_requested);
}

TEST_F(DispatchTest, StatsResetReturnsTheOldValues) {
  command(R"({"op":"open"})");
  command(R"({"op":"frame","commands":[1,2]})");
  ASSERT_TRUE(present(*session_, scene::HostErrorBuffer().text()));
  EXPECT_EQ(1, stat("frames"));
  EXPECT_EQ(2, stat("last_scene_commands_touched"));
  JsonPtr reply = command(R"({"op":"stats","reset":1})");  // not true: no reset
  EXPECT_EQ(1, stat("frames"));
  reply = command(R"({"op":"stats","reset":true})");
  const cJSON* old = cJSON_GetObjectItem(reply.get(), "result");
  EXPECT_EQ(1, cJSON_GetObjectItem(old, "frames")->valuedouble);
  EXPECT_EQ(1, cJSON_GetObjectItem(old, "presents")->valuedouble);
  EXPECT_EQ(1, cJSON_GetArraySize(cJSON_GetObjectItem(old, "scene_update_samples_ms")));
  reply = command(R"({"op":"stats"})");
  const cJSON* fresh = cJSON_GetObjectItem(reply.get(), "result");
  EXPECT_EQ(1, cJSON_GetObjectItem(fresh, "requests")->valuedouble);
  EXPECT_EQ(0, cJSON_GetObjectItem(fresh, "frames")->valuedouble);
  EXPECT_EQ(0, cJSON_GetObjectItem(fresh, "fps")->valuedouble);
  EXPECT_EQ(0, cJSON_GetObjectItem(fresh, "presents")->valuedouble);  // the backend's own reset
  EXPECT_EQ(1, cJSON_GetObjectItem(fresh, "resets")->valuedouble);
  EXPECT_EQ(0, cJSON_GetObjectItem(fresh, "last_scene_commands_touched")->valuedouble);
  EXPECT_EQ(0, cJSON_GetArraySize(cJSON_GetObjectItem(fresh, "scene_update_samples_ms")));
  EXPECT_GT(session_->last_present_time, 0);
}

TEST_F(DispatchTest, CloseRepliesThenSendsTheFinalNoticeOnce) {
  std::string body = R"({"op":"close"})";
  handle_command(*session_, 4, body.data(), body.size());
  send_final_notice(*session_, "native_error", "late");  // once per connection
  std::vector<QueuedFrame> frames = take_queued(*session_);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ(kFrameReply, frames[0].type);
  EXPECT_EQ(4u, frames[0].id);
  EXPECT_EQ(R"({"ok":true,"result":null})", frames[0].body);
  EXPECT_EQ(kFrameFinal, frames[1].type);
  EXPECT_EQ(0u, frames[1].id);
  JsonPtr notice = frames[1].json();
  EXPECT_STREQ("reason", notice->child->string);
  EXPECT_STREQ("closed", cJSON_GetObjectItem(notice.get(), "reason")->valuestring);
  EXPECT_FALSE(cJSON_HasObjectItem(notice.get(), "error"));
  EXPECT_STREQ("stats", notice->child->next->string);
  EXPECT_TRUE(session_->closing);
  EXPECT_GT(session_->close_deadline, 0);
}

TEST_F(DispatchTest, UnsendableReplyStopsTheConnection) {
  session_->send_length = kSendBufferSize - 20;
  std::string body = R"({"op":"open"})";
  handle_command(*session_, 1, body.data(), body.size());
  EXPECT_TRUE(session_->stopped);
  EXPECT_TRUE(session_->backend_open);  // the command's effects stay applied
}

class ForwardingTest : public DispatchTest {};

TEST_F(ForwardingTest, EventsFollowInOrderAndTrackSuspension) {
  forward_events(*session_);  // no backend: nothing
  command(R"({"op":"open"})");
  command(R"({"op":"fake_queue_events","events":[{"kind":"suspend"},{"kind":"key_down","key":"a"},{"kind":"resume"},{"kind":"suspend"}]})");
  forward_events(*session_);
  std::vector<QueuedFrame> frames = take_queued(*session_);
  ASSERT_EQ(4u, frames.size());
  EXPECT_EQ(kFrameEvent, frames[1].type);
  EXPECT_EQ(0u, frames[1].id);
  EXPECT_EQ(R"({"kind":"key_down","key":"a"})", frames[1].body);
  EXPECT_TRUE(session_->suspended);
  EXPECT_EQ(4u, session_->stats.input_events);
  command(R"({"op":"fake_queue_events","events":[{"kind":"resume"}]})");
  forward_events(*session_);
  EXPECT_FALSE(session_->suspended);
}

TEST_F(ForwardingTest, SuspensionHoldsScheduledPresentsBack) {
  command(R"({"op":"open"})");
  command(R"({"op":"frame","commands":[]})");
  session_->suspended = true;
  scene::HostErrorBuffer error;
  present_if_due(*session_, error.text());
  EXPECT_EQ(0u, session_->stats.frames);
  EXPECT_EQ("null", result_of(R"({"op":"present"})"));  // a synchronous present still presents
  EXPECT_EQ(1u, session_->stats.frames);
  session_->suspended = false;
  session_->present_requested = true;
  present_if_due(*session_, error.text());
  EXPECT_EQ(2u, session_->stats.frames);
}

TEST_F(ForwardingTest, FullSendQueueEndsWithEventOverload) {
  command(R"({"op":"open"})");
  command(R"({"op":"fake_flood","per_drain":1,"text_bytes":3000})");
  // Room for one event and then a final notice, but not for a second event.
  const std::size_t kPadding = kSendBufferSize - 5000;
  session_->send_length = kPadding;
  forward_events(*session_);
  EXPECT_FALSE(session_->closing);
  forward_events(*session_);
  EXPECT_TRUE(session_->closing);
  // (Without a connection the flush after each drain sets `stopped`; the
  // queued frames below are what counts.)
  forward_events(*session_);  // closing: no more forwarding
  EXPECT_EQ(2u, session_->stats.input_events);
  session_->send_offset = kPadding;  // as if the padding was sent
  session_->send_length -= kPadding;
  std::vector<QueuedFrame> frames = take_queued(*session_);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ(kFrameEvent, frames[0].type);
  EXPECT_EQ(kFrameFinal, frames[1].type);
  JsonPtr notice = frames[1].json();
  EXPECT_STREQ("event_overload", cJSON_GetObjectItem(notice.get(), "reason")->valuestring);
  EXPECT_STREQ("Native input queue exhausted", cJSON_GetObjectItem(notice.get(), "error")->valuestring);
  EXPECT_EQ(2, cJSON_GetObjectItem(cJSON_GetObjectItem(notice.get(), "stats"), "input_events")->valuedouble);
}

TEST_F(ForwardingTest, FailedScheduledPresentSendsNativeError) {
  command(R"({"op":"open"})");
  command(R"({"op":"frame","commands":[]})");
  command(R"({"op":"fake_fail","present":""})");
  scene::HostErrorBuffer error;
  present_if_due(*session_, error.text());
  std::vector<QueuedFrame> frames = take_queued(*session_);
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(kFrameFinal, frames[0].type);
  JsonPtr notice = frames[0].json();
  EXPECT_STREQ("native_error", cJSON_GetObjectItem(notice.get(), "reason")->valuestring);
  EXPECT_STREQ("", cJSON_GetObjectItem(notice.get(), "error")->valuestring);  // present even when empty
  EXPECT_TRUE(session_->closing);
}

}  // namespace
}  // namespace lumora::host
