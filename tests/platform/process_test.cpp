#include "platform/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "support/pty.h"

namespace lumora::platform {
namespace {

using ::testing::HasSubstr;

std::unique_ptr<ChildProcess> start_shell(const std::string& script, SpawnOptions options = {}) {
  options.path = "/bin/sh";
  options.args = {"-c", script};
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::spawn(options, &error);
  EXPECT_NE(child, nullptr) << error;
  return child;
}

std::string finished_output(ChildProcess& child) {
  EXPECT_EQ(child.wait_exit(10), 0) << child.standard_error();
  EXPECT_TRUE(child.wait_output_closed(5));
  return child.standard_output();
}

TEST(ChildProcessTest, AddsAndReplacesEnvironmentEntries) {
  SpawnOptions options;
  options.environment = {"LUMORA_TEST_ADDED=one two", "HOME=/lumora-home"};
  auto child = start_shell(R"(printf '%s|%s|%s' "$LUMORA_TEST_ADDED" "$HOME" "${PATH:+inherited}")", options);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(finished_output(*child), "one two|/lumora-home|inherited");
}

TEST(ChildProcessTest, PassesArgumentsVerbatimAndFindsProgramsInPath) {
  SpawnOptions options;
  options.path = "printf";
  options.args = {"[%s]", "a b", "", "$HOME"};
  std::string error;
  auto child = ChildProcess::spawn(options, &error);
  ASSERT_NE(child, nullptr) << error;
  EXPECT_EQ(finished_output(*child), "[a b][][$HOME]");
}

TEST(ChildProcessTest, StandardInputIsEmpty) {
  auto child = start_shell("cat; printf end");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(finished_output(*child), "end");
}

TEST(ChildProcessTest, NewSessionMakesTheChildASessionLeader) {
  // Field 6 of /proc/PID/stat is the session id; a leader's equals its pid.
  const std::string script = R"(set -- $(cat /proc/$$/stat); [ "$6" = "$$" ] && printf leader || printf member)";
  SpawnOptions detached;
  detached.new_session = true;
  auto leader = start_shell(script, detached);
  auto member = start_shell(script);
  ASSERT_NE(leader, nullptr);
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(finished_output(*leader), "leader");
  EXPECT_EQ(finished_output(*member), "member");
}

TEST(ChildProcessTest, ControllingTerminalServesAsInputOutputAndDevTty) {
  test::Pty pty;
  ASSERT_TRUE(pty.valid());
  SpawnOptions options;
  options.controlling_tty = pty.device_path();
  auto child = start_shell("test -t 0 && test -t 1 && printf on-tty; printf ' controlling' > /dev/tty", options);
  ASSERT_NE(child, nullptr);
  EXPECT_THAT(pty.read_until("on-tty controlling", std::chrono::seconds(10)), HasSubstr("on-tty controlling"));
  EXPECT_EQ(child->wait_exit(10), 0) << child->standard_error();
}

TEST(ChildProcessTest, ReportsAMissingTerminalDevice) {
  SpawnOptions options;
  options.path = "/bin/true";
  options.controlling_tty = "/dev/pts/lumora-missing";
  std::string error;
  EXPECT_EQ(ChildProcess::spawn(options, &error), nullptr);
  EXPECT_THAT(error, HasSubstr("open terminal"));
}

TEST(ChildProcessTest, WaitTimesOutThenSignalsEndIt) {
  auto child = start_shell("exec sleep 30");
  ASSERT_NE(child, nullptr);
  EXPECT_FALSE(child->wait_exit(0.05));
  EXPECT_FALSE(child->exit_code());
  EXPECT_TRUE(child->send_signal(SIGTERM));
  EXPECT_EQ(child->wait_exit(10), 128 + SIGTERM);
  EXPECT_EQ(child->exit_code(), 128 + SIGTERM);
  // Nothing is left to signal once it was reaped.
  EXPECT_FALSE(child->kill());
}

TEST(ChildProcessTest, DestroyingARunningChildKillsAndReapsIt) {
  auto child = start_shell("exec sleep 30");
  ASSERT_NE(child, nullptr);
  const std::string proc_entry = "/proc/" + std::to_string(child->id());
  ASSERT_TRUE(std::filesystem::exists(proc_entry));
  child.reset();
  // A zombie would keep its /proc entry.
  EXPECT_FALSE(std::filesystem::exists(proc_entry));
}

TEST(ChildProcessTest, OutputOfAnExitedChildIsComplete) {
  auto child = start_shell("printf 'last words' >&2; exit 7");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->wait_exit(10), 7);
  EXPECT_TRUE(child->wait_output_closed(5));
  EXPECT_EQ(child->standard_error(), "last words");
}

}  // namespace
}  // namespace lumora::platform
