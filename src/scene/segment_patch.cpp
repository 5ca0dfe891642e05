#include "scene/segment_patch.h"

namespace lumora::scene {

std::uint64_t id_table_capacity(std::uint64_t n) {
  std::uint64_t capacity = 8;
  while (capacity < 2 * n + 1) capacity *= 2;
  return capacity;
}

void IdSet::reset(std::uint64_t n) { slots_.assign(id_table_capacity(n), std::string_view()); }

bool IdSet::insert(std::string_view id) {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = text::fnv1a32(id) & mask;; i = (i + 1) & mask) {
    if (slots_[i].empty()) {
      slots_[i] = id;
      return true;
    }
    if (slots_[i] == id) return false;
  }
}

bool IdSet::contains(std::string_view id) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = text::fnv1a32(id) & mask;; i = (i + 1) & mask) {
    if (slots_[i].empty()) return false;
    if (slots_[i] == id) return true;
  }
}

bool read_patch_members(const cJSON* command, PatchMembers& members) {
  if (!cJSON_IsObject(command)) return false;
  members.upsert = cJSON_GetObjectItemCaseSensitive(command, "upsert");
  members.remove = cJSON_GetObjectItemCaseSensitive(command, "remove");
  members.order = cJSON_GetObjectItemCaseSensitive(command, "order");
  members.background = cJSON_GetObjectItemCaseSensitive(command, "background");
  for (const cJSON* list : {members.upsert, members.remove, members.order}) {
    if (list != nullptr && (!cJSON_IsArray(list) || array_length_capped(list, kMaxPatchEntries) > kMaxPatchEntries)) {
      return false;
    }
  }
  members.upsert_count = array_length_capped(members.upsert, kMaxPatchEntries);
  members.remove_count = array_length_capped(members.remove, kMaxPatchEntries);
  return true;
}

}  // namespace lumora::scene
