// The segment bookkeeping both backends do alike: the id index of the
// retained segments, the patch's order of checks (removals, then upserts,
// then the resulting drawing order and its limits, then "order"), which
// entries are unchanged, replaced or new, the sums of commands and charges,
// and the counters a commit or a patch updates.
//
// A backend supplies what differs through `Rules` (see plan_segment_patch):
// its messages, its rule for "bounds", its check of an entry's commands, and
// how it builds a segment record (its payload and its charge). It keeps its
// own background, its composition and its install step. The backend's
// segment type needs these members:
//   std::string id;
//   json::JsonPtr commands;           // owned copy of the entry's "commands"
//   std::uint64_t command_count;
//   std::uint64_t charge;        // the record's byte charge
// Everything is built on the side: a failed plan leaves the retained
// segments untouched and frees what it built.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <cjson/cJSON.h>

#include "json/json.h"
#include "scene/error_text.h"
#include "scene/limits.h"
#include "scene/scene_format.h"
#include "text/hash.h"

namespace lumora::scene {

// Smallest power of two that is at least 8 and at least 2 × n + 1, so that a
// table of n ids is at most half full and every probe meets a free slot.
std::uint64_t id_table_capacity(std::uint64_t n);

// The `segment index`: open addressing with linear probing over FNV-1a of
// the id; each slot holds a segment and its drawing position.
template <class Segment>
class SegmentIndex {
 public:
  struct Slot {
    const Segment* segment = nullptr;
    std::uint64_t position = 0;
  };

  static std::uint64_t capacity_for(std::uint64_t n) { return id_table_capacity(n); }

  // Sizes the table for n entries and empties it; false when it cannot be
  // allocated.
  bool reset(std::uint64_t n) {
    try {
      slots_.assign(capacity_for(n), Slot{});
    } catch (const std::bad_alloc&) {
      clear();
      return false;
    }
    size_ = 0;
    return true;
  }

  // Enters a segment whose id is not yet present; false when the id is
  // already there or the table would have no free slot left.
  bool insert(const Segment* segment, std::uint64_t position) {
    if (slots_.empty() || size_ + 1 >= slots_.size()) return false;
    const std::uint64_t mask = slots_.size() - 1;
    for (std::uint64_t i = text::fnv1a32(segment->id) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.segment == nullptr) {
        slot = Slot{segment, position};
        ++size_;
        return true;
      }
      if (slot.segment->id == segment->id) return false;
    }
  }

  const Slot* find(std::string_view id) const {
    if (slots_.empty()) return nullptr;
    const std::uint64_t mask = slots_.size() - 1;
    for (std::uint64_t i = text::fnv1a32(id) & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.segment == nullptr) return nullptr;
      if (slot.segment->id == id) return &slot;
    }
  }
  Slot* find(std::string_view id) { return const_cast<Slot*>(std::as_const(*this).find(id)); }

  std::uint64_t capacity() const { return slots_.size(); }
  std::uint64_t size() const { return size_; }
  void clear() {
    std::vector<Slot>().swap(slots_);
    size_ = 0;
  }

 private:
  std::vector<Slot> slots_;
  std::uint64_t size_ = 0;
};

// A set of ids for one patch (ids named in "remove", ids repeated within
// "upsert"), hashed like the index. Holds views into the patch command.
class IdSet {
 public:
  // Sizes the set for n ids; throws std::bad_alloc when it cannot.
  void reset(std::uint64_t n);
  // False when the id was already there.
  bool insert(std::string_view id);
  bool contains(std::string_view id) const;

 private:
  std::vector<std::string_view> slots_;
};

// The members of a patch command.
struct PatchMembers {
  const cJSON* upsert = nullptr;
  const cJSON* remove = nullptr;
  const cJSON* order = nullptr;
  const cJSON* background = nullptr;
  std::uint64_t upsert_count = 0;
  std::uint64_t remove_count = 0;
};

// False when `command` is not an object, or "upsert", "remove" or "order" is
// present and not an array of at most kMaxPatchEntries entries.
bool read_patch_members(const cJSON* command, PatchMembers& members);

// The fixed messages of one backend's patch.
struct PatchMessages {
  const char* invalid;      // any rule of the patch broken
  const char* allocation;   // memory ran out
  const char* over_budget;  // the retained bytes would pass kRetainedSceneBudget
};

// The result of a planned patch, not yet installed.
template <class Segment>
struct SegmentPatch {
  std::vector<Segment*> order;                   // the resulting drawing order
  SegmentIndex<Segment> index;                   // every segment of `order`, with its position
  std::vector<std::unique_ptr<Segment>> built;   // records built anew, in "upsert" order
  std::uint64_t removals = 0;                    // retained segments removed
  std::uint64_t unchanged = 0;                   // entries equal to their retained segment
  std::uint64_t patch_commands = 0;              // commands across all entries
  std::uint64_t total_commands = 0;              // commands across `order`
  std::uint64_t total_charge = 0;                // charges across `order`
};

