// The terminal backend: a grid of character cells, drawn into the user's
// terminal or kept in memory only (headless) for snapshots.
//
// The backend owns the retained scene and its composed frames, the event
// queue, the image cache and the pending console output. Presenting encodes
// the current frame against the frame written last and appends the bytes to
// the pending output, which the console's output worker drains; headless, the
// bytes are counted and dropped. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/backend.h"
#include "input/event_queue.h"
#include "scene/limits.h"
#include "terminal/console/console_session.h"
#include "terminal/drawing/cell.h"
#include "terminal/drawing/image_cache.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/retained_scene.h"
#include "terminal/vt/byte_buffer.h"
#include "terminal/vt/colour_mode.h"
#include "terminal/vt/input_decoder.h"

namespace lumora::terminal {

// The grid a terminal opens with when "open" gives no size: 800 × 576
// virtual pixels, one cell being 8 × 16 of them.
inline constexpr double kDefaultOpenWidth = 800;
inline constexpr double kDefaultOpenHeight = 576;
inline constexpr char kDefaultTitle[] = "Lumora";

// Titles are cut to this many characters so that one title sequence stays small.
inline constexpr std::size_t kMaxTitleCharacters = 256;

// Whether a grid of this size may be used: each side 1..kMaxGridSide and at
// most kMaxGridCells cells.
bool grid_size_acceptable(std::int64_t columns, std::int64_t rows);

// Appends the sequence that sets the terminal window's title: "\e]2;", at
// most kMaxTitleCharacters characters of `title` decoded as UTF-8 without C0
// controls, DEL and C1 controls, then BEL.
void append_title_sequence(std::string_view title, ByteBuffer& out);

// The members of "open" the terminal reads.
struct TerminalOpenOptions {
  bool headless = false;
  std::string colour_name = "auto";
  std::string title = kDefaultTitle;
  std::int32_t columns = 1;
  std::int32_t rows = 1;
};

// Reads "headless"/"hidden", "color", "title", "columns"/"width" and
// "rows"/"height" with their defaults; sizes are clamped and truncated, and
// a size of 0 or less becomes 1. Never fails.
TerminalOpenOptions read_open_options(const cJSON* command);

class TerminalBackend final : public host::Backend, private RasterEventSink, private ConsoleDrainTarget {
 public:
  // Opens from the whole "open" command; null with the message in `error`.
  // Only headless terminals open for now; an interactive one fails with the
  // console message.
  static std::unique_ptr<TerminalBackend> open(const cJSON* command, scene::ErrorText error);
  ~TerminalBackend() override;
  TerminalBackend(const TerminalBackend&) = delete;
  TerminalBackend& operator=(const TerminalBackend&) = delete;

  // ---- host::Backend ----
  json::JsonPtr info() override;
  bool commit_scene(const cJSON* commands, scene::ErrorText error) override;
  bool patch_scene(const cJSON* command, scene::ErrorText error) override;
  json::JsonPtr run_operation(const cJSON* command, scene::ErrorText error) override;
  void reset_statistics() override;
  json::JsonPtr drain_events() override;
  bool draw_retained_scene(scene::ErrorText error) override;
  bool present_frame(scene::ErrorText error) override;
  host::SceneCounts last_scene_counts() const override;
  std::uint64_t last_segments_tested() const override;
  // Nothing in a terminal scene moves on its own, and its input never waits
  // behind a per-drain limit: both queries answer false.
  bool is_animating() const override { return false; }
  bool input_pending() const override { return false; }

  // ---- Grid and modes ----
  std::int32_t columns() const { return columns_; }
  std::int32_t rows() const { return rows_; }
  bool headless() const { return headless_; }
  // The terminal was taken over (its modes were saved and changed).
  bool interactive() const { return interactive_; }
  ColourMode colour_mode() const { return colour_mode_; }
  // Switches the mode; a change forgets the frame written last, so that the
  // next encoding writes every cell in the new mode.
  void set_colour_mode(ColourMode mode);
  // Refused (false) outside the grid limits. A changed size forgets the frame
  // written last and queues a "viewport" event; the same size does nothing.
  bool set_size(std::int32_t columns, std::int32_t rows);
  // Reads the terminal's visible size and applies it; a refused size is
  // ignored. Nothing happens while headless.
  void poll_size();

