#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>

namespace lumora::platform {
namespace {

bool make_non_blocking(int handle) {
  int flags = ::fcntl(handle, F_GETFL, 0);
  return flags >= 0 && ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}

void set_no_delay(int handle) {
  int one = 1;
  (void)::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in loopback_address(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  return address;
}

// Milliseconds for poll, rounded up so that a short positive wait still waits.
int poll_milliseconds(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds > 86400) return 86400 * 1000;
  return static_cast<int>(std::ceil(seconds * 1000.0));
}

bool transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == EINPROGRESS; }

}  // namespace

void Socket::close() {
  if (handle_ >= 0) {
    ::close(handle_);
    handle_ = -1;
  }
}

Socket connect_loopback(std::uint16_t port, double timeout_seconds) {
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket.valid() || !make_non_blocking(socket.native_handle())) return {};
  set_no_delay(socket.native_handle());
  sockaddr_in address = loopback_address(port);
  if (::connect(socket.native_handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return socket;
  }
  if (!transient(errno)) return {};
  pollfd entry{socket.native_handle(), POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, poll_milliseconds(timeout_seconds));
  } while (ready < 0 && errno == EINTR);
  if (ready < 1) return {};
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return {};
  return socket;
}

IoResult send_some(const Socket& socket, const void* data, std::size_t length) {
  ssize_t sent = ::send(socket.native_handle(), data, length, MSG_NOSIGNAL);
  if (sent > 0) return {IoStatus::ok, static_cast<std::size_t>(sent)};
  if (sent < 0 && transient(errno)) return {IoStatus::would_block, 0};
  return {sent == 0 ? IoStatus::closed : IoStatus::failed, 0};
}

IoResult recv_some(const Socket& socket, void* data, std::size_t length) {
  ssize_t received = ::recv(socket.native_handle(), data, length, 0);
  if (received > 0) return {IoStatus::ok, static_cast<std::size_t>(received)};
  if (received == 0) return {IoStatus::closed, 0};
  if (transient(errno)) return {IoStatus::would_block, 0};
  return {IoStatus::failed, 0};
}

bool peer_closed_sending(const Socket& socket) {
  pollfd entry{socket.native_handle(), POLLRDHUP, 0};
  if (::poll(&entry, 1, 0) < 1) return false;
  return (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool shutdown_sending(const Socket& socket) { return ::shutdown(socket.native_handle(), SHUT_WR) == 0; }

WaitStatus wait_socket(const Socket& socket, bool want_read, bool want_write, double timeout_seconds,
                       Readiness* readiness) {
  return wait_socket_and(socket, want_read, want_write, -1, timeout_seconds, readiness);
}

WaitStatus wait_socket_and(const Socket& socket, bool want_read, bool want_write, int descriptor,
                           double timeout_seconds, Readiness* readiness) {
  // poll skips entries with a negative descriptor, so either may be absent.
  pollfd entries[2] = {{socket.native_handle(), 0, 0}, {descriptor, POLLIN, 0}};
  if (want_read) entries[0].events |= POLLIN;
  if (want_write) entries[0].events |= POLLOUT;
  // Whole microseconds, truncated, as the host's scheduling expects; poll
  // counts milliseconds, so round the truncated value up to the next one.
  double truncated = std::floor((timeout_seconds > 0 ? timeout_seconds : 0) * 1e6) / 1e6;
  int ready = ::poll(entries, descriptor >= 0 ? 2 : 1, poll_milliseconds(truncated));
  if (ready < 0) return errno == EINTR ? WaitStatus::timed_out : WaitStatus::failed;
  if (readiness != nullptr) {
    // Errors and hang-ups count as readable: the next recv reports them.
    readiness->readable = (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    readiness->writable = (entries[0].revents & (POLLOUT | POLLERR)) != 0;
    readiness->descriptor_readable = descriptor >= 0 && entries[1].revents != 0;
  }
  return ready == 0 ? WaitStatus::timed_out : WaitStatus::ready;
}

Socket listen_loopback(std::uint16_t* port) {
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket.valid()) return {};
  sockaddr_in address = loopback_address(0);
  if (::bind(socket.native_handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket.native_handle(), 4) != 0) {
    return {};
  }
  socklen_t length = sizeof address;
  if (::getsockname(socket.native_handle(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  if (port != nullptr) *port = ntohs(address.sin_port);
  return socket;
}

Socket accept_connection(const Socket& listener, double timeout_seconds) {
  if (wait_socket(listener, true, false, timeout_seconds, nullptr) != WaitStatus::ready) return {};
  Socket socket(::accept4(listener.native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!socket.valid()) return {};
  set_no_delay(socket.native_handle());
  return socket;
}

}  // namespace lumora::platform