// Plans a patch against the retained segments (empty when the scene is not
// segmented) and their index. `rules` provides:
//   PatchMessages messages;
//   bool bounds_acceptable(const cJSON* bounds) const;
//   // null when the entry's commands are acceptable, else the message
//   const char* commands_refused(const cJSON* commands) const;
//   // the new record (id, copy, count and charge set), or null with `message` set
//   std::unique_ptr<Segment> build(std::string_view id, const cJSON* commands, std::uint64_t command_count,
//                                  const Segment* replaced, const char*& message) const;
// False with the message in `error` when a rule is broken. May throw
// std::bad_alloc, which the caller reports with its allocation message.
template <class Segment, class Rules>
bool plan_segment_patch(const PatchMembers& members, std::span<const std::unique_ptr<Segment>> retained,
                        const SegmentIndex<Segment>& retained_index, const Rules& rules, SegmentPatch<Segment>& patch,
                        ErrorText error);

// Whether the planned order holds, at every position, the record that stood
// there before: nothing to compose again when nothing else changed.
template <class Segment>
bool keeps_every_position(const SegmentPatch<Segment>& patch,
                          std::type_identity_t<std::span<const std::unique_ptr<Segment>>> retained) {
  if (patch.order.size() != retained.size()) return false;
  for (std::size_t i = 0; i < retained.size(); ++i) {
    if (patch.order[i] != retained[i].get()) return false;
  }
  return true;
}

// The records of the planned order, owned, in drawing order: the retained
// records it keeps move over from `retained`, the built ones join. What stays
// behind in `retained` (removed and replaced records) is freed with it.
// Cannot fail once the vector is allocated.
template <class Segment>
std::vector<std::unique_ptr<Segment>> adopt_segments(SegmentPatch<Segment>& patch,
                                                     std::vector<std::unique_ptr<Segment>>& retained) {
  std::vector<std::unique_ptr<Segment>> segments(patch.order.size());
  for (std::unique_ptr<Segment>& segment : retained) {
    const auto* slot = patch.index.find(segment->id);
    if (slot != nullptr && slot->segment == segment.get()) segments[slot->position] = std::move(segment);
  }
  for (std::unique_ptr<Segment>& segment : patch.built) {
    segments[patch.index.find(segment->id)->position] = std::move(segment);
  }
  return segments;
}

// The counters that commits and patches update alike in both backends.
struct SceneUpdateCounters {
  std::uint64_t commands_touched = 0;       // commands brought by commits and patches
  std::uint64_t last_commands_touched = 0;  // by the last commit or patch
  std::uint64_t segments_updated = 0;       // segments built by patches
  std::uint64_t segments_removed = 0;
  std::uint64_t scene_patch_updates = 0;    // successful patches
  std::uint64_t unchanged_segments = 0;     // entries equal to their retained segment
  friend bool operator==(const SceneUpdateCounters&, const SceneUpdateCounters&) = default;

  void record_commit(std::uint64_t commands) {
    commands_touched += commands;
    last_commands_touched = commands;
  }
  template <class Segment>
  void record_patch(const SegmentPatch<Segment>& patch, std::uint64_t built) {
    commands_touched += patch.patch_commands;
    last_commands_touched = patch.patch_commands;
    segments_updated += built;
    segments_removed += patch.removals;
    scene_patch_updates += 1;
    unchanged_segments += patch.unchanged;
  }
};

// Rules that declare `static constexpr bool charge_before_segment_count =
// true;` have the resulting commands and bytes checked before the resulting
// segment count; without the member the segment count comes first.
template <class Rules>
constexpr bool charge_checked_before_segment_count(const Rules&) {
  if constexpr (requires { Rules::charge_before_segment_count; }) {
    return Rules::charge_before_segment_count;
  } else {
    return false;
  }
}

// ---- Implementation ---------------------------------------------------------

