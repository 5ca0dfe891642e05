// Loopback TCP over Windows Sockets 2.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace lumora::platform {
namespace {

// Windows Sockets is started once, on first use, and cleaned up at exit; the
// seam stays the same on every system.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) ::WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

bool winsock_started() {
  static WinsockSession session;
  return session.started();
}

// Not inherited by child processes, like the close-on-exec sockets elsewhere.
Socket new_tcp_socket() {
  if (!winsock_started()) return {};
  SOCKET handle = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (handle == INVALID_SOCKET) return {};
  return Socket(static_cast<NativeSocket>(handle));
}

bool make_non_blocking(const Socket& socket) {
  u_long one = 1;
  return ::ioctlsocket(socket.native_handle(), FIONBIO, &one) == 0;
}

void set_no_delay(const Socket& socket) {
  BOOL one = TRUE;
  (void)::setsockopt(socket.native_handle(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

bool loopback_address(std::uint16_t port, sockaddr_in* address) {
  *address = {};
  address->sin_family = AF_INET;
  address->sin_port = ::htons(port);
  return ::inet_pton(AF_INET, "127.0.0.1", &address->sin_addr) == 1;
}

bool transient(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEINTR; }

// Whole microseconds, truncated; a day at most.
timeval select_timeout(double seconds) {
  double microseconds = std::floor((seconds > 0 ? seconds : 0) * 1e6);
  if (microseconds > 86400e6) microseconds = 86400e6;
  const auto whole = static_cast<long long>(microseconds);
  timeval timeout;
  timeout.tv_sec = static_cast<long>(whole / 1000000);
  timeout.tv_usec = static_cast<long>(whole % 1000000);
  return timeout;
}

// One call transfers at most what an int counts.
int io_length(std::size_t length) { return static_cast<int>(std::min<std::size_t>(length, INT_MAX)); }

}  // namespace

void Socket::close() {
  if (handle_ != kInvalidSocket) {
    ::closesocket(handle_);
    handle_ = kInvalidSocket;
  }
}

Socket connect_loopback(std::uint16_t port, double timeout_seconds) {
  Socket socket = new_tcp_socket();
  if (!socket.valid() || !make_non_blocking(socket)) return {};
  set_no_delay(socket);
  sockaddr_in address;
  if (!loopback_address(port, &address)) return {};
  if (::connect(socket.native_handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return socket;
  }
  if (!transient(::WSAGetLastError())) return {};
  // A refused connection shows in the exception set, an accepted one in the
  // write set; SO_ERROR tells them apart.
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket.native_handle(), &writable);
  FD_SET(socket.native_handle(), &failed);
  timeval timeout = select_timeout(timeout_seconds);
  if (::select(0, nullptr, &writable, &failed, &timeout) < 1) return {};
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
      error != 0) {
    return {};
  }
  return socket;
}

IoResult send_some(const Socket& socket, const void* data, std::size_t length) {
  const int sent = ::send(socket.native_handle(), static_cast<const char*>(data), io_length(length), 0);
  if (sent > 0) return {IoStatus::ok, static_cast<std::size_t>(sent)};
  if (sent == SOCKET_ERROR && transient(::WSAGetLastError())) return {IoStatus::would_block, 0};
  return {sent == 0 ? IoStatus::closed : IoStatus::failed, 0};
}

IoResult recv_some(const Socket& socket, void* data, std::size_t length) {
  const int received = ::recv(socket.native_handle(), static_cast<char*>(data), io_length(length), 0);
  if (received > 0) return {IoStatus::ok, static_cast<std::size_t>(received)};
  if (received == 0) return {IoStatus::closed, 0};
  if (transient(::WSAGetLastError())) return {IoStatus::would_block, 0};
  return {IoStatus::failed, 0};
}

// Windows reports the peer's end of input only through a read: a peek that
// finds the end says so, while bytes still unread hide it until they are
// read (the caller's reads then end in the same hang-up).
bool peer_closed_sending(const Socket& socket) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket.native_handle(), &readable);
  timeval now{0, 0};
  if (::select(0, &readable, nullptr, nullptr, &now) < 1) return false;
  char byte;
  const int peeked = ::recv(socket.native_handle(), &byte, 1, MSG_PEEK);
  return peeked == 0 || (peeked == SOCKET_ERROR && !transient(::WSAGetLastError()));
}

bool shutdown_sending(const Socket& socket) { return ::shutdown(socket.native_handle(), SD_SEND) == 0; }

WaitStatus wait_socket(const Socket& socket, bool want_read, bool want_write, double timeout_seconds,
                       Readiness* readiness) {
  return wait_socket_and(socket, want_read, want_write, -1, timeout_seconds, readiness);
}

WaitStatus wait_socket_and(const Socket& socket, bool want_read, bool want_write, int descriptor,
                           double timeout_seconds, Readiness* readiness) {
  if (readiness != nullptr) *readiness = {};
  if (descriptor != -1) return WaitStatus::failed;
  const bool watched = socket.valid() && (want_read || want_write);
  timeval timeout = select_timeout(timeout_seconds);
  if (!watched) {
    // select refuses empty sets here: nothing to watch is a plain sleep.
    ::Sleep(static_cast<DWORD>(timeout.tv_sec * 1000 + (timeout.tv_usec + 999) / 1000));
    return WaitStatus::timed_out;
  }
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  if (want_read) FD_SET(socket.native_handle(), &readable);
  if (want_write) FD_SET(socket.native_handle(), &writable);
  FD_SET(socket.native_handle(), &failed);
  const int ready = ::select(0, &readable, &writable, &failed, &timeout);
  if (ready == SOCKET_ERROR) return transient(::WSAGetLastError()) ? WaitStatus::timed_out : WaitStatus::failed;
  if (readiness != nullptr) {
    // Errors count as readable: the next recv reports them.
    const bool error = FD_ISSET(socket.native_handle(), &failed) != 0;
    readiness->readable = FD_ISSET(socket.native_handle(), &readable) != 0 || error;
    readiness->writable = FD_ISSET(socket.native_handle(), &writable) != 0 || error;
  }
  return ready == 0 ? WaitStatus::timed_out : WaitStatus::ready;
}

Socket listen_loopback(std::uint16_t* port) {
  Socket socket = new_tcp_socket();
  if (!socket.valid()) return {};
  sockaddr_in address;
  if (!loopback_address(0, &address)) return {};
  if (::bind(socket.native_handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket.native_handle(), 4) != 0) {
    return {};
  }
  int length = sizeof address;
  if (::getsockname(socket.native_handle(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  if (port != nullptr) *port = ::ntohs(address.sin_port);
  return socket;
}

Socket accept_connection(const Socket& listener, double timeout_seconds) {
  if (wait_socket(listener, true, false, timeout_seconds, nullptr) != WaitStatus::ready) return {};
  Socket socket(static_cast<NativeSocket>(::accept(listener.native_handle(), nullptr, nullptr)));
  if (!socket.valid() || !make_non_blocking(socket)) return {};
  set_no_delay(socket);
  return socket;
}

}  // namespace lumora::platform
