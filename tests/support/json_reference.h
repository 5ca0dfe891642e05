// The command parse the host made before it had its own reader: a nesting
// pre-scan, then cJSON on the whole body. Tests and the fuzz target compare
// the reader's items with this one's, item by item.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "json/json.h"

namespace lumora::test {

// Arrays and objects nested deeper than `limit`, counted outside strings.
inline bool nesting_exceeds(const char* body, std::size_t length, std::size_t limit) {
  bool in_string = false;
  std::size_t depth = 0;
  for (std::size_t i = 0; i < length; ++i) {
    char byte = body[i];
    if (in_string) {
      if (byte == '\\') {
        ++i;
      } else if (byte == '"') {
        in_string = false;
      }
      continue;
    }
    if (byte == '"') {
      in_string = true;
    } else if (byte == '[' || byte == '{') {
      if (++depth > limit) return true;
    } else if ((byte == ']' || byte == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

inline json::JsonPtr reference_parse(const char* body, std::size_t length, std::size_t max_nesting) {
  if (nesting_exceeds(body, length, max_nesting)) return nullptr;
  const char* end = nullptr;
  json::JsonPtr parsed(cJSON_ParseWithLengthOpts(body, length, &end, false));
  if (end != body + length) parsed.reset();
  return parsed;
}

// A "\u" anywhere (in a string or not) without four hexadecimal digits after
// it: cJSON reads such an escape as code point 0, the reader refuses it.
inline bool has_malformed_unicode_escape(const char* body, std::size_t length) {
  for (std::size_t i = 0; i + 1 < length; ++i) {
    if (body[i] != '\\' || body[i + 1] != 'u') continue;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
      if (k >= length) return true;
      char c = body[k];
      bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      if (!hex) return true;
    }
  }
  return false;
}

// Empty when the two trees hold the same items with the same links, else
// where they first differ. Doubles are compared bit for bit.
inline std::string json_difference(const cJSON* a, const cJSON* b, const std::string& where = "$") {
  if (a == nullptr || b == nullptr) return a == b ? "" : where + ": one item missing";
  if (a->type != b->type) return where + ": type " + std::to_string(a->type) + " vs " + std::to_string(b->type);
  if (a->valueint != b->valueint) return where + ": valueint";
  if (std::memcmp(&a->valuedouble, &b->valuedouble, sizeof(double)) != 0) return where + ": valuedouble";
  auto same_text = [](const char* x, const char* y) {
    return (x == nullptr && y == nullptr) || (x != nullptr && y != nullptr && std::strcmp(x, y) == 0);
  };
  if (!same_text(a->valuestring, b->valuestring)) return where + ": valuestring";
  if (!same_text(a->string, b->string)) return where + ": key";
  const cJSON* x = a->child;
  const cJSON* y = b->child;
  if ((x == nullptr) != (y == nullptr)) return where + ": children";
  if (x != nullptr) {
    const cJSON* x_last = x->prev;
    const cJSON* y_last = y->prev;
    int index = 0;
    for (; x != nullptr && y != nullptr; x = x->next, y = y->next, ++index) {
      std::string inner = json_difference(x, y, where + "[" + std::to_string(index) + "]");
      if (!inner.empty()) return inner;
      if (x->next != nullptr && x->next->prev != x) return where + ": broken prev link";
      if (x->next == nullptr && x_last != x) return where + ": first item's prev is not the last";
      if (y->next == nullptr && y_last != y) return where + ": reference's first prev is not the last";
    }
    if (x != nullptr || y != nullptr) return where + ": child count";
  }
  return "";
}

}  // namespace lumora::test
