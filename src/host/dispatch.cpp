#include "host/dispatch.h"

#include <cmath>
#include <new>
#include <string_view>

#include "host/body_scan.h"
#include "host/frames.h"
#include "host/scheduling.h"
#include "host/statistics.h"
#include "json/json.h"
#include "platform/clock.h"
#include "scene/error_text.h"
#include "scene/scene_format.h"

namespace lumora::host {
namespace {


// How long the connection may take to deliver its final notice.
constexpr double kCloseDrainSeconds = 2.0;

// Hands `item` to `object` only when attaching succeeded, so that a failed
// attach cannot leak it. `name` is always a literal, so it is attached as a
// constant rather than copied and freed with every reply.
bool attach(cJSON* object, const char* name, JsonPtr& item) {
  if (!item || !cJSON_AddItemToObjectCS(object, name, item.get())) return false;
  item.release();
  return true;
}

bool attach(cJSON* object, const char* name, JsonPtr&& item) { return attach(object, name, item); }

void reply_error(HostSession& session, std::uint32_t id, const char* message);

// Every reply passes here. One whose printed body exceeds the frame limit
// (an "ansi" or "snapshot" of a large grid, a long "measure_many") could never
// be sent, so it is answered with an error reply and the session goes on; a
// reply that finds no room in the send queue, or no memory, ends the
// connection, since no later reply could be promised either.
void queue_reply(HostSession& session, std::uint32_t id, const JsonPtr& reply, bool built) {
  QueueResult result = built ? queue_json_frame(session, kFrameReply, id, reply.get()) : QueueResult::no_room;
  if (result == QueueResult::too_large) {
    reply_error(session, id, "Reply exceeds 16 MiB frame limit");
  } else if (result != QueueResult::queued) {
    session.stopped = true;
  }
}

// {"ok":true,"result":...}; a missing result stands for a value that could
// not be built, which ends the connection like any unsendable reply.
void reply_result(HostSession& session, std::uint32_t id, JsonPtr result) {
  JsonPtr reply(cJSON_CreateObject());
  bool built = reply && attach(reply.get(), "ok", JsonPtr(cJSON_CreateTrue())) &&
               attach(reply.get(), "result", result);
  queue_reply(session, id, reply, built);
}

void reply_null(HostSession& session, std::uint32_t id) { reply_result(session, id, JsonPtr(cJSON_CreateNull())); }

void reply_error(HostSession& session, std::uint32_t id, const char* message) {
  JsonPtr reply(cJSON_CreateObject());
  bool built = reply && attach(reply.get(), "ok", JsonPtr(cJSON_CreateFalse())) &&
               attach(reply.get(), "error", JsonPtr(cJSON_CreateString(message)));
  queue_reply(session, id, reply, built);
}

// The backend's message when it left one, else the host's own.
void reply_failure(HostSession& session, std::uint32_t id, const HostErrorBuffer& error, const char* fallback) {
  reply_error(session, id, error.empty() ? fallback : error.c_str());
}

// The backend "open" names; a missing, empty or non-string name chooses the window.
const BackendFactory* find_backend(BackendFactories backends, std::string_view name) {
  if (name.empty()) name = "window";
  for (const BackendFactory& factory : backends) {
    if (factory.name == name) return &factory;
  }
  return nullptr;
}

void handle_open(HostSession& session, std::uint32_t id, const cJSON* command, HostErrorBuffer& error) {
  if (session.backend_open) {
    reply_error(session, id, "Host already open");
    return;
  }
  std::unique_ptr<Backend> backend;
  const BackendFactory* factory = find_backend(session.backends, json::string_member(command, "backend"));
  if (factory == nullptr) {
    error.text().set("Unsupported native backend");
  } else {
    backend = factory->open(command, error.text());
  }
  if (!backend) {
    reply_failure(session, id, error, "Could not open backend");
    return;
  }
  JsonPtr info = backend->info();
  session.backend = std::move(backend);
  session.backend_open = true;
  apply_scheduling_members(session, command);
  reply_result(session, id, std::move(info));
}

void handle_present(HostSession& session, std::uint32_t id, const cJSON* command, HostErrorBuffer& error) {
  if (!session.scene_committed) {
    reply_error(session, id, "Commit a scene before presenting");
    return;
  }
  if (cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(command, "scheduled"))) {
    session.present_requested = true;
    reply_null(session, id);
    return;
  }
  if (!present(session, error.text())) {
    reply_failure(session, id, error, "Commit a scene before presenting");
    return;
  }
  reply_null(session, id);
}

void handle_stats(HostSession& session, std::uint32_t id, const cJSON* command) {
  double now = platform::now_seconds();
  JsonPtr stats = build_statistics(session, now);
  if (cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(command, "reset"))) {
    reset_host_statistics(session, now);
    if (session.backend) session.backend->reset_statistics();
  }
  reply_result(session, id, std::move(stats));
}

