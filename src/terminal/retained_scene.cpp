#include "terminal/retained_scene.h"

#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "scene/command_schema.h"
#include "scene/footprint.h"
#include "scene/scene_format.h"
#include "scene/style.h"

namespace lumora::terminal {
namespace {

constexpr std::string_view kPngDataPrefix = "data:image/png;base64,";
// A segment's charge beyond its list: the record and the id's terminator.
constexpr std::uint64_t kSegmentOverhead = 33;

constexpr const char* kInvalidList = "Invalid or oversized retained command list";
constexpr const char* kInvalidPatch = "Invalid retained terminal segment patch";
constexpr const char* kPatchAllocation = "Cannot allocate retained terminal segment patch";
constexpr const char* kOverBudget = "Retained scene exceeds 64 MiB memory budget";


bool string_within(const cJSON* item, std::size_t limit) {
  return item->valuestring != nullptr && strnlen(item->valuestring, limit + 1) <= limit;
}

bool data_uri_acceptable(const char* source) {
  std::size_t length = strnlen(source, scene::kMaxPngDataUriBytes + 1);
  if (length > scene::kMaxPngDataUriBytes) return false;
  std::uint64_t n = length - kPngDataPrefix.size();
  std::uint64_t decoded = 3 * (n / 4) + (3 * (n % 4)) / 4;
  for (int i = 0; i < 2 && n > 0 && source[kPngDataPrefix.size() + n - 1] == '='; ++i, --n) {
    if (decoded > 0) --decoded;
  }
  return decoded <= scene::kMaxPngStreamBytes;
}

bool value_acceptable(const cJSON* value, int level) {
  if (level > kMaxRetainedDepth) return false;
  if (cJSON_IsNumber(value)) return std::isfinite(value->valuedouble);
  if (cJSON_IsString(value)) return string_within(value, kMaxRetainedStringBytes);
  if (cJSON_IsArray(value) || cJSON_IsObject(value)) {
    for (const cJSON* child = value->child; child != nullptr; child = child->next) {
      if (!value_acceptable(child, level + 1)) return false;
    }
    return true;
  }
  return !cJSON_IsRaw(value) && !cJSON_IsInvalid(value);
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
        std::strncmp(item->valuestring, kPngDataPrefix.data(), kPngDataPrefix.size()) == 0) {
      if (!data_uri_acceptable(item->valuestring)) return false;
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

// A set of ids for one patch (ids repeated within "upsert", names in
// "remove"): open addressing like the segment index.
class IdSet {
 public:
  void reset(std::uint64_t n) { slots_.assign(SegmentIndex::capacity_for(n), std::string_view()); }
  // False when the id was already there.
  bool insert(std::string_view id) {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = scene_hash(id) & mask;; i = (i + 1) & mask) {
      if (slots_[i].empty()) {
        slots_[i] = id;
        return true;
      }
      if (slots_[i] == id) return false;
    }
  }
  bool contains(std::string_view id) const {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = scene_hash(id) & mask;; i = (i + 1) & mask) {
      if (slots_[i].empty()) return false;
      if (slots_[i] == id) return true;
    }
  }

 private:
  static std::size_t scene_hash(std::string_view id) { return fnv1a32(id); }
  std::vector<std::string_view> slots_;
};

std::uint64_t segment_charge(const cJSON* commands, std::size_t id_length) {
  return scene::add_charge(scene::json_footprint_as_member(commands, "commands"), id_length + kSegmentOverhead);
}

}  // namespace

// ---- SegmentIndex -------------------------------------------------------------

std::uint64_t SegmentIndex::capacity_for(std::uint64_t n) {
  std::uint64_t capacity = 8;
  while (capacity < 2 * n + 1) capacity *= 2;
  return capacity;
}

bool SegmentIndex::reset(std::uint64_t n) {
  try {
    slots_.assign(capacity_for(n), Slot{});
  } catch (const std::bad_alloc&) {
    clear();
    return false;
  }
  size_ = 0;
  return true;
}

