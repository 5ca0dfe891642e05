// What a controller program needs to know about the terminal it was started
// from: whether standard output is one, and a last-resort guard that puts its
// modes back should the host die before restoring them itself.
#pragma once

#include <memory>

namespace lumora::platform {

bool standard_output_is_terminal();

// Saves the modes of the terminal on standard input (if it is one) and
// restores them when restore() is called or the guard is destroyed.
class TerminalModeGuard {
 public:
  TerminalModeGuard();
  ~TerminalModeGuard();
  TerminalModeGuard(const TerminalModeGuard&) = delete;
  TerminalModeGuard& operator=(const TerminalModeGuard&) = delete;

  bool saved() const;
  void restore();

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// Makes SIGINT, SIGTERM and SIGHUP set a flag instead of ending the process,
// so that a controller can shut its host down cleanly.
void catch_stop_signals();
bool stop_signal_received();

}  // namespace lumora::platform
