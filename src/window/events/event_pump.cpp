// The window backend's event pump: SDL events in, event records out. This is
// the only place that reads SDL's event queue; every SDL event the
// controller can see is translated here.
#include "window/events/event_pump.h"

#include <cmath>
#include <new>
#include <string>
#include <string_view>

#include "text/utf8.h"
#include "window/window_backend.h"

namespace lumora::window {

namespace {

using json::JsonPtr;

bool is_function_key(SDL_Keycode key) {
  // Two separate ranges in SDL's key codes.
  return (key >= SDLK_F1 && key <= SDLK_F12) || (key >= SDLK_F13 && key <= SDLK_F24);
}

const char* fixed_key_name(SDL_Keycode key) {
  switch (key) {
    case SDLK_BACKSPACE: return "Backspace";
    case SDLK_TAB: return "Tab";
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return "Enter";
    case SDLK_ESCAPE: return "Escape";
    case SDLK_SPACE: return "Space";
    case SDLK_DELETE: return "Delete";
    case SDLK_INSERT: return "Insert";
    case SDLK_HOME: return "Home";
    case SDLK_END: return "End";
    case SDLK_PAGEUP: return "PageUp";
    case SDLK_PAGEDOWN: return "PageDown";
    case SDLK_RIGHT: return "ArrowRight";
    case SDLK_LEFT: return "ArrowLeft";
    case SDLK_DOWN: return "ArrowDown";
    case SDLK_UP: return "ArrowUp";
    default: return nullptr;
  }
}

// Event objects are built member by member; a failed allocation inside
// cJSON leaves a member out, and a failed object drops the event.
JsonPtr make_event(const char* kind) {
  JsonPtr event(cJSON_CreateObject());
  if (event != nullptr) cJSON_AddItemToObject(event.get(), "kind", cJSON_CreateString(kind));
  return event;
}

void add_number(cJSON* event, const char* name, double value) {
  cJSON_AddItemToObject(event, name, cJSON_CreateNumber(value));
}

void add_bool(cJSON* event, const char* name, bool value) { cJSON_AddItemToObject(event, name, cJSON_CreateBool(value)); }

void append(cJSON* events, JsonPtr event) {
  if (event != nullptr) cJSON_AddItemToArray(events, event.release());
}

void append_bare(cJSON* events, const char* kind) { append(events, make_event(kind)); }

// SDL hands over text from the input method as it came. An input method or
// a keymap may give bytes that are not UTF-8 (Latin-1 from an old X keymap,
// say); each ill-formed sequence becomes U+FFFD, so that the frame stays
// readable and the characters around it still arrive.
void append_text(cJSON* events, const char* kind, const char* text) {
  JsonPtr event = make_event(kind);
  if (event == nullptr) return;
  const std::string_view bytes = text != nullptr ? std::string_view(text) : std::string_view();
  if (text::is_valid_utf8(bytes)) {
    cJSON_AddItemToObject(event.get(), "text", cJSON_CreateString(text != nullptr ? text : ""));
  } else {
    std::string mended;
    mended.reserve(bytes.size() + 8);
    for (std::size_t at = 0; at < bytes.size();) {
      const text::Utf8Char c = text::decode_utf8_final(bytes.substr(at));
      text::append_utf8(mended, c.code_point);
      at += c.length > 0 ? c.length : 1;
    }
    cJSON_AddItemToObject(event.get(), "text", cJSON_CreateString(mended.c_str()));
  }
  append(events, std::move(event));
}

}  // namespace

std::string key_name(SDL_Keycode key) {
  if (const char* fixed = fixed_key_name(key)) return fixed;
  const char* sdl_name = SDL_GetKeyName(key);  // a static buffer: copied at once
  std::string name = sdl_name != nullptr ? sdl_name : "";
  if (is_function_key(key)) return name;
  if (name.size() > kMaxKeyNameBytes) {
    std::size_t cut = kMaxKeyNameBytes;
    // Never split a character.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0u) == 0x80u) --cut;
    name.resize(cut);
  }
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

Modifiers modifiers_of(Uint16 mod) {
  return Modifiers{(mod & KMOD_SHIFT) != 0, (mod & (KMOD_CTRL | KMOD_GUI)) != 0};
}

WheelMotion wheel_motion(float horizontal_amount, float vertical_amount, bool flipped) {
  const double h = horizontal_amount;
  const double v = vertical_amount;
  WheelMotion motion;
  motion.horizontal = std::fabs(h) > std::fabs(v);
  motion.delta = motion.horizontal ? h : -v;
  if (flipped) motion.delta = -motion.delta;
  if (!std::isfinite(motion.delta)) motion.delta = 0;
  return motion;
}

void free_queued_compositions() {
  SDL_Event event;
  while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_TEXTEDITING_EXT, SDL_TEXTEDITING_EXT) == 1) {
    SDL_free(event.editExt.text);
  }
}

bool WindowBackend::own_window(Uint32 id) const { return id == 0 || id == window_id_; }

double WindowBackend::logical_x(int window_x) const {
  if (window_w_ <= 0 || scale_ <= 0) return window_x;
  return window_x * static_cast<double>(pixel_w_) / (window_w_ * scale_);
}

double WindowBackend::logical_y(int window_y) const {
  if (window_h_ <= 0 || scale_ <= 0) return window_y;
  return window_y * static_cast<double>(pixel_h_) / (window_h_ * scale_);
}

void WindowBackend::append_viewport_event(cJSON* events) {
  if (!sync_drawable_size()) {
    JsonPtr event = make_event("error");
    if (event == nullptr) return;
    cJSON_AddItemToObject(event.get(), "text", cJSON_CreateString(error_.c_str()));
    append(events, std::move(event));
    return;
  }
  JsonPtr event = make_event("viewport");
  if (event == nullptr) return;
  cJSON_AddItemToObject(event.get(), "viewport", viewport_object().release());
  add_number(event.get(), "resource_revision", static_cast<double>(resource_revision_));
  append(events, std::move(event));
}

