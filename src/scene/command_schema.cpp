#include "scene/command_schema.h"

namespace lumora::scene {

const KindSchema* find_kind_schema(std::string_view name) {
  // Seventeen kinds: a linear scan over short names beats hashing a kind
  // that may be a 16 MiB string.
  for (const KindSchema& schema : kCommandSchema) {
    if (schema.name == name) return &schema;
  }
  return nullptr;
}

const KindSchema* command_schema(const cJSON* command) {
  if (!cJSON_IsArray(command)) return nullptr;
  const cJSON* first = command->child;
  if (!cJSON_IsString(first) || first->valuestring == nullptr) return nullptr;
  return find_kind_schema(first->valuestring);
}

}  // namespace lumora::scene
