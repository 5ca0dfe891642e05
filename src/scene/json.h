// Ownership helpers for cJSON: every item and every printed text is held by a
// unique_ptr, so that no path can leak or double-free them.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <memory>
#include <string_view>

namespace lumora::scene {

struct JsonDeleter {
  void operator()(cJSON* item) const noexcept { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

struct JsonTextDeleter {
  void operator()(char* text) const noexcept { cJSON_free(text); }
};
using JsonText = std::unique_ptr<char, JsonTextDeleter>;

// Unformatted print; empty on allocation failure.
inline JsonText print_json(const cJSON* item) {
  return JsonText(cJSON_PrintUnformatted(item));
}

// The member's string value, or an empty view when it is absent or not a string.
inline std::string_view string_member(const cJSON* object, const char* name) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return {};
  return item->valuestring;
}

}  // namespace lumora::scene
