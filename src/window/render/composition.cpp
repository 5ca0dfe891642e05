// The committed list: commit (checks, charges, copy, swap), drawing it into
// the window's back buffer through the scene cache texture or directly, and
// present.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <span>

#include "scene/draw_validation.h"
#include "scene/footprint.h"
#include "scene/scene_format.h"
#include "window/render/motion.h"
#include "window/render/styled_rect.h"
#include "window/scene/transition.h"
#include "window/window_backend.h"

namespace lumora::window {

namespace {

using scene::ColorValue;


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
    if (count >= scene::kMaxSceneCommands || !scene::validate_draw_command(command)) {
      // Formatted in the window's own error text, so that the kind the
      // controller sent is cut there, at a character boundary.
      scene::ErrorBuffer<kWindowErrorTextSize> text;
      scene::report_invalid_draw_command(text.text(), count, command);
      set_error(text.c_str());
      copy_error(error);
      return false;
    }
    ++count;
  }
  // The same list again keeps what it built, the scene cache included:
  // every command keeps its start time and no transition is needed.
  if (!segmented_ && committed_list_ != nullptr && !transition_running() &&
      scene::json_equal(committed_list_.get(), commands)) {
    counters_.commands_touched += count;
    counters_.last_commands_touched = count;
    return true;
  }
  std::uint64_t cost = scene::add_charge(scene::json_footprint_as_member(commands, "commands"),
                                         kStartTimeBytes * std::max<std::uint64_t>(1, count));
  if (cost > scene::kRetainedSceneBudget) {
    error.set("Retained scene exceeds 64 MiB memory budget");
    return false;
  }
  json::JsonPtr copy(cJSON_Duplicate(commands, 1));
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
  const double commit_time = now();
  const cJSON* previous = committed_list_ != nullptr ? committed_list_->child : nullptr;
  std::uint64_t index = 0;
  for (const cJSON* command = copy->child; command != nullptr; command = command->next, ++index) {
    const bool kept = previous != nullptr && index < start_times_.size() && scene::json_equal(previous, command);
    start_times[index] = kept ? start_times_[index] : commit_time;
    if (previous != nullptr) previous = previous->next;
  }

  // What was on screen fades into the new list when some position changed
  // in a way that can blend.
  TransitionSnapshot transition;
  if (!make_transition_snapshot(copy.get(), committed_list_.get(), committed_transition_, commit_time,
                                transition_seconds_, reduce_motion_, transition)) {
    error.set("Cannot allocate transition snapshot");
    return false;
  }
  cost = scene::add_charge(cost, transition.cost);
  if (cost > scene::kRetainedSceneBudget) {
    error.set("Retained scene exceeds 64 MiB memory budget");
    return false;
  }

  DecodedList decoded;
  if (count > 0 && !decode_draw_commands(copy.get(), count, decoded)) {
    error.set("Cannot allocate decoded commands");
    return false;
  }
  cost = scene::add_charge(cost, decoded.charge());
  if (cost > scene::kRetainedSceneBudget) {
    error.set("Retained scene exceeds 64 MiB memory budget");
    return false;
  }
  const AnimationHorizon horizon = animation_horizon(decoded.commands(), start_times, commit_time);

  release_segments();
  decoded_ = std::move(decoded);
  committed_list_ = std::move(copy);
  start_times_ = std::move(start_times);
  committed_transition_ = std::move(transition);
  command_count_ = count;
  retained_bytes_ = cost;
  counters_.commands_touched += count;
  counters_.last_commands_touched = count;
  forget_source_identities();
  invalidate_scene_cache();
  last_commit_time_ = commit_time;
  animation_end_ = horizon.end;
  animation_loops_ = horizon.loops;
  animating_ = commit_time < horizon.end;
  settled_ = false;
  return true;
}

