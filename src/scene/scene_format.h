// Shared rules of the scene formats both backends accept: scene commits and
// segment patches. Each backend keeps its own data structures and messages;
// the limits and the format rules that they share live here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <cjson/cJSON.h>

#include "scene/footprint.h"
#include "scene/limits.h"

namespace lumora::scene {

// Deep equality of two JSON values, member names compared case-sensitively.
inline bool json_equal(const cJSON* a, const cJSON* b) { return cJSON_Compare(a, b, 1) != 0; }

// The string of `item` when it is a string of 1..256 bytes (a segment id or
// a "remove"/"order" entry); false otherwise.
bool segment_id_of(const cJSON* item, std::string_view& id);

// A command list's length when `value` is an array; cJSON arrays are linked
// lists, so this walks it once. Stops counting past `limit` + 1.
std::uint64_t array_length_capped(const cJSON* value, std::uint64_t limit);

// "bounds" by the strict rule: exactly 4 finite numbers, x and y in
// [−1000000, 1000000], width and height in [0, 1000000].
bool strict_bounds_valid(const cJSON* bounds);

// The text of a command's kind, or `fallback` when item 0 is not a string
// (the window's messages use "", the terminal's "?").
std::string_view command_kind(const cJSON* command, std::string_view fallback);

// Transition duration in ms from "transition_seconds": × 1000 clamped to
// 0..5000; absent, not a number or not finite: 0.
double transition_ms_of(const cJSON* transition_seconds);

}  // namespace lumora::scene
