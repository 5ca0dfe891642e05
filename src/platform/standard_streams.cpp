#include "platform/standard_streams.h"

#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace lumora::platform {
namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int) { g_stop_signal = 1; }

}  // namespace

bool standard_output_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

struct TerminalModeGuard::Saved {
  termios modes{};
};

TerminalModeGuard::TerminalModeGuard() {
  auto saved = std::make_unique<Saved>();
  if (::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &saved->modes) == 0) saved_ = std::move(saved);
}

TerminalModeGuard::~TerminalModeGuard() { restore(); }

bool TerminalModeGuard::saved() const { return saved_ != nullptr; }

void TerminalModeGuard::restore() {
  if (saved_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_->modes);
}

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

bool stop_signal_received() { return g_stop_signal != 0; }

}  // namespace lumora::platform
