// The JSON footprint: the byte estimate every retained-scene budget is
// charged with. It counts 64 per value plus the bytes of its string value and
// member name (each with its NUL), so that a list costs about what holding it
// costs, independent of how the allocator rounds.
#pragma once

#include <cstdint>
#include <string_view>

#include <cjson/cJSON.h>

#include "scene/limits.h"

namespace lumora::scene {

// What a footprint above the budget is reported as, so that one oversized
// list never overflows a running count.
inline constexpr std::uint64_t kFootprintOverflow = kRetainedSceneBudget + 1;
inline constexpr std::uint64_t kFootprintPerValue = 64;

// 64 + (string value length + 1) + (member name length + 1) + the children's
// footprints; kFootprintOverflow as soon as a running sum passes the budget.
// A null value costs 0.
std::uint64_t json_footprint(const cJSON* value);

// The footprint of `value` as if it were the member `name` of an object
// (its own member name, if any, is replaced): "commands" arrays are charged
// with their member name whether or not the item still carries it.
std::uint64_t json_footprint_as_member(const cJSON* value, std::string_view name);

// Adds two charges, saturating at kFootprintOverflow.
inline std::uint64_t add_charge(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = a + b;
  return (sum < a || sum > kRetainedSceneBudget) ? kFootprintOverflow : sum;
}

}  // namespace lumora::scene
