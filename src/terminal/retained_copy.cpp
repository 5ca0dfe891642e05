#include "terminal/retained_copy.h"

#include <cmath>
#include <cstring>
#include <new>

#include "scene/footprint.h"
#include "scene/scene_format.h"

namespace lumora::terminal {
namespace {

// The charge of the list itself as the member "commands": one value and
// the name with its NUL.
constexpr std::uint64_t kListOwnCharge = scene::kFootprintPerValue + sizeof("commands");

// Whether a value carries what a footprint charges beyond its type and
// value: children (on a leaf) or a member name (on an array item).
bool carries_extra(const cJSON* value, bool leaf) {
  return value->string != nullptr || (leaf && value->child != nullptr);
}

Sameness compare_arrays(const cJSON* a, const cJSON* b);

// Two values of the same type; leaves are settled here, without a call for
// the common ones, since a list holds hundreds of them.
inline Sameness compare_same_type(const cJSON* a, const cJSON* b, int type) {
  switch (type) {
    case cJSON_Number:
      // The library calls numbers equal within a rounding error, and never
      // two infinities: only equal finite values are settled here.
      return a->valuedouble == b->valuedouble && std::isfinite(a->valuedouble) ? Sameness::same
                                                                                 : Sameness::undecided;
    case cJSON_String:
      if (a->valuestring == nullptr || b->valuestring == nullptr) return Sameness::undecided;
      return a->valuestring[0] == b->valuestring[0] && std::strcmp(a->valuestring, b->valuestring) == 0
                 ? Sameness::same
                 : Sameness::different;
    case cJSON_False:
    case cJSON_True:
    case cJSON_NULL: return Sameness::same;
    case cJSON_Array: return compare_arrays(a, b);
    default: return Sameness::undecided;
  }
}

// Items compare in order and any unequal pair makes the arrays unequal, so
// one difference settles it whatever came before.
Sameness compare_arrays(const cJSON* a, const cJSON* b) {
  Sameness result = Sameness::same;
  const cJSON* x = a->child;
  const cJSON* y = b->child;
  for (; x != nullptr && y != nullptr; x = x->next, y = y->next) {
    const int type = x->type & 0xFF;
    if (type != (y->type & 0xFF)) return Sameness::different;
    const Sameness items = compare_same_type(x, y, type);
    if (items == Sameness::different) return Sameness::different;
    // Names on array items are not compared, but they are charged.
    const bool leaf = type != cJSON_Array && type != cJSON_Object;
    if (items == Sameness::undecided || carries_extra(x, leaf) || carries_extra(y, leaf)) result = Sameness::undecided;
  }
  return x != y ? Sameness::different : result;
}

}  // namespace

Sameness compare_values(const cJSON* a, const cJSON* b) {
  const int type = a->type & 0xFF;
  if (type != (b->type & 0xFF)) return Sameness::different;
  const Sameness sameness = compare_same_type(a, b, type);
  const bool leaf = type != cJSON_Array && type != cJSON_Object;
  if (sameness == Sameness::same && leaf && (a->child != nullptr || b->child != nullptr)) return Sameness::undecided;
  return sameness;
}

bool RetainedCopy::prepare(const RetainedCommands& retained, const cJSON* next) {
  clear();
  std::uint64_t count = 0;
  for (const cJSON* command = next->child; command != nullptr; command = command->next) ++count;
  try {
    parts_.reserve(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const cJSON* old_list = retained.list.get();
  cJSON* old = old_list != nullptr ? old_list->child : nullptr;
  std::uint64_t charge = kListOwnCharge;
  bool all_reused = old_list != nullptr;
  std::size_t position = 0;
  for (const cJSON* command = next->child; command != nullptr; command = command->next, ++position) {
    Part part;
    if (old != nullptr) {
      const bool named = old->string != nullptr || command->string != nullptr;
      const Sameness sameness = compare_values(old, command);
      if (sameness == Sameness::same && !named) {
        part.reused = old;
        part.footprint = retained.footprints[position];
        charge += part.footprint;
      } else {
        const std::uint64_t footprint = scene::json_footprint(command);
        charge += footprint;
        if (sameness != Sameness::different && scene::json_equal(old, command)) {
          part.reused = old;
          part.footprint = retained.footprints[position];
        } else {
          part.footprint = footprint;
        }
      }
      old = old->next;
    } else {
      part.footprint = scene::json_footprint(command);
      charge += part.footprint;
    }
    if (part.reused == nullptr) all_reused = false;
    parts_.push_back(part);
  }
  // Each footprint is at most one past the budget, so the sum cannot wrap.
  charge_ = charge > scene::kRetainedSceneBudget ? scene::kFootprintOverflow : charge;
  unchanged_ = all_reused && old == nullptr;
  return true;
}

bool RetainedCopy::copy(const cJSON* next) {
  if (unchanged_) return true;
  try {
    footprints_.resize(parts_.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  list_.reset(cJSON_CreateArray());
  if (!list_) return false;
  std::size_t position = 0;
  for (const cJSON* command = next->child; command != nullptr; command = command->next, ++position) {
    Part& part = parts_[position];
    footprints_[position] = part.footprint;
    if (part.reused != nullptr || part.copy != nullptr) continue;
    part.copy = cJSON_Duplicate(command, 1);
    if (part.copy == nullptr) return false;
  }
  return true;
}

void RetainedCopy::assemble(RetainedCommands& retained) {
  if (!unchanged_) {
    for (Part& part : parts_) {
      cJSON* item = part.reused != nullptr ? cJSON_DetachItemViaPointer(retained.list.get(), part.reused) : part.copy;
      part.copy = nullptr;
      cJSON_AddItemToArray(list_.get(), item);
    }
    retained.list = std::move(list_);  // the old list goes with what was not reused
    retained.footprints.swap(footprints_);
  }
  clear();
}

void RetainedCopy::clear() {
  for (Part& part : parts_) {
    if (part.copy != nullptr) cJSON_Delete(part.copy);
  }
  parts_.clear();
  list_.reset();
  charge_ = 0;
  unchanged_ = false;
}

}  // namespace lumora::terminal
