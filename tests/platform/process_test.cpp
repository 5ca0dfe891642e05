#include "platform/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

TEST(ChildProcessTest, SpawnsWithTheGivenArgumentsEnvironmentAndSession) {
  // Field 6 of /proc/PID/stat is the session id; a leader's equals its pid.
  const char* kSessionScript = R"(set -- $(cat /proc/$$/stat); [ "$6" = "$$" ] && printf leader || printf member)";
  struct Case {
    const char* path;
    std::vector<std::string> args;
    std::vector<std::string> environment;
    bool new_session;
    const char* output;
  };
  const Case cases[] = {
      // Found in PATH, arguments passed verbatim.
      {"printf", {"[%s]", "a b", "", "$HOME"}, {}, false, "[a b][][$HOME]"},
      // Entries are added or replace inherited ones.
      {"/bin/sh", {"-c", R"(printf '%s|%s|%s' "$ADDED" "$HOME" "${PATH:+inherited}")"},
       {"ADDED=one two", "HOME=/lumora-home"}, false, "one two|/lumora-home|inherited"},
      {"/bin/sh", {"-c", "cat; printf end"}, {}, false, "end"},  // standard input is empty
      {"/bin/sh", {"-c", kSessionScript}, {}, true, "leader"},
      {"/bin/sh", {"-c", kSessionScript}, {}, false, "member"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::string error;
    auto child = ChildProcess::spawn({.path = c.path, .args = c.args, .environment = c.environment,
                                      .new_session = c.new_session, .controlling_tty = ""}, &error);
    ASSERT_NE(child, nullptr) << error;
    EXPECT_EQ(child->wait_exit(10), 0) << child->standard_error();
    EXPECT_TRUE(child->wait_output_closed(5));
    EXPECT_EQ(child->standard_output(), c.output);
  }
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
  // A device that cannot be opened fails the spawn.
  options.controlling_tty = "/dev/pts/lumora-missing";
  std::string error;
  EXPECT_EQ(ChildProcess::spawn(options, &error), nullptr);
  EXPECT_THAT(error, HasSubstr("open terminal"));
}

// Exit codes, signals and time-outs are checked through run_process in
// tests/client/controller_test.cpp.
TEST(ChildProcessTest, DestroyingARunningChildKillsAndReapsIt) {
  auto child = start_shell("exec sleep 30");
  ASSERT_NE(child, nullptr);
  const std::string proc_entry = "/proc/" + std::to_string(child->id());
  ASSERT_TRUE(std::filesystem::exists(proc_entry));
  child.reset();
  // A zombie would keep its /proc entry.
  EXPECT_FALSE(std::filesystem::exists(proc_entry));
}

}  // namespace
}  // namespace lumora::platform
