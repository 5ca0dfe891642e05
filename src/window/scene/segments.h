// The segmented form of the window's retained scene: the record each
// segment of a patch becomes, and how it is built from a segment entry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <cjson/cJSON.h>

#include "json/json.h"
#include "scene/segment_patch.h"
#include "window/scene/bounds.h"
#include "window/scene/draw_command.h"
#include "window/render/geometry.h"
#include "window/scene/transition.h"

namespace lumora::window {

// A segment's charge beyond its list, its start times and its decoded
// commands: the record itself and the id's terminator.
inline constexpr std::uint64_t kSegmentRecordBytes = 193;
inline constexpr std::uint64_t kStartTimeBytes = 8;
// The id lookup and the order array: per slot of the order (one more than
// the segments) and per lookup slot.
inline constexpr std::uint64_t kOrderSlotBytes = 8;
inline constexpr std::uint64_t kLookupSlotBytes = 16;

inline constexpr const char* kInvalidSegmentPatch = "Invalid retained segment patch";
inline constexpr const char* kSegmentPatchAllocation = "Cannot allocate retained segment patch";
inline constexpr const char* kSceneOverBudget = "Retained scene exceeds 64 MiB memory budget";

struct WindowSegment {
  std::string id;
  json::JsonPtr commands;  // owned copy of the entry's "commands"
  std::uint64_t command_count = 0;
  // What the segment is charged, its transition snapshot's cost included
  // for as long as it keeps one, so that the patch's sums stay exact.
  std::uint64_t charge = 0;
  DecodedList decoded;              // empty when the list is
  std::vector<double> start_times;  // one per command, at least one slot
  Rect extent;                      // logical area the segment may paint; while a transition
                                    // runs, joined with the area of the segment it replaced
  Rect content_extent;              // union of its commands' areas
  double animation_end = 0;         // latest end of its finite animations; at least its build time
  bool loops = false;               // some sprite or animated rectangle loops
  bool animating = false;           // it loops or a finite animation ends after its build time
  TransitionSnapshot transition;    // what the replaced segment showed, while it fades out
  // Membership of the backend's list of segments that still animate.
  WindowSegment* active_prev = nullptr;
  WindowSegment* active_next = nullptr;
  bool active = false;
};

// The segments that loop or still animate: their areas are redrawn at every
// present until they settle. Doubly linked through the records so that a
// segment leaves in constant time; the records belong to the scene.
struct ActiveSegments {
  WindowSegment* head = nullptr;
  std::uint64_t count = 0;

  void push_front(WindowSegment* segment);
  void remove(WindowSegment* segment);  // nothing when it is not listed
  void clear() {
    head = nullptr;
    count = 0;
  }
};

// What the window adds to the shared patch bookkeeping: its messages, the
// strict "bounds" rule, the draw-command check and the record builder.
struct WindowPatchRules {
  // The window reports an oversized scene before too many segments.
  static constexpr bool charge_before_segment_count = true;
  scene::PatchMessages messages{kInvalidSegmentPatch, kSegmentPatchAllocation, kSceneOverBudget};
  double now = 0;
  BoundsContext bounds;
  // A replaced segment fades into its new version over this many seconds;
  // never with reduced motion.
  double transition_seconds = 0;
  bool reduce_motion = false;

  bool bounds_acceptable(const cJSON* bounds) const;
  const char* commands_refused(const cJSON* commands) const;
  std::unique_ptr<WindowSegment> build(std::string_view id, const cJSON* commands, std::uint64_t command_count,
                                       const WindowSegment* replaced, const char*& message) const;
  bool keep_transition_snapshot(WindowSegment& segment, const WindowSegment& replaced, const char*& message) const;
};

// What the id lookup and the order array of a patch's result cost.
// `slots` is the resulting segment count when "order" is given, else the
// upserts plus the segments before; `entries` the upserts plus the segments
// before. Nothing when no segment is left.
std::uint64_t segment_index_cost(std::uint64_t slots, std::uint64_t entries, std::uint64_t resulting_segments);

}  // namespace lumora::window
