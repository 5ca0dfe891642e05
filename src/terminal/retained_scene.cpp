#include "terminal/retained_scene.h"

#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "image/png_source.h"
#include "scene/command_schema.h"
#include "scene/footprint.h"
#include "scene/scene_format.h"
#include "scene/style.h"
#include "terminal/retained_copy.h"

namespace lumora::terminal {
namespace {

// A segment's charge beyond its list: the record and the id's terminator.
constexpr std::uint64_t kSegmentOverhead = 33;

constexpr const char* kInvalidList = "Invalid or oversized retained command list";
constexpr const char* kInvalidPatch = "Invalid retained terminal segment patch";
constexpr const char* kPatchAllocation = "Cannot allocate retained terminal segment patch";
constexpr const char* kOverBudget = "Retained scene exceeds 64 MiB memory budget";


bool string_within(const cJSON* item, std::size_t limit) {
  return item->valuestring != nullptr && strnlen(item->valuestring, limit + 1) <= limit;
}

// Read by the type byte rather than through the library's predicates: a
// list holds hundreds of values and each predicate is a call.
bool value_acceptable(const cJSON* value, int level) {
  if (level > kMaxRetainedDepth) return false;
  switch (value->type & 0xFF) {
    case cJSON_Number: return std::isfinite(value->valuedouble);
    case cJSON_String: return string_within(value, kMaxRetainedStringBytes);
    case cJSON_Array:
    case cJSON_Object:
      for (const cJSON* child = value->child; child != nullptr; child = child->next) {
        if (!value_acceptable(child, level + 1)) return false;
      }
      return true;
    case cJSON_Raw:
    case cJSON_Invalid: return false;
    default: return true;  // false, true and null
  }
}

bool command_acceptable(const cJSON* command) {
  if (!cJSON_IsArray(command)) return false;
  const cJSON* first = command->child;
  const scene::KindSchema* schema = scene::command_schema(command);
  const scene::CommandKind kind = schema != nullptr ? schema->kind : scene::CommandKind::unknown;
  const bool styled = kind == scene::CommandKind::styled_rect || kind == scene::CommandKind::marker;
  const bool image = kind == scene::CommandKind::image || kind == scene::CommandKind::image_nine;
  if (styled) {
    const cJSON* style = first->next != nullptr ? first->next->next : nullptr;
    if (!scene::style_names_acceptable(style)) return false;
  }
  int position = 0;
  for (const cJSON* item = first; item != nullptr; item = item->next, ++position) {
    if (styled && position == 2) continue;
    if (image && position == 1 && cJSON_IsString(item) && item->valuestring != nullptr &&
        std::strncmp(item->valuestring, image::kPngDataUriPrefix.data(), image::kPngDataUriPrefix.size()) == 0) {
      if (!image::png_data_uri_within_limits(item->valuestring)) return false;
      continue;
    }
    if (!value_acceptable(item, 3)) return false;
  }
  return true;
}

bool is_begin(const cJSON* command) {
  const scene::KindSchema* schema = scene::command_schema(command);
  return schema != nullptr && schema->kind == scene::CommandKind::begin;
}

std::uint64_t segment_charge(const cJSON* commands, std::size_t id_length) {
  return scene::add_charge(scene::json_footprint_as_member(commands, "commands"), id_length + kSegmentOverhead);
}

// What the terminal's patch adds to the shared bookkeeping: its messages, its
// looser "bounds", the retained-list check, and a record that holds only the
// copied list and its charge.
struct TerminalPatchRules {
  scene::PatchMessages messages{kInvalidPatch, kPatchAllocation, kOverBudget};

  bool bounds_acceptable(const cJSON* bounds) const { return rect_without_negative_extent(bounds); }

  const char* commands_refused(const cJSON* commands) const;

