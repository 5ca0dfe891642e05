#include "support/pty.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace lumora::test {

Pty::Pty() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  device_path_ = name;
}

Pty::~Pty() {
  close_terminal_side();
  close_device_side();
}

std::string Pty::read_some(std::chrono::milliseconds timeout) {
  std::string out;
  if (master_ < 0) return out;
  pollfd fd{master_, POLLIN, 0};
  if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return out;
  char buffer[65536];
  for (;;) {
    ssize_t count = ::read(master_, buffer, sizeof buffer);
    if (count > 0) {
      out.append(buffer, static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    break;
  }
  return out;
}

std::string Pty::read_until(std::string_view expected, std::chrono::milliseconds timeout) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (out.find(expected) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    out += read_some(left);
  }
  return out;
}

std::string Pty::read_until_quiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string more = read_some(quiet);
    if (more.empty()) break;
    out += more;
  }
  return out;
}

bool Pty::type(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t count = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (count > 0) {
      done += static_cast<std::size_t>(count);
    } else if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
      pollfd fd{master_, POLLOUT, 0};
      poll(&fd, 1, 100);
    } else {
      return false;
    }
  }
  return true;
}

bool Pty::set_size(int columns, int rows) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  return ioctl(master_, TIOCSWINSZ, &size) == 0;
}

std::string Pty::modes() const {
  termios modes{};
  if (tcgetattr(slave_ >= 0 ? slave_ : master_, &modes) != 0) return {};
  return std::string(reinterpret_cast<const char*>(&modes), sizeof modes);
}

bool Pty::set_modes(const std::string& modes) {
  termios saved{};
  if (modes.size() != sizeof saved) return false;
  std::memcpy(&saved, modes.data(), sizeof saved);
  return tcsetattr(slave_, TCSANOW, &saved) == 0;
}

bool Pty::make_output_transparent() {
  termios modes{};
  if (tcgetattr(slave_, &modes) != 0) return false;
  modes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  return tcsetattr(slave_, TCSANOW, &modes) == 0;
}

void Pty::close_terminal_side() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void Pty::close_device_side() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

}  // namespace lumora::test
