// Loopback TCP, the only network the host and its controllers use. Sockets
// are non-blocking; every wait is explicit and bounded.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora::platform {

// The system's socket handle: a descriptor on POSIX systems, a SOCKET (an
// unsigned pointer-sized value) on Windows.
#ifdef _WIN32
using NativeSocket = std::uintptr_t;
#else
using NativeSocket = int;
#endif
inline constexpr NativeSocket kInvalidSocket = static_cast<NativeSocket>(-1);

// An owned socket; closed when destroyed.
class Socket {
 public:
  Socket() = default;
  explicit Socket(NativeSocket handle) : handle_(handle) {}
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.release();
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { close(); }

  bool valid() const { return handle_ != kInvalidSocket; }
  NativeSocket native_handle() const { return handle_; }
  NativeSocket release() {
    NativeSocket handle = handle_;
    handle_ = kInvalidSocket;
    return handle;
  }
  void close();

 private:
  NativeSocket handle_ = kInvalidSocket;
};

enum class IoStatus {
  ok,           // `bytes` were transferred (at least one)
  would_block,  // try again once the socket is ready (also covers EINTR)
  closed,       // the peer closed the connection (recv returned 0)
  failed,       // any other error
};

struct IoResult {
  IoStatus status = IoStatus::failed;
  std::size_t bytes = 0;
};

// Connects a non-blocking socket with TCP_NODELAY to 127.0.0.1:port, waiting at
// most `timeout_seconds`; an invalid socket on any failure.
Socket connect_loopback(std::uint16_t port, double timeout_seconds);

// Never raises SIGPIPE: a peer that hung up is reported as `failed`.
IoResult send_some(const Socket& socket, const void* data, std::size_t length);
IoResult recv_some(const Socket& socket, void* data, std::size_t length);

// Whether the peer has shut down its sending side (or the whole
// connection), without reading anything: bytes it sent before may still
// wait unread.
bool peer_closed_sending(const Socket& socket);

// Shuts down our sending side; the peer reads the end of input, and we can
// still receive.
bool shutdown_sending(const Socket& socket);

struct Readiness {
  bool readable = false;
  bool writable = false;
  bool descriptor_readable = false;  // the extra descriptor of wait_socket_and
};

enum class WaitStatus { ready, timed_out, failed };

// Waits until the socket is readable (when `want_read`) or writable (when
// `want_write`), `descriptor` (any pollable descriptor; -1 for none) is
// readable or hung up, or `timeout_seconds` (truncated to microseconds)
// passed. An invalid socket takes no part. Windows has no pollable
// descriptors: there only -1 is accepted, anything else fails.
WaitStatus wait_socket_and(const Socket& socket, bool want_read, bool want_write, int descriptor,
                           double timeout_seconds, Readiness* readiness);

// The same wait without a descriptor.
WaitStatus wait_socket(const Socket& socket, bool want_read, bool want_write, double timeout_seconds,
                       Readiness* readiness);

// Controller side: a listening socket on 127.0.0.1 with a kernel-chosen port.
Socket listen_loopback(std::uint16_t* port);
// Accepts one connection within `timeout_seconds`; the result is non-blocking
// with TCP_NODELAY. Invalid on time-out or error.
Socket accept_connection(const Socket& listener, double timeout_seconds);

}  // namespace lumora::platform