bool WindowBackend::draw_command(const DrawCommand& command, double now, double start) {
  switch (command.kind) {
    case DrawKind::begin: {
      if (!apply_clip(nullptr)) return false;
      return canvas_.clear(command.color);
    }
    case DrawKind::clip: {
      if (command.flag != 0) return apply_clip(nullptr);
      const PixelRect clip = clip_rect_of(command.rect, scale_);
      return apply_clip(&clip);
    }
    case DrawKind::rect:
      return draw_box(command.rect, command.color, command.a, command.color2, command.b);
    case DrawKind::text:
      return draw_text(command.text != nullptr ? command.text : "", command.a, command.b, command.color, command.c,
                       command.flag != 0);
    case DrawKind::line:
      return draw_line(command.a, command.b, command.from, command.to, command.color, command.c);
    case DrawKind::lines: {
      const int step = command.flag != 0 ? 2 : 1;
      for (std::int64_t i = 0; i + 1 < command.point_count; i += step) {
        const Point& p = command.points[i];
        const Point& q = command.points[i + 1];
        if (!draw_line(p.x, p.y, q.x, q.y, command.color, command.a)) return false;
      }
      return true;
    }
    case DrawKind::image:
    case DrawKind::image_nine: {
      if (command.text == nullptr) return true;
      const std::size_t length = std::string_view(command.text).size();
      if (command.kind == DrawKind::image) {
        return draw_image(command.text, length, command.rect, command.color,
                          command.mode != nullptr ? command.mode : "stretch", nullptr);
      }
      return draw_image(command.text, length, command.rect, command.color, "stretch", command.insets);
    }
    case DrawKind::gradient_rect:
      return draw_gradient(command.rect, command.color, command.color2, command.flag != 0, command.a, command.b);
    case DrawKind::caret:
      return draw_line(command.a, command.b, command.a, command.b + command.c, command.color, 1);
    case DrawKind::focus_ring: {
      const Rect& r = command.rect;
      return draw_box(Rect{r.x + 1, r.y + 1, std::max(0.0, r.w - 2), std::max(0.0, r.h - 2)}, ColorValue{},
                      std::max(0.0, command.a - 1), command.color, 2);
    }
    case DrawKind::styled_rect:
    case DrawKind::marker:
    case DrawKind::sprite:
    case DrawKind::animated_rect:
      return draw_styled_or_animated_hook(command, now, start);
    case DrawKind::unknown:
    case DrawKind::icon:  // never decoded: draw_kind_of maps it to unknown
      return true;
  }
  return true;
}

bool WindowBackend::draw_styled_or_animated_hook(const DrawCommand& command, double now, double start) {
  switch (command.kind) {
    case DrawKind::styled_rect:
      return draw_styled_rect(*this, command.rect, command.style, effect_clip_of(command.effect_clip));
    case DrawKind::marker:
      return draw_marker(*this, command.rect, command.style, command.mode, command.flag != 0,
                         effect_clip_of(command.effect_clip));
    case DrawKind::sprite:
      return draw_sprite(*this, command, elapsed_since(now, start), reduce_motion_);
    case DrawKind::animated_rect:
      return draw_animated_rect(*this, command, elapsed_since(now, start), reduce_motion_);
    default:
      return true;
  }
}

bool WindowBackend::draw_committed_list() {
  // One reading of the clock for the whole list, so that the settling below
  // judges the state that was drawn.
  const double now = this->now();
  if (segmented_) return draw_segments(now);
  error_.clear();
  if (!apply_clip(nullptr)) return false;
  const cJSON* first = committed_list_ != nullptr ? committed_list_->child : nullptr;
  if (first == nullptr || scene::command_kind(first, "") != "begin") {
    if (!canvas_.clear(scene::rgba(0, 0, 0, 255))) return false;
  }
  if (first == nullptr) {
    settled_ = true;
    return true;
  }
  // Settled content is drawn from the decoded commands; while a transition
  // runs each command is paired with the snapshot's at its position.
  const double progress = committed_transition_.progress(now, reduce_motion_);
  TransitionPairs pairs(committed_list_.get(), committed_transition_, progress);
  DrawCommand blended;
  const std::span<const DrawCommand> commands = decoded_.commands();
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const DrawCommand& command = pairs.next(commands[i], blended);
    ++counters_.commands_replayed;
    ++counters_.last_commands_replayed;
    const double start = i < start_times_.size() ? start_times_[i] : last_commit_time_;
    if (!draw_command(command, now, start)) return false;
  }
  if (progress >= 1) drop_committed_transition();
  settled_ = reduce_motion_ || now >= animation_end_;
  return true;
}

// ---- Segmented form ---------------------------------------------------------

void WindowBackend::release_segments() {
  segments_.clear();
  segment_index_.clear();
  index_cost_ = 0;
  segmented_ = false;
  damage_.clear();
  extents_stale_ = false;
  active_segments_.clear();
}

