// The window backend: one SDL window and 2D renderer, the fonts, textures
// and retained scene that live with it, and the error text of its last
// failure. Main thread only.
//
// The class is split over files by concern: open, close, sizing and info
// (window_backend.cpp), fonts, text, images and the texture cache
// (resources/resource_cache.cpp), drawing single commands
// (render/primitives.cpp), events and the main loop's wait (events/), the
// retained list and its presentation (render/composition.cpp) and the named
// operations (window_operations.cpp). Every renderer call goes through the
// canvas (render/canvas.h).
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/backend.h"
#include "scene/colour.h"
#include "json/json.h"
#include "window/scene/draw_command.h"
#include "window/render/coverage_mask.h"
#include "window/render/geometry.h"
#include "window/render/canvas.h"
#include "window/resources/sdl_handles.h"
#include "window/scene/segment_damage.h"
#include "window/scene/segments.h"
#include "window/scene/transition.h"

namespace lumora::window {

// ---- Open members and their limits ----
inline constexpr double kDefaultWidth = 960;
inline constexpr double kDefaultHeight = 640;
inline constexpr double kMinLogicalSide = 1;
inline constexpr double kMaxLogicalSide = 16384;
inline constexpr double kMinScale = 0.125;
inline constexpr double kMaxScale = 16;
// The drawable, in device pixels after scale: a 4K display at scale 1 fits,
// and so does its scene cache of 4 bytes a pixel in kMaxSceneCacheBytes.
inline constexpr double kMaxDrawablePixels = 8388608;
inline constexpr char kDefaultTitle[] = "Lumora";
inline constexpr int kInitialWindowWidth = 320;
inline constexpr int kInitialWindowHeight = 200;
inline constexpr double kDefaultFontPoints = 14;
inline constexpr char kProportionalFontFile[] = "DejaVuSans.ttf";
inline constexpr char kMonospaceFontFile[] = "DejaVuSansMono.ttf";


// ---- Resource limits ----
inline constexpr std::size_t kFontSlots = 32;
inline constexpr int kMaxFontPixelSize = 2048;
inline constexpr std::size_t kTextureBuckets = 1024;
// Enough that a full screen of distinct text lines, with the masks beside
// them, stays cached: a settled frame never rasterises a line again.
inline constexpr std::size_t kMaxTextureEntries = 4096;
inline constexpr std::uint64_t kTextTextureBudget = 8388608;
inline constexpr std::uint64_t kTextureBudget = 33554432;  // every class but text
inline constexpr std::int64_t kMaxTexturePixels = 16777216;
inline constexpr std::size_t kFailedImageRecords = 128;
inline constexpr std::size_t kMaxImageKeyChars = 79;
inline constexpr std::size_t kMaxPendingEvents = 32;
inline constexpr std::uint64_t kMaxSceneCacheBytes = 33554432;
static_assert(kMaxDrawablePixels * 4 == kMaxSceneCacheBytes, "every drawable allowed has a scene cache");

// Budget classes of the texture cache.
enum class TextureClass : int { shape_mask = 0, text = 1, image = 2, blurred_mask = 4 };
inline constexpr std::size_t kTextureClassCount = 5;

struct CachedTexture {
  std::string key;
  TexturePtr texture;
  int width = 0;
  int height = 0;
  TextureClass texture_class = TextureClass::image;
  std::uint64_t cost = 0;
  const char* source_identity = nullptr;  // the retained string that last resolved here (images only)
  std::uint64_t stamp = 0;
  std::uint32_t hash = 0;
};

struct FontSlot {
  FontPtr font;
  std::uint64_t stamp = 0;
  int pixel_size = 0;
  bool mono = false;
};

struct FailedImage {
  std::string key;
  std::uint64_t stamp = 0;  // 0: free record
};

// Counters of the retained scene and its presents (info keys of the same names).
struct WindowCounters {
  std::uint64_t commands_touched = 0;
  std::uint64_t last_commands_touched = 0;
  std::uint64_t commands_replayed = 0;
  std::uint64_t last_commands_replayed = 0;
  std::uint64_t segments_updated = 0;
  std::uint64_t segments_removed = 0;
  std::uint64_t scene_patch_updates = 0;
  std::uint64_t unchanged_segments = 0;
  std::uint64_t segments_tested = 0;
  std::uint64_t last_segments_tested = 0;
  std::uint64_t animation_segments_tested = 0;
  std::uint64_t scene_cache_hits = 0;
  std::uint64_t image_decode_attempts = 0;
};

// What a texture lookup or creation hands to drawing; borrowed from the cache.
using TextureRef = const CachedTexture*;

// The monotonic clock of the window backend, in seconds.
double window_now_seconds();

// An SDL stream over the regular file at `path`, for reading or for
// replacing it, opened by the rule of platform/files.h: a FIFO or device is
// refused at once instead of blocking the host. Null with the SDL error
// "Couldn't open <path>" when it cannot be had.
SDL_RWops* open_regular_file_stream(const char* path, bool for_writing);

class WindowBackend final : public host::Backend {
 public:
  // Opens from the whole "open" command; null with the message in `error`.
  static std::unique_ptr<WindowBackend> open(const cJSON* command, scene::ErrorText error);
  ~WindowBackend() override;
  WindowBackend(const WindowBackend&) = delete;
  WindowBackend& operator=(const WindowBackend&) = delete;

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
  bool is_animating() const override;
  bool input_pending() const override;
  host::WaitSource prepare_wait() override;

