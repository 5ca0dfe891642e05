// Cross-fades in the window: the snapshot of what was on screen that a
// commit or a replaced segment keeps while its new list fades in, and the
// command that each position shows while the fade runs. No SDL call here:
// what is drawn is a `DrawCommand`, handed to the backend's usual drawing.
// The backend's own snapshot bookkeeping (when a fade counts as running,
// releasing a snapshot and its charge) is defined in transition.cpp too.
#pragma once

#include <cstdint>

#include <cjson/cJSON.h>

#include "json/json.h"
#include "window/scene/draw_command.h"

namespace lumora::window {

// What was on screen before a list was replaced, kept while the new list
// fades in. Without a list there is no transition.
struct TransitionSnapshot {
  json::JsonPtr list;                // copy of the previous list, brought to what was shown
  std::uint64_t cost = 0;             // what the retained-scene budget charges for it
  std::uint64_t command_count = 0;
  double start = 0;                   // seconds on the backend's clock
  double duration = 0;                // seconds

  bool kept() const { return list != nullptr; }
  // The eased progress at `now`: 1 without a list, with reduced motion, or
  // once the transition is over.
  double progress(double now, bool reduced_motion) const;
  // Whether the new list is still drawn blended at `now`.
  bool running(double now, bool reduced_motion) const { return progress(now, reduced_motion) < 1; }
  void release() { *this = TransitionSnapshot{}; }
};

// The snapshot for `next` replacing `shown`, whose own running transition
// is `shown_transition` (none: a snapshot without a list). Nothing is kept
// (`out` stays without a list) when there is nothing shown, the duration is
// not above 0, motion is reduced, or no position of the two lists differs in
// a way that can blend. While `shown_transition` still runs, the copy is
// first blended by its progress, so that the new fade starts from what is
// on screen rather than from the old target. False only when memory runs
// out; `out` is then left without a list.
bool make_transition_snapshot(const cJSON* next, const cJSON* shown, const TransitionSnapshot& shown_transition,
                              double now, double duration, bool reduced_motion, TransitionSnapshot& out);

// Walks a list's commands in step with its snapshot while a transition
// runs, giving for each position the command to draw: the decoded command
// itself, or, paired with the snapshot's command at the same position, its
// blend at the transition's progress. Inactive (every command drawn as it
// is, no JSON walked) without a snapshot or at progress 1.
//
// The decoded record is the JSON command read with the decoded defaults, so
// the blend starts from it and reads only the snapshot's side from JSON.
class TransitionPairs {
 public:
  // `list` is the JSON list that `decoded` was decoded from.
  TransitionPairs(const cJSON* list, const TransitionSnapshot& snapshot, double progress);

  bool active() const { return active_; }
  // The command to draw for the next position, whose decoded form is
  // `decoded`; either `decoded` or `scratch`, filled with the blend.
  const DrawCommand& next(const DrawCommand& decoded, DrawCommand& scratch);

 private:
  const cJSON* command_ = nullptr;
  const cJSON* old_ = nullptr;
  double progress_ = 1;
  bool active_ = false;
};

// The command `current` (decoded from `command`) shows at progress `t` of a
// transition from `old`: "styled_rect" and "marker" paired with the same
// kind take the interpolated rect and the blended style; other kinds blend
// the colour items their mask allows; anything else, an unblendable pair
// included, is drawn as it is at once. False when nothing blends (`out`
// untouched).
bool blend_draw_command(const DrawCommand& current, const cJSON* command, const cJSON* old, double t,
                        DrawCommand& out);

}  // namespace lumora::window