namespace {

bool measure_for_bounds(void* context, const char* text, double size, bool mono, double& width, double& height) {
  return static_cast<WindowBackend*>(context)->measure_text(text, size, mono, width, height);
}

// The "background" member: a string of at most 16 MiB in colour syntax.
bool read_background(const cJSON* item, ColorValue& background) {
  if (!cJSON_IsString(item) || item->valuestring == nullptr ||
      strnlen(item->valuestring, scene::kMaxStringBytes + 1) > scene::kMaxStringBytes) {
    return false;
  }
  const ColorValue parsed = scene::parse_color(item->valuestring);
  if (!parsed.present) return false;
  background = parsed;
  return true;
}

}  // namespace

bool WindowBackend::patch_scene(const cJSON* command, scene::ErrorText error) {
  error_.clear();
  try {
    return patch_segments(command, error);
  } catch (const std::bad_alloc&) {
    error.set(kSegmentPatchAllocation);
    return false;
  }
}

bool WindowBackend::patch_segments(const cJSON* command, scene::ErrorText error) {
  scene::PatchMembers members;
  if (!scene::read_patch_members(command, members)) {
    error.set(kInvalidSegmentPatch);
    return false;
  }
  ColorValue background = segmented_ ? background_ : scene::rgba(0, 0, 0, 255);
  if (members.background != nullptr && !read_background(members.background, background)) {
    error.set(kInvalidSegmentPatch);
    return false;
  }

  // Everything below is built on the side; the retained scene changes only
  // at the install step. A first patch starts from no segments.
  const std::span<const std::unique_ptr<WindowSegment>> retained =
      segmented_ ? std::span<const std::unique_ptr<WindowSegment>>(segments_)
                 : std::span<const std::unique_ptr<WindowSegment>>();
  WindowPatchRules rules;
  rules.now = now();
  rules.transition_seconds = transition_seconds_;
  rules.reduce_motion = reduce_motion_;
  rules.bounds = BoundsContext{scale_, measure_for_bounds, this};
  scene::SegmentPatch<WindowSegment> plan;
  if (!scene::plan_segment_patch(members, retained, segment_index_, rules, plan, error)) return false;

  const std::uint64_t before = retained.size();
  const bool in_place = segmented_ && members.order == nullptr && plan.removals == 0 && members.remove_count == 0 &&
                        plan.order.size() == before;
  std::uint64_t index_cost = index_cost_;
  if (!in_place) {
    const std::uint64_t entries = members.upsert_count + before;
    const std::uint64_t slots = members.order != nullptr ? plan.order.size() : entries;
    index_cost = segment_index_cost(slots, entries, plan.order.size());
  }
  const std::uint64_t total = scene::add_charge(plan.total_charge, index_cost);
  if (total > scene::kRetainedSceneBudget) {
    error.set(kSceneOverBudget);
    return false;
  }

  // Install; nothing below fails but the one allocation of the order.
  const std::uint64_t built = plan.built.size();
  // Other changes are damage, redrawn from the cache at the next present.
  const bool redraw = !segmented_ || background != background_;
  const bool had_list = committed_list_ != nullptr;
  std::vector<WindowSegment*> built_records;
  built_records.reserve(built);
  for (const std::unique_ptr<WindowSegment>& segment : plan.built) built_records.push_back(segment.get());
  damage_.reserve(kMaxDamageRects + 1);  // adding damage below cannot allocate
  std::vector<std::unique_ptr<WindowSegment>> next = scene::adopt_segments(plan, segments_);
  // Nothing below allocates. What adopt_segments left behind is removed or
  // replaced; it is freed with the old order.
  const bool damage = segmented_ && background == background_;
  for (const std::unique_ptr<WindowSegment>& gone : segments_) {
    if (gone == nullptr) continue;
    if (damage) add_logical_damage(gone->extent);
    active_segments_.remove(gone.get());
  }
  for (WindowSegment* segment : built_records) {
    if (damage) add_logical_damage(segment->extent);
    if (segment->loops || segment->animating || segment->transition.kept()) active_segments_.push_front(segment);
  }
  if (damage && members.order != nullptr && order_changed(next)) {
    for (const std::unique_ptr<WindowSegment>& segment : next) add_logical_damage(segment->extent);
  }
  segments_ = std::move(next);
  segment_index_ = std::move(plan.index);
  index_cost_ = segments_.empty() ? 0 : index_cost;
  background_ = background;
  segmented_ = true;
  committed_list_.reset();
  committed_transition_.release();
  decoded_.release();
  std::vector<double>().swap(start_times_);
  animation_end_ = 0;
  animation_loops_ = false;
  command_count_ = plan.total_commands;
  retained_bytes_ = total;
  if (built > 0 || plan.removals > 0 || had_list) forget_source_identities();
  if (redraw) invalidate_scene_cache();
  animating_ = false;
  settled_ = true;
  counters_.commands_touched += plan.patch_commands;
  counters_.last_commands_touched = plan.patch_commands;
  counters_.segments_updated += built;
  counters_.unchanged_segments += plan.unchanged;
  counters_.segments_removed += plan.removals;
  counters_.scene_patch_updates += 1;
  return true;
}

