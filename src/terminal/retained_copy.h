// The retained copy of a committed command list, built from the list it
// replaces.
//
// An update usually changes a few commands (a clock, a counter): those are
// copied, and every command equal to the one at its position in the retained
// list is moved over from it rather than copied again and freed. The same
// pass works out the new list's byte charge, since a command that is the same
// as its retained one costs what that one was charged: only the commands that
// changed are measured again.
//
// The steps follow the commit's order of checks: compare and charge without
// copying (prepare), copy what changed (copy), and, once the frame is
// composed, relink (assemble), which cannot fail.
#pragma once

#include <cstdint>
#include <vector>

#include <cjson/cJSON.h>

#include "json/json.h"

namespace lumora::terminal {

// How two JSON values compare, decided without the library's comparison
// where that is cheap: `same` means deeply equal (as scene::json_equal
// decides) and of the same footprint; `different` means json_equal is false;
// `undecided` is what only the library's rules settle (objects, numbers that
// differ by less than a rounding error, names on array items, raw values).
enum class Sameness : std::uint8_t { same, different, undecided };
Sameness compare_values(const cJSON* a, const cJSON* b);

// The committed list with the footprint of each of its commands.
struct RetainedCommands {
  json::JsonPtr list;                    // the committed list, or null
  std::vector<std::uint64_t> footprints;  // scene::json_footprint of each command of `list`

  void clear() {
    list.reset();
    footprints.clear();
  }
};

class RetainedCopy {
 public:
  RetainedCopy() = default;
  RetainedCopy(const RetainedCopy&) = delete;
  RetainedCopy& operator=(const RetainedCopy&) = delete;
  ~RetainedCopy() { clear(); }

  // Compares the commands of the array `next` with those retained, position
  // by position, and works out the charge of `next`. Allocates nothing once
  // the scratch space has grown to the list's length; false when it cannot.
  bool prepare(const RetainedCommands& retained, const cJSON* next);

  // scene::json_footprint_as_member(next, "commands"), saturated the same way.
  std::uint64_t charge() const { return charge_; }
  // Every command equal to the retained one at its position, none more or fewer.
  bool unchanged() const { return unchanged_; }

  // Copies the commands of `next` that differ from the retained ones; false
  // when memory runs out. Nothing is copied for an unchanged list.
  bool copy(const cJSON* next);

  // Makes the new list the retained one: the equal commands taken out of the
  // old list, the copies linked in, whatever is left of the old list freed.
  void assemble(RetainedCommands& retained);

  // Forgets a prepared update (its copies are freed).
  void clear();

 private:
  struct Part {
    cJSON* reused = nullptr;      // the equal command of the retained list, or null
    cJSON* copy = nullptr;        // else, once copied, the owned copy of the new one
    std::uint64_t footprint = 0;  // of the command retained at this position
  };
  std::vector<Part> parts_;
  json::JsonPtr list_;                    // the new list's head, once copied
  std::vector<std::uint64_t> footprints_;  // scratch for the next RetainedCommands::footprints
  std::uint64_t charge_ = 0;
  bool unchanged_ = false;
};

}  // namespace lumora::terminal
