#include "client/controller.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <new>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/random.h"
#include "platform/socket.h"

namespace lumora::client {
namespace {

constexpr std::size_t kTokenBytes = scene::kTokenLength / 2;  // two hexadecimal digits each
// Reads ask for at least this much free space, so a burst of small frames
// arrives in one call.
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kInitialInputSize = 256 * 1024;
// After a large frame the receive buffer shrinks back once empty, so one big
// snapshot does not pin 16 MiB for the rest of the session.
constexpr std::size_t kShrinkInputAbove = 4 * kInitialInputSize;
// Frames up to this size are sent with one call from a reused buffer; larger
// bodies go out directly behind their header, without a copy.
constexpr std::size_t kStagingSize = 64 * 1024;
// Bound on one send, so a host that stopped reading cannot hang the caller.
constexpr double kSendTimeoutSeconds = 30;
// How often the accept wait looks whether the host already died.
constexpr double kAcceptSliceSeconds = 0.05;
// The host ends within 2 s after a final notice or a hang-up; past this the
// destructor stops waiting and kills it.
constexpr double kReapTimeoutSeconds = 5;
// How long the captured standard error may trail the exit.
constexpr double kOutputSettleSeconds = 1;

std::uint32_t read_u32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void write_u32(std::uint32_t value, unsigned char* out) {
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(value >> 8);
  out[2] = static_cast<unsigned char>(value >> 16);
  out[3] = static_cast<unsigned char>(value >> 24);
}

// The body must be exactly one JSON object.
JsonPtr parse_object(const std::string& text) {
  const char* end = nullptr;
  JsonPtr value(cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, false));
  if (!value || end != text.data() + text.size() || !cJSON_IsObject(value.get())) return nullptr;
  return value;
}

}  // namespace

void encode_frame_header(std::uint32_t type, std::uint32_t id, std::uint32_t length, unsigned char out[16]) {
  std::memcpy(out, scene::kFrameMagic, sizeof scene::kFrameMagic);
  write_u32(type, out + 4);
  write_u32(id, out + 8);
  write_u32(length, out + 12);
}

std::string make_token() {
  unsigned char bytes[kTokenBytes];
  if (!platform::random_bytes(bytes, sizeof bytes)) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string token(2 * kTokenBytes, '0');
  for (std::size_t index = 0; index < kTokenBytes; ++index) {
    token[2 * index] = kDigits[bytes[index] >> 4];
    token[2 * index + 1] = kDigits[bytes[index] & 0x0f];
  }
  return token;
}

struct Controller::State {
  std::unique_ptr<platform::ChildProcess> child;
  platform::Socket connection;
  std::string token;
  bool hello_seen = false;
  std::uint32_t next_id = 1;
  std::uint32_t last_id = 0;

  // Received bytes not yet parsed are input[input_start, input_end).
  std::vector<unsigned char> input;
  std::size_t input_start = 0;
  std::size_t input_end = 0;
  // Replies normally arrive one at a time and leave at once: a vector keeps
  // its storage, so matching them allocates nothing per frame.
  std::vector<Reply> replies;
  std::deque<Message> messages;

  std::array<unsigned char, kStagingSize> staging{};

  bool disconnected = false;  // the host hung up, or we did
  bool broken = false;        // the host sent a malformed frame; nothing more is read
  std::string error;

  State() : input(kInitialInputSize) {}

  ~State() {
    connection.close();
    if (child) child->wait_exit(kReapTimeoutSeconds);
    // The child's own destructor kills and reaps it if it still runs.
  }

  bool usable() const { return connection.valid() && !disconnected && !broken; }

  // Records the first malformed frame; always false, for `return fail(...)`.
  bool fail(std::string message) {
    if (!broken) error = std::move(message);
    broken = true;
    return false;
  }

  void lose_connection(const char* message) {
    if (!disconnected && error.empty()) error = message;
    disconnected = true;
  }

  // Makes room for the next read: compacts, grows for a frame larger than
  // the buffer, or shrinks back after a large one.
  void prepare_input() {
    if (input_start == input_end) {
      input_start = input_end = 0;
      if (input.size() > kShrinkInputAbove) {
        std::vector<unsigned char>(kInitialInputSize).swap(input);
      }
    }
    if (input.size() - input_end >= kReadChunk) return;
    if (input_start > 0) {
      std::memmove(input.data(), input.data() + input_start, input_end - input_start);
      input_end -= input_start;
      input_start = 0;
    }
    if (input.size() - input_end < kReadChunk) input.resize(std::max(input.size() * 2, input_end + kReadChunk));
  }