  // ---- Time ----
  // Seconds on the backend's monotonic clock: the animation clock of every
  // start time, sprite frame and transition.
  double now() const { return clock_override_ >= 0 ? clock_override_ : window_now_seconds(); }
  // Tests freeze the clock at `seconds` (negative: the real clock again), so
  // that motion can be checked at exact phases.
  void set_clock_for_testing(double seconds) { clock_override_ = seconds; }

  // ---- Sizes ----
  double scale() const { return scale_; }
  double logical_width() const { return logical_w_; }
  double logical_height() const { return logical_h_; }
  int pixel_width() const { return pixel_w_; }
  int pixel_height() const { return pixel_h_; }
  int window_width() const { return window_w_; }
  int window_height() const { return window_h_; }
  // Re-reads window and drawable sizes, recomputes scale and logical size.
  bool sync_drawable_size();
  // Logical w × h; fitted to the usable display area and centred when `fit`.
  bool set_window_size(double w, double h, bool fit);
  bool apply_vsync(int mode);

  // ---- Resources (resource_cache.cpp) ----
  // Null with the error text set.
  TTF_Font* get_font(double points, bool mono);
  // Width and height of a (multi-line) text in logical units.
  bool measure_text(std::string_view text, double points, bool mono, double& width, double& height);
  bool draw_text_line(std::string_view line, double x, double y, scene::ColorValue colour, double points, bool mono);
  // The image of a retained source string, or null (reported as an event).
  TextureRef get_image_texture(const char* source, std::size_t length);
  // Takes the surface in every case; null with the error text set.
  TextureRef create_cached_texture(std::string key, TextureClass texture_class, SurfacePtr surface);
  TextureRef find_cached_texture(std::string_view key);
  void destroy_all_textures();
  void reload_image(std::string_view source);
  void forget_source_identities();
  // A coverage mask of w × h device pixels: mode −1 for shapes, the blur
  // extent in pixels (≥ 0) for the blurred boxes of shadows and glows.
  TextureRef get_mask(std::int64_t w, std::int64_t h, double radius, double ring, int mode);

  std::size_t texture_entries() const { return textures_.size(); }
  std::uint64_t texture_bytes() const;
  std::uint64_t texture_class_bytes(TextureClass c) const { return class_bytes_[static_cast<int>(c)]; }
  const std::list<CachedTexture>& textures() const { return textures_; }
  const std::array<FontSlot, kFontSlots>& font_slots() const { return fonts_; }
  // Counts of expensive work, for tests and benchmarks: glyph shaping or
  // rasterising calls, masks built and PNG decodes.
  std::uint64_t ttf_calls() const { return ttf_calls_; }
  std::uint64_t masks_built() const { return masks_built_; }
  const WindowCounters& counters() const { return counters_; }

  // ---- Drawing (primitives.cpp) ----
  // `now` is the time of the drawing, `start` the command's start time:
  // sprites and animated rectangles show their state after now − start.
  bool draw_command(const DrawCommand& command, double now, double start);
  bool fill_rect(double x, double y, double w, double h, scene::ColorValue colour);
  bool draw_box(const Rect& rect, scene::ColorValue fill, double radius, scene::ColorValue border, double border_width);
  bool draw_rounded(const PixelRect& rect, double radius, double ring, scene::ColorValue colour);
  // Tests draw the same scene with and without the fast shapes (corner
  // pieces and fills instead of whole or sliced masks) to compare them.
  void set_fast_shapes_for_testing(bool on) { fast_shapes_ = on; }
  // The same for text: lines rasterised in their colour, or white and tinted.
  void set_fast_text_for_testing(bool on) { fast_text_ = on; }
  bool draw_line(double x1, double y1, double x2, double y2, scene::ColorValue colour, double width);
  bool draw_texture(TextureRef texture, const PixelRect& destination, const SDL_Rect* source, scene::ColorValue colour);
  bool draw_nine_slice(TextureRef texture, const PixelRect& destination, const double insets[4], scene::ColorValue colour);
  bool draw_gradient(const Rect& rect, scene::ColorValue c0, scene::ColorValue c1, bool horizontal, double radius,
                     double border_width);
  bool draw_image(const char* source, std::size_t length, const Rect& rect, scene::ColorValue tint,
                  std::string_view fit, const double* insets);
  bool draw_text(std::string_view text, double x, double y, scene::ColorValue colour, double points, bool mono);
  // Applies a pixel clip, or none; remembered for the visibility test.
  bool apply_clip(const PixelRect* clip);
  // The clip in force, or null when none is applied; borrowed until the next apply_clip.
  const PixelRect* applied_clip() const { return canvas_.clip(); }
  bool visible(const PixelRect& rect) const;

