#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/clock.h"

extern char** environ;

namespace lumora::platform {
namespace {

// Steps of the child between fork and exec, reported back with errno when one fails.
enum ChildStep : int { kStepSession = 1, kStepTerminal, kStepControllingTerminal, kStepNull, kStepRedirect, kStepExec };

const char* step_name(int step) {
  switch (step) {
    case kStepSession: return "setsid";
    case kStepTerminal: return "open terminal";
    case kStepControllingTerminal: return "set controlling terminal";
    case kStepNull: return "open /dev/null";
    case kStepRedirect: return "redirect";
    default: return "exec";
  }
}

void close_handle(int& handle) {
  if (handle >= 0) {
    ::close(handle);
    handle = -1;
  }
}

// Only async-signal-safe calls from here to exec: the parent may have threads.
[[noreturn]] void fail_in_child(int report, int step) {
  int record[2] = {step, errno};
  ssize_t ignored = ::write(report, record, sizeof record);
  (void)ignored;
  ::_exit(127);
}

bool move_handle(int from, int to) {
  if (from == to) {
    // dup2 onto itself keeps close-on-exec set; clear it by hand.
    int flags = ::fcntl(from, F_GETFD);
    return flags >= 0 && ::fcntl(from, F_SETFD, flags & ~FD_CLOEXEC) == 0;
  }
  return ::dup2(from, to) >= 0;
}

std::string resolve_program(const std::string& path) {
  if (path.find('/') != std::string::npos) return path;
  const char* search = ::getenv("PATH");
  std::string directories = search != nullptr ? search : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    std::string directory = directories.substr(start, end - start);
    std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + path;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return path;
}

std::vector<std::string> merged_environment(const std::vector<std::string>& extra) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    std::string_view name = text.substr(0, text.find('='));
    bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& added) {
      return std::string_view(added).substr(0, added.find('=')) == name;
    });
    if (!replaced) entries.emplace_back(text);
  }
  entries.insert(entries.end(), extra.begin(), extra.end());
  return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

int exit_code_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

struct ChildProcess::State {
  pid_t pid = -1;
  int process_handle = -1;  // pidfd when the kernel offers one, for waiting without polling
  std::optional<int> exit_code;

  // Drained by `drainer`; `wake` tells it to stop early.
  int output_read = -1;
  int error_read = -1;
  int wake_read = -1;
  int wake_write = -1;
  std::thread drainer;
  mutable std::mutex mutex;
  std::condition_variable outputs_closed;
  bool drained = false;
  std::string output;
  std::string error;

