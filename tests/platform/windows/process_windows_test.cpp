#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/process.h"
#include "tests/platform/windows/self_path.h"

namespace lumora::platform {
namespace {

std::unique_ptr<ChildProcess> start(std::vector<std::string> args, std::vector<std::string> environment = {}) {
  SpawnOptions options;
  options.path = test::self_path;
  options.args = std::move(args);
  options.environment = std::move(environment);
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::spawn(options, &error);
  EXPECT_NE(child, nullptr) << error;
  return child;
}

// The command line is built so that the child's runtime splits it back into
// exactly the arguments given: spaces, quotes and backslashes included. (The
// child's narrow argv is in the ANSI code page, so the text stays ASCII.)
TEST(ProcessWindowsTest, ArgumentsEnvironmentOutputsAndExitCodeArriveIntact) {
  auto child = start({"--child", "plain", "two words", "", "quote\"inside", "trailing\\", "back\\\\\"slash"},
                     {"LUMORA_CHILD_VALUE=set by the parent"});
  ASSERT_TRUE(child);
  EXPECT_EQ(child->wait_exit(30), 7);
  EXPECT_TRUE(child->wait_output_closed(10));
  EXPECT_EQ(child->standard_output(),
            "plain|two words||quote\"inside|trailing\\|back\\\\\"slash|env=set by the parent|");
  EXPECT_EQ(child->standard_error(), "error");
}

TEST(ProcessWindowsTest, KillEndsARunningChildAndAMissingProgramIsReported) {
  auto child = start({"--child-sleep"});
  ASSERT_TRUE(child);
  EXPECT_FALSE(child->wait_exit(0.1).has_value());
  EXPECT_TRUE(child->kill());
  EXPECT_EQ(child->wait_exit(10), 128 + 9);
  EXPECT_FALSE(child->kill());

  SpawnOptions missing;
  missing.path = "C:\\no\\such\\program.exe";
  std::string error;
  EXPECT_EQ(ChildProcess::spawn(missing, &error), nullptr);
  EXPECT_NE(error, "");
}

}  // namespace
}  // namespace lumora::platform
