#include "scene/command_schema.h"

#include <cstring>

namespace lumora::scene {
namespace {

// The longest kind name ("gradient_rect"): a longer kind is unknown without
// being measured in full.
constexpr std::size_t kMaxKindNameBytes = 13;

}  // namespace

const KindSchema* find_kind_schema(std::string_view name) {
  // Seventeen kinds: a linear scan over short names beats hashing a kind
  // that may be a 16 MiB string.
  // Comparing the length and the first letter first leaves one full
  // comparison for most kinds.
  if (name.empty()) return nullptr;
  for (const KindSchema& schema : kCommandSchema) {
    if (schema.name.size() == name.size() && schema.name[0] == name[0] && schema.name == name) return &schema;
  }
  return nullptr;
}

const KindSchema* command_schema(const cJSON* command) {
  if (!cJSON_IsArray(command)) return nullptr;
  const cJSON* first = command->child;
  if (!cJSON_IsString(first) || first->valuestring == nullptr) return nullptr;
  const std::size_t length = strnlen(first->valuestring, kMaxKindNameBytes + 1);
  if (length > kMaxKindNameBytes) return nullptr;
  return find_kind_schema(std::string_view(first->valuestring, length));
}

}  // namespace lumora::scene