  // Reads what the socket holds now and parses every complete frame.
  void receive_available() {
    while (usable()) {
      prepare_input();
      std::size_t wanted = input.size() - input_end;
      platform::IoResult result = platform::recv_some(connection, input.data() + input_end, wanted);
      if (result.status == platform::IoStatus::would_block) break;
      if (result.status != platform::IoStatus::ok) {
        parse_frames();
        lose_connection("The host closed the connection");
        return;
      }
      input_end += result.bytes;
      parse_frames();
      // A short read means the socket is drained; skip the call that would
      // only say so.
      if (result.bytes < wanted) break;
    }
  }

  void parse_frames() {
    while (!broken && input_end - input_start >= kFrameHeaderSize) {
      const unsigned char* header = input.data() + input_start;
      if (std::memcmp(header, scene::kFrameMagic, sizeof scene::kFrameMagic) != 0) {
        fail("Malformed frame from the host: bad magic");
        return;
      }
      std::uint32_t type = read_u32(header + 4);
      std::uint32_t id = read_u32(header + 8);
      std::uint32_t length = read_u32(header + 12);
      if (length > kMaxBody) {
        fail("Malformed frame from the host: body above 16 MiB");
        return;
      }
      if (input_end - input_start - kFrameHeaderSize < length) return;
      std::string body(reinterpret_cast<const char*>(header + kFrameHeaderSize), length);
      input_start += kFrameHeaderSize + length;
      if (!accept_frame(type, id, std::move(body))) return;
    }
  }

  bool accept_frame(std::uint32_t type, std::uint32_t id, std::string body) {
    if (!hello_seen) {
      if (type != kFrameHello || id != 0) return fail("The host's first frame is not a hello");
      if (body != token) return fail("The host's hello carries the wrong token");
      hello_seen = true;
      return true;
    }
    if (type == kFrameReply) {
      if (id == 0) return fail("Malformed frame from the host: reply with id 0");
      JsonPtr value = parse_object(body);
      const cJSON* ok = value ? cJSON_GetObjectItemCaseSensitive(value.get(), "ok") : nullptr;
      if (!cJSON_IsBool(ok)) return fail("Malformed reply from the host");
      Reply reply;
      reply.id = id;
      reply.ok = cJSON_IsTrue(ok);
      if (reply.ok) {
        reply.result.reset(cJSON_DetachItemFromObjectCaseSensitive(value.get(), "result"));
        if (!reply.result) return fail("Malformed reply from the host: no result");
      } else {
        const cJSON* message = cJSON_GetObjectItemCaseSensitive(value.get(), "error");
        if (!cJSON_IsString(message)) return fail("Malformed reply from the host: no error");
        reply.error = message->valuestring;
      }
      reply.body = std::move(body);
      replies.push_back(std::move(reply));
      return true;
    }
    if (type == kFrameEvent || type == kFrameFinal) {
      if (id != 0) return fail("Malformed frame from the host: message with an id");
      Message message;
      message.type = type;
      message.body = parse_object(body);
      if (!message.body) return fail("Malformed event from the host");
      message.text = std::move(body);
      messages.push_back(std::move(message));
      return true;
    }
    return fail("Malformed frame from the host: type " + std::to_string(type));
  }

  // Reads until `done` holds, the deadline passes, or the connection ends.
  template <typename Done>
  bool pump_until(double deadline, Done done) {
    for (;;) {
      if (done()) return true;
      if (!usable()) return false;
      double left = deadline - platform::now_seconds();
      if (left <= 0) return false;
      platform::Readiness readiness;
      platform::WaitStatus status = platform::wait_socket(connection, true, false, left, &readiness);
      if (status == platform::WaitStatus::failed) {
        lose_connection("Waiting on the connection failed");
        return done();
      }
      if (status == platform::WaitStatus::ready) receive_available();
    }
  }

  // Sends all bytes, reading meanwhile so that a host blocked on sending to
  // us can go on reading from us.
  bool send_bytes(const unsigned char* data, std::size_t length, bool* partial) {
    const double deadline = platform::now_seconds() + kSendTimeoutSeconds;
    std::size_t sent = 0;
    while (sent < length) {
      if (!usable()) return false;
      platform::IoResult result = platform::send_some(connection, data + sent, length - sent);
      if (result.status == platform::IoStatus::ok) {
        sent += result.bytes;
        *partial = true;
        continue;
      }
      if (result.status != platform::IoStatus::would_block) {
        lose_connection("The host closed the connection");
        return false;
      }
      double left = deadline - platform::now_seconds();
      if (left <= 0) return false;
      platform::Readiness readiness;
      platform::WaitStatus status = platform::wait_socket(connection, true, true, left, &readiness);
      if (status == platform::WaitStatus::failed) {
        lose_connection("Waiting on the connection failed");
        return false;
      }
      if (readiness.readable) receive_available();
    }
    return true;
  }

