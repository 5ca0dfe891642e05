#include "platform/signals.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumora::platform {
namespace {

// A signal as the kernel sends it when a terminal hangs up.
bool send_kernel_hang_up() {
  siginfo_t info{};
  info.si_signo = SIGHUP;
  info.si_code = SI_KERNEL;
  return syscall(SYS_rt_tgsigqueueinfo, getpid(), gettid(), SIGHUP, &info) == 0;
}

// One test: the termination request, once recorded, stays for the process.
TEST(SignalsTest, HandlersOnlyRecordRequestsAndStepAsideWhenNoLongerWatched) {
  ASSERT_TRUE(watch_requests());
  ASSERT_TRUE(watch_requests());  // nested
  EXPECT_FALSE(take_suspend_request());
  ASSERT_EQ(raise(SIGTSTP), 0);
  ASSERT_EQ(raise(SIGCONT), 0);
  EXPECT_TRUE(take_suspend_request());
  EXPECT_FALSE(take_suspend_request());
  EXPECT_TRUE(take_continue_request());
  EXPECT_FALSE(take_continue_request());

  // The terminal hanging up is no request to end: its loss is reported
  // elsewhere and the host keeps serving.
  ASSERT_TRUE(send_kernel_hang_up());
  EXPECT_EQ(termination_exit_code(), 0);
  ASSERT_EQ(raise(SIGTERM), 0);
  EXPECT_EQ(termination_exit_code(), 128 + SIGTERM);
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_EQ(termination_exit_code(), 128 + SIGTERM) << "the first request is kept";

  stop_watching_requests();
  struct sigaction current {};
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &current), 0);
  EXPECT_NE(current.sa_handler, SIG_DFL) << "still watched once";
  stop_watching_requests();
  for (int signal_number : {SIGTERM, SIGINT, SIGQUIT, SIGHUP, SIGTSTP, SIGCONT}) {
    ASSERT_EQ(sigaction(signal_number, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL) << signal_number;
  }
}

}  // namespace
}  // namespace lumora::platform
