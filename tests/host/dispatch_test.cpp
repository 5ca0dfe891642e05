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

// The replies' messages, opening and statistics are checked through the
// whole process (tests/integration/host_*); these tests need the session's
// insides: the backend's call order, deferred presents, a full send queue.
constexpr const char* kNullReply = R"({"ok":true,"result":null})";

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { session_ = make_session(); }

  // Handles one command and returns the text of its one reply.
  std::string command(const std::string& body) {
    handle_command(*session_, ++id_, body.data(), body.size());
    std::vector<QueuedFrame> frames = take_queued(*session_);
    EXPECT_EQ(1u, frames.size()) << body;
    if (frames.empty()) return "<none>";
    EXPECT_EQ(kFrameReply, frames[0].type);
    EXPECT_EQ(id_, frames[0].id);
    return frames[0].body;
  }

  std::unique_ptr<HostSession> session_;
  std::uint32_t id_ = 0;
};

TEST_F(DispatchTest, SceneUpdatesConfigureTheTransitionThenCommit) {
  command(R"({"op":"open"})");
  for (const char* body : {R"({"op":"frame","commands":[]})", R"({"op":"frame","commands":[],"transition_seconds":0.2})",
                           R"({"op":"patch","transition_seconds":-1})",
                           R"({"op":"frame","commands":[],"transition_seconds":"1"})"}) {
    EXPECT_EQ(kNullReply, command(body)) << body;
  }
  EXPECT_EQ(R"({"ok":true,"result":["configure:0","commit","configure:200","commit","configure:0","patch",)"
            R"("configure:0","commit","fake_log"]})",
            command(R"({"op":"fake_log"})"));
  EXPECT_TRUE(session_->scene_committed && session_->present_requested && session_->update_pending);
  EXPECT_EQ(4u, session_->stats.scene_updates);
}

// "open" reaches a backend only through the table it was given: by its exact
// name, the window for a missing, empty or non-string name.
std::vector<std::string> g_opened;

std::unique_ptr<Backend> open_as_terminal(const cJSON* command, ErrorText error) {
  g_opened.push_back("terminal");
  return open_fake_backend(command, error);
}

std::unique_ptr<Backend> open_as_window(const cJSON* command, ErrorText error) {
  g_opened.push_back("window");
  return open_fake_backend(command, error);
}

TEST_F(DispatchTest, OpenChoosesTheBackendByNameFromTheTableItWasGiven) {
  static constexpr BackendFactory kBackends[] = {{"terminal", open_as_terminal}, {"window", open_as_window}};
  struct Case {
    const char* open;
    const char* opened;  // nullptr: none
  };
  const Case cases[] = {
      {R"({"op":"open","backend":"terminal"})", "terminal"},
      {R"({"op":"open","backend":"window"})", "window"},
      {R"({"op":"open","backend":""})", "window"},
      {R"({"op":"open"})", "window"},
      {R"({"op":"open","backend":7})", "window"},
      {R"({"op":"open","backend":"Terminal"})", nullptr},
      {R"({"op":"open","backend":"terminal "})", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.open);
    session_ = make_session();
    session_->backends = kBackends;
    g_opened.clear();
    const std::string reply = command(c.open);
    if (c.opened == nullptr) {
      EXPECT_EQ(R"({"ok":false,"error":"Unsupported native backend"})", reply);
      EXPECT_TRUE(g_opened.empty());
    } else {
      EXPECT_EQ(std::vector<std::string>{c.opened}, g_opened);
      EXPECT_TRUE(session_->backend_open);
    }
  }
}

TEST_F(DispatchTest, OnlyScheduledTrueDefersThePresent) {
  command(R"({"op":"open"})");
  command(R"({"op":"frame","commands":[]})");
  ASSERT_TRUE(present(*session_, HostErrorBuffer().text()));
  EXPECT_EQ(kNullReply, command(R"({"op":"present","scheduled":1})"));
  EXPECT_EQ(2u, session_->stats.frames);
  EXPECT_FALSE(session_->present_requested);
  EXPECT_EQ(kNullReply, command(R"({"op":"present","scheduled":true})"));
  EXPECT_EQ(2u, session_->stats.frames);
  EXPECT_TRUE(session_->present_requested);
}

