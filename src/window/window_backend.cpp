// Open, close, sizing, vsync, info and the small host queries of the window
// backend.
#include "window/window_backend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "platform/files.h"
#include "scene/error_text.h"
#include "window/events/event_pump.h"

namespace lumora::window {

namespace {

using json::JsonPtr;

const cJSON* member(const cJSON* object, const char* name) { return cJSON_GetObjectItemCaseSensitive(object, name); }

bool bool_member(const cJSON* object, const char* name, bool fallback) {
  const cJSON* item = member(object, name);
  return cJSON_IsBool(item) ? cJSON_IsTrue(item) : fallback;
}

double number_member(const cJSON* object, const char* name, double fallback) {
  const cJSON* item = member(object, name);
  return cJSON_IsNumber(item) ? item->valuedouble : fallback;
}

bool side_acceptable(double side) { return std::isfinite(side) && side >= kMinLogicalSide && side <= kMaxLogicalSide; }

// The software renderer would otherwise route the window's framebuffer
// through an OpenGL context of its own, which costs time and memory on every
// frame and buys nothing.
bool software_renderer_requested() {
  const char* driver = SDL_GetHint(SDL_HINT_RENDER_DRIVER);
  return driver != nullptr && SDL_strcasecmp(driver, "software") == 0;
}

void add_number(cJSON* object, const char* name, double value) { cJSON_AddItemToObject(object, name, cJSON_CreateNumber(value)); }

void add_pair(cJSON* object, const char* name, double a, double b) {
  cJSON* pair = cJSON_CreateArray();
  cJSON_AddItemToArray(pair, cJSON_CreateNumber(a));
  cJSON_AddItemToArray(pair, cJSON_CreateNumber(b));
  cJSON_AddItemToObject(object, name, pair);
}

}  // namespace

double window_now_seconds() {
  return static_cast<double>(SDL_GetPerformanceCounter()) / static_cast<double>(SDL_GetPerformanceFrequency());
}

SDL_RWops* open_regular_file_stream(const char* path, bool for_writing) {
  platform::FileOpenStatus status;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(
      for_writing ? platform::open_regular_stream_for_writing(path, &status)
                  : platform::open_regular_stream_for_reading(path, &status),
      &std::fclose);
  SDL_RWops* file = stream != nullptr ? SDL_RWFromFP(stream.get(), SDL_TRUE) : nullptr;
  if (file == nullptr) {
    SDL_SetError("Couldn't open %s", path);
    return nullptr;
  }
  stream.release();  // closed with the SDL stream
  return file;
}

void WindowBackend::set_error(std::string_view message) {
  error_.assign(message.substr(0, scene::utf8_prefix_length(message, kWindowErrorTextSize - 1)));
}

void WindowBackend::set_sdl_error(const char* step) {
  char text[kWindowErrorTextSize];
  std::snprintf(text, sizeof text, "%s: %s", step, SDL_GetError());
  set_error(text);
}

void WindowBackend::copy_error(scene::ErrorText error) const {
  error.set(error_.empty() ? std::string_view(kNativeRendererFailed) : std::string_view(error_));
}

std::unique_ptr<WindowBackend> WindowBackend::open(const cJSON* command, scene::ErrorText error) {
  std::unique_ptr<WindowBackend> backend(new (std::nothrow) WindowBackend());
  if (backend == nullptr) {
    error.set(kNativeRendererFailed);
    return nullptr;
  }
  try {
    if (!backend->open_steps(command)) {
      backend->copy_error(error);
      return nullptr;  // the destructor tears down whatever was made
    }
  } catch (const std::bad_alloc&) {
    error.set(kNativeRendererFailed);
    return nullptr;
  }
  return backend;
}

bool WindowBackend::open_steps(const cJSON* command) {
  scale_ = 1;
  const double width = number_member(command, "width", kDefaultWidth);
  const double height = number_member(command, "height", kDefaultHeight);
  const cJSON* scale_item = member(command, "scale");
  vsync_mode_ = bool_member(command, "vsync", true) ? 1 : 0;
  cache_scene_ = bool_member(command, "cache_scene", true);
  const bool resizable = bool_member(command, "resizable", true);
  const bool hidden = bool_member(command, "hidden", false);
  const cJSON* title_item = member(command, "title");
  const char* title = cJSON_IsString(title_item) && title_item->valuestring ? title_item->valuestring : kDefaultTitle;

  bool scale_valid = true;
  if (scale_item != nullptr && !cJSON_IsNull(scale_item)) {
    scale_valid = cJSON_IsNumber(scale_item) && std::isfinite(scale_item->valuedouble) &&
                  scale_item->valuedouble >= kMinScale && scale_item->valuedouble <= kMaxScale;
    if (scale_valid) {
      scale_follows_display_ = false;
      fixed_scale_ = scale_item->valuedouble;
    }
  }
  if (!cJSON_IsObject(command) || !side_acceptable(width) || !side_acceptable(height) || !scale_valid) {
    set_error("Invalid window dimensions or scale");
    return false;
  }

  const cJSON* font_dir = member(command, "font_dir");
  if (cJSON_IsString(font_dir) && font_dir->valuestring != nullptr) {
    font_dir_ = font_dir->valuestring;
  } else {
    SdlTextPtr base(SDL_GetBasePath());
    font_dir_ = std::string(base ? base.get() : "") + "assets";
  }

  SDL_SetMainReady();
  SDL_SetHint(SDL_HINT_POLL_SENTINEL, "0");
  SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
  // Compositions longer than 31 bytes would otherwise arrive cut short.
  SDL_SetHint(SDL_HINT_IME_SUPPORT_EXTENDED_TEXT, "1");
  if (software_renderer_requested()) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    set_sdl_error("Initialize SDL3 video");
    return false;
  }
  video_initialised_ = true;
  // SDL2 starts text input with the video subsystem; it stays off until the
  // controller asks for it with "text_input".
  SDL_StopTextInput();
  if (TTF_Init() != 0) {
    set_sdl_error("Initialize SDL3_ttf");
    return false;
  }
  ttf_initialised_ = true;

  Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI;
  if (resizable) flags |= SDL_WINDOW_RESIZABLE;
  window_.reset(SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, kInitialWindowWidth,
                                 kInitialWindowHeight, flags));
  if (window_ == nullptr) {
    set_sdl_error("Create window");
    return false;
  }
  window_id_ = SDL_GetWindowID(window_.get());
  if (!canvas_.open(window_.get())) return false;
  if (!apply_vsync(vsync_mode_)) return false;
  if (!sync_drawable_size()) return false;
  if (!set_window_size(width, height, true)) return false;
  if (get_font(kDefaultFontPoints, false) == nullptr || get_font(kDefaultFontPoints, true) == nullptr) return false;
  // SDL_ShowWindow cannot fail in SDL2, so "Show window" is never reported.
  if (!hidden) SDL_ShowWindow(window_.get());
  open_time_ = now();
  error_.clear();
  return true;
}

