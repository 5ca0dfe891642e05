// The window's named operations: capture, measuring, title and size, text
// input, the clipboard, image reloading and "configure".
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "window/window_backend.h"

namespace lumora::window {

namespace {

using json::JsonPtr;

constexpr std::size_t kMaxOperationStringBytes = 16777216;
constexpr std::size_t kMaxMeasureTexts = 4096;
constexpr double kMinTextPoints = 0.01;
constexpr double kMaxTextPoints = 2048;
constexpr std::size_t kMaxCapturePathBytes = 32768;
constexpr std::size_t kMaxClipboardWriteBytes = 8388608;  // "less than 8388609"
constexpr std::size_t kMaxClipboardReadBytes = 8388608;
// 16 MiB less the 23 bytes of the smallest reply envelope around the string.
constexpr std::size_t kMaxClipboardEscapedBytes = 16777193;
constexpr double kMaxTextInputCoordinate = 1000000;
constexpr double kMaxTransitionMs = 60000;
constexpr double kMaxTransitionSeconds = 60;

const cJSON* member(const cJSON* object, const char* name) { return cJSON_GetObjectItemCaseSensitive(object, name); }

// A string member of at most `limit` bytes.
bool string_member(const cJSON* object, const char* name, std::size_t limit, std::string_view& value) {
  const cJSON* item = member(object, name);
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return false;
  const std::size_t length = std::strlen(item->valuestring);
  if (length > limit) return false;
  value = std::string_view(item->valuestring, length);
  return true;
}

bool number_in(const cJSON* item, double low, double high) {
  return cJSON_IsNumber(item) && std::isfinite(item->valuedouble) && item->valuedouble >= low &&
         item->valuedouble <= high;
}

// An optional boolean: absent gives the default, anything else must be a boolean.
bool optional_bool(const cJSON* object, const char* name, bool& value) {
  const cJSON* item = member(object, name);
  if (item == nullptr) return true;
  if (!cJSON_IsBool(item)) return false;
  value = cJSON_IsTrue(item);
  return true;
}

JsonPtr pair(double a, double b) {
  JsonPtr array(cJSON_CreateArray());
  if (array == nullptr) return nullptr;
  cJSON_AddItemToArray(array.get(), cJSON_CreateNumber(a));
  cJSON_AddItemToArray(array.get(), cJSON_CreateNumber(b));
  return array;
}

bool ends_with_png(std::string_view path) {
  if (path.size() < 4) return false;
  const std::string_view tail = path.substr(path.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'p' && (tail[2] | 0x20) == 'n' && (tail[3] | 0x20) == 'g';
}

std::size_t escaped_size(unsigned char byte) {
  switch (byte) {
    case '"': case '\\': case '\b': case '\t': case '\n': case '\f': case '\r': return 2;
    default: return byte < 32 ? 6 : 1;
  }
}

}  // namespace

JsonPtr WindowBackend::run_operation(const cJSON* command, scene::ErrorText error) {
  error_.clear();
  const cJSON* op_item = member(command, "op");
  const std::string_view op =
      cJSON_IsString(op_item) && op_item->valuestring != nullptr ? std::string_view(op_item->valuestring) : "";
  JsonPtr result;
  try {
    result = run_operation_checked(command, op);
  } catch (const std::bad_alloc&) {
    error_.clear();
    result = nullptr;
  }
  if (result == nullptr) copy_error(error);
  return result;
}

JsonPtr WindowBackend::run_operation_checked(const cJSON* command, std::string_view op) {
  char invalid[kWindowErrorTextSize];
  std::snprintf(invalid, sizeof invalid, "Invalid arguments for renderer operation: %.100s", std::string(op).c_str());

  // The host's "info" command reaches the backend as an operation.
  if (op == "info") return info();
  if (op == "reload_image") {
    std::string_view source;
    if (!string_member(command, "source", kMaxOperationStringBytes, source)) return set_error(invalid), nullptr;
    reload_image(source);
    return info();
  }
  if (op == "measure" || op == "measure_many") {
    const cJSON* size = member(command, "size");
    bool mono = false;
    if (!number_in(size, kMinTextPoints, kMaxTextPoints) || !optional_bool(command, "mono", mono)) {
      return set_error(invalid), nullptr;
    }
    if (op == "measure") {
      std::string_view text;
      if (!string_member(command, "text", kMaxOperationStringBytes, text)) return set_error(invalid), nullptr;
      double w = 0, h = 0;
      if (!measure_text(text, size->valuedouble, mono, w, h)) return nullptr;
      return pair(w, h);
    }
    const cJSON* texts = member(command, "texts");
    if (!cJSON_IsArray(texts)) return set_error(invalid), nullptr;
    std::size_t count = 0;
    for (const cJSON* text = texts->child; text != nullptr; text = text->next) {
      if (++count > kMaxMeasureTexts || !cJSON_IsString(text) || text->valuestring == nullptr ||
          std::strlen(text->valuestring) > kMaxOperationStringBytes) {
        return set_error(invalid), nullptr;
      }
    }
    JsonPtr results(cJSON_CreateArray());
    if (results == nullptr) return nullptr;
    for (const cJSON* text = texts->child; text != nullptr; text = text->next) {
      double w = 0, h = 0;
      if (!measure_text(text->valuestring, size->valuedouble, mono, w, h)) return nullptr;
      JsonPtr measured = pair(w, h);
      if (measured == nullptr) return nullptr;
      cJSON_AddItemToArray(results.get(), measured.release());
    }
    return results;
  }
  if (op == "set_title") {
    std::string_view title;
    if (!string_member(command, "title", kMaxOperationStringBytes, title)) return set_error(invalid), nullptr;
    // SDL_SetWindowTitle cannot fail in SDL2, so "Set window title" is never reported.
    SDL_SetWindowTitle(window_.get(), title.data());
    return JsonPtr(cJSON_CreateNull());
  }
  if (op == "set_size") {
    const cJSON* width = member(command, "width");
    const cJSON* height = member(command, "height");
    if (!number_in(width, kMinLogicalSide, kMaxLogicalSide) || !number_in(height, kMinLogicalSide, kMaxLogicalSide)) {
      return set_error(invalid), nullptr;
    }
    if (!set_window_size(width->valuedouble, height->valuedouble, false)) return nullptr;
    return info();
  }
  if (op == "text_input") return text_input(command, invalid);
  if (op == "clipboard_read") return clipboard_read();
  if (op == "clipboard_write") {
    const cJSON* text = member(command, "text");
    if (!cJSON_IsString(text) || text->valuestring == nullptr) return set_error(invalid), nullptr;
    if (std::strlen(text->valuestring) > kMaxClipboardWriteBytes) {
      set_error("Clipboard text exceeds 8 MiB");
      return nullptr;
    }
    if (SDL_SetClipboardText(text->valuestring) != 0) {
      set_sdl_error("Write clipboard");
      return nullptr;
    }
    return JsonPtr(cJSON_CreateNull());
  }
  if (op == "capture") {
    std::string_view path;
    if (!string_member(command, "path", kMaxCapturePathBytes, path) || path.empty()) return set_error(invalid), nullptr;
    return capture(path.data());
  }
  if (op == "configure") return configure(command, invalid);

  char unsupported[kWindowErrorTextSize];
  std::snprintf(unsupported, sizeof unsupported, "Unsupported renderer operation: %.100s", std::string(op).c_str());
  set_error(unsupported);
  return nullptr;
}

JsonPtr WindowBackend::text_input(const cJSON* command, std::string_view invalid) {
  const cJSON* rect = member(command, "rect");
  if (rect == nullptr || cJSON_IsNull(rect)) {
    // void in SDL2: "Stop text input" is never reported.
    SDL_StopTextInput();
    return JsonPtr(cJSON_CreateNull());
  }
  if (!cJSON_IsArray(rect) || cJSON_GetArraySize(rect) != 4) return set_error(invalid), nullptr;
  const cJSON* items[4] = {cJSON_GetArrayItem(rect, 0), cJSON_GetArrayItem(rect, 1), cJSON_GetArrayItem(rect, 2),
                           cJSON_GetArrayItem(rect, 3)};
  if (!number_in(items[0], -kMaxTextInputCoordinate, kMaxTextInputCoordinate) ||
      !number_in(items[1], -kMaxTextInputCoordinate, kMaxTextInputCoordinate) ||
      !number_in(items[2], 0, kMaxTextInputCoordinate) || !number_in(items[3], 0, kMaxTextInputCoordinate)) {
    return set_error(invalid), nullptr;
  }
  const double kx = pixel_w_ > 0 ? static_cast<double>(window_w_) / pixel_w_ * scale_ : scale_;
  const double ky = pixel_h_ > 0 ? static_cast<double>(window_h_) / pixel_h_ * scale_ : scale_;
  // |value| ≤ 1000000 × 16: within int.
  SDL_Rect area{static_cast<int>(round_half_even(items[0]->valuedouble * kx)),
                static_cast<int>(round_half_even(items[1]->valuedouble * ky)),
                std::max(1, static_cast<int>(round_half_even(items[2]->valuedouble * kx))),
                std::max(1, static_cast<int>(round_half_even(items[3]->valuedouble * ky)))};
  SDL_SetTextInputRect(&area);
  SDL_StartTextInput();
  return JsonPtr(cJSON_CreateNull());
}

JsonPtr WindowBackend::clipboard_read() {
  SDL_ClearError();
  SdlTextPtr text(SDL_GetClipboardText());
  if (text == nullptr) {
    set_sdl_error("Read clipboard");
    return nullptr;
  }
  std::size_t bytes = 0, escaped = 0;
  for (const char* p = text.get(); *p != '\0'; ++p) {
    ++bytes;
    escaped += escaped_size(static_cast<unsigned char>(*p));
    if (bytes > kMaxClipboardReadBytes || escaped > kMaxClipboardEscapedBytes) {
      set_error("Clipboard text exceeds the 8 MiB text or 16 MiB JSON limit");
      return nullptr;
    }
  }
  return JsonPtr(cJSON_CreateString(text.get()));
}

JsonPtr WindowBackend::capture(const char* path) {
  counters_.last_commands_replayed = 0;
  counters_.last_segments_tested = 0;
  if (!draw_scene_to_target()) return nullptr;
  TexturePtr capture_target;
  SDL_Texture* target = nullptr;
  if (scene_cache_valid_ && scene_cache_ != nullptr) {
    target = scene_cache_.get();
    if (!canvas_.set_target(target, "Create capture target")) return nullptr;
  } else {
    capture_target = canvas_.create_target(pixel_w_, pixel_h_);
    if (capture_target == nullptr) {
      set_sdl_error("Create capture target");
      return nullptr;
    }
    if (!canvas_.set_target(capture_target.get(), "Create capture target")) return nullptr;
    target = capture_target.get();
    if (!draw_committed_list()) {
      const std::string drawing_error = error_;
      canvas_.set_target(nullptr, "Restore capture target");
      error_ = drawing_error;
      apply_clip(nullptr);
      return nullptr;
    }
  }
  SurfacePtr pixels(SDL_CreateRGBSurfaceWithFormat(0, pixel_w_, pixel_h_, 32, SDL_PIXELFORMAT_ABGR8888));
  const bool read = pixels != nullptr && canvas_.read_pixels(pixels.get());
  if (!canvas_.set_target(nullptr, "Restore capture target")) return nullptr;
  // Switching targets resets SDL2's clip: the window's is none.
  if (!apply_clip(nullptr)) return nullptr;
  (void)target;
  if (!read) {
    set_error("Read frame pixels");
    return nullptr;
  }
  // A FIFO, a device or a link to one is refused instead of blocking the
  // host until somebody reads it.
  SDL_RWops* file = open_regular_file_stream(path, true);
  // Both savers close the stream, whether or not they succeed.
  const int saved = file == nullptr           ? -1
                    : ends_with_png(path) ? IMG_SavePNG_RW(pixels.get(), file, 1)
                                          : SDL_SaveBMP_RW(pixels.get(), file, 1);
  if (saved != 0) {
    set_sdl_error("Save captured frame");
    return nullptr;
  }
  JsonPtr result(cJSON_CreateObject());
  if (result == nullptr) return nullptr;
  cJSON_AddItemToObject(result.get(), "path", cJSON_CreateString(path));
  cJSON_AddItemToObject(result.get(), "width", cJSON_CreateNumber(pixel_w_));
  cJSON_AddItemToObject(result.get(), "height", cJSON_CreateNumber(pixel_h_));
  return result;
}

JsonPtr WindowBackend::configure(const cJSON* command, std::string_view invalid) {
  const cJSON* vsync = member(command, "vsync");
  const cJSON* reduce = member(command, "reduce_motion");
  const cJSON* ms = member(command, "transition_ms");
  const cJSON* seconds = member(command, "transition_seconds");
  const cJSON* scale = member(command, "scale");
  const cJSON* cache = member(command, "cache_scene");
  const bool valid = (vsync == nullptr || cJSON_IsBool(vsync) || number_in(vsync, 0, 1)) &&
                     (reduce == nullptr || cJSON_IsBool(reduce)) &&
                     (ms == nullptr || number_in(ms, 0, kMaxTransitionMs)) &&
                     (seconds == nullptr || number_in(seconds, 0, kMaxTransitionSeconds)) &&
                     (scale == nullptr || cJSON_IsNull(scale) || number_in(scale, kMinScale, kMaxScale)) &&
                     (cache == nullptr || cJSON_IsBool(cache));
  if (!valid) return set_error(invalid), nullptr;
  if (vsync != nullptr) {
    const int mode = cJSON_IsBool(vsync) ? (cJSON_IsTrue(vsync) ? 1 : 0) : static_cast<int>(vsync->valuedouble);
    if (!apply_vsync(mode)) return nullptr;
  }
  if (scale != nullptr) {
    invalidate_scene_cache();
    scale_follows_display_ = cJSON_IsNull(scale);
    if (!scale_follows_display_) fixed_scale_ = scale->valuedouble;
    if (!sync_drawable_size()) return nullptr;
  }
  if (reduce != nullptr && cJSON_IsTrue(reduce) != reduce_motion_) {
    invalidate_scene_cache();
    animating_ = true;
    settled_ = false;
    reduce_motion_ = cJSON_IsTrue(reduce);
  }
  if (cache != nullptr) {
    cache_scene_ = cJSON_IsTrue(cache);
    if (!cache_scene_) destroy_scene_cache();
  }
  if (ms != nullptr) {
    transition_seconds_ = ms->valuedouble / 1000;
  } else if (seconds != nullptr) {
    transition_seconds_ = seconds->valuedouble;
  }
  // Segments drop theirs at their next drawing.
  if (reduce_motion_) drop_committed_transition();
  return info();
}

}  // namespace lumora::window
