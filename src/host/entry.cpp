#include "host/entry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "host/dispatch.h"
#include "host/events.h"
#include "host/frames.h"
#include "host/scheduling.h"
#include "host/session.h"
#include "platform/clock.h"
#include "platform/signals.h"
#include "platform/socket.h"
#include "scene/error_text.h"

namespace lumora::host {
namespace {

constexpr int kExitNormal = 0;
constexpr int kExitFailure = 2;
constexpr double kConnectTimeoutSeconds = 5.0;
constexpr unsigned long kMaxPort = 65535;

bool parse_port(const char* text, std::uint16_t* port) {
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text, &end, 10);
  if (end == nullptr || *end != '\0' || errno == ERANGE || value < 1 || value > kMaxPort) return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Returns the exit code a termination signal asked for, or 0.
int run_loop(HostSession& session) {
  host::HostErrorBuffer present_error;
  while (!session.stopped) {
    // A termination signal ends the host as a lost connection would: the
    // backend then gives the terminal back exactly as "close" does.
    if (const int signal_exit_code = platform::termination_exit_code(); signal_exit_code != 0) {
      return signal_exit_code;
    }
    present_error.text().clear();
    flush_send_queue(session);
    if (session.closing) {
      if (session.send_length == 0 || platform::now_seconds() >= session.close_deadline) break;
    } else if (session.send_length <= kReadThreshold) {
      receive_frames(session);
    }
    if (session.stopped) break;
    parse_frames(session, handle_command);
    flush_send_queue(session);
    forward_events(session);
    if (session.stopped) break;
    present_if_due(session, present_error.text());
    if (session.stopped) break;
    wait_for_activity(session);
  }
  return 0;
}

// Start-up after the command line: buffers, connection, hello.
bool start(HostSession& session, const CommandLine& command_line) {
  if (!allocate_buffers(session)) return false;
  session.start_time = platform::now_seconds();
  session.socket = platform::connect_loopback(command_line.port, kConnectTimeoutSeconds);
  if (!session.socket.valid()) return false;
  return queue_frame(session, kFrameHello, 0, command_line.token, kTokenLength);
}

void shut_down(HostSession& session) {
  // The backend restores what it changed before the connection goes.
  session.backend.reset();
  session.socket.close();
  session.recv_buffer.reset();
  session.send_buffer.reset();
}

}  // namespace

bool parse_command_line(int argc, char** argv, CommandLine* command_line) {
  if (argc < 2) return false;
  bool have_token = false;
  std::uint16_t port = 0;
  const char* token = nullptr;
  for (int i = 1; i < argc; i += 2) {
    bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--port") == 0 && has_value) {
      if (!parse_port(argv[i + 1], &port)) return false;
    } else if (std::strcmp(argv[i], "--token") == 0 && has_value) {
      token = argv[i + 1];
      have_token = true;
    } else {
      return false;
    }
  }
  if (port == 0 || !have_token || std::strlen(token) != kTokenLength) return false;
  for (std::size_t k = 0; k < kTokenLength; ++k) {
    if (!is_hex_digit(token[k])) return false;
  }
  command_line->port = port;
  std::memcpy(command_line->token, token, kTokenLength + 1);
  return true;
}

int run_host(int argc, char** argv, BackendFactories backends) {
  CommandLine command_line;
  if (!parse_command_line(argc, argv, &command_line)) return kExitFailure;
  int exit_code = kExitNormal;
  // Large (a 120-entry ring and more) but plain; kept off the stack.
  std::unique_ptr<HostSession> session(new (std::nothrow) HostSession());
  if (!session) return kExitFailure;
  session->backends = backends;
  try {
    if (start(*session, command_line)) {
      if (const int signal_exit_code = run_loop(*session); signal_exit_code != 0) exit_code = signal_exit_code;
    } else {
      exit_code = kExitFailure;
    }
  } catch (const std::bad_alloc&) {
    // Nothing in the loop is meant to throw; memory exhaustion ends the
    // connection as a socket error would.
  }
  if (session->protocol_error) {
    std::fputs("Invalid native protocol frame\n", stderr);
    std::fflush(stderr);
    exit_code = kExitFailure;
  }
  shut_down(*session);
  return exit_code;
}

}  // namespace lumora::host