bool SegmentIndex::insert(const TerminalSegment* segment, std::uint64_t position) {
  // One slot always stays free so that every probe ends.
  if (slots_.empty() || size_ + 1 >= slots_.size()) return false;
  const std::uint64_t mask = slots_.size() - 1;
  for (std::uint64_t i = fnv1a32(segment->id) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.segment == nullptr) {
      slot = Slot{segment, position};
      ++size_;
      return true;
    }
    if (slot.segment->id == segment->id) return false;
  }
}

const SegmentIndex::Slot* SegmentIndex::find(std::string_view id) const {
  if (slots_.empty()) return nullptr;
  const std::uint64_t mask = slots_.size() - 1;
  for (std::uint64_t i = fnv1a32(id) & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.segment == nullptr) return nullptr;
    if (slot.segment->id == id) return &slot;
  }
}

SegmentIndex::Slot* SegmentIndex::find(std::string_view id) {
  return const_cast<Slot*>(std::as_const(*this).find(id));
}

void SegmentIndex::clear() {
  std::vector<Slot>().swap(slots_);
  size_ = 0;
}

// ---- Retained-list check ------------------------------------------------------

bool retained_list_acceptable(const cJSON* list) {
  if (!cJSON_IsArray(list)) return false;
  for (const cJSON* command = list->child; command != nullptr; command = command->next) {
    if (!command_acceptable(command)) return false;
  }
  return true;
}

// ---- TerminalScene ----------------------------------------------------------

TerminalScene::~TerminalScene() = default;

bool TerminalScene::frame_reusable(const RasterContext& context) const {
  return current_frame_ && !frame_invalid_ && current_frame_->columns == context.columns &&
         current_frame_->rows == context.rows && current_frame_->monochrome == context.monochrome;
}

void TerminalScene::clear() {
  committed_list_.reset();
  segments_.clear();
  segment_lists_.clear();
  index_.clear();
  segment_mode_ = false;
  background_ = kOpaqueBlack;
  command_count_ = 0;
  retained_bytes_ = 0;
  current_frame_.reset();
  frame_invalid_ = false;
  committed_since_present_ = false;
}

void TerminalScene::install_frame(CellFrameRef frame, std::uint64_t commands, std::uint64_t segments) {
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
  const std::uint64_t charge = scene::json_footprint_as_member(commands, "commands");
  if (charge > scene::kRetainedSceneBudget) {
    error.set(kOverBudget);
    return false;
  }
  if (committed_list_ && frame_reusable(context) && scene::json_equal(committed_list_.get(), commands)) {
    counters_.last_segments_tested = 0;
    counters_.last_commands_replayed = 0;
    counters_.commands_touched += n;
    counters_.last_commands_touched = n;
    committed_since_present_ = true;
    return true;
  }
  scene::JsonPtr copy(cJSON_Duplicate(commands, 1));
  if (!copy) {
    error.set("Cannot retain command list");
    return false;
  }
  CellFrameRef frame = compose_frame(context, copy.get(), kOpaqueBlack, error);
  if (!frame) return false;

  committed_list_ = std::move(copy);
  segments_.clear();
  segment_lists_.clear();
  index_.clear();
  segment_mode_ = false;
  background_ = kOpaqueBlack;
  command_count_ = n;
  retained_bytes_ = charge;
  install_frame(std::move(frame), n, 0);
  committed_since_present_ = true;
  counters_.commands_touched += n;
  counters_.last_commands_touched = n;
  return true;
}

