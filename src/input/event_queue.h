// A backend's queue of input and state events, handed to the host whole at
// each drain. It knows no backend: sizes and positions arrive in logical
// units. Bounded: a burst of input can never grow it beyond a
// few thousand small objects, and a resource problem is reported without
// crowding out the events themselves.
#pragma once

#include <cstddef>
#include <string_view>

#include "json/json.h"
#include "scene/limits.h"

namespace lumora::input {

using scene::kMaxEventsForResourceErrors;
using scene::kMaxQueuedEvents;

enum class PointerKind { down, up, move };

class EventQueue {
 public:
  EventQueue() = default;
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // Hands over every queued event as one JSON array (possibly empty) and
  // starts an empty queue. Null only when even an empty array cannot be
  // allocated. The overflow state survives the hand-over.
  json::JsonPtr take();

  std::size_t size() const { return count_; }
  // The queue overflowed once: ordinary events are dropped from then on and
  // input decoding stops for the rest of the backend's life.
  bool overflowed() const { return overflowed_; }
  // The queued events, for inspection; may be null when none were queued.
  const cJSON* events() const { return events_.get(); }

  // Queues an ordinary event object, taking ownership. At the limit the
  // whole queue is replaced by the single overflow "error" event. Returns
  // whether the event was queued.
  bool push(json::JsonPtr event);
  // {"kind":"resource_error","text":...}, queued only while fewer than
  // kMaxEventsForResourceErrors events are queued.
  bool push_resource_error(std::string_view text);

  // {"kind":"key_down"|"key_up","key":...,"shift":...,"ctrl":...}
  bool push_key(bool down, std::string_view key, bool shift, bool ctrl);
  // {"kind":"text","text":...}; `text` must be valid UTF-8 without NUL.
  bool push_text(std::string_view text);
  // {"kind":"text","text":<literal>,"paste":true}; `json_literal` is a
  // complete JSON string literal, quotes included, inserted as is (a paste
  // may hold NUL, which only an escaped literal can carry).
  bool push_paste_literal(const char* json_literal);
  // The same, taking ownership of `json_literal`, which was allocated with
  // cJSON_malloc (freed here when the event cannot be queued). Spares a
  // copy of pastes of many megabytes.
  bool push_paste_literal_owned(char* json_literal);
  // {"kind":"pointer_down"|"pointer_up"|"pointer_move","x","y","button","shift","ctrl"}
  bool push_pointer(PointerKind kind, double x, double y, int button, bool shift, bool ctrl);
  // {"kind":"wheel","x","y","delta","shift","ctrl"}
  bool push_wheel(double x, double y, int delta, bool shift, bool ctrl);
  bool push_blur();     // {"kind":"blur"}
  bool push_repaint();  // {"kind":"repaint"}
  bool push_close();    // {"kind":"close"}
  // {"kind":"viewport","viewport":{"width":...,"height":...,"scale":...}}:
  // the drawing surface in logical units and the device pixels per unit.
  bool push_viewport(double width, double height, double scale);
  // {"kind":"error","text":...}
  bool push_error(std::string_view text);

 private:
  bool ensure_array();
  bool append(json::JsonPtr event);

  json::JsonPtr events_;
  // Kept alongside the array: cJSON counts by walking its list.
  std::size_t count_ = 0;
  bool overflowed_ = false;
};

}  // namespace lumora::input
