// The committed list: commit (checks, charges, copy, swap), drawing it into
// the window's back buffer through the scene cache texture or directly, and
// present.
#include <algorithm>
#include <cmath>
#include <new>

#include "scene/footprint.h"
#include "scene/scene_format.h"
#include "window/window_backend.h"

namespace lumora::window {

namespace {

using scene::ColorValue;

constexpr std::uint64_t kStartTimeBytes = 8;

// Readers of positional items; a missing item or one of the wrong type
// reads as the default, as for decoded commands.
const cJSON* item_at(const cJSON* command, int index) { return cJSON_GetArrayItem(command, index); }

double number_at(const cJSON* command, int index, double fallback) {
  const cJSON* item = item_at(command, index);
  return cJSON_IsNumber(item) ? item->valuedouble : fallback;
}

ColorValue colour_at(const cJSON* command, int index) {
  const cJSON* item = item_at(command, index);
  return cJSON_IsString(item) && item->valuestring != nullptr ? scene::parse_color(item->valuestring) : ColorValue{};
}

std::string_view string_at(const cJSON* command, int index) {
  const cJSON* item = item_at(command, index);
  return cJSON_IsString(item) && item->valuestring != nullptr ? std::string_view(item->valuestring) : std::string_view();
}

Rect rect_of(const cJSON* item) {
  return Rect{number_at(item, 0, 0), number_at(item, 1, 0), number_at(item, 2, 0), number_at(item, 3, 0)};
}

}  // namespace

std::uint64_t WindowBackend::scene_cache_bytes() const {
  return static_cast<std::uint64_t>(pixel_w_) * static_cast<std::uint64_t>(pixel_h_) * 4;
}

void WindowBackend::destroy_scene_cache() {
  scene_cache_.reset();
  scene_cache_valid_ = false;
}

bool WindowBackend::commit_scene(const cJSON* commands, scene::ErrorText error) {
  error_.clear();
  if (!cJSON_IsArray(commands)) {
    error.set("commands must be an array");
    return false;
  }
  std::uint64_t count = 0;
  for (const cJSON* command = commands->child; command != nullptr; command = command->next) {
    if (count >= scene::kMaxSceneCommands || !cJSON_IsArray(command)) {
      error.format("Invalid draw command at index %d (%.100s)", static_cast<int>(count),
                   std::string(scene::command_kind(command, "")).c_str());
      return false;
    }
    ++count;
  }
  std::uint64_t cost = scene::add_charge(scene::json_footprint_as_member(commands, "commands"),
                                         kStartTimeBytes * std::max<std::uint64_t>(1, count));
  if (cost > scene::kRetainedSceneBudget) {
    error.set("Retained scene exceeds 64 MiB memory budget");
    return false;
  }
  scene::JsonPtr copy(cJSON_Duplicate(commands, 1));
  if (copy == nullptr) {
    error.set("Cannot allocate retained commands");
    return false;
  }
  std::vector<double> start_times;
  try {
    start_times.resize(std::max<std::uint64_t>(1, count));
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate animation timestamps");
    return false;
  }
  const double now = window_now_seconds();
  const cJSON* previous = committed_list_ != nullptr ? committed_list_->child : nullptr;
  std::uint64_t index = 0;
  for (const cJSON* command = copy->child; command != nullptr; command = command->next, ++index) {
    const bool kept = previous != nullptr && index < start_times_.size() && scene::json_equal(previous, command);
    start_times[index] = kept ? start_times_[index] : now;
    if (previous != nullptr) previous = previous->next;
  }

  committed_list_ = std::move(copy);
  start_times_ = std::move(start_times);
  command_count_ = count;
  retained_bytes_ = cost;
  counters_.commands_touched += count;
  counters_.last_commands_touched = count;
  forget_source_identities();
  invalidate_scene_cache();
  last_commit_time_ = now;
  animating_ = false;
  settled_ = false;
  return true;
}

bool WindowBackend::draw_json_command(const cJSON* command) {
  const std::string_view kind = scene::command_kind(command, "");
  if (kind == "begin") {
    if (!apply_clip(nullptr)) return false;
    const ColorValue background = colour_at(command, 1);
    if (SDL_SetRenderDrawColor(renderer_.get(), background.r, background.g, background.b, background.a) != 0 ||
        SDL_RenderClear(renderer_.get()) != 0) {
      set_sdl_error("Clear renderer");
      return false;
    }
    return true;
  }
  if (kind == "clip") {
    const cJSON* rect = item_at(command, 1);
    if (rect == nullptr || cJSON_IsNull(rect)) return apply_clip(nullptr);
    const PixelRect clip = clip_rect_of(rect_of(rect), scale_);
    return apply_clip(&clip);
  }
  if (kind == "rect") {
    return draw_box(rect_of(item_at(command, 1)), colour_at(command, 2), number_at(command, 3, 0), colour_at(command, 4),
                    number_at(command, 5, 0));
  }
  if (kind == "text") {
    return draw_text(string_at(command, 1), number_at(command, 2, 0), number_at(command, 3, 0), colour_at(command, 4),
                     number_at(command, 5, 14), cJSON_IsTrue(item_at(command, 6)));
  }
  if (kind == "line") {
    return draw_line(number_at(command, 1, 0), number_at(command, 2, 0), number_at(command, 3, 0),
                     number_at(command, 4, 0), colour_at(command, 5), number_at(command, 6, 1));
  }
  if (kind == "lines" || kind == "segments") {
    const bool segments = kind == "segments";
    const ColorValue colour = colour_at(command, 2);
    const double width = number_at(command, 3, 1);
    const cJSON* points = item_at(command, 1);
    const cJSON* point = cJSON_IsArray(points) ? points->child : nullptr;
    while (point != nullptr && point->next != nullptr) {
      const cJSON* next = point->next;
      if (!draw_line(number_at(point, 0, 0), number_at(point, 1, 0), number_at(next, 0, 0), number_at(next, 1, 0),
                     colour, width)) {
        return false;
      }
      point = segments ? next->next : next;
    }
    return true;
  }
  if (kind == "image" || kind == "image_nine") {
    const cJSON* source = item_at(command, 1);
    if (!cJSON_IsString(source) || source->valuestring == nullptr) return true;
    const std::size_t length = std::string_view(source->valuestring).size();
    if (kind == "image") {
      const std::string_view fit = string_at(command, 4);
      return draw_image(source->valuestring, length, rect_of(item_at(command, 2)), colour_at(command, 3),
                        fit.empty() ? "stretch" : fit, nullptr);
    }
    const cJSON* inset_item = item_at(command, 3);
    const double insets[4] = {number_at(inset_item, 0, 0), number_at(inset_item, 1, 0), number_at(inset_item, 2, 0),
                              number_at(inset_item, 3, 0)};
    return draw_image(source->valuestring, length, rect_of(item_at(command, 2)), colour_at(command, 4), "stretch",
                      insets);
  }
  if (kind == "gradient_rect") {
    return draw_gradient(rect_of(item_at(command, 1)), colour_at(command, 2), colour_at(command, 3),
                         string_at(command, 4) == "horizontal", number_at(command, 5, 0), number_at(command, 6, 0));
  }
  if (kind == "caret") {
    const double x = number_at(command, 1, 0), y = number_at(command, 2, 0);
    return draw_line(x, y, x, y + number_at(command, 3, 0), colour_at(command, 4), 1);
  }
  if (kind == "focus_ring") {
    const Rect r = rect_of(item_at(command, 1));
    const double radius = number_at(command, 3, 0);
    return draw_box(Rect{r.x + 1, r.y + 1, std::max(0.0, r.w - 2), std::max(0.0, r.h - 2)}, ColorValue{},
                    std::max(0.0, radius - 1), colour_at(command, 2), 2);
  }
  // "styled_rect", "marker", "sprite" and "animated_rect" are drawn by their
  // own renderers, which arrive with styles and motion; until then they
  // draw nothing.
  return draw_styled_or_animated_hook(command);
}

bool WindowBackend::draw_styled_or_animated_hook(const cJSON*) { return true; }

bool WindowBackend::draw_committed_list() {
  error_.clear();
  if (!apply_clip(nullptr)) return false;
  const cJSON* first = committed_list_ != nullptr ? committed_list_->child : nullptr;
  if (first == nullptr || scene::command_kind(first, "") != "begin") {
    if (SDL_SetRenderDrawColor(renderer_.get(), 0, 0, 0, 255) != 0 || SDL_RenderClear(renderer_.get()) != 0) {
      set_sdl_error("Clear renderer");
      return false;
    }
  }
  if (first == nullptr) {
    settled_ = true;
    return true;
  }
  for (const cJSON* command = first; command != nullptr; command = command->next) {
    ++counters_.commands_replayed;
    ++counters_.last_commands_replayed;
    if (!draw_json_command(command)) return false;
  }
  settled_ = true;
  return true;
}

bool WindowBackend::ensure_scene_cache() {
  if (scene_cache_ != nullptr) return true;
  scene_cache_.reset(SDL_CreateTexture(renderer_.get(), SDL_PIXELFORMAT_RGBA8888, SDL_TEXTUREACCESS_TARGET, pixel_w_,
                                       pixel_h_));
  if (scene_cache_ == nullptr || SDL_SetTextureBlendMode(scene_cache_.get(), SDL_BLENDMODE_NONE) != 0 ||
      SDL_SetTextureScaleMode(scene_cache_.get(), SDL_ScaleModeNearest) != 0) {
    destroy_scene_cache();
    return false;
  }
  scene_cache_valid_ = false;
  return true;
}

bool WindowBackend::copy_scene_cache(const char* step) {
  if (SDL_RenderCopy(renderer_.get(), scene_cache_.get(), nullptr, nullptr) != 0) {
    set_sdl_error(step);
    return false;
  }
  return true;
}

bool WindowBackend::draw_scene_to_target() {
  counters_.last_commands_replayed = 0;
  counters_.last_segments_tested = 0;
  const std::uint64_t bytes = scene_cache_bytes();
  const bool cacheable = cache_scene_ && !animating_ && bytes >= 1 && bytes <= kMaxSceneCacheBytes;
  if (!cacheable) {
    scene_cache_valid_ = false;
    return draw_committed_list();
  }
  if (!ensure_scene_cache()) return draw_committed_list();
  if (scene_cache_valid_) {
    ++counters_.scene_cache_hits;
    return copy_scene_cache("Copy retained scene");
  }
  if (SDL_SetRenderTarget(renderer_.get(), scene_cache_.get()) != 0) {
    destroy_scene_cache();
    return draw_committed_list();
  }
  const bool drawn = draw_committed_list();
  const bool restored = SDL_SetRenderTarget(renderer_.get(), nullptr) == 0;
  if (!restored) {
    if (drawn) set_sdl_error("Restore window render target");
    return false;
  }
  // Switching the target resets SDL2's clip; the window's own is none.
  if (!apply_clip(nullptr) || !drawn) return false;
  // A freshly drawn cache is not a hit; its copies count from the next frame.
  scene_cache_valid_ = true;
  return copy_scene_cache("Copy retained scene");
}

bool WindowBackend::draw_retained_scene(scene::ErrorText error) {
  try {
    if (draw_scene_to_target()) return true;
  } catch (const std::bad_alloc&) {
    error_.clear();
  }
  copy_error(error);
  return false;
}

}  // namespace lumora::window
