// Type tests of cJSON items that the compiler can inline. cJSON's own
// (cJSON_IsNumber and the rest) are calls into the shared library, and the
// window's validation, decoding and bounds make several for every item of
// every command. Each answers exactly as its cJSON namesake does, a null
// item included.
#pragma once

#include <cjson/cJSON.h>

namespace lumora::json {

inline int type_of(const cJSON* item) { return item->type & 0xFF; }

inline bool is_number(const cJSON* item) { return item != nullptr && type_of(item) == cJSON_Number; }
inline bool is_string(const cJSON* item) { return item != nullptr && type_of(item) == cJSON_String; }
inline bool is_array(const cJSON* item) { return item != nullptr && type_of(item) == cJSON_Array; }
inline bool is_object(const cJSON* item) { return item != nullptr && type_of(item) == cJSON_Object; }
inline bool is_null(const cJSON* item) { return item != nullptr && type_of(item) == cJSON_NULL; }
inline bool is_true(const cJSON* item) { return item != nullptr && type_of(item) == cJSON_True; }
inline bool is_bool(const cJSON* item) { return item != nullptr && (item->type & (cJSON_True | cJSON_False)) != 0; }

// A string item's text, or null for anything else.
inline const char* string_of(const cJSON* item) { return is_string(item) ? item->valuestring : nullptr; }

}  // namespace lumora::json