WindowBackend::~WindowBackend() {
  destroy_scene_cache();
  destroy_all_textures();
  for (FontSlot& slot : fonts_) slot.font.reset();
  canvas_.close();
  window_.reset();
  if (ttf_initialised_) TTF_Quit();
  if (video_initialised_) {
    free_queued_compositions();
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  }
}

bool WindowBackend::sync_drawable_size() {
  int window_w = 0, window_h = 0, pixel_w = 0, pixel_h = 0;
  SDL_GetWindowSize(window_.get(), &window_w, &window_h);
  // While a texture is the render target SDL2 reports the texture's size as
  // the output size; the window's pixel size is what is wanted.
  if (!canvas_.drawing_to_window()) {
    SDL_GetWindowSizeInPixels(window_.get(), &pixel_w, &pixel_h);
  } else if (!canvas_.output_size(pixel_w, pixel_h)) {
    set_sdl_error("Read drawable size");
    return false;
  }
  if (window_w <= 0 || window_h <= 0 || pixel_w <= 0 || pixel_h <= 0) return true;  // minimised
  if (pixel_w != pixel_w_ || pixel_h != pixel_h_) destroy_scene_cache();
  window_w_ = window_w;
  window_h_ = window_h;
  pixel_w_ = pixel_w;
  pixel_h_ = pixel_h;
  canvas_.set_output_size(pixel_w, pixel_h);
  const double previous = scale_;
  // SDL2 has no display scale; the ratio of pixels to window coordinates is
  // the density that a high-density window reports.
  double scale = scale_follows_display_ ? static_cast<double>(pixel_w) / window_w : fixed_scale_;
  scale = std::clamp(scale, kMinScale, kMaxScale);
  scale_ = scale;
  logical_w_ = pixel_w / scale;
  logical_h_ = pixel_h / scale;
  if (scale != previous) {
    ++resource_revision_;
    invalidate_scene_cache();
    extents_stale_ = true;  // text measures differently at another scale
  }
  return true;
}

