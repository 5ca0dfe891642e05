#include "scene/footprint.h"

#include <cstring>

namespace lumora::scene {
namespace {

std::uint64_t own_bytes(const cJSON* value, std::string_view name, bool name_given) {
  std::uint64_t bytes = kFootprintPerValue;
  if ((cJSON_IsString(value) || cJSON_IsRaw(value)) && value->valuestring != nullptr) {
    bytes += std::strlen(value->valuestring) + 1;
  }
  if (name_given) {
    bytes += name.size() + 1;
  } else if (value->string != nullptr) {
    bytes += std::strlen(value->string) + 1;
  }
  return bytes;
}

// Recursion depth is bounded by the parser's nesting limit; every value the
// host retains came through it.
std::uint64_t footprint(const cJSON* value, std::string_view name, bool name_given) {
  std::uint64_t sum = own_bytes(value, name, name_given);
  if (sum > kRetainedSceneBudget) return kFootprintOverflow;
  for (const cJSON* child = value->child; child != nullptr; child = child->next) {
    sum += footprint(child, {}, false);
    if (sum > kRetainedSceneBudget) return kFootprintOverflow;
  }
  return sum;
}

}  // namespace

std::uint64_t json_footprint(const cJSON* value) {
  if (value == nullptr) return 0;
  return footprint(value, {}, false);
}

std::uint64_t json_footprint_as_member(const cJSON* value, std::string_view name) {
  if (value == nullptr) return 0;
  return footprint(value, name, true);
}

}  // namespace lumora::scene