// Whether two segments that existed before stand in the other order now;
// the retained index still holds their old positions. A patch that starts
// the segmented form or changes the background redraws everything through
// an invalid cache instead of damage.
bool WindowBackend::order_changed(const std::vector<std::unique_ptr<WindowSegment>>& next) const {
  std::uint64_t last = 0;
  bool first = true;
  for (const std::unique_ptr<WindowSegment>& segment : next) {
    const auto* before = segment_index_.find(segment->id);
    if (before == nullptr) continue;
    if (!first && before->position < last) return true;
    last = before->position;
    first = false;
  }
  return false;
}

void WindowBackend::recompute_extents() {
  const BoundsContext bounds{scale_, measure_for_bounds, this};
  for (const std::unique_ptr<WindowSegment>& segment : segments_) {
    segment->content_extent = list_bounds(segment->decoded.commands(), bounds);
    segment->extent = segment->content_extent;
    if (segment->transition.kept()) {
      segment->extent = unite_rects(segment->extent, list_bounds(segment->transition.list.get(), bounds));
    }
  }
  extents_stale_ = false;
}

// Each damaged rectangle is cleared to the background; then every segment
// whose extent overlaps it is drawn again, clipped to it. Two rectangles are
// drawn as their union: one pass over the segments costs less than two.
bool WindowBackend::redraw_damage(double now) {
  std::vector<Rect> rects = damage_;
  if (rects.size() == 2) rects = {unite_rects(rects[0], rects[1])};
  std::vector<PixelRect> pixels;
  pixels.reserve(rects.size());
  for (Rect& r : rects) {
    const PixelRect p = damage_pixels(r, scale_);
    pixels.push_back(p);
    r = Rect{p.x / scale_, p.y / scale_, p.w / scale_, p.h / scale_};
  }
  auto finish = [&](bool ok) {
    damage_clip_active_ = false;
    return apply_clip(nullptr) && ok;
  };
  for (const PixelRect& p : pixels) {
    damage_clip_active_ = true;
    damage_clip_ = p;
    if (!apply_clip(nullptr)) return finish(false);
    if (!canvas_.replace_clip_area(background_, "Clear damaged area")) return finish(false);
  }
  for (const std::unique_ptr<WindowSegment>& segment : segments_) {
    ++counters_.segments_tested;
    ++counters_.last_segments_tested;
    for (std::size_t i = 0; i < rects.size(); ++i) {
      if (segment->decoded.empty() || !rects_overlap(rects[i], segment->extent)) continue;
      damage_clip_ = pixels[i];
      if (!apply_clip(nullptr)) return finish(false);
      if (!draw_segment_commands(*segment, now)) return finish(false);
    }
  }
  return finish(true);
}

// The segmented scene through the scene cache: only the damage is redrawn
// into it, and an unchanged scene is one copy. Without a usable cache every
// present draws everything directly.
bool WindowBackend::compose_segments() {
  const double now = this->now();
  if (extents_stale_) recompute_extents();
  const std::uint64_t bytes = scene_cache_bytes();
  bool usable = cache_scene_ && bytes >= 1 && bytes <= kMaxSceneCacheBytes;
  if (usable && !ensure_scene_cache()) usable = false;
  if (!usable) {
    scene_cache_valid_ = false;
    if (!draw_segments(now)) return false;
    damage_.clear();
    settle_segments(now);
    return true;
  }
  if (!scene_cache_valid_) {
    damage_.clear();
    add_logical_damage(Rect{0, 0, logical_w_, logical_h_});
  }
  if (!reduce_motion_) {
    for (WindowSegment* segment = active_segments_.head; segment != nullptr; segment = segment->active_next) {
      add_logical_damage(segment->extent);
      ++counters_.animation_segments_tested;
    }
  }
  if (!damage_.empty()) {
    if (!canvas_.set_target(scene_cache_.get(), "Set render target")) {
      destroy_scene_cache();
      if (!draw_segments(now)) return false;
      damage_.clear();
      settle_segments(now);
      return true;
    }
    scene_cache_valid_ = false;
    if (!back_to_window(redraw_damage(now))) return false;
    scene_cache_valid_ = true;
  } else {
    ++counters_.scene_cache_hits;
  }
  if (!copy_scene_cache("Copy retained segments")) return false;
  damage_.clear();
  settle_segments(now);
  return true;
}