bool TerminalScene::patch(const RasterContext& context, const cJSON* command, scene::ErrorText error) {
  try {
    if (!cJSON_IsObject(command)) {
      error.set(kInvalidPatch);
      return false;
    }
    const cJSON* upsert = cJSON_GetObjectItemCaseSensitive(command, "upsert");
    const cJSON* remove = cJSON_GetObjectItemCaseSensitive(command, "remove");
    const cJSON* order = cJSON_GetObjectItemCaseSensitive(command, "order");
    const cJSON* background_item = cJSON_GetObjectItemCaseSensitive(command, "background");
    for (const cJSON* list : {upsert, remove, order}) {
      if (list != nullptr && (!cJSON_IsArray(list) || scene::array_length_capped(list, scene::kMaxPatchEntries) > scene::kMaxPatchEntries)) {
        error.set(kInvalidPatch);
        return false;
      }
    }
    scene::ColorValue background = segment_mode_ ? background_ : kOpaqueBlack;
    if (background_item != nullptr && !parse_colour(background_item, background)) {
      error.set(kInvalidPatch);
      return false;
    }

    // Everything below is built on the side; the retained state changes only
    // at the install step at the end.
    const std::uint64_t old_count = segment_mode_ ? segments_.size() : 0;
    const std::uint64_t upsert_count = scene::array_length_capped(upsert, scene::kMaxPatchEntries);
    const std::uint64_t remove_count = scene::array_length_capped(remove, scene::kMaxPatchEntries);
    std::vector<unsigned char> removed(old_count, 0);
    // Per old position: the segment that replaces it (null when kept as is).
    std::vector<TerminalSegment*> replacement(old_count, nullptr);
    std::vector<std::unique_ptr<TerminalSegment>> built;
    built.reserve(upsert_count);
    std::vector<TerminalSegment*> appended;  // built segments with new ids, in upsert order
    appended.reserve(upsert_count);
    IdSet removal_names;
    removal_names.reset(remove_count);
    IdSet upsert_ids;
    upsert_ids.reset(upsert_count);

    auto old_position = [&](std::string_view id) -> const SegmentIndex::Slot* {
      return old_count == 0 ? nullptr : index_.find(id);
    };

    std::uint64_t removals = 0;
    for (const cJSON* entry = remove != nullptr ? remove->child : nullptr; entry != nullptr; entry = entry->next) {
      std::string_view id;
      if (!scene::segment_id_of(entry, id)) {
        error.set(kInvalidPatch);
        return false;
      }
      removal_names.insert(id);
      const SegmentIndex::Slot* slot = old_position(id);
      if (slot == nullptr) continue;
      if (removed[slot->position]) {
        error.set(kInvalidPatch);
        return false;
      }
      removed[slot->position] = 1;
      ++removals;
    }

    std::uint64_t patch_commands = 0;
    std::uint64_t unchanged = 0;
    for (const cJSON* entry = upsert != nullptr ? upsert->child : nullptr; entry != nullptr; entry = entry->next) {
      std::string_view id;
      const cJSON* commands = cJSON_GetObjectItemCaseSensitive(entry, "commands");
      if (!cJSON_IsObject(entry) || !scene::segment_id_of(cJSON_GetObjectItemCaseSensitive(entry, "id"), id) ||
          !rect_without_negative_extent(cJSON_GetObjectItemCaseSensitive(entry, "bounds")) || !cJSON_IsArray(commands) ||
          !upsert_ids.insert(id) || removal_names.contains(id)) {
        error.set(kInvalidPatch);
        return false;
      }
      patch_commands += scene::array_length_capped(commands, scene::kMaxPatchCommands);
      if (patch_commands > scene::kMaxPatchCommands || !retained_list_acceptable(commands)) {
        error.set(kInvalidPatch);
        return false;
      }
      for (const cJSON* item = commands->child; item != nullptr; item = item->next) {
        if (is_begin(item)) {
          error.set(kInvalidPatch);
          return false;
        }
      }
      const SegmentIndex::Slot* slot = old_position(id);
      if (slot != nullptr && scene::json_equal(slot->segment->commands.get(), commands)) {
        ++unchanged;
        continue;
      }
      const std::uint64_t charge = segment_charge(commands, id.size());
      if (charge > scene::kRetainedSceneBudget) {
        error.set(kOverBudget);
        return false;
      }
      auto segment = std::make_unique<TerminalSegment>();
      segment->id.assign(id);
      segment->commands.reset(cJSON_Duplicate(commands, 1));
      if (!segment->commands) {
        error.set(kPatchAllocation);
        return false;
      }
      segment->command_count = scene::array_length_capped(commands, scene::kMaxPatchCommands);
      segment->charge = charge;
      if (slot != nullptr) {
        replacement[slot->position] = segment.get();
      } else {
        appended.push_back(segment.get());
      }
      built.push_back(std::move(segment));
    }

    // The new drawing order.
    std::vector<TerminalSegment*> next_order;
    next_order.reserve(old_count - removals + appended.size());
    for (std::uint64_t i = 0; i < old_count; ++i) {
      if (removed[i]) continue;
      next_order.push_back(replacement[i] != nullptr ? replacement[i] : segments_[i].get());
    }
    next_order.insert(next_order.end(), appended.begin(), appended.end());
    if (next_order.size() > scene::kMaxSegments) {
      error.set(kInvalidPatch);
      return false;
    }

    SegmentIndex next_index;
    if (!next_index.reset(old_count + upsert_count)) {
      error.set(kPatchAllocation);
      return false;
    }
    std::uint64_t total_commands = 0;
    std::uint64_t total_bytes = 0;
    for (std::uint64_t position = 0; position < next_order.size(); ++position) {
      const TerminalSegment* segment = next_order[position];
      next_index.insert(segment, position);
      total_commands += segment->command_count;
      total_bytes += segment->charge;
    }
    if (total_commands > scene::kMaxRetainedCommands) {
      error.set(kInvalidPatch);
      return false;
    }
    if (total_bytes > scene::kRetainedSceneBudget) {
      error.set(kOverBudget);
      return false;
    }

    if (order != nullptr) {
      if (scene::array_length_capped(order, scene::kMaxPatchEntries) != next_order.size()) {
        error.set(kInvalidPatch);
        return false;
      }
      std::vector<TerminalSegment*> reordered;
      reordered.reserve(next_order.size());
      std::vector<unsigned char> placed(next_order.size(), 0);
      for (const cJSON* entry = order->child; entry != nullptr; entry = entry->next) {
        std::string_view id;
        SegmentIndex::Slot* slot = scene::segment_id_of(entry, id) ? next_index.find(id) : nullptr;
        if (slot == nullptr || placed[slot->position]) {
          error.set(kInvalidPatch);
          return false;
        }
        placed[slot->position] = 1;
        reordered.push_back(const_cast<TerminalSegment*>(slot->segment));
      }
      next_order = std::move(reordered);
      for (std::uint64_t position = 0; position < next_order.size(); ++position) {
        next_index.find(next_order[position]->id)->position = position;
      }
    }

    std::vector<const cJSON*> next_lists;
    next_lists.reserve(next_order.size());
    for (const TerminalSegment* segment : next_order) next_lists.push_back(segment->commands.get());

    bool same_positions = next_order.size() == segments_.size();
    for (std::uint64_t i = 0; same_positions && i < next_order.size(); ++i) {
      same_positions = next_order[i] == segments_[i].get();
    }
    const bool keep_frame = segment_mode_ && frame_reusable(context) && built.empty() && removals == 0 &&
                            same_positions && background == background_;
    CellFrameRef frame;
    if (!keep_frame) {
      frame = compose_frame(context, std::span<const cJSON* const>(next_lists), background, error);
      if (!frame) return false;
    }

    // Ownership of the new order: kept records move over, built ones join.
    std::vector<std::unique_ptr<TerminalSegment>> next_segments(next_order.size());
    for (std::uint64_t i = 0; i < old_count; ++i) {
      const SegmentIndex::Slot* slot = next_index.find(segments_[i]->id);
      if (slot != nullptr && slot->segment == segments_[i].get()) {
        next_segments[slot->position] = std::move(segments_[i]);
      }
    }
    for (std::unique_ptr<TerminalSegment>& segment : built) {
      next_segments[next_index.find(segment->id)->position] = std::move(segment);
    }

    // Install; nothing below can fail.
    segments_ = std::move(next_segments);
    segment_lists_ = std::move(next_lists);
    index_ = std::move(next_index);
    committed_list_.reset();
    segment_mode_ = true;
    command_count_ = total_commands;
    retained_bytes_ = total_bytes;
    background_ = background;
    counters_.last_segments_tested = 0;
    counters_.last_commands_replayed = 0;
    if (frame) install_frame(std::move(frame), command_count_, segments_.size());
    counters_.commands_touched += patch_commands;
    counters_.last_commands_touched = patch_commands;
    counters_.segments_updated += built.size();
    counters_.segments_removed += removals;
    counters_.scene_patch_updates += 1;
    counters_.unchanged_segments += unchanged;
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
    frame = segment_mode_ ? compose_frame(context, std::span<const cJSON* const>(segment_lists_), background_, error)
                          : compose_frame(context, committed_list_.get(), kOpaqueBlack, error);
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
