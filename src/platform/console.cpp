#include "platform/console.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace lumora::platform {

namespace {

constexpr const char* kControllingTerminalPath = "/dev/tty";

void close_quietly(int handle) {
  if (handle >= 0) ::close(handle);
}

// Changing the modes from a background process group would stop the whole
// host with SIGTTOU; holding the signal back for the one call lets a host
// that was started in the background still take over and restore its
// terminal instead of hanging.
bool set_modes_now(int handle, const termios& modes) {
  sigset_t hold;
  sigset_t previous;
  sigemptyset(&hold);
  sigaddset(&hold, SIGTTOU);
  pthread_sigmask(SIG_BLOCK, &hold, &previous);
  int result;
  do {
    // TCSANOW: a terminal that stopped reading our output must not keep us
    // waiting for it to drain.
    result = tcsetattr(handle, TCSANOW, &modes);
  } while (result != 0 && errno == EINTR);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return result == 0;
}

bool wake_raised(const pollfd& wake) { return (wake.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0; }

}  // namespace

// ---- WakeSignal ----

std::unique_ptr<WakeSignal> WakeSignal::create() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  return std::unique_ptr<WakeSignal>(new (std::nothrow) WakeSignal(ends[0], ends[1]));
}

WakeSignal::~WakeSignal() {
  close_quietly(read_end_);
  close_quietly(write_end_);
}

void WakeSignal::raise() {
  const char byte = 1;
  // A full pipe already holds the signal; nothing else can go wrong that a
  // retry would mend.
  while (::write(write_end_, &byte, 1) < 0 && errno == EINTR) {
  }
}

void WakeSignal::clear() {
  char bytes[64];
  for (;;) {
    ssize_t count = ::read(read_end_, bytes, sizeof bytes);
    if (count > 0) continue;
    if (count < 0 && errno == EINTR) continue;
    break;
  }
}

// ---- Console ----

struct Console::SavedModes {
  termios modes{};
  struct sigaction hang_up {};
  bool hang_up_saved = false;
};

Console::Console(int handle, std::unique_ptr<SavedModes> saved) : handle_(handle), saved_(std::move(saved)) {}

Console::~Console() {
  close_quietly(handle_);
  if (saved_->hang_up_saved) sigaction(SIGHUP, &saved_->hang_up, nullptr);
}

std::unique_ptr<Console> Console::open(ConsoleOpenStatus* status) {
  return open_device(kControllingTerminalPath, status);
}

std::unique_ptr<Console> Console::open_device(const char* path, ConsoleOpenStatus* status) {
  *status = ConsoleOpenStatus::unavailable;
  // Non-blocking so that every wait happens in poll, where the wake signal
  // can end it; O_NOCTTY so that opening never changes which terminal
  // controls the process.
  int handle;
  do {
    handle = ::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (handle < 0 && errno == EINTR);
  if (handle < 0) return nullptr;
  auto saved = std::unique_ptr<SavedModes>(new (std::nothrow) SavedModes);
  if (!saved || !isatty(handle) || tcgetattr(handle, &saved->modes) != 0) {
    close_quietly(handle);
    return nullptr;
  }
  auto console = std::unique_ptr<Console>(new (std::nothrow) Console(handle, std::move(saved)));
  if (!console) {
    close_quietly(handle);
    return nullptr;
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  console->saved_->hang_up_saved = sigaction(SIGHUP, &ignore, &console->saved_->hang_up) == 0;
  *status = ConsoleOpenStatus::ok;
  return console;
}

bool Console::enter_raw_mode() {
  termios raw = saved_->modes;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return set_modes_now(handle_, raw);
}

bool Console::restore_modes() { return set_modes_now(handle_, saved_->modes); }

bool Console::visible_size(ConsoleSize* size) const {
  winsize window{};
  if (ioctl(handle_, TIOCGWINSZ, &window) != 0 || window.ws_col == 0 || window.ws_row == 0) return false;
  size->columns = window.ws_col;
  size->rows = window.ws_row;
  return true;
}

ConsoleIoResult Console::read(void* buffer, std::size_t capacity, const WakeSignal& wake) {
  pollfd fds[2] = {{handle_, POLLIN, 0}, {wake.native_handle(), POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return {ConsoleIoStatus::lost, 0};
    }
    if (wake_raised(fds[1])) return {ConsoleIoStatus::woken, 0};
    if (fds[0].revents == 0) continue;
    // A hang-up is only final once the buffered bytes are read: read reports
    // it (0 or EIO) when nothing is left.
    ssize_t count = ::read(handle_, buffer, capacity);
    if (count > 0) return {ConsoleIoStatus::ok, static_cast<std::size_t>(count)};
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    return {ConsoleIoStatus::lost, 0};
  }
}

ConsoleIoResult Console::write_all(const void* data, std::size_t length, const WakeSignal& wake) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t written = 0;
  pollfd fds[2] = {{handle_, POLLOUT, 0}, {wake.native_handle(), POLLIN, 0}};
  while (written < length) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return {ConsoleIoStatus::lost, written};
    }
    if (wake_raised(fds[1])) return {ConsoleIoStatus::woken, written};
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (fds[0].revents & POLLOUT) == 0) {
      return {ConsoleIoStatus::lost, written};
    }
    if (fds[0].revents == 0) continue;
    ssize_t count = ::write(handle_, bytes + written, length - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    return {ConsoleIoStatus::lost, written};
  }
  return {ConsoleIoStatus::ok, written};
}

}  // namespace lumora::platform