// Segments whose animations are over leave the active list; one more frame
// is presented so that their final state shows.
void WindowBackend::settle_segments(double now) {
  for (WindowSegment* segment = active_segments_.head; segment != nullptr;) {
    WindowSegment* next = segment->active_next;
    if (segment->transition.kept() && !segment->transition.running(now, reduce_motion_)) {
      drop_segment_transition(*segment);
    }
    if (reduce_motion_ || (!segment->loops && now >= segment->animation_end)) segment->animating = false;
    if (!segment->loops && !segment->animating && !segment->transition.kept()) {
      active_segments_.remove(segment);
      animating_ = true;
    }
    segment = next;
  }
}

// A segment's decoded commands, each timed from its own start.
bool WindowBackend::draw_segment_commands(const WindowSegment& segment, double now) {
  // While the segment fades, each command is paired with its snapshot's.
  TransitionPairs pairs(segment.commands.get(), segment.transition, segment.transition.progress(now, reduce_motion_));
  DrawCommand blended;
  const std::span<const DrawCommand> commands = segment.decoded.commands();
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const DrawCommand& command = pairs.next(commands[i], blended);
    ++counters_.commands_replayed;
    ++counters_.last_commands_replayed;
    const double start = i < segment.start_times.size() ? segment.start_times[i] : now;
    if (!draw_command(command, now, start)) return false;
  }
  return true;
}

// Every segment over the background, each starting without a clip as its
// extent was measured.
bool WindowBackend::draw_segments(double now) {
  error_.clear();
  if (!apply_clip(nullptr)) return false;
  if (!canvas_.clear(background_)) return false;
  for (const std::unique_ptr<WindowSegment>& segment : segments_) {
    ++counters_.segments_tested;
    ++counters_.last_segments_tested;
    if (segment->decoded.empty()) continue;
    if (!apply_clip(nullptr)) return false;
    if (!draw_segment_commands(*segment, now)) return false;
  }
  return apply_clip(nullptr);
}

// The window as render target again after drawing into the scene cache;
// a failed drawing keeps its own message.
bool WindowBackend::back_to_window(bool drawn) {
  const std::string drawing_error = error_;
  if (!canvas_.set_target(nullptr, "Restore window render target")) {
    if (!drawn) error_ = drawing_error;
    return false;
  }
  return apply_clip(nullptr) && drawn;
}

bool WindowBackend::ensure_scene_cache() {
  if (scene_cache_ != nullptr) return true;
  scene_cache_ = canvas_.create_target(pixel_w_, pixel_h_);
  if (scene_cache_ == nullptr) return false;
  scene_cache_valid_ = false;
  return true;
}

bool WindowBackend::copy_scene_cache(const char* step) {
  return canvas_.copy_whole(scene_cache_.get(), step);
}

bool WindowBackend::draw_scene_to_target() {
  counters_.last_commands_replayed = 0;
  counters_.last_segments_tested = 0;
  if (segmented_) return compose_segments();
  const std::uint64_t bytes = scene_cache_bytes();
  // A list that moves is drawn afresh every frame; the cache would be a copy more.
  const bool still = !animating_ && (!animation_loops_ || reduce_motion_) && !transition_running();
  const bool cacheable = cache_scene_ && still && bytes >= 1 && bytes <= kMaxSceneCacheBytes;
  if (!cacheable) {
    scene_cache_valid_ = false;
    return draw_committed_list();
  }
  if (!ensure_scene_cache()) return draw_committed_list();
  if (scene_cache_valid_) {
    ++counters_.scene_cache_hits;
    return copy_scene_cache("Copy retained scene");
  }
  if (!canvas_.set_target(scene_cache_.get(), "Set render target")) {
    destroy_scene_cache();
    return draw_committed_list();
  }
  if (!back_to_window(draw_committed_list())) return false;
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