void WindowBackend::drop_render_resources() {
  // The renderer lost what textures held: everything cached is rebuilt by
  // the next frame, and the new revision tells the controller so.
  destroy_scene_cache();
  destroy_all_textures();
  ++resource_revision_;
}

void WindowBackend::translate_window_event(const SDL_WindowEvent& event, cJSON* events) {
  if (!own_window(event.windowID)) return;
  switch (event.event) {
    case SDL_WINDOWEVENT_EXPOSED: append_bare(events, "repaint"); break;
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_DISPLAY_CHANGED: append_viewport_event(events); break;
    case SDL_WINDOWEVENT_MINIMIZED: append_bare(events, "suspend"); break;
    case SDL_WINDOWEVENT_RESTORED: append_bare(events, "resume"); break;
    case SDL_WINDOWEVENT_LEAVE: append_bare(events, "pointer_leave"); break;
    case SDL_WINDOWEVENT_FOCUS_LOST: append_bare(events, "blur"); break;
    case SDL_WINDOWEVENT_CLOSE: append_bare(events, "close"); break;
    default: break;
  }
}

void WindowBackend::translate_event(const SDL_Event& event, cJSON* events) {
  switch (event.type) {
    case SDL_QUIT: append_bare(events, "close"); return;
    case SDL_APP_WILLENTERBACKGROUND: append_bare(events, "suspend"); return;
    case SDL_APP_DIDENTERFOREGROUND: append_bare(events, "resume"); return;
    case SDL_RENDER_TARGETS_RESET:
    case SDL_RENDER_DEVICE_RESET:
      drop_render_resources();
      append_viewport_event(events);
      return;
    case SDL_WINDOWEVENT: translate_window_event(event.window, events); return;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      if (!own_window(event.key.windowID)) return;
      JsonPtr record = make_event(event.type == SDL_KEYDOWN ? "key_down" : "key_up");
      if (record == nullptr) return;
      const Modifiers mods = modifiers_of(event.key.keysym.mod);
      cJSON_AddItemToObject(record.get(), "key", cJSON_CreateString(key_name(event.key.keysym.sym).c_str()));
      add_bool(record.get(), "shift", mods.shift);
      add_bool(record.get(), "ctrl", mods.ctrl);
      append(events, std::move(record));
      return;
    }
    case SDL_TEXTEDITING:
      if (own_window(event.edit.windowID)) append_text(events, "composition", event.edit.text);
      return;
    case SDL_TEXTEDITING_EXT: {
      // A composition too long for the event's own buffer: SDL hands it
      // over on the heap, ours to free whatever happens to the event.
      SdlTextPtr text(event.editExt.text);
      if (own_window(event.editExt.windowID)) append_text(events, "composition", text.get());
      return;
    }
    case SDL_TEXTINPUT:
      if (own_window(event.text.windowID)) append_text(events, "text", event.text.text);
      return;
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const bool motion = event.type == SDL_MOUSEMOTION;
      if (!own_window(motion ? event.motion.windowID : event.button.windowID)) return;
      const char* kind = motion ? "pointer_move" : event.type == SDL_MOUSEBUTTONDOWN ? "pointer_down" : "pointer_up";
      JsonPtr record = make_event(kind);
      if (record == nullptr) return;
      const Modifiers mods = modifiers_of(static_cast<Uint16>(SDL_GetModState()));
      add_number(record.get(), "x", logical_x(motion ? event.motion.x : event.button.x));
      add_number(record.get(), "y", logical_y(motion ? event.motion.y : event.button.y));
      add_number(record.get(), "button", motion ? 1 : event.button.button);
      add_bool(record.get(), "shift", mods.shift);
      add_bool(record.get(), "ctrl", mods.ctrl);
      append(events, std::move(record));
      return;
    }
    case SDL_MOUSEWHEEL: {
      if (!own_window(event.wheel.windowID)) return;
      const WheelMotion wheel =
          wheel_motion(event.wheel.preciseX, event.wheel.preciseY, event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED);
      if (wheel.delta == 0) return;
      JsonPtr record = make_event("wheel");
      if (record == nullptr) return;
      const Modifiers mods = modifiers_of(static_cast<Uint16>(SDL_GetModState()));
      add_number(record.get(), "x", logical_x(event.wheel.mouseX));
      add_number(record.get(), "y", logical_y(event.wheel.mouseY));
      add_number(record.get(), "delta", wheel.delta);
      // Sideways scrolling reads as shift-scrolling, as a shifted vertical wheel does elsewhere.
      add_bool(record.get(), "shift", mods.shift || wheel.horizontal);
      add_bool(record.get(), "ctrl", mods.ctrl);
      append(events, std::move(record));
      return;
    }
    default: return;
  }
}

JsonPtr WindowBackend::drain_events() {
  input_pending_ = false;
  JsonPtr events = std::move(pending_events_);
  if (events == nullptr) events.reset(cJSON_CreateArray());
  if (events == nullptr) return nullptr;
  SDL_Event event;
  int read = 0;
  try {
    while (read < kMaxEventsPerPump && SDL_PollEvent(&event) == 1) {
      ++read;
      translate_event(event, events.get());
    }
  } catch (const std::bad_alloc&) {
    // A key name could not be copied: what was translated so far goes out.
  }
  input_pending_ = read == kMaxEventsPerPump;
  return events;
}

bool WindowBackend::input_pending() const { return input_pending_; }

}  // namespace lumora::window
