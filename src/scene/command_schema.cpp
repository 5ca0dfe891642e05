#include "scene/command_schema.h"

#include <array>
#include <cstring>
#include <iterator>

#include "json/json_type.h"
#include "scene/name_index.h"

namespace lumora::scene {
namespace {

// The longest kind name ("gradient_rect"): a longer kind is unknown without
// being measured in full.
constexpr std::size_t kMaxKindNameBytes = 13;

// Seventeen kinds: a lookup by length beats hashing a kind that may be a
// 16 MiB string. At most five kinds share a length.
constexpr NameIndex<kMaxKindNameBytes, 5> kKindIndex(kCommandSchema);

}  // namespace

const KindSchema* find_kind_schema(std::string_view name) { return kKindIndex.find(kCommandSchema, name); }

const KindSchema* command_schema(const cJSON* command) {
  if (!json::is_array(command)) return nullptr;
  const cJSON* first = command->child;
  if (!json::is_string(first) || first->valuestring == nullptr) return nullptr;
  return kKindIndex.find(kCommandSchema, first->valuestring);
}

}  // namespace lumora::scene
