// Starting the host through a launcher (a terminal multiplexer, a wrapper
// script): the launcher gets the host's whole command line and may exit
// before the host connects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "client/controller.h"

namespace lumora::client {
namespace {

using ::testing::HasSubstr;

LaunchOptions through(std::vector<std::string> launcher) {
  LaunchOptions options;
  options.host_path = LUMORA_HOST_PATH;
  options.launcher = std::move(launcher);
  options.connect_timeout_seconds = 10;
  return options;
}

TEST(ControllerLauncherTest, LauncherThatExitsAfterStartingTheHostInTheBackgroundStillConnects) {
  // The shell gets the host's path as $0 and its arguments as $@, starts it
  // in the background and exits at once, as `tmux new-session -d` does.
  std::string error;
  auto host = Controller::launch(through({"/bin/sh", "-c", R"("$0" "$@" & exit 0)"}), &error);
  ASSERT_TRUE(host) << error;
  auto reply = host->request(R"({"op":"open","backend":"terminal","headless":true,"columns":12,"rows":3})");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->ok) << reply->error;
  EXPECT_TRUE(host->close());
}

TEST(ControllerLauncherTest, LauncherGetsTheHostPathThenPortTokenAndExtraArguments) {
  // The launcher prints what it was given, one item a line, and fails so
  // that its standard error comes back in the message.
  LaunchOptions options = through({"/bin/sh", "-c", R"(printf '<%s>\n' "$0" "$@" >&2; exit 1)"});
  options.extra_args = {"--extra", "two words"};
  std::string error;
  auto host = Controller::launch(options, &error);
  EXPECT_FALSE(host);
  EXPECT_THAT(error,
              HasSubstr("exited with code 1 before connecting: <" + std::string(LUMORA_HOST_PATH) + ">\n<--port>"));
  EXPECT_THAT(error, ::testing::ContainsRegex("<--port>\n<[0-9]+>\n<--token>\n<[0-9a-f]{64}>\n"
                                              "<--extra>\n<two words>\n$"));
}

TEST(ControllerLauncherTest, LauncherThatFailsEndsTheWaitWithItsCodeAndStandardError) {
  std::string error;
  auto host = Controller::launch(through({"/bin/sh", "-c", "echo cannot start >&2; exit 3"}), &error);
  EXPECT_FALSE(host);
  EXPECT_THAT(error, HasSubstr("The host's launcher exited with code 3 before connecting"));
  EXPECT_THAT(error, HasSubstr("cannot start"));
}

TEST(ControllerLauncherTest, LauncherThatSucceedsWithoutAHostTimesOut) {
  LaunchOptions options = through({"/bin/sh", "-c", "exit 0"});
  options.connect_timeout_seconds = 0.3;
  std::string error;
  auto host = Controller::launch(options, &error);
  EXPECT_FALSE(host);
  EXPECT_EQ(error, "Timed out waiting for the host to connect");
}

}  // namespace
}  // namespace lumora::client
