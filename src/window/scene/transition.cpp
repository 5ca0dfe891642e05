#include "window/scene/transition.h"

#include <new>

#include "scene/animation_timing.h"
#include "scene/blend.h"
#include "scene/footprint.h"
#include "window/window_backend.h"

namespace lumora::window {
namespace {

double lerp(double a, double b, double t) { return a + (b - a) * t; }

// The kinds whose second colour (`color2`) blends as well: a rect's border
// and a gradient's end colour.
bool blends_second_colour(DrawKind kind) { return kind == DrawKind::rect || kind == DrawKind::gradient_rect; }

}  // namespace

double TransitionSnapshot::progress(double now, bool reduced_motion) const {
  if (!kept()) return 1;
  return scene::eased_progress(now, start, duration, reduced_motion);
}

bool make_transition_snapshot(const cJSON* next, const cJSON* shown, const TransitionSnapshot& shown_transition,
                              double now, double duration, bool reduced_motion, TransitionSnapshot& out) {
  out.release();
  if (shown == nullptr || !(duration > 0) || reduced_motion) return true;
  json::JsonPtr copy(cJSON_Duplicate(shown, 1));
  if (copy == nullptr) return false;
  const double shown_progress = shown_transition.progress(now, reduced_motion);
  try {
    // Colours are formatted through strings, which may throw.
    if (shown_progress < 1 && !scene::blend_list_back(copy.get(), shown_transition.list.get(), shown_progress)) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!scene::lists_need_transition(next, copy.get())) return true;
  out.cost = scene::json_footprint_as_member(copy.get(), "commands");
  out.command_count = static_cast<std::uint64_t>(cJSON_GetArraySize(copy.get()));
  out.start = now;
  out.duration = duration;
  out.list = std::move(copy);
  return true;
}

TransitionPairs::TransitionPairs(const cJSON* list, const TransitionSnapshot& snapshot, double progress)
    : progress_(progress) {
  active_ = snapshot.kept() && progress < 1 && cJSON_IsArray(list);
  if (!active_) return;
  command_ = list->child;
  old_ = snapshot.list->child;
}

const DrawCommand& TransitionPairs::next(const DrawCommand& decoded, DrawCommand& scratch) {
  if (!active_) return decoded;
  const cJSON* command = command_;
  const cJSON* old = old_;
  if (command_ != nullptr) command_ = command_->next;
  if (old_ != nullptr) old_ = old_->next;
  if (command == nullptr || old == nullptr) return decoded;
  return blend_draw_command(decoded, command, old, progress_, scratch) ? scratch : decoded;
}

bool blend_draw_command(const DrawCommand& current, const cJSON* command, const cJSON* old, double t,
                        DrawCommand& out) {
  if (current.kind == DrawKind::styled_rect || current.kind == DrawKind::marker) {
    const DrawCommand before = decode_draw_command_fields(old);
    if (before.kind != current.kind) return false;
    out = current;
    out.rect = Rect{lerp(before.rect.x, current.rect.x, t), lerp(before.rect.y, current.rect.y, t),
                    lerp(before.rect.w, current.rect.w, t), lerp(before.rect.h, current.rect.h, t)};
    out.style = scene::blend_style(before.style, current.style, t);
    return true;
  }
  // Only colours blend, and only when everything else is equal; a pair
  // that differs in anything else shows the new command at once.
  if (scene::transition_mask(command, old) == 0) return false;
  const DrawCommand before = decode_draw_command_fields(old);
  out = current;
  out.color = scene::blend_color(before.color, current.color, t, true);
  if (blends_second_colour(current.kind)) out.color2 = scene::blend_color(before.color2, current.color2, t, true);
  return true;
}

// ---- The backend's snapshots ----------------------------------------------

bool WindowBackend::transition_running() const {
  return !segmented_ && !reduce_motion_ && committed_transition_.kept();
}

void WindowBackend::drop_committed_transition() {
  if (!committed_transition_.kept()) return;
  retained_bytes_ -= committed_transition_.cost;
  committed_transition_.release();
}

void WindowBackend::drop_segment_transition(WindowSegment& segment) {
  if (!segment.transition.kept()) return;
  retained_bytes_ -= segment.transition.cost;
  segment.charge -= segment.transition.cost;
  segment.transition.release();
  segment.extent = segment.content_extent;
}

std::uint64_t WindowBackend::transition_snapshot_commands() const {
  std::uint64_t commands = 0;
  for (const WindowSegment* segment = active_segments_.head; segment != nullptr; segment = segment->active_next) {
    commands += segment->transition.command_count;
  }
  return commands;
}

}  // namespace lumora::window