template <class Segment, class Rules>
bool plan_segment_patch(const PatchMembers& members, std::span<const std::unique_ptr<Segment>> retained,
                        const SegmentIndex<Segment>& retained_index, const Rules& rules, SegmentPatch<Segment>& patch,
                        ErrorText error) {
  const PatchMessages& messages = rules.messages;
  auto fail = [&](const char* message) {
    error.set(message);
    return false;
  };
  const std::uint64_t old_count = retained.size();
  std::vector<unsigned char> removed(old_count, 0);
  // Per retained position: the record that replaces it (null when kept as is).
  std::vector<Segment*> replacement(old_count, nullptr);
  std::vector<Segment*> appended;  // built records with new ids, in "upsert" order
  appended.reserve(members.upsert_count);
  patch.built.reserve(members.upsert_count);
  IdSet removal_names;
  removal_names.reset(members.remove_count);
  IdSet upsert_ids;
  upsert_ids.reset(members.upsert_count);
  auto retained_slot = [&](std::string_view id) { return old_count == 0 ? nullptr : retained_index.find(id); };

  // Removals: an id that names no segment is ignored, also when repeated; a
  // retained one named twice breaks the patch.
  for (const cJSON* entry = members.remove != nullptr ? members.remove->child : nullptr; entry != nullptr;
       entry = entry->next) {
    std::string_view id;
    if (!segment_id_of(entry, id)) return fail(messages.invalid);
    removal_names.insert(id);
    const auto* slot = retained_slot(id);
    if (slot == nullptr) continue;
    if (removed[slot->position]) return fail(messages.invalid);
    removed[slot->position] = 1;
    ++patch.removals;
  }

  for (const cJSON* entry = members.upsert != nullptr ? members.upsert->child : nullptr; entry != nullptr;
       entry = entry->next) {
    std::string_view id;
    const cJSON* commands = cJSON_GetObjectItemCaseSensitive(entry, "commands");
    if (!cJSON_IsObject(entry) || !segment_id_of(cJSON_GetObjectItemCaseSensitive(entry, "id"), id) ||
        !rules.bounds_acceptable(cJSON_GetObjectItemCaseSensitive(entry, "bounds")) || !cJSON_IsArray(commands) ||
        !upsert_ids.insert(id)) {
      return fail(messages.invalid);
    }
    const std::uint64_t command_count = array_length_capped(commands, kMaxPatchCommands);
    patch.patch_commands += command_count;
    if (patch.patch_commands > kMaxPatchCommands) return fail(messages.invalid);
    if (const char* refused = rules.commands_refused(commands)) return fail(refused);
    if (removal_names.contains(id)) return fail(messages.invalid);
    const auto* slot = retained_slot(id);
    if (slot != nullptr && json_equal(slot->segment->commands.get(), commands)) {
      ++patch.unchanged;
      continue;
    }
    const char* message = messages.allocation;
    std::unique_ptr<Segment> segment =
        rules.build(id, commands, command_count, slot != nullptr ? slot->segment : nullptr, message);
    if (!segment) return fail(message);
    if (slot != nullptr) {
      replacement[slot->position] = segment.get();
    } else {
      appended.push_back(segment.get());
    }
    patch.built.push_back(std::move(segment));
  }

  // The resulting order: the retained segments that stay, each replaced in
  // place by its new version, then the new ones.
  patch.order.reserve(old_count - patch.removals + appended.size());
  for (std::uint64_t i = 0; i < old_count; ++i) {
    if (removed[i]) continue;
    patch.order.push_back(replacement[i] != nullptr ? replacement[i] : const_cast<Segment*>(retained[i].get()));
  }
  patch.order.insert(patch.order.end(), appended.begin(), appended.end());
  // A backend whose rules ask for it checks the byte total before the
  // segment count, so that an oversized patch reports the budget first.
  const bool bytes_first = charge_checked_before_segment_count(rules);
  if (!bytes_first && patch.order.size() > kMaxSegments) return fail(messages.invalid);

  if (!patch.index.reset(old_count + members.upsert_count)) return fail(messages.allocation);
  for (std::uint64_t position = 0; position < patch.order.size(); ++position) {
    const Segment* segment = patch.order[position];
    patch.index.insert(segment, position);
    patch.total_commands += segment->command_count;
    patch.total_charge += segment->charge;
  }
  if (patch.total_commands > kMaxRetainedCommands) return fail(messages.invalid);
  if (patch.total_charge > kRetainedSceneBudget) return fail(messages.over_budget);
  if (bytes_first && patch.order.size() > kMaxSegments) return fail(messages.invalid);

  // "order" must name every resulting segment once; it becomes the order.
  if (members.order != nullptr) {
    if (array_length_capped(members.order, kMaxPatchEntries) != patch.order.size()) return fail(messages.invalid);
    std::vector<Segment*> reordered;
    reordered.reserve(patch.order.size());
    std::vector<unsigned char> placed(patch.order.size(), 0);
    for (const cJSON* entry = members.order->child; entry != nullptr; entry = entry->next) {
      std::string_view id;
      auto* slot = segment_id_of(entry, id) ? patch.index.find(id) : nullptr;
      if (slot == nullptr || placed[slot->position]) return fail(messages.invalid);
      placed[slot->position] = 1;
      reordered.push_back(const_cast<Segment*>(slot->segment));
    }
    patch.order = std::move(reordered);
    for (std::uint64_t position = 0; position < patch.order.size(); ++position) {
      patch.index.find(patch.order[position]->id)->position = position;
    }
  }
  return true;
}

}  // namespace lumora::scene
