// Child processes: start a program with arguments and extra environment,
// collect what it writes, wait for it with a time-out and stop it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumora::platform {

struct SpawnOptions {
  std::string path;                      // the program; searched in PATH when it has no slash
  std::vector<std::string> args;         // after the program name
  std::vector<std::string> environment;  // "NAME=value", added to (or replacing) the inherited entries
  bool new_session = false;              // detach from our controlling terminal
  // When set: a new session whose controlling terminal is this tty (a pty's
  // slave path), used as standard input and output. Otherwise standard input
  // is /dev/null and standard output is captured.
  std::string controlling_tty;
};

// Bound on what is kept of each output stream; the rest is read and dropped
// so that a chatty child never blocks on a full pipe.
inline constexpr std::size_t kMaxCapturedOutput = 16 * 1024 * 1024;

// A started child. Its standard error (and standard output unless it has a
// terminal) is drained by a background thread, so the child never blocks on
// a full pipe whatever the owner is doing. Destroying it kills a child that
// still runs and reaps it: no zombie outlives the object.
class ChildProcess {
 public:
  // Null with a message in `error` when the program cannot be started.
  static std::unique_ptr<ChildProcess> spawn(const SpawnOptions& options, std::string* error);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int id() const;
  // The exit code (128 + signal number when a signal ended it), or empty
  // when it still runs after `timeout_seconds`.
  std::optional<int> wait_exit(double timeout_seconds);
  // The exit code if the child was already seen to end, without waiting.
  std::optional<int> exit_code() const;
  // False when the child was already reaped or the signal failed.
  bool send_signal(int signal_number);
  // Ends the child at once (SIGKILL); false when it was already reaped.
  bool kill();

  // Waits until both captured streams reached their end (the child and
  // anything it started closed them); false on time-out.
  bool wait_output_closed(double timeout_seconds);
  std::string standard_output() const;
  std::string standard_error() const;

 private:
  struct State;
  explicit ChildProcess(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace lumora::platform