  // ---- Title ----
  const std::string& title() const { return title_; }
  // Stores the title and, on an interactive terminal, queues its sequence.
  void set_title(std::string title);

  // ---- Scene and frames ----
  TerminalScene& scene() { return scene_; }
  const TerminalScene& scene() const { return scene_; }
  // What drawing needs from the backend for one composition.
  RasterContext raster_context();
  const CellFrame* current_frame() const { return scene_.current_frame().get(); }
  const CellFrame* last_written_frame() const { return last_written_.get(); }
  ImageSourceCache& image_cache() { return image_cache_; }
  const ImageSourceCache& image_cache() const { return image_cache_; }
  // "reload_image": the revision grows and the next present composes again.
  void note_image_reloaded();
  std::uint64_t resource_revision() const { return resource_revision_; }

  // ---- Encoding and output ----
  // Encodes the current frame into `out`, against the frame written last when
  // `diff` is set and in full otherwise. Changes nothing in the backend.
  bool encode_current_frame(bool diff, ByteBuffer& out) const;
  std::uint64_t ansi_frames_encoded() const { return ansi_frames_encoded_; }
  std::uint64_t ansi_bytes_encoded() const { return ansi_bytes_encoded_; }
  std::uint64_t terminal_bytes_written() const { return terminal_bytes_written_; }
  // Bytes queued for the terminal and not yet written.
  std::uint64_t output_pending_bytes() const { return pending_output_.size() - pending_written_; }

  // ---- Input ----
  // Bytes exactly as if read from the terminal, then a decoding step; with
  // `flush` an incomplete sequence at the end is resolved at once.
  void feed_input(std::string_view bytes, bool flush);
  input::EventQueue& events() { return events_; }

 private:
  TerminalBackend() = default;

  // RasterEventSink: problems found while drawing (an image that cannot be loaded).
  void resource_error(std::string_view text) override;

  // ConsoleDrainTarget: what a drain of the interactive terminal asks for.
  void apply_visible_size(std::int32_t columns, std::int32_t rows) override;
  void feed_console_input(std::string_view bytes) override;
  void catch_up_deferred_frame() override;
  bool keyboard_enhanced() const override;
  void console_taken_again() override;

  // Makes the encoded frame the frame written last and hands its bytes to
  // the terminal (headless: counts them and drops them).
  void commit_encoded_output(ByteBuffer& encoded);
  // Appends bytes for the terminal; dropped while headless.
  void queue_output(std::string_view bytes);

  bool open_ = false;
  std::int32_t columns_ = 0;
  std::int32_t rows_ = 0;
  bool headless_ = false;
  bool interactive_ = false;
  ColourMode colour_mode_ = ColourMode::truecolor;
  std::string title_;

  input::EventQueue events_;
  InputDecoder decoder_;
  ImageSourceCache image_cache_;
  TerminalScene scene_;
  std::uint64_t resource_revision_ = 0;

  // The frame the terminal shows (or would show, headless); the encoder's
  // reference for the next diff.
  CellFrameRef last_written_;
  // Scratch output of each present, kept so that steady frames allocate nothing.
  ByteBuffer encoded_;
  std::uint64_t ansi_frames_encoded_ = 0;
  std::uint64_t ansi_bytes_encoded_ = 0;

  // Bytes queued for the terminal and how many of them were written. The
  // console's output worker drains them; a headless terminal never queues any.
  ByteBuffer pending_output_;
  std::size_t pending_written_ = 0;
  std::uint64_t terminal_bytes_written_ = 0;

  // The taken-over terminal; null while headless. Declared last: it writes
  // the pending output above until it is closed.
  std::unique_ptr<ConsoleSession> console_;
};

// Opens the terminal backend from the whole "open" command.
std::unique_ptr<host::Backend> open_terminal_backend(const cJSON* command, scene::ErrorText error);

}  // namespace lumora::terminal
