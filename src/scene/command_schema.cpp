#include "scene/command_schema.h"

#include <array>
#include <cstring>
#include <iterator>

#include "json/json_type.h"

namespace lumora::scene {
namespace {

// The longest kind name ("gradient_rect"): a longer kind is unknown without
// being measured in full.
constexpr std::size_t kMaxKindNameBytes = 13;

// The kinds by name length: at most five share a length, so a lookup
// compares the first letter of a handful of names and spells out one.
constexpr int kMaxKindsPerLength = 5;
struct KindsOfLength {
  std::uint8_t count = 0;
  std::uint8_t kinds[kMaxKindsPerLength] = {};
};
constexpr std::array<KindsOfLength, kMaxKindNameBytes + 1> kKindsByLength = [] {
  std::array<KindsOfLength, kMaxKindNameBytes + 1> table{};
  for (std::size_t i = 0; i < std::size(kCommandSchema); ++i) {
    KindsOfLength& slot = table[kCommandSchema[i].name.size()];
    slot.kinds[slot.count++] = static_cast<std::uint8_t>(i);
  }
  return table;
}();

}  // namespace

const KindSchema* find_kind_schema(std::string_view name) {
  // Seventeen kinds: a lookup by length beats hashing a kind that may be a
  // 16 MiB string.
  if (name.empty() || name.size() > kMaxKindNameBytes) return nullptr;
  const KindsOfLength& candidates = kKindsByLength[name.size()];
  for (int i = 0; i < candidates.count; ++i) {
    const KindSchema& schema = kCommandSchema[candidates.kinds[i]];
    if (schema.name[0] == name[0] && schema.name == name) return &schema;
  }
  return nullptr;
}

const KindSchema* command_schema(const cJSON* command) {
  if (!json::is_array(command)) return nullptr;
  const cJSON* first = command->child;
  if (!json::is_string(first) || first->valuestring == nullptr) return nullptr;
  const std::size_t length = strnlen(first->valuestring, kMaxKindNameBytes + 1);
  if (length > kMaxKindNameBytes) return nullptr;
  return find_kind_schema(std::string_view(first->valuestring, length));
}

}  // namespace lumora::scene