// Every "frame" and "patch" sets the cross-fade first, possibly to 0; its
// result and any failure are of no concern to the commit that follows.
void apply_transition(Backend& backend, const cJSON* command) {
  const double ms = scene::transition_ms_of(cJSON_GetObjectItemCaseSensitive(command, "transition_seconds"));
  JsonPtr configure(cJSON_CreateObject());
  if (!configure || cJSON_AddStringToObject(configure.get(), "op", "configure") == nullptr ||
      cJSON_AddNumberToObject(configure.get(), "transition_ms", ms) == nullptr) {
    return;
  }
  HostErrorBuffer ignored;
  JsonPtr result = backend.run_operation(configure.get(), ignored.text());
}

void handle_scene_update(HostSession& session, std::uint32_t id, const cJSON* command, bool patch,
                         double handling_start, HostErrorBuffer& error) {
  Backend& backend = *session.backend;
  apply_transition(backend, command);
  double commit_start = platform::now_seconds();
  bool committed = patch ? backend.patch_scene(command, error.text())
                         : backend.commit_scene(cJSON_GetObjectItemCaseSensitive(command, "commands"), error.text());
  double elapsed = platform::now_seconds() - commit_start;
  if (!committed) {
    reply_failure(session, id, error, "Could not commit scene");
    return;
  }
  HostStatistics& stats = session.stats;
  record_timing(elapsed, &stats.last_commit, &stats.commit_total, &stats.max_commit);
  ++stats.scene_updates;
  session.scene_committed = true;
  session.present_requested = true;
  session.update_pending = true;
  session.update_start_time = handling_start;
  reply_null(session, id);
}

void handle_operation(HostSession& session, std::uint32_t id, const cJSON* command, std::string_view op,
                      HostErrorBuffer& error) {
  JsonPtr result = session.backend->run_operation(command, error.text());
  if (!result) {
    reply_failure(session, id, error, "Unsupported native operation");
    return;
  }
  // Scheduling follows only a configure the backend accepted.
  if (op == "configure") apply_scheduling_members(session, command);
  if (op == "reload_image" && session.scene_committed) session.present_requested = true;
  reply_result(session, id, std::move(result));
}

void dispatch(HostSession& session, std::uint32_t id, const cJSON* command, double handling_start) {
  HostErrorBuffer error;
  std::string_view op = json::string_member(command, "op");
  if (op == "close") {
    reply_null(session, id);
    send_final_notice(session, "closed", nullptr);
    return;
  }
  if (op == "open") {
    handle_open(session, id, command, error);
    return;
  }
  if (!session.backend_open) {
    reply_error(session, id, "Open the backend first");
    return;
  }
  if (op == "present") {
    handle_present(session, id, command, error);
  } else if (op == "stats") {
    handle_stats(session, id, command);
  } else if (op == "frame" || op == "patch") {
    handle_scene_update(session, id, command, op == "patch", handling_start, error);
  } else {
    handle_operation(session, id, command, op, error);
  }
}

}  // namespace

void handle_command(HostSession& session, std::uint32_t id, const char* body, std::size_t length) {
  double handling_start = platform::now_seconds();
  // The command's items live until it is answered, on every path.
  struct DropRequest {
    json::JsonReader& reader;
    ~DropRequest() { reader.clear(); }
  } drop_request{session.request};
  try {
    json::JsonReadStatus status = session.request.read(body, length, kMaxNesting);
    // A NUL anywhere in a string decides the message, even when the text
    // is invalid before it.
    if (status == json::JsonReadStatus::nul_in_string ||
        (status != json::JsonReadStatus::parsed && has_embedded_nul(body, length))) {
      reply_error(session, id, "Embedded NUL is not representable in a native C string");
      return;
    }
    // Running out of memory says nothing about the controller's text.
    if (status == json::JsonReadStatus::out_of_memory) {
      session.request.clear();  // frees what the parse held, for the reply
      reply_error(session, id, "Cannot allocate JSON command");
      return;
    }
    const cJSON* command = session.request.root();
    if (status != json::JsonReadStatus::parsed || !cJSON_IsObject(command)) {
      reply_error(session, id, "Invalid JSON command");
      return;
    }
    ++session.stats.requests;
    dispatch(session, id, command, handling_start);
  } catch (const std::bad_alloc&) {
    // No reply can be promised without memory; end the connection.
    session.stopped = true;
  }
}

void send_final_notice(HostSession& session, const char* reason, const char* error) {
  if (session.closing) return;
  session.closing = true;
  double now = platform::now_seconds();
  session.close_deadline = now + kCloseDrainSeconds;
  JsonPtr notice(cJSON_CreateObject());
  bool built = notice && cJSON_AddStringToObject(notice.get(), "reason", reason) != nullptr;
  if (built && error != nullptr) built = cJSON_AddStringToObject(notice.get(), "error", error) != nullptr;
  if (built) {
    JsonPtr stats = build_statistics(session, now);
    built = attach(notice.get(), "stats", stats);
  }
  if (!built || queue_json_frame(session, kFrameFinal, 0, notice.get()) != QueueResult::queued) session.stopped = true;
}

}  // namespace lumora::host
