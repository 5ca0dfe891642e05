#include "platform/signals.h"

#include <signal.h>

#include <atomic>

namespace lumora::platform {

namespace {

// Written by the handlers, read by the main loop: lock-free atomics are
// async-signal-safe.
std::atomic<int> termination_signal{0};
std::atomic<bool> suspend_requested{false};
std::atomic<bool> continue_requested{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGQUIT, SIGHUP};
constexpr int kExitCodeBase = 128;

struct SavedAction {
  int signal_number;
  struct sigaction action;
};
SavedAction saved_actions[std::size(kTerminationSignals) + 2];
int watchers = 0;

void on_termination(int signal_number, siginfo_t* info, void*) {
  // A hang-up sent by the kernel means the terminal itself went away: there
  // is nothing to give back, and the console workers report the loss while
  // the host goes on serving its controller. A hang-up sent by a process is
  // a request to end, like the other termination signals.
  if (signal_number == SIGHUP && info != nullptr && info->si_code == SI_KERNEL) return;
  int none = 0;
  termination_signal.compare_exchange_strong(none, signal_number);
}

void on_stop(int) { suspend_requested.store(true); }

void on_continue(int) { continue_requested.store(true); }

bool install(int signal_number, void (*handler)(int), void (*info_handler)(int, siginfo_t*, void*),
             SavedAction* saved) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  // Restarted calls keep the workers' blocking reads and writes going; the
  // main loop's wait returns within its own short time-out in any case.
  action.sa_flags = SA_RESTART;
  if (info_handler != nullptr) {
    action.sa_flags |= SA_SIGINFO;
    action.sa_sigaction = info_handler;
  } else {
    action.sa_handler = handler;
  }
  saved->signal_number = signal_number;
  return sigaction(signal_number, &action, &saved->action) == 0;
}

}  // namespace

bool watch_requests() {
  if (watchers++ > 0) return true;
  std::size_t count = 0;
  bool ok = true;
  for (int signal_number : kTerminationSignals) {
    ok = ok && install(signal_number, nullptr, on_termination, &saved_actions[count++]);
  }
  ok = ok && install(SIGTSTP, on_stop, nullptr, &saved_actions[count++]);
  ok = ok && install(SIGCONT, on_continue, nullptr, &saved_actions[count++]);
  if (!ok) {
    for (std::size_t k = 0; k + 1 < count; ++k) sigaction(saved_actions[k].signal_number, &saved_actions[k].action, nullptr);
    watchers = 0;
  }
  return ok;
}

void stop_watching_requests() {
  if (watchers == 0 || --watchers > 0) return;
  for (SavedAction& saved : saved_actions) sigaction(saved.signal_number, &saved.action, nullptr);
}

int termination_exit_code() {
  const int signal_number = termination_signal.load();
  return signal_number == 0 ? 0 : kExitCodeBase + signal_number;
}

bool take_suspend_request() { return suspend_requested.exchange(false); }

bool take_continue_request() { return continue_requested.exchange(false); }

void suspend_until_continued() {
  // The stop signal's own default action stops the process, so that a shell
  // sees the job stopped as by any other stop, and the kernel leaves alone a
  // process group that nobody could continue.
  struct sigaction default_action {};
  sigemptyset(&default_action.sa_mask);
  default_action.sa_handler = SIG_DFL;
  struct sigaction previous {};
  sigaction(SIGTSTP, &default_action, &previous);
  sigset_t stop_only;
  sigemptyset(&stop_only);
  sigaddset(&stop_only, SIGTSTP);
  sigset_t mask;
  pthread_sigmask(SIG_UNBLOCK, &stop_only, &mask);
  raise(SIGTSTP);
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  sigaction(SIGTSTP, &previous, nullptr);
}

}  // namespace lumora::platform