  // ---- Retained list (composition.cpp) ----
  std::uint64_t command_count() const { return command_count_; }
  std::uint64_t retained_bytes() const { return retained_bytes_; }
  bool scene_cache_valid() const { return scene_cache_valid_; }
  std::uint64_t scene_cache_bytes() const;
  void invalidate_scene_cache() { scene_cache_valid_ = false; }
  bool segmented() const { return segmented_; }
  std::uint64_t segment_count() const { return segments_.size(); }
  void destroy_scene_cache();

  // The error text of the last failure.
  std::string_view error_text() const { return error_; }
  // Sets it; drawing routines outside this class report their own failures so.
  void set_error(std::string_view message);
  bool reduced_motion() const { return reduce_motion_; }
  // The canvas every drawing goes through; the renderer for tests and benchmarks.
  Canvas& canvas() { return canvas_; }
  auto renderer() const { return canvas_.renderer(); }

 private:
  WindowBackend() = default;

  // "%s: %s" with the step and SDL_GetError.
  void set_sdl_error(const char* step);
  void copy_error(scene::ErrorText error) const;
  bool open_steps(const cJSON* command);
  void queue_event(json::JsonPtr event);
  json::JsonPtr viewport_object() const;

  // Texture cache internals.
  void evict(std::list<CachedTexture>::iterator entry);
  std::uint64_t next_stamp() { return ++use_clock_; }
  TextureRef stamp(CachedTexture& entry);
  // Stops once the width passes `stop_after` pixels (what is measured so far is then returned).
  bool measure_line(TTF_Font* font, int pixel_size, bool mono, std::string_view line, int& width, int& height,
                    std::int64_t stop_after = INT64_MAX);
  // The width of one short line, remembered.
  bool measured_width(TTF_Font* font, int pixel_size, bool mono, std::string_view line, int& width);
  // `measured_whole`: the width of `text_rect` is the whole line's.
  bool draw_visible_text(TTF_Font* font, std::string_view line, int pixel_size, bool mono, const PixelRect& text_rect,
                         scene::ColorValue colour, bool measured_whole);
  // Opaque, in `colour`'s red, green and blue.
  SurfacePtr render_line_surface(TTF_Font* font, std::string_view line, scene::ColorValue colour);
  void note_long_line(bool mono, int pixel_size, std::size_t bytes);
  bool load_png(std::string_view source, std::uint64_t budget, SurfacePtr& surface);

  // Event pump (event_pump.cpp).
  bool own_window(Uint32 id) const;
  double logical_x(int window_x) const;
  double logical_y(int window_y) const;
  void translate_event(const SDL_Event& event, cJSON* events);
  void translate_window_event(const SDL_WindowEvent& event, cJSON* events);
  // Synchronises the size: a "viewport" event, or "error" when that fails.
  void append_viewport_event(cJSON* events);
  void drop_render_resources();

  // Composition internals.
  bool draw_committed_list();  // the segments instead while segmented
  bool draw_segments(double now);
  bool draw_segment_commands(const WindowSegment& segment, double now);
  void release_segments();
  bool patch_segments(const cJSON* command, scene::ErrorText error);
  bool order_changed(const std::vector<std::unique_ptr<WindowSegment>>& next) const;
  void add_logical_damage(const Rect& r) { add_damage(damage_, r, scale_, logical_w_, logical_h_); }
  bool compose_segments();
  bool redraw_damage(double now);
  void settle_segments(double now);
  void recompute_extents();
  bool draw_scene_to_target();
  bool draw_rounded_by_corners(const PixelRect& p, const RoundedPlan& plan, const CornerPlan& corners,
                               scene::ColorValue colour);
  // Styled rectangles, markers, sprites and animated rectangles: drawn by
  // their own renderers (styled_rect.cpp, motion.cpp).
  bool draw_styled_or_animated_hook(const DrawCommand& command, double now, double start);
  bool ensure_scene_cache();
  bool back_to_window(bool drawn);
  bool copy_scene_cache(const char* step);

