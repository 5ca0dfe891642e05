#include "scene/scene_format.h"

#include <cmath>
#include <cstring>

namespace lumora::scene {

bool segment_id_of(const cJSON* item, std::string_view& id) {
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return false;
  // strnlen keeps a 16 MiB string from being walked just to be refused.
  std::size_t length = strnlen(item->valuestring, kMaxSegmentIdBytes + 1);
  if (length < kMinSegmentIdBytes || length > kMaxSegmentIdBytes) return false;
  id = std::string_view(item->valuestring, length);
  return true;
}

std::uint64_t array_length_capped(const cJSON* value, std::uint64_t limit) {
  if (!cJSON_IsArray(value)) return 0;
  std::uint64_t count = 0;
  for (const cJSON* item = value->child; item != nullptr; item = item->next) {
    if (++count > limit) break;
  }
  return count;
}

bool strict_bounds_valid(const cJSON* bounds) {
  if (!cJSON_IsArray(bounds)) return false;
  double values[4];
  int count = 0;
  for (const cJSON* item = bounds->child; item != nullptr; item = item->next) {
    if (count == 4 || !cJSON_IsNumber(item) || !std::isfinite(item->valuedouble)) return false;
    values[count++] = item->valuedouble;
  }
  if (count != 4) return false;
  for (int i = 0; i < 2; ++i) {
    if (values[i] < -kMaxSceneCoordinate || values[i] > kMaxSceneCoordinate) return false;
  }
  for (int i = 2; i < 4; ++i) {
    if (values[i] < 0 || values[i] > kMaxSceneCoordinate) return false;
  }
  return true;
}

std::string_view command_kind(const cJSON* command, std::string_view fallback) {
  const cJSON* first = cJSON_IsArray(command) ? command->child : nullptr;
  if (!cJSON_IsString(first) || first->valuestring == nullptr) return fallback;
  return first->valuestring;
}

double transition_ms_of(const cJSON* transition_seconds) {
  if (!cJSON_IsNumber(transition_seconds) || !std::isfinite(transition_seconds->valuedouble)) return 0;
  double ms = transition_seconds->valuedouble * 1000.0;
  if (!(ms > 0)) return 0;
  return ms > kMaxTransitionMs ? kMaxTransitionMs : ms;
}

}  // namespace lumora::scene
