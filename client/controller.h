// The controller library: what an application (and every test, tool and
// benchmark here) uses to start `lumora-host`, talk to it and watch it end.
//
//   auto host = lumora::client::Controller::launch({.host_path = "build/lumora-host"}, &error);
//   auto reply = host->request(R"({"op":"open","backend":"terminal","headless":true})");
//   host->request(R"({"op":"frame","commands":[["clear","#203040"]]})");
//   auto snapshot = host->request(R"({"op":"snapshot"})");
//   host->close();
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"
#include "scene/limits.h"

namespace lumora::client {

using json::JsonPtr;

using scene::kFrameCommand;
using scene::kFrameEvent;
using scene::kFrameFinal;
using scene::kFrameHello;
using scene::kFrameReply;
using scene::kFrameHeaderSize;
using scene::kMaxBody;

// Writes the 16-byte header ("RZV1", type, id, length; little-endian).
void encode_frame_header(std::uint32_t type, std::uint32_t id, std::uint32_t length, unsigned char out[16]);

struct LaunchOptions {
  std::string host_path;                 // the lumora-host binary
  std::vector<std::string> extra_args;   // appended after --port and --token
  std::vector<std::string> environment;  // "NAME=value" entries added to the host's environment
  double connect_timeout_seconds = 10;   // for the host to connect and send its hello
  bool new_session = false;              // start the host in a new session (no controlling terminal)
  std::string controlling_tty;           // when set: new session with this tty (a pty's slave path) as
                                         // controlling terminal and as stdin/stdout
  // When set, the host is started through this launcher: the program run is
  // launcher[0] with the rest as its arguments, followed by host_path and the
  // host's own arguments. {"tmux", "-L", "name", "new-session", "-d"} runs the
  // host in a tmux pane, say. The launcher may exit before the host connects;
  // only a non-zero exit ends the wait early. process_id(), wait_exit(),
  // kill_host() and the captured outputs then concern the launcher.
  std::vector<std::string> launcher;
};

struct Reply {
  std::uint32_t id = 0;
  bool ok = false;
  JsonPtr result;     // when ok (JSON null included)
  std::string error;  // when not ok
  std::string body;   // the raw reply text
};

// One event (type 101) or the final notice (type 102), in arrival order.
struct Message {
  std::uint32_t type = 0;
  JsonPtr body;
  std::string text;  // the raw body
};

// One host and its connection. Not thread-safe: one thread drives it.
class Controller {
 public:
  // Listens on 127.0.0.1 port 0, starts the host with --port and a fresh
  // 64-hex-digit --token, accepts its connection and checks the hello token.
  // Null with a message in `error` on failure.
  static std::unique_ptr<Controller> launch(const LaunchOptions& options, std::string* error);

  ~Controller();  // closes the connection and reaps the host (killing it after 5 s)

  // Sends one command with the next id (ids grow from 1) and returns that id, 0 on failure.
  std::uint32_t send_command(std::string_view json);
  // Waits for the reply to `id`; events and the final notice arriving meanwhile
  // are kept in order, and so are replies to other ids until they are asked
  // for. Empty on time-out, hang-up or a malformed frame.
  std::optional<Reply> wait_reply(std::uint32_t id, double timeout_seconds = 30);
  // send_command + wait_reply.
  std::optional<Reply> request(std::string_view json, double timeout_seconds = 30);

  // Next event or final notice (taken from those already received first).
  std::optional<Message> next_message(double timeout_seconds);
  // All messages received so far without waiting (after polling the socket once).
  std::vector<Message> take_messages();

  // Raw access for protocol tests: any bytes, any frame.
  bool send_raw(std::string_view bytes);
  bool send_frame(std::uint32_t type, std::uint32_t id, std::string_view body);
  std::uint32_t last_id() const;
  void set_next_id(std::uint32_t id);

  // Sends {"op":"close"}, waits for its reply and the final notice, then for the exit.
  bool close(double timeout_seconds = 10);
  // Closes our end of the connection without a command.
  void hang_up();
  // Shuts down our sending side only: the host reads the end of input, and
  // what it sends can still be read.
  bool close_sending();
  // Waits for the host to exit; its exit code, or empty on time-out.
  std::optional<int> wait_exit(double timeout_seconds = 10);
  // What the host wrote to standard error (complete once it exited).
  std::string standard_error();
  // What the host wrote to standard output (nothing, unless it was given a terminal).
  std::string standard_output();
  // False once the host hung up, we hung up, or a malformed frame arrived.
  bool connected() const;
  // Why the connection is no longer usable (empty while it is).
  const std::string& error() const;
  int process_id() const;
  // Sends a signal to the host (tests of abrupt ends).
  void kill_host(int signal_number);

 private:
  struct State;
  explicit Controller(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Runs the host (or any program) to completion with the given arguments, for
// command-line tests: exit code (128 + signal for a signal), both outputs.
struct ProcessResult {
  int exit_code = -1;
  std::string standard_output;
  std::string standard_error;
  bool timed_out = false;
};
ProcessResult run_process(const std::string& path, const std::vector<std::string>& args, double timeout_seconds);

// A fresh 64-digit lower-case hexadecimal token from the system's random source.
std::string make_token();

}  // namespace lumora::client