  void drain() {
    unsigned char chunk[65536];
    while (output_read >= 0 || error_read >= 0) {
      pollfd entries[3] = {{output_read, POLLIN, 0}, {error_read, POLLIN, 0}, {wake_read, POLLIN, 0}};
      if (::poll(entries, 3, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (entries[2].revents != 0) break;
      for (int index = 0; index < 2; ++index) {
        if (entries[index].revents == 0) continue;
        int& handle = index == 0 ? output_read : error_read;
        ssize_t got = ::read(handle, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
          close_handle(handle);
          continue;
        }
        std::lock_guard lock(mutex);
        std::string& target = index == 0 ? output : error;
        std::size_t room = kMaxCapturedOutput - std::min(kMaxCapturedOutput, target.size());
        target.append(reinterpret_cast<const char*>(chunk), std::min(room, static_cast<std::size_t>(got)));
      }
    }
    std::lock_guard lock(mutex);
    drained = true;
    outputs_closed.notify_all();
  }

  bool try_reap(bool block) {
    if (exit_code) return true;
    int status = 0;
    pid_t result;
    do {
      result = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid) {
      exit_code = exit_code_of(status);
    } else if (result < 0) {
      exit_code = -1;  // reaped elsewhere: nothing is left to wait for
    }
    if (exit_code) close_handle(process_handle);
    return exit_code.has_value();
  }

  ~State() {
    if (pid > 0 && !exit_code) {
      ::kill(pid, SIGKILL);
      try_reap(true);
    }
    if (drainer.joinable()) {
      // The child is gone; what it left in the pipes is read before stopping,
      // unless something it started still holds them open.
      std::unique_lock lock(mutex);
      outputs_closed.wait_for(lock, std::chrono::milliseconds(200), [&] { return drained; });
      lock.unlock();
      char byte = 1;
      ssize_t ignored = ::write(wake_write, &byte, 1);
      (void)ignored;
      drainer.join();
    }
    close_handle(process_handle);
    close_handle(output_read);
    close_handle(error_read);
    close_handle(wake_read);
    close_handle(wake_write);
  }
};

ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}
ChildProcess::~ChildProcess() = default;

std::unique_ptr<ChildProcess> ChildProcess::spawn(const SpawnOptions& options, std::string* error) {
  auto fail = [&](std::string message) -> std::unique_ptr<ChildProcess> {
    if (error != nullptr) *error = std::move(message);
    return nullptr;
  };
  const bool with_terminal = !options.controlling_tty.empty();

  // Everything the child needs is prepared here: after fork it may only make
  // async-signal-safe calls.
  std::string program = resolve_program(options.path);
  std::vector<std::string> arguments;
  arguments.reserve(options.args.size() + 1);
  arguments.push_back(options.path);
  arguments.insert(arguments.end(), options.args.begin(), options.args.end());
  std::vector<std::string> environment = merged_environment(options.environment);
  std::vector<char*> argv = pointers_to(arguments);
  std::vector<char*> envp = pointers_to(environment);
  const char* terminal_path = options.controlling_tty.c_str();

  auto state = std::make_unique<State>();
  int output_pipe[2] = {-1, -1};
  int error_pipe[2] = {-1, -1};
  int report_pipe[2] = {-1, -1};
  int wake_pipe[2] = {-1, -1};
  auto close_all = [&] {
    for (int* pair : {output_pipe, error_pipe, report_pipe, wake_pipe}) {
      close_handle(pair[0]);
      close_handle(pair[1]);
    }
  };
  if ((!with_terminal && ::pipe2(output_pipe, O_CLOEXEC) != 0) || ::pipe2(error_pipe, O_CLOEXEC) != 0 ||
      ::pipe2(report_pipe, O_CLOEXEC) != 0 || ::pipe2(wake_pipe, O_CLOEXEC) != 0) {
    int saved = errno;
    close_all();
    return fail(std::string("Could not create pipes: ") + std::strerror(saved));
  }

  pid_t pid = ::fork();
  if (pid < 0) {
    int saved = errno;
    close_all();
    return fail(std::string("Could not fork: ") + std::strerror(saved));
  }
  if (pid == 0) {
    int report = report_pipe[1];
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &default_action, nullptr);
    if ((with_terminal || options.new_session) && ::setsid() < 0) fail_in_child(report, kStepSession);
    int input = -1;
    int output = output_pipe[1];
    if (with_terminal) {
      input = ::open(terminal_path, O_RDWR | O_CLOEXEC);
      if (input < 0) fail_in_child(report, kStepTerminal);
      if (::ioctl(input, TIOCSCTTY, 0) != 0) fail_in_child(report, kStepControllingTerminal);
      output = input;
    } else {
      input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (input < 0) fail_in_child(report, kStepNull);
    }
    // The error pipe may sit on 0 or 1 when the parent had those closed; move
    // it out of the way first so that no redirection overwrites another.
    int error_write = error_pipe[1];
    if (error_write <= 1) {
      error_write = ::fcntl(error_write, F_DUPFD_CLOEXEC, 3);
      if (error_write < 0) fail_in_child(report, kStepRedirect);
    }
    if (output <= 0 && output != input) {
      output = ::fcntl(output, F_DUPFD_CLOEXEC, 3);
      if (output < 0) fail_in_child(report, kStepRedirect);
    }
    if (!move_handle(input, 0) || !move_handle(output, 1) || !move_handle(error_write, 2)) {
      fail_in_child(report, kStepRedirect);
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    fail_in_child(report, kStepExec);
  }

  state->pid = pid;
  close_handle(output_pipe[1]);
  close_handle(error_pipe[1]);
  close_handle(report_pipe[1]);
  // The report pipe closes on exec, so this read ends as soon as the child
  // runs the program or gives up.
  int record[2] = {0, 0};
  ssize_t got;
  do {
    got = ::read(report_pipe[0], record, sizeof record);
  } while (got < 0 && errno == EINTR);
  close_handle(report_pipe[0]);
  if (got == static_cast<ssize_t>(sizeof record)) {
    state->try_reap(true);
    close_all();
    return fail("Could not start " + options.path + " (" + step_name(record[0]) + "): " + std::strerror(record[1]));
  }

#ifdef SYS_pidfd_open
  state->process_handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (state->process_handle >= 0) ::fcntl(state->process_handle, F_SETFD, FD_CLOEXEC);
#endif
  state->output_read = output_pipe[0];
  state->error_read = error_pipe[0];
  state->wake_read = wake_pipe[0];
  state->wake_write = wake_pipe[1];
  State* raw = state.get();
  state->drainer = std::thread([raw] { raw->drain(); });
  return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(state)));
}

int ChildProcess::id() const { return state_->pid; }

std::optional<int> ChildProcess::wait_exit(double timeout_seconds) {
  State& state = *state_;
  const double deadline = now_seconds() + std::max(0.0, timeout_seconds);
  double pause = 0.0005;
  while (!state.try_reap(false)) {
    double left = deadline - now_seconds();
    if (left <= 0) return std::nullopt;
    if (state.process_handle >= 0) {
      // The pidfd becomes readable when the child ends.
      pollfd entry{state.process_handle, POLLIN, 0};
      int milliseconds = static_cast<int>(std::min(left, 3600.0) * 1000.0) + 1;
      if (::poll(&entry, 1, milliseconds) < 0 && errno != EINTR) {
        close_handle(state.process_handle);
      }
    } else {
      sleep_seconds(std::min(pause, left));
      pause = std::min(pause * 2, 0.01);
    }
  }
  return state.exit_code;
}

std::optional<int> ChildProcess::exit_code() const { return state_->exit_code; }

bool ChildProcess::send_signal(int signal_number) {
  if (state_->exit_code || state_->pid <= 0) return false;
  return ::kill(state_->pid, signal_number) == 0;
}

bool ChildProcess::kill() { return send_signal(SIGKILL); }

bool ChildProcess::wait_output_closed(double timeout_seconds) {
  std::unique_lock lock(state_->mutex);
  return state_->outputs_closed.wait_for(lock, std::chrono::duration<double>(std::max(0.0, timeout_seconds)),
                                         [&] { return state_->drained; });
}

std::string ChildProcess::standard_output() const {
  std::lock_guard lock(state_->mutex);
  return state_->output;
}

std::string ChildProcess::standard_error() const {
  std::lock_guard lock(state_->mutex);
  return state_->error;
}

}  // namespace lumora::platform