  std::unique_ptr<TerminalSegment> build(std::string_view id, const cJSON* commands, std::uint64_t command_count,
                                         const TerminalSegment*, const char*& message) const {
    const std::uint64_t charge = segment_charge(commands, id.size());
    if (charge > scene::kRetainedSceneBudget) {
      message = kOverBudget;
      return nullptr;
    }
    auto segment = std::make_unique<TerminalSegment>();
    segment->id.assign(id);
    segment->commands.reset(cJSON_Duplicate(commands, 1));
    if (!segment->commands) {
      message = kPatchAllocation;
      return nullptr;
    }
    segment->command_count = command_count;
    segment->charge = charge;
    return segment;
  }
};

}  // namespace

// ---- Retained-list check ------------------------------------------------------

bool retained_list_acceptable(const cJSON* list) {
  if (!cJSON_IsArray(list)) return false;
  for (const cJSON* command = list->child; command != nullptr; command = command->next) {
    if (!command_acceptable(command)) return false;
  }
  return true;
}

const char* TerminalPatchRules::commands_refused(const cJSON* commands) const {
  if (!retained_list_acceptable(commands)) return kInvalidPatch;
  for (const cJSON* item = commands->child; item != nullptr; item = item->next) {
    if (is_begin(item)) return kInvalidPatch;
  }
  return nullptr;
}

// ---- TerminalScene ----------------------------------------------------------

TerminalScene::~TerminalScene() = default;

bool TerminalScene::frame_reusable(const RasterContext& context) const {
  return current_frame_ && !frame_invalid_ && current_frame_->columns == context.columns &&
         current_frame_->rows == context.rows && current_frame_->monochrome == context.monochrome;
}

void TerminalScene::clear() {
  committed_.clear();
  segments_.clear();
  segment_lists_.clear();
  index_.clear();
  segment_mode_ = false;
  background_ = kOpaqueBlack;
  command_count_ = 0;
  retained_bytes_ = 0;
  current_frame_.reset();
  recycler_.clear();
  frame_invalid_ = false;
  committed_since_present_ = false;
}

RasterContext TerminalScene::recycling(const RasterContext& context) {
  RasterContext with_frames = context;
  with_frames.frames = &recycler_;
  return with_frames;
}

void TerminalScene::install_frame(CellFrameRef frame, std::uint64_t commands, std::uint64_t segments) {
  recycler_.keep(std::move(current_frame_));
  current_frame_ = std::move(frame);
  frame_invalid_ = false;
  counters_.cell_frames_composed += 1;
  counters_.commands_replayed += commands;
  counters_.segments_tested += segments;
  counters_.last_commands_replayed = commands;
  counters_.last_segments_tested = segments;
}

bool TerminalScene::commit(const RasterContext& context, const cJSON* commands, scene::ErrorText error) {
  const std::uint64_t n = scene::array_length_capped(commands, scene::kMaxSceneCommands);
  if (!cJSON_IsArray(commands) || n > scene::kMaxSceneCommands || !retained_list_acceptable(commands)) {
    error.set(kInvalidList);
    return false;
  }
  RetainedCopy& copy = update_;
  const bool prepared = copy.prepare(committed_, commands);
  // Without room to compare, the charge is still checked first.
  const std::uint64_t charge =
      prepared ? copy.charge() : scene::json_footprint_as_member(commands, "commands");
  if (charge > scene::kRetainedSceneBudget) {
    copy.clear();
    error.set(kOverBudget);
    return false;
  }
  if (!prepared || !copy.copy(commands)) {
    copy.clear();
    error.set("Cannot retain command list");
    return false;
  }
  if (copy.unchanged() && frame_reusable(context)) {
    copy.clear();
    counters_.last_segments_tested = 0;
    counters_.last_commands_replayed = 0;
    counters_.record_commit(n);
    committed_since_present_ = true;
    return true;
  }
  // The list is drawn as the controller sent it; the retained copy is deeply
  // equal to it, so the frame is the same.
  CellFrameRef frame = compose_frame(recycling(context), commands, kOpaqueBlack, error);
  if (!frame) {
    copy.clear();
    return false;
  }

  copy.assemble(committed_);
  segments_.clear();
  segment_lists_.clear();
  index_.clear();
  segment_mode_ = false;
  background_ = kOpaqueBlack;
  command_count_ = n;
  retained_bytes_ = charge;
  install_frame(std::move(frame), n, 0);
  committed_since_present_ = true;
  counters_.record_commit(n);
  return true;
}

bool TerminalScene::patch(const RasterContext& context, const cJSON* command, scene::ErrorText error) {
  try {
    scene::PatchMembers members;
    if (!scene::read_patch_members(command, members)) {
      error.set(kInvalidPatch);
      return false;
    }
    scene::ColorValue background = segment_mode_ ? background_ : kOpaqueBlack;
    if (members.background != nullptr && !parse_colour(members.background, background)) {
      error.set(kInvalidPatch);
      return false;
    }

    // Everything below is built on the side; the retained state changes only
    // at the install step at the end. A first patch starts from no segments.
    const std::span<const std::unique_ptr<TerminalSegment>> retained =
        segment_mode_ ? std::span<const std::unique_ptr<TerminalSegment>>(segments_)
                      : std::span<const std::unique_ptr<TerminalSegment>>();
    scene::SegmentPatch<TerminalSegment> plan;
    if (!scene::plan_segment_patch(members, retained, index_, TerminalPatchRules{}, plan, error)) return false;

    std::vector<const cJSON*> next_lists;
    next_lists.reserve(plan.order.size());
    for (const TerminalSegment* segment : plan.order) next_lists.push_back(segment->commands.get());

    const std::uint64_t built = plan.built.size();
    const bool keep_frame = segment_mode_ && frame_reusable(context) && built == 0 && plan.removals == 0 &&
                            scene::keeps_every_position(plan, segments_) && background == background_;
    CellFrameRef frame;
    if (!keep_frame) {
      frame = compose_frame(recycling(context), std::span<const cJSON* const>(next_lists), background, error);
      if (!frame) return false;
    }

    // Install; nothing below can fail but the one allocation of the order.
    std::vector<std::unique_ptr<TerminalSegment>> next_segments = scene::adopt_segments(plan, segments_);
    segments_ = std::move(next_segments);
    segment_lists_ = std::move(next_lists);
    index_ = std::move(plan.index);
    committed_.clear();
    segment_mode_ = true;
    command_count_ = plan.total_commands;
    retained_bytes_ = plan.total_charge;
    background_ = background;
    counters_.last_segments_tested = 0;
    counters_.last_commands_replayed = 0;
    if (frame) install_frame(std::move(frame), command_count_, segments_.size());
    counters_.record_patch(plan, built);
    committed_since_present_ = true;
    return true;
  } catch (const std::bad_alloc&) {
    error.set(kPatchAllocation);
    return false;
  }
}

bool TerminalScene::present(const RasterContext& context, scene::ErrorText error) {
  if (!has_retained_scene()) {
    error.set("Terminal has no retained frame");
    return false;
  }
  CellFrameRef frame;
  const bool reuse = frame_reusable(context);
  if (!reuse) {
    const RasterContext composing = recycling(context);
    frame = segment_mode_ ? compose_frame(composing, std::span<const cJSON* const>(segment_lists_), background_, error)
                          : compose_frame(composing, committed_.list.get(), kOpaqueBlack, error);
    // The counters stay as they were, like every other failure.
    if (!frame) return false;
  }
  if (!committed_since_present_) {
    counters_.last_segments_tested = 0;
    counters_.last_commands_replayed = 0;
    counters_.last_commands_touched = 0;
  }
  committed_since_present_ = false;
  if (reuse) {
    counters_.cell_cache_hits += 1;
  } else {
    install_frame(std::move(frame), command_count_, segment_mode_ ? segments_.size() : 0);
  }
  return true;
}

}  // namespace lumora::terminal