bool WindowBackend::set_window_size(double w, double h, bool fit) {
  const double density = pixel_w_ > 0 ? static_cast<double>(window_w_) / pixel_w_ : 1;
  const double density_y = pixel_h_ > 0 ? static_cast<double>(window_h_) / pixel_h_ : 1;
  // Logical sides are at most 16384 and the scale at most 16: these fit an int.
  int width = std::max(1, static_cast<int>(round_half_even(density * scale_ * w)));
  int height = std::max(1, static_cast<int>(round_half_even(density_y * scale_ * h)));
  SDL_Rect usable{};
  int top = 0, left = 0, bottom = 0, right = 0;
  bool fitted = false;
  if (fit) {
    const int display = SDL_GetWindowDisplayIndex(window_.get());
    if (display >= 0 && SDL_GetDisplayUsableBounds(display, &usable) == 0 && usable.w > 0 && usable.h > 0) {
      // Unsupported by some drivers (offscreen): the borders then count as none.
      if (SDL_GetWindowBordersSize(window_.get(), &top, &left, &bottom, &right) != 0) top = left = bottom = right = 0;
      width = std::max(1, std::min(width, usable.w - left - right));
      height = std::max(1, std::min(height, usable.h - top - bottom));
      fitted = true;
    }
  }
  // The size that would be set, in device pixels: one side may grow to
  // 16384 × 16 pixels, but the drawable's area is bounded, since every
  // present and capture costs memory and time in proportion to it.
  if (round_half_even(width / density) * round_half_even(height / density_y) > kMaxDrawablePixels) {
    set_error("Window drawable exceeds 8388608 pixels");
    return false;
  }
  // SDL_SetWindowSize cannot fail in SDL2, so "Set window size" is never reported.
  SDL_SetWindowSize(window_.get(), width, height);
  if (fitted) {
    SDL_SetWindowPosition(window_.get(), usable.x + left + (usable.w - right - left - width) / 2,
                          usable.y + top + (usable.h - bottom - top - height) / 2);
  }
  // SDL2 applies size and position at once (waiting for the window manager
  // on X11); pumping picks up what the window system changed since. It
  // cannot fail, so "Synchronize window size" is never reported.
  SDL_PumpEvents();
  return sync_drawable_size();
}

bool WindowBackend::apply_vsync(int mode) {
  bool vsync = false;
  if (!canvas_.set_vsync(mode) || !canvas_.vsync_applied(vsync)) return false;
  // SDL2 reports the last request (it simulates vsync it cannot get), so
  // this read-back fails only if the renderer ignored the request outright.
  const int applied = vsync ? 1 : 0;
  if (applied != mode) {
    set_error("Renderer did not apply requested VSync mode");
    return false;
  }
  vsync_mode_ = mode;
  return true;
}

JsonPtr WindowBackend::viewport_object() const {
  JsonPtr viewport(cJSON_CreateObject());
  if (viewport == nullptr) return nullptr;
  add_number(viewport.get(), "width", logical_w_);
  add_number(viewport.get(), "height", logical_h_);
  add_number(viewport.get(), "scale", scale_);
  cJSON* safe_area = cJSON_CreateArray();
  for (int i = 0; i < 4; ++i) cJSON_AddItemToArray(safe_area, cJSON_CreateNumber(0));
  cJSON_AddItemToObject(viewport.get(), "safe_area", safe_area);
  add_number(viewport.get(), "keyboard_occlusion", 0);
  return viewport;
}