  // Transitions (transition.cpp).
  // A cross-fade of the committed list still runs: another frame is wanted
  // and the scene cache cannot hold it. Segments that fade stay on the
  // animated-segment list instead.
  bool transition_running() const;
  // Release a snapshot and its charge once its transition is over.
  void drop_committed_transition();
  void drop_segment_transition(WindowSegment& segment);
  // Commands in the snapshots of the segments that still animate.
  std::uint64_t transition_snapshot_commands() const;

  // Operations.
  json::JsonPtr run_operation_checked(const cJSON* command, std::string_view op);
  json::JsonPtr capture(const char* path);
  json::JsonPtr configure(const cJSON* command, std::string_view op);
  json::JsonPtr text_input(const cJSON* command, std::string_view op);
  json::JsonPtr clipboard_read();

  // Window.
  WindowPtr window_;
  std::uint32_t window_id_ = 0;
  bool video_initialised_ = false;
  bool ttf_initialised_ = false;
  int window_w_ = 0, window_h_ = 0;
  int pixel_w_ = 0, pixel_h_ = 0;
  double scale_ = 1;
  bool scale_follows_display_ = true;
  double fixed_scale_ = 1;  // the scale while it does not follow the display
  double logical_w_ = 0, logical_h_ = 0;
  std::uint64_t resource_revision_ = 0;
  int vsync_mode_ = 1;
  std::string font_dir_;
  std::uint64_t use_clock_ = 0;
  double open_time_ = 0;
  std::string error_;
  Canvas canvas_{error_};  // after the error text it writes into
  bool fast_shapes_ = true;
  bool fast_text_ = true;
  std::vector<std::uint8_t> band_alphas_;  // reused by every rounded shape

  // Settings of "configure".
  bool cache_scene_ = true;
  bool reduce_motion_ = false;
  double transition_seconds_ = 0;

  // Resources.
  std::array<FontSlot, kFontSlots> fonts_;
  std::list<CachedTexture> textures_;  // newest first
  // The key of the text line being drawn, kept so that a settled frame's
  // lookups reuse its storage instead of allocating one key per line.
  std::string text_key_;
  std::array<std::vector<CachedTexture*>, kTextureBuckets> buckets_;
  std::array<std::uint64_t, kTextureClassCount> class_bytes_ = {};
  std::array<FailedImage, kFailedImageRecords> failed_images_;
  // Widths of measured lines, keyed "pixel size:mono:line"; bounded.
  static constexpr std::size_t kMeasuredLines = 8192;
  std::unordered_map<std::string, int> measured_widths_;
  std::string measure_key_;
  std::uint64_t ttf_calls_ = 0;
  std::uint64_t masks_built_ = 0;
  json::JsonPtr pending_events_;

  // Event pump and wait.
  bool input_pending_ = false;  // the last pump stopped at its limit
  int wait_descriptor_ = -1;
  bool wait_descriptor_known_ = false;


  // Retained list.
  json::JsonPtr committed_list_;
  DecodedList decoded_;
  std::vector<double> start_times_;
  TransitionSnapshot committed_transition_;
  std::uint64_t command_count_ = 0;
  std::uint64_t retained_bytes_ = 0;
  double last_commit_time_ = 0;
  // The animation horizon of the committed list: the latest end of its
  // finite animations and whether one of them loops.
  double animation_end_ = 0;
  bool animation_loops_ = false;
  bool animating_ = false;  // another frame is wanted
  bool settled_ = true;     // the last drawing found every finite animation over

  // Segmented form.
  bool segmented_ = false;
  std::vector<std::unique_ptr<WindowSegment>> segments_;  // drawing order
  scene::SegmentIndex<WindowSegment> segment_index_;
  std::uint64_t index_cost_ = 0;
  scene::ColorValue background_ = scene::rgba(0, 0, 0, 255);
  std::vector<Rect> damage_;      // logical, disjoint, at most kMaxDamageRects
  bool damage_clip_active_ = false;
  PixelRect damage_clip_;         // what a redraw of damage may paint
  bool extents_stale_ = false;    // the scale changed since they were measured
  ActiveSegments active_segments_;

  // Scene cache.
  TexturePtr scene_cache_;
  bool scene_cache_valid_ = false;

  WindowCounters counters_;
  double clock_override_ = -1;
};

// Opens the window backend from the whole "open" command.
std::unique_ptr<host::Backend> open_window_backend(const cJSON* command, scene::ErrorText error);

}  // namespace lumora::window
