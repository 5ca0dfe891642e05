// The controller against the real host binary: start-up, a request, both
// ways of ending.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/controller.h"
#include "support/host_fixture.h"

namespace lumora::client {
namespace {

constexpr const char* kOpenHeadless = R"({"op":"open","backend":"terminal","headless":true,"columns":40,"rows":10})";

TEST(HostSessionTest, AnswersBeforeOpenAndClosesWithTheFinalNotice) {
  auto host = test::launch_default_host();
  ASSERT_NE(host, nullptr);
  EXPECT_TRUE(test::reply_fails_with(host->request(R"({"op":"stats"})"), "Open the backend first"));
  ASSERT_TRUE(host->close()) << host->error();
  std::vector<Message> messages = host->take_messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].type, kFrameFinal);
  EXPECT_EQ(test::string_member(messages[0].body.get(), "reason"), "closed");
  EXPECT_NE(test::member(messages[0].body.get(), "stats"), nullptr);
  EXPECT_EQ(host->wait_exit(5), 0);
  EXPECT_EQ(host->standard_error(), "");
}

TEST(HostSessionTest, StatsOfAnOpenHeadlessTerminal) {
  auto host = test::launch_default_host();
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(test::reply_ok(host->request(kOpenHeadless)));
  std::optional<Reply> stats = host->request(R"({"op":"stats"})");
  ASSERT_TRUE(test::reply_ok(stats));
  ASSERT_TRUE(cJSON_IsObject(stats->result.get()));
  // The open and this request.
  EXPECT_EQ(test::number_member(stats->result.get(), "requests"), 2);
  EXPECT_TRUE(host->close());
}

TEST(HostSessionTest, HangingUpEndsTheHostWithCodeZero) {
  auto host = test::launch_default_host();
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(test::reply_ok(host->request(kOpenHeadless)));
  host->hang_up();
  EXPECT_EQ(host->wait_exit(10), 0);
  EXPECT_EQ(host->standard_error(), "");
}

TEST(HostSessionTest, AnInvalidFrameEndsTheConnection) {
  auto host = test::launch_default_host();
  ASSERT_NE(host, nullptr);
  // A reply frame is never valid from the controller.
  ASSERT_TRUE(host->send_frame(kFrameReply, 1, "{}"));
  EXPECT_FALSE(host->next_message(10));
  EXPECT_EQ(host->wait_exit(10), 2);
  EXPECT_EQ(host->standard_error(), "Invalid native protocol frame\n");
}

TEST(HostSessionTest, BadCommandLinesExitWithCodeTwoSilently) {
  const std::vector<std::vector<std::string>> command_lines = {
      {},
      {"--port", "0", "--token", std::string(64, 'a')},
      {"--port", "1234"},
      {"--port", "1234", "--token", std::string(63, 'a')},
  };
  for (const auto& args : command_lines) {
    ProcessResult result = run_process(LUMORA_HOST_PATH, args, 10);
    EXPECT_EQ(result.exit_code, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error, "");
  }
}

}  // namespace
}  // namespace lumora::client
