// Ownership helpers for cJSON: every item and every printed text is held by a
// unique_ptr, so that no path can leak or double-free them.
#pragma once

#include <cjson/cJSON.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace lumora::json {

struct JsonDeleter {
  void operator()(cJSON* item) const noexcept { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

struct JsonTextDeleter {
  void operator()(char* text) const noexcept { cJSON_free(text); }
};
using JsonText = std::unique_ptr<char, JsonTextDeleter>;

// Unformatted print, byte for byte as cJSON_PrintUnformatted (see
// json_writer.h); empty on allocation failure or an unprintable item.
JsonText print_json(const cJSON* item);

// The member's string value, or an empty view when it is absent or not a string.
inline std::string_view string_member(const cJSON* object, const char* name) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return {};
  return item->valuestring;
}

// A flag member's value: a boolean as it is, a number by its integer value
// (so 0.5 is false), anything else (absent included) no value.
inline std::optional<bool> flag_value(const cJSON* item) {
  if (cJSON_IsBool(item)) return cJSON_IsTrue(item);
  if (cJSON_IsNumber(item)) return std::trunc(item->valuedouble) != 0;
  return std::nullopt;
}

// Attaches `item` to `object` as member `name`, which must be a literal (or
// outlive the object): it is referenced, not copied, so that building a
// reply or an event copies no names. A null item, or one that cannot be
// attached, is deleted and gives false.
inline bool add_member(cJSON* object, const char* name, cJSON* item) {
  if (item == nullptr) return false;
  if (!cJSON_AddItemToObjectCS(object, name, item)) {
    cJSON_Delete(item);
    return false;
  }
  return true;
}

inline bool add_number(cJSON* object, const char* name, double value) {
  return add_member(object, name, cJSON_CreateNumber(value));
}

inline bool add_bool(cJSON* object, const char* name, bool value) {
  return add_member(object, name, cJSON_CreateBool(value));
}

// cJSON copies from NUL-terminated text and views are not, so the text goes
// through a string; false when memory runs out.
inline bool add_string(cJSON* object, const char* name, std::string_view text) {
  try {
    const std::string copy(text);
    return add_member(object, name, cJSON_CreateString(copy.c_str()));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace lumora::json