TEST_F(DispatchTest, UnsendableReplyStopsTheConnectionButKeepsTheEffects) {
  session_->send_length = kSendBufferSize - 20;
  std::string body = R"({"op":"open"})";
  handle_command(*session_, 1, body.data(), body.size());
  EXPECT_TRUE(session_->stopped);
  EXPECT_TRUE(session_->backend_open);
}

// A reply that can never fit a frame is refused on its own and the session
// goes on; one that merely finds the queue full still ends it (above).
TEST_F(DispatchTest, ReplyAboveTheFrameLimitGetsAnErrorReplyInstead) {
  command(R"({"op":"open"})");
  // The result's two quotes and the reply around it make these the last
  // body that fits and the first that does not.
  const std::size_t kEnvelope = std::string(R"({"ok":true,"result":""})").size();
  for (std::size_t text_length : {kMaxBody - kEnvelope, kMaxBody - kEnvelope + 1}) {
    SCOPED_TRACE(text_length);
    JsonPtr echo(cJSON_CreateObject());
    cJSON_AddStringToObject(echo.get(), "op", "fake_echo");
    cJSON_AddStringToObject(echo.get(), "value", std::string(text_length, 'x').c_str());
    json::JsonText body = json::print_json(echo.get());
    std::string reply = command(body.get());
    if (text_length + kEnvelope <= kMaxBody) {
      EXPECT_EQ(kMaxBody, reply.size());
    } else {
      EXPECT_EQ(R"({"ok":false,"error":"Reply exceeds 16 MiB frame limit"})", reply);
    }
    EXPECT_FALSE(session_->stopped);
  }
  EXPECT_EQ(kNullReply, command(R"({"op":"fake_echo"})"));
}

// cJSON copies string bytes unchecked, so whatever a backend returns, and
// whatever the host echoes, is made well-formed on its way into a frame.
TEST_F(DispatchTest, IllFormedUtf8NeverLeavesInAFrame) {
  command(R"({"op":"open"})");
  const std::pair<std::string, std::string> cases[] = {
      {"\"a\xdc" "b\"", "\"a\xEF\xBF\xBD" "b\""},
      {"[\"\xed\xa0\x80\",\"\xc3\xa9\"]", "[\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\",\"\xc3\xa9\"]"},
      {"{\"k\xff\":\"\xf0\x9f\x98\"}", "{\"k\xEF\xBF\xBD\":\"\xEF\xBF\xBD\"}"},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value);
    EXPECT_EQ(R"({"ok":true,"result":)" + expected + "}", command(R"({"op":"fake_echo","value":)" + value + "}"));
  }
  EXPECT_EQ("{\"ok\":false,\"error\":\"x\xEF\xBF\xBD\"}", command("{\"op\":\"fake_fail_op\",\"message\":\"x\xdc\"}"));
}

TEST_F(DispatchTest, FullSendQueueEndsWithOneEventOverloadNotice) {
  command(R"({"op":"open"})");
  command(R"({"op":"fake_flood","per_drain":1,"text_bytes":3000})");
  // Room for one event and then the final notice, but not for a second event.
  const std::size_t kPadding = kSendBufferSize - 5000;
  session_->send_length = kPadding;
  forward_events(*session_);
  EXPECT_FALSE(session_->closing);
  forward_events(*session_);
  EXPECT_TRUE(session_->closing);
  forward_events(*session_);                              // closing: no more forwarding
  send_final_notice(*session_, "native_error", "late");  // one notice per connection
  EXPECT_EQ(2u, session_->stats.input_events);
  session_->send_offset = kPadding;  // as if the padding was sent
  session_->send_length -= kPadding;
  std::vector<QueuedFrame> frames = take_queued(*session_);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ(kFrameEvent, frames[0].type);
  EXPECT_EQ(kFrameFinal, frames[1].type);
  JsonPtr notice = frames[1].json();
  EXPECT_STREQ("event_overload", cJSON_GetObjectItem(notice.get(), "reason")->valuestring);
  EXPECT_EQ(2, cJSON_GetObjectItem(cJSON_GetObjectItem(notice.get(), "stats"), "input_events")->valuedouble);
}

}  // namespace
}  // namespace lumora::host