JsonPtr WindowBackend::info() {
  sync_drawable_size();  // a failure leaves the last known sizes, which is what info can report
  JsonPtr info(cJSON_CreateObject());
  if (info == nullptr) return nullptr;
  cJSON* o = info.get();
  add_number(o, "width", logical_w_);
  add_number(o, "height", logical_h_);
  add_number(o, "scale", scale_);
  cJSON_AddItemToObject(o, "viewport", viewport_object().release());
  add_pair(o, "pixel_size", pixel_w_, pixel_h_);
  add_pair(o, "window_size", window_w_, window_h_);
  add_number(o, "resource_revision", static_cast<double>(resource_revision_));
  const char* renderer_name = canvas_.name();
  cJSON_AddItemToObject(o, "renderer", cJSON_CreateString(renderer_name != nullptr ? renderer_name : "unknown"));
  bool vsync = false;
  const bool known = canvas_.vsync_applied(vsync);
  cJSON_AddItemToObject(o, "vsync", known ? cJSON_CreateNumber(vsync ? 1 : 0) : cJSON_CreateNull());
  const Uint32 flags = SDL_GetWindowFlags(window_.get());
  cJSON_AddItemToObject(o, "visible", cJSON_CreateBool((flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) == 0));
  cJSON_AddItemToObject(o, "animating", cJSON_CreateBool(is_animating()));
  add_number(o, "texture_entries", static_cast<double>(textures_.size()));
  add_number(o, "texture_bytes", static_cast<double>(texture_bytes()));
  add_number(o, "image_decode_attempts", static_cast<double>(counters_.image_decode_attempts));
  cJSON_AddItemToObject(o, "cache_scene", cJSON_CreateBool(cache_scene_));
  add_number(o, "scene_cache_bytes", static_cast<double>(scene_cache_ ? scene_cache_bytes() : 0));
  add_number(o, "scene_cache_hits", static_cast<double>(counters_.scene_cache_hits));
  cJSON_AddItemToObject(o, "backend", cJSON_CreateString("window"));
  cJSON_AddItemToObject(o, "scene_patches", cJSON_CreateTrue());
  add_number(o, "retained_scene_bytes", static_cast<double>(retained_bytes_));
  add_number(o, "segment_count", static_cast<double>(segments_.size()));
  add_number(o, "command_count", static_cast<double>(command_count_));
  add_number(o, "commands_touched", static_cast<double>(counters_.commands_touched));
  add_number(o, "last_commands_touched", static_cast<double>(counters_.last_commands_touched));
  add_number(o, "segments_updated", static_cast<double>(counters_.segments_updated));
  add_number(o, "segments_removed", static_cast<double>(counters_.segments_removed));
  add_number(o, "scene_patch_updates", static_cast<double>(counters_.scene_patch_updates));
  add_number(o, "unchanged_segments", static_cast<double>(counters_.unchanged_segments));
  add_number(o, "retained_scene_budget", 67108864);
  add_number(o, "commands_replayed", static_cast<double>(counters_.commands_replayed));
  add_number(o, "last_commands_replayed", static_cast<double>(counters_.last_commands_replayed));
  add_number(o, "segments_tested", static_cast<double>(counters_.segments_tested));
  add_number(o, "last_segments_tested", static_cast<double>(counters_.last_segments_tested));
  add_number(o, "animation_segments_tested", static_cast<double>(counters_.animation_segments_tested));
  add_number(o, "active_segment_count", static_cast<double>(active_segments_.count));
  add_number(o, "transition_snapshot_commands", static_cast<double>(transition_snapshot_commands()));
  return info;
}

void WindowBackend::reset_statistics() {
  counters_.commands_touched = 0;
  counters_.commands_replayed = 0;
  counters_.segments_updated = 0;
  counters_.segments_removed = 0;
  counters_.scene_cache_hits = 0;
  counters_.last_commands_replayed = 0;
  counters_.last_commands_touched = 0;
  counters_.scene_patch_updates = 0;
  counters_.segments_tested = 0;
  counters_.last_segments_tested = 0;
  counters_.animation_segments_tested = 0;
  counters_.unchanged_segments = 0;
  counters_.image_decode_attempts = 0;
}

void WindowBackend::queue_event(JsonPtr event) {
  if (event == nullptr) return;
  if (pending_events_ == nullptr) {
    pending_events_.reset(cJSON_CreateArray());
    if (pending_events_ == nullptr) return;
  }
  // Only the newest events are kept, so that a scene full of broken images
  // cannot grow the queue between two drains.
  if (cJSON_GetArraySize(pending_events_.get()) >= static_cast<int>(kMaxPendingEvents)) {
    cJSON_DeleteItemFromArray(pending_events_.get(), 0);
  }
  cJSON_AddItemToArray(pending_events_.get(), event.release());
}

bool WindowBackend::present_frame(scene::ErrorText) {
  canvas_.present();
  // A segmented scene asks for frames through its animated segments; the
  // flag only carries one more frame after a change.
  if (segmented_ || settled_) animating_ = false;
  return true;
}

host::SceneCounts WindowBackend::last_scene_counts() const {
  return host::SceneCounts{counters_.last_commands_touched, counters_.last_commands_replayed};
}

std::uint64_t WindowBackend::last_segments_tested() const { return counters_.last_segments_tested; }

bool WindowBackend::is_animating() const {
  if (segmented_) return animating_ || (!reduce_motion_ && active_segments_.head != nullptr);
  return animating_ || (!reduce_motion_ && animation_loops_) || transition_running();
}

std::unique_ptr<host::Backend> open_window_backend(const cJSON* command, scene::ErrorText error) {
  return WindowBackend::open(command, error);
}

}  // namespace lumora::window