  bool send_frame(std::uint32_t type, std::uint32_t id, std::string_view body) {
    if (body.size() > kMaxBody || !usable()) return false;
    const auto length = static_cast<std::uint32_t>(body.size());
    bool partial = false;
    bool sent;
    if (kFrameHeaderSize + body.size() <= staging.size()) {
      encode_frame_header(type, id, length, staging.data());
      std::memcpy(staging.data() + kFrameHeaderSize, body.data(), body.size());
      sent = send_bytes(staging.data(), kFrameHeaderSize + body.size(), &partial);
    } else {
      unsigned char header[kFrameHeaderSize];
      encode_frame_header(type, id, length, header);
      sent = send_bytes(header, sizeof header, &partial) &&
             send_bytes(reinterpret_cast<const unsigned char*>(body.data()), body.size(), &partial);
    }
    // Half a frame on the wire leaves the stream unusable.
    if (!sent && partial) fail("Could not send a whole frame");
    return sent;
  }
};

Controller::Controller(std::unique_ptr<State> state) : state_(std::move(state)) {}

Controller::~Controller() = default;

std::unique_ptr<Controller> Controller::launch(const LaunchOptions& options, std::string* error) {
  std::unique_ptr<State> state;
  auto fail = [&](std::string message) -> std::unique_ptr<Controller> {
    if (error != nullptr) *error = std::move(message);
    // A host that started but failed the handshake is of no use: end it now
    // rather than waiting for it to notice.
    if (state && state->child) state->child->kill();
    return nullptr;
  };
  try {
    state = std::make_unique<State>();
    state->token = make_token();
    if (state->token.empty()) return fail("Could not read the system's random source");

    std::uint16_t port = 0;
    platform::Socket listener = platform::listen_loopback(&port);
    if (!listener.valid()) return fail("Could not listen on 127.0.0.1");

    platform::SpawnOptions spawn;
    std::vector<std::string> host_args = {"--port", std::to_string(port), "--token", state->token};
    host_args.insert(host_args.end(), options.extra_args.begin(), options.extra_args.end());
    if (options.launcher.empty()) {
      spawn.path = options.host_path;
      spawn.args = std::move(host_args);
    } else {
      spawn.path = options.launcher.front();
      spawn.args.assign(options.launcher.begin() + 1, options.launcher.end());
      spawn.args.push_back(options.host_path);
      spawn.args.insert(spawn.args.end(), host_args.begin(), host_args.end());
    }
    spawn.environment = options.environment;
    spawn.new_session = options.new_session;
    spawn.controlling_tty = options.controlling_tty;
    std::string spawn_error;
    state->child = platform::ChildProcess::spawn(spawn, &spawn_error);
    if (!state->child) return fail(spawn_error);

    // Accept in short slices so that a host that died at start-up is
    // reported at once rather than after the whole time-out.
    const double deadline = platform::now_seconds() + options.connect_timeout_seconds;
    const bool launched = !options.launcher.empty();
    bool launcher_done = false;
    while (!state->connection.valid()) {
      std::optional<int> code = launcher_done ? std::nullopt : state->child->wait_exit(0);
      // A launcher that handed the host over (to a terminal multiplexer, say)
      // and succeeded leaves only the time-out to notice a host that died.
      if (code && launched && *code == 0) {
        launcher_done = true;
      } else if (code) {
        state->child->wait_output_closed(kOutputSettleSeconds);
        std::string message = std::string(launched ? "The host's launcher" : "The host") + " exited with code " +
                              std::to_string(*code) + " before connecting";
        std::string standard_error = state->child->standard_error();
        if (!standard_error.empty()) message += ": " + standard_error;
        return fail(message);
      }
      double left = deadline - platform::now_seconds();
      if (left <= 0) return fail("Timed out waiting for the host to connect");
      state->connection = platform::accept_connection(listener, std::min(left, kAcceptSliceSeconds));
    }
    listener.close();

    if (!state->pump_until(deadline, [&] { return state->hello_seen; })) {
      if (state->broken) return fail(state->error);
      if (state->disconnected) return fail("The host hung up before its hello");
      return fail("Timed out waiting for the host's hello");
    }
    state->error.clear();
    return std::unique_ptr<Controller>(new Controller(std::move(state)));
  } catch (const std::bad_alloc&) {
    return fail("Out of memory");
  }
}

