// The terminal's retained scene: the committed draw-command list or the
// ordered named segments, the composed frame of it, and the counters that
// make reuse visible.
//
// A commit or patch composes at once, so that every error in the commands is
// reported by the command that brought them; a present reuses the composed
// frame when nothing that affects it changed. Every failing call leaves the
// retained scene, the current frame and every counter exactly as they were:
// all checks and all building happen on the side, and only a fully built
// result is swapped in.
//
// The terminal backend embeds one `TerminalScene`, checks that it is open
// ("Terminal is closed") and passes a `RasterContext` describing its grid,
// colour mode and caches to each call. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <cjson/cJSON.h>

#include "json/json.h"
#include "scene/error_text.h"
#include "scene/limits.h"
#include "scene/segment_patch.h"
#include "terminal/drawing/cell.h"
#include "terminal/drawing/colour.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/retained_copy.h"

namespace lumora::terminal {

struct TerminalSegment {
  std::string id;
  json::JsonPtr commands;  // deep copy of the entry's "commands"
  std::uint64_t command_count = 0;
  std::uint64_t charge = 0;  // footprint of "commands" (name included) + id length + 33
};

// The segment index of the retained segments, by id.
using SegmentIndex = scene::SegmentIndex<TerminalSegment>;

// The shared commit and patch counters, and what the terminal adds: how
// much its compositions drew and how often a present reused a frame.
struct SceneCounters : scene::SceneUpdateCounters {
  std::uint64_t commands_replayed = 0;
  std::uint64_t last_commands_replayed = 0;
  std::uint64_t segments_tested = 0;
  std::uint64_t last_segments_tested = 0;
  std::uint64_t cell_frames_composed = 0;
  std::uint64_t cell_cache_hits = 0;
  friend bool operator==(const SceneCounters&, const SceneCounters&) = default;
};

// The terminal's own bounds on what a retained list may hold, tighter than
// the scene language's: strings of at most 8 MiB and eleven levels of nesting.
inline constexpr std::size_t kMaxRetainedStringBytes = 8388608;
inline constexpr int kMaxRetainedDepth = 11;  // list 1, command 2, items 3...

// The retained-list check applied to a committed list and to each segment's
// "commands": arrays, style names, bounded data URIs, finite numbers,
// bounded strings and depth. Does not check the kinds (composition does).
bool retained_list_acceptable(const cJSON* list);

class TerminalScene {
 public:
  TerminalScene() = default;
  TerminalScene(const TerminalScene&) = delete;
  TerminalScene& operator=(const TerminalScene&) = delete;
  ~TerminalScene();

  // Host command "frame": `commands` is its "commands" member (may be null).
  bool commit(const RasterContext& context, const cJSON* commands, scene::ErrorText error);
  // Host command "patch": the whole command object.
  bool patch(const RasterContext& context, const cJSON* command, scene::ErrorText error);
  // Makes the current frame up to date (reuse or compose and install);
  // "Terminal has no retained frame" when nothing was committed.
  bool present(const RasterContext& context, scene::ErrorText error);

  // Whether the current frame may be shown again for this context.
  bool frame_reusable(const RasterContext& context) const;
  // The next present composes again ("reload_image").
  void invalidate_frame() { frame_invalid_ = true; }
  // Drops everything retained and the frame (close); counters stay.
  void clear();
  // Zeroes the counters and forgets the commit-since-present mark ("stats"
  // with "reset"), not the sizes of what is retained.
  void reset_counters() {
    counters_ = SceneCounters{};
    committed_since_present_ = false;
  }

  const CellFrameRef& current_frame() const { return current_frame_; }
  const FrameRecycler& recycler() const { return recycler_; }
  const SceneCounters& counters() const { return counters_; }
  bool has_retained_scene() const { return committed_.list != nullptr || segment_mode_; }
  bool segment_mode() const { return segment_mode_; }
  bool frame_invalid() const { return frame_invalid_; }
  bool committed_since_present() const { return committed_since_present_; }
  const cJSON* committed_list() const { return committed_.list.get(); }
  std::uint64_t segment_count() const { return segments_.size(); }
  const TerminalSegment& segment(std::uint64_t position) const { return *segments_[position]; }
  const SegmentIndex& segment_index() const { return index_; }
  std::uint64_t command_count() const { return command_count_; }
  std::uint64_t retained_bytes() const { return retained_bytes_; }
  std::uint64_t retained_budget() const { return scene::kRetainedSceneBudget; }
  scene::ColorValue background() const { return background_; }

 private:
  void install_frame(CellFrameRef frame, std::uint64_t commands, std::uint64_t segments);
  // `context` with this scene's recycler, so that compositions draw into
  // frames that were shown before.
  RasterContext recycling(const RasterContext& context);

  RetainedCommands committed_;
  RetainedCopy update_;  // scratch of commits, kept so that its space is reused
  std::vector<std::unique_ptr<TerminalSegment>> segments_;  // in drawing order
  std::vector<const cJSON*> segment_lists_;  // each segment's commands, same order, for composing
  SegmentIndex index_;
  bool segment_mode_ = false;
  scene::ColorValue background_ = kOpaqueBlack;
  std::uint64_t command_count_ = 0;
  std::uint64_t retained_bytes_ = 0;
  CellFrameRef current_frame_;
  FrameRecycler recycler_;  // frames shown before, composed into again
  bool frame_invalid_ = false;
  bool committed_since_present_ = false;
  SceneCounters counters_;
};

}  // namespace lumora::terminal
