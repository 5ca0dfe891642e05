#include "host/events.h"

#include <string_view>

#include "host/dispatch.h"
#include "host/frames.h"
#include "json/json.h"

namespace lumora::host {

void forward_events(HostSession& session) {
  if (session.closing) return;
  Backend* backend = session.backend.get();
  if (backend == nullptr) return;
  JsonPtr events = backend->drain_events();
  // A drain without an array counts as an empty one.
  if (!cJSON_IsArray(events.get()) || cJSON_GetArraySize(events.get()) == 0) return;
  const cJSON* event = nullptr;
  cJSON_ArrayForEach(event, events.get()) {
    std::string_view kind = json::string_member(event, "kind");
    if (kind == "suspend") session.suspended = true;
    if (kind == "resume") session.suspended = false;
    ++session.stats.input_events;
    if (queue_json_frame(session, kFrameEvent, 0, event) != QueueResult::queued) {
      send_final_notice(session, "event_overload", "Native input queue exhausted");
      break;
    }
  }
  events.reset();
  flush_send_queue(session);
}

}  // namespace lumora::host