std::uint32_t Controller::send_command(std::string_view json) {
  State& state = *state_;
  std::uint32_t id = state.next_id;
  if (id == 0) return 0;  // the 32-bit ids are used up
  if (!state.send_frame(kFrameCommand, id, json)) return 0;
  state.last_id = id;
  state.next_id = id + 1;
  return id;
}

std::optional<Reply> Controller::wait_reply(std::uint32_t id, double timeout_seconds) {
  State& state = *state_;
  const double deadline = platform::now_seconds() + timeout_seconds;
  auto found = state.replies.end();
  auto arrived = [&] {
    found = std::find_if(state.replies.begin(), state.replies.end(), [&](const Reply& reply) { return reply.id == id; });
    return found != state.replies.end();
  };
  if (!state.pump_until(deadline, arrived)) return std::nullopt;
  Reply reply = std::move(*found);
  state.replies.erase(found);
  return reply;
}

std::optional<Reply> Controller::request(std::string_view json, double timeout_seconds) {
  std::uint32_t id = send_command(json);
  if (id == 0) return std::nullopt;
  return wait_reply(id, timeout_seconds);
}

std::optional<Message> Controller::next_message(double timeout_seconds) {
  State& state = *state_;
  const double deadline = platform::now_seconds() + timeout_seconds;
  if (!state.pump_until(deadline, [&] { return !state.messages.empty(); })) return std::nullopt;
  Message message = std::move(state.messages.front());
  state.messages.pop_front();
  return message;
}

std::vector<Message> Controller::take_messages() {
  State& state = *state_;
  state.receive_available();
  std::vector<Message> taken(std::make_move_iterator(state.messages.begin()),
                             std::make_move_iterator(state.messages.end()));
  state.messages.clear();
  return taken;
}

bool Controller::send_raw(std::string_view bytes) {
  State& state = *state_;
  if (!state.usable()) return false;
  bool partial = false;
  return state.send_bytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &partial);
}

bool Controller::send_frame(std::uint32_t type, std::uint32_t id, std::string_view body) {
  return state_->send_frame(type, id, body);
}

std::uint32_t Controller::last_id() const { return state_->last_id; }

void Controller::set_next_id(std::uint32_t id) { state_->next_id = id; }

bool Controller::close(double timeout_seconds) {
  State& state = *state_;
  const double deadline = platform::now_seconds() + timeout_seconds;
  std::optional<Reply> reply = request(R"({"op":"close"})", timeout_seconds);
  if (!reply || !reply->ok) return false;
  bool noticed = state.pump_until(deadline, [&] {
    return std::any_of(state.messages.begin(), state.messages.end(),
                       [](const Message& message) { return message.type == kFrameFinal; });
  });
  if (!noticed) return false;
  std::optional<int> code = wait_exit(std::max(0.0, deadline - platform::now_seconds()));
  return code && *code == 0;
}

void Controller::hang_up() {
  state_->connection.close();
  state_->disconnected = true;
}

bool Controller::close_sending() { return platform::shutdown_sending(state_->connection); }

std::optional<int> Controller::wait_exit(double timeout_seconds) {
  return state_->child->wait_exit(timeout_seconds);
}

std::string Controller::standard_error() {
  if (state_->child->exit_code()) state_->child->wait_output_closed(kOutputSettleSeconds);
  return state_->child->standard_error();
}

std::string Controller::standard_output() {
  if (state_->child->exit_code()) state_->child->wait_output_closed(kOutputSettleSeconds);
  return state_->child->standard_output();
}

int Controller::process_id() const { return state_->child->id(); }

void Controller::kill_host(int signal_number) { state_->child->send_signal(signal_number); }

bool Controller::connected() const { return state_->usable(); }

const std::string& Controller::error() const { return state_->error; }

ProcessResult run_process(const std::string& path, const std::vector<std::string>& args, double timeout_seconds) {
  ProcessResult result;
  platform::SpawnOptions spawn;
  spawn.path = path;
  spawn.args = args;
  std::string error;
  std::unique_ptr<platform::ChildProcess> child = platform::ChildProcess::spawn(spawn, &error);
  if (!child) {
    result.standard_error = error;
    return result;
  }
  std::optional<int> code = child->wait_exit(timeout_seconds);
  if (!code) {
    result.timed_out = true;
    child->kill();
    code = child->wait_exit(kReapTimeoutSeconds);
  }
  result.exit_code = code.value_or(-1);
  child->wait_output_closed(kOutputSettleSeconds);
  result.standard_output = child->standard_output();
  result.standard_error = child->standard_error();
  return result;
}

}  // namespace lumora::client
