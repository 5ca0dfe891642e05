#include "input/event_queue.h"

#include <new>
#include <string>

namespace lumora::input {

namespace {

// Kinds and member names are static literals, so events reference them
// rather than copying: an event costs one allocation per member value only.
json::JsonPtr new_event(const char* kind) {
  json::JsonPtr event(cJSON_CreateObject());
  if (!event) return nullptr;
  cJSON* kind_item = cJSON_CreateStringReference(kind);
  if (kind_item == nullptr) return nullptr;
  cJSON_AddItemToObjectCS(event.get(), "kind", kind_item);
  return event;
}

using json::add_bool;
using json::add_member;
using json::add_number;
using json::add_string;

json::JsonPtr text_event(const char* kind, std::string_view text) {
  json::JsonPtr event = new_event(kind);
  if (!event || !add_string(event.get(), "text", text)) return nullptr;
  return event;
}

}  // namespace

json::JsonPtr EventQueue::take() {
  count_ = 0;
  if (!events_) return json::JsonPtr(cJSON_CreateArray());
  return std::move(events_);
}

bool EventQueue::ensure_array() {
  if (!events_) events_.reset(cJSON_CreateArray());
  return events_ != nullptr;
}

bool EventQueue::append(json::JsonPtr event) {
  if (!event || !ensure_array()) return false;
  cJSON_AddItemToArray(events_.get(), event.release());
  ++count_;
  return true;
}

bool EventQueue::push(json::JsonPtr event) {
  if (overflowed_ || !event) return false;
  if (size() < kMaxQueuedEvents) return append(std::move(event));
  overflowed_ = true;
  events_.reset();
  count_ = 0;
  append(text_event("error", "Native terminal input queue exceeded 4096 events"));
  return false;
}

bool EventQueue::push_resource_error(std::string_view text) {
  if (size() >= kMaxEventsForResourceErrors) return false;
  return append(text_event("resource_error", text));
}

bool EventQueue::push_key(bool down, std::string_view key, bool shift, bool ctrl) {
  if (overflowed_) return false;
  json::JsonPtr event = new_event(down ? "key_down" : "key_up");
  if (!event || !add_string(event.get(), "key", key) || !add_bool(event.get(), "shift", shift) ||
      !add_bool(event.get(), "ctrl", ctrl))
    return false;
  return push(std::move(event));
}

bool EventQueue::push_text(std::string_view text) {
  if (overflowed_) return false;
  return push(text_event("text", text));
}

bool EventQueue::push_paste_literal(const char* json_literal) {
  if (overflowed_) return false;
  json::JsonPtr event = new_event("text");
  if (!event || !add_member(event.get(), "text", cJSON_CreateRaw(json_literal)) ||
      !add_bool(event.get(), "paste", true))
    return false;
  return push(std::move(event));
}

bool EventQueue::push_paste_literal_owned(char* json_literal) {
  if (overflowed_) {
    cJSON_free(json_literal);
    return false;
  }
  json::JsonPtr event = new_event("text");
  cJSON* raw = event ? cJSON_CreateRaw("") : nullptr;
  if (raw == nullptr) {
    cJSON_free(json_literal);
    return false;
  }
  cJSON_free(raw->valuestring);
  raw->valuestring = json_literal;
  cJSON_AddItemToObjectCS(event.get(), "text", raw);
  if (!add_bool(event.get(), "paste", true)) return false;
  return push(std::move(event));
}

bool EventQueue::push_pointer(PointerKind kind, double x, double y, int button, bool shift, bool ctrl) {
  if (overflowed_) return false;
  const char* name = kind == PointerKind::down ? "pointer_down" : kind == PointerKind::up ? "pointer_up" : "pointer_move";
  json::JsonPtr event = new_event(name);
  if (!event || !add_number(event.get(), "x", x) || !add_number(event.get(), "y", y) ||
      !add_number(event.get(), "button", button) || !add_bool(event.get(), "shift", shift) ||
      !add_bool(event.get(), "ctrl", ctrl))
    return false;
  return push(std::move(event));
}

bool EventQueue::push_wheel(double x, double y, int delta, bool shift, bool ctrl) {
  if (overflowed_) return false;
  json::JsonPtr event = new_event("wheel");
  if (!event || !add_number(event.get(), "x", x) || !add_number(event.get(), "y", y) ||
      !add_number(event.get(), "delta", delta) || !add_bool(event.get(), "shift", shift) ||
      !add_bool(event.get(), "ctrl", ctrl))
    return false;
  return push(std::move(event));
}

bool EventQueue::push_blur() { return !overflowed_ && push(new_event("blur")); }
bool EventQueue::push_repaint() { return !overflowed_ && push(new_event("repaint")); }
bool EventQueue::push_close() { return !overflowed_ && push(new_event("close")); }

bool EventQueue::push_viewport(double width, double height, double scale) {
  if (overflowed_) return false;
  json::JsonPtr event = new_event("viewport");
  if (!event) return false;
  cJSON* viewport = cJSON_CreateObject();
  if (!add_member(event.get(), "viewport", viewport)) return false;
  if (!add_number(viewport, "width", width) || !add_number(viewport, "height", height) ||
      !add_number(viewport, "scale", scale))
    return false;
  return push(std::move(event));
}

bool EventQueue::push_error(std::string_view text) {
  if (overflowed_) return false;
  return push(text_event("error", text));
}

}  // namespace lumora::input
