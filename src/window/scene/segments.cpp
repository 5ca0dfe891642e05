#include "window/scene/segments.h"

#include <algorithm>

#include "scene/command_schema.h"
#include "scene/draw_validation.h"
#include "scene/footprint.h"
#include "scene/limits.h"
#include "scene/scene_format.h"
#include "window/render/motion.h"

namespace lumora::window {

bool WindowPatchRules::bounds_acceptable(const cJSON* bounds) const { return scene::strict_bounds_valid(bounds); }

const char* WindowPatchRules::commands_refused(const cJSON* commands) const {
  for (const cJSON* command = commands->child; command != nullptr; command = command->next) {
    if (!scene::validate_draw_command(command)) return kInvalidSegmentPatch;
    // A segment draws over the background and under later segments; a
    // "begin" would clear what was drawn before it.
    const scene::KindSchema* schema = scene::command_schema(command);
    if (schema != nullptr && schema->kind == scene::CommandKind::begin) return kInvalidSegmentPatch;
  }
  if (scene::json_footprint_as_member(commands, "commands") > scene::kRetainedSceneBudget) return kSceneOverBudget;
  return nullptr;
}

std::unique_ptr<WindowSegment> WindowPatchRules::build(std::string_view id, const cJSON* commands,
                                                       std::uint64_t command_count, const WindowSegment* replaced,
                                                       const char*& message) const {
  message = kSegmentPatchAllocation;
  auto segment = std::make_unique<WindowSegment>();
  segment->id.assign(id);
  segment->commands.reset(cJSON_Duplicate(commands, 1));
  if (segment->commands == nullptr) return nullptr;
  segment->command_count = command_count;
  segment->start_times.resize(std::max<std::uint64_t>(1, command_count));

  // Commands equal to the one at the same position of the replaced segment
  // keep their start time, so that re-sending a segment does not restart
  // its animations.
  const cJSON* previous = replaced != nullptr ? replaced->commands->child : nullptr;
  std::uint64_t index = 0;
  for (const cJSON* command = segment->commands->child; command != nullptr; command = command->next, ++index) {
    const bool kept =
        previous != nullptr && index < replaced->start_times.size() && scene::json_equal(previous, command);
    segment->start_times[index] = kept ? replaced->start_times[index] : now;
    if (previous != nullptr) previous = previous->next;
  }

  std::uint64_t charge = kSegmentRecordBytes + id.size();
  charge = scene::add_charge(charge, kStartTimeBytes * std::max<std::uint64_t>(1, command_count));
  charge = scene::add_charge(charge, scene::json_footprint_as_member(segment->commands.get(), "commands"));
  if (command_count > 0 && !decode_draw_commands(segment->commands.get(), command_count, segment->decoded)) {
    return nullptr;
  }
  charge = scene::add_charge(charge, segment->decoded.charge());
  if (charge > scene::kRetainedSceneBudget) {
    message = kSceneOverBudget;
    return nullptr;
  }
  segment->charge = charge;
  const AnimationHorizon horizon = animation_horizon(segment->decoded.commands(), segment->start_times, now);
  segment->animation_end = horizon.end;
  segment->loops = horizon.loops;
  segment->animating = segment->loops || now < segment->animation_end;
  segment->content_extent = list_bounds(segment->decoded.commands(), bounds);
  segment->extent = segment->content_extent;
  if (replaced != nullptr && !keep_transition_snapshot(*segment, *replaced, message)) return nullptr;
  return segment;
}

// The replaced segment's list fades out while the new one fades in, when
// some position changed in a way that can blend. Its area stays part of the
// extent until then, so that what it painted is cleared.
bool WindowPatchRules::keep_transition_snapshot(WindowSegment& segment, const WindowSegment& replaced,
                                                const char*& message) const {
  if (!make_transition_snapshot(segment.commands.get(), replaced.commands.get(), replaced.transition, now,
                                transition_seconds, reduce_motion, segment.transition)) {
    message = kSegmentPatchAllocation;
    return false;
  }
  if (!segment.transition.kept()) return true;
  segment.charge = scene::add_charge(segment.charge, segment.transition.cost);
  if (segment.charge > scene::kRetainedSceneBudget) {
    message = kSceneOverBudget;
    return false;
  }
  segment.extent = unite_rects(segment.extent, replaced.extent);
  return true;
}

void ActiveSegments::push_front(WindowSegment* segment) {
  if (segment->active) return;
  segment->active = true;
  segment->active_prev = nullptr;
  segment->active_next = head;
  if (head != nullptr) head->active_prev = segment;
  head = segment;
  ++count;
}

void ActiveSegments::remove(WindowSegment* segment) {
  if (!segment->active) return;
  if (segment->active_prev != nullptr) {
    segment->active_prev->active_next = segment->active_next;
  } else {
    head = segment->active_next;
  }
  if (segment->active_next != nullptr) segment->active_next->active_prev = segment->active_prev;
  segment->active_prev = segment->active_next = nullptr;
  segment->active = false;
  --count;
}

std::uint64_t segment_index_cost(std::uint64_t slots, std::uint64_t entries, std::uint64_t resulting_segments) {
  if (resulting_segments == 0) return 0;
  return kOrderSlotBytes * (slots + 1) + kLookupSlotBytes * scene::id_table_capacity(entries);
}

}  // namespace lumora::window
