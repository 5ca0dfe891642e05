#include "terminal/terminal_backend.h"

#include <cmath>
#include <new>
#include <optional>
#include <utility>

#include "platform/clock.h"
#include "terminal/operations.h"
#include "terminal/vt/encoder.h"
#include "text/utf8.h"

namespace lumora::terminal {

namespace {

using scene::ErrorText;
using json::JsonPtr;

// Sizes from "open" are clamped before they become integers, so that a huge
// or infinite value is an ordinary refused size rather than an overflow.
constexpr double kMaxOpenSizeMagnitude = 1e9;

constexpr std::string_view kTitleStart = "\x1b]2;";
constexpr char kTitleEnd = '\x07';

std::int32_t grid_side(double value) {
  if (std::isnan(value)) return 1;
  if (value > kMaxOpenSizeMagnitude) value = kMaxOpenSizeMagnitude;
  if (value < -kMaxOpenSizeMagnitude) value = -kMaxOpenSizeMagnitude;
  auto side = static_cast<std::int32_t>(value);  // truncation
  return side <= 0 ? 1 : side;
}

// "columns" when it is a number, else the cells that "width" pixels (default
// `default_pixels`) cover.
std::int32_t open_side(const cJSON* command, const char* cells_name, const char* pixels_name, double default_pixels,
                       double cells_per_pixel) {
  const cJSON* cells = cJSON_GetObjectItemCaseSensitive(command, cells_name);
  if (cJSON_IsNumber(cells)) return grid_side(cells->valuedouble);
  const cJSON* pixels = cJSON_GetObjectItemCaseSensitive(command, pixels_name);
  double extent = cJSON_IsNumber(pixels) ? pixels->valuedouble : default_pixels;
  return grid_side(std::floor(extent * cells_per_pixel));
}

bool is_control(char32_t code_point) {
  return code_point <= 0x1F || (code_point >= 0x7F && code_point <= 0x9F);
}

}  // namespace

bool grid_size_acceptable(std::int64_t columns, std::int64_t rows) {
  return columns >= 1 && columns <= kMaxGridSide && rows >= 1 && rows <= kMaxGridSide &&
         columns * rows <= kMaxGridCells;
}

void append_title_sequence(std::string_view title, ByteBuffer& out) {
  out.append(kTitleStart);
  std::size_t characters = 0;
  while (!title.empty() && characters < kMaxTitleCharacters) {
    text::Utf8Char decoded = text::decode_utf8_final(title);
    title.remove_prefix(decoded.length);
    ++characters;
    // Controls would end or corrupt the sequence on the terminal.
    if (is_control(decoded.code_point)) continue;
    char encoded[text::kMaxUtf8Length];
    out.append(std::string_view(encoded, text::encode_utf8(decoded.code_point, encoded)));
  }
  out.append(kTitleEnd);
}

TerminalOpenOptions read_open_options(const cJSON* command) {
  TerminalOpenOptions options;
  std::optional<bool> headless = json::flag_value(cJSON_GetObjectItemCaseSensitive(command, "headless"));
  if (!headless) headless = json::flag_value(cJSON_GetObjectItemCaseSensitive(command, "hidden"));
  options.headless = headless.value_or(false);
  // A missing or non-string "color" means "auto".
  const cJSON* colour = cJSON_GetObjectItemCaseSensitive(command, "color");
  if (cJSON_IsString(colour) && colour->valuestring != nullptr) options.colour_name = colour->valuestring;
  const cJSON* title = cJSON_GetObjectItemCaseSensitive(command, "title");
  if (cJSON_IsString(title) && title->valuestring != nullptr) options.title = title->valuestring;
  options.columns = open_side(command, "columns", "width", kDefaultOpenWidth, scene::kColumnsPerUnit);
  options.rows = open_side(command, "rows", "height", kDefaultOpenHeight, scene::kRowsPerUnit);
  return options;
}

std::unique_ptr<TerminalBackend> TerminalBackend::open(const cJSON* command, ErrorText error) {
  std::unique_ptr<TerminalBackend> backend(new (std::nothrow) TerminalBackend());
  if (!backend) {
    error.set("Cannot allocate terminal backend");
    return nullptr;
  }
  try {
    TerminalOpenOptions options = read_open_options(command);
    std::optional<ColourMode> mode = colour_mode_from_name(options.colour_name);
    backend->headless_ = options.headless;
    backend->title_ = std::move(options.title);
    if (!mode || !backend->set_size(options.columns, options.rows)) {
      error.set("Invalid terminal color mode or viewport budget");
      return nullptr;
    }
    backend->colour_mode_ = *mode;
    if (!backend->headless_) {
      ByteBuffer title;
      append_title_sequence(backend->title_, title);
      backend->console_ = ConsoleSession::open(
          {&backend->pending_output_, &backend->pending_written_, &backend->terminal_bytes_written_}, title.view(),
          error);
      if (!backend->console_) return nullptr;
      backend->interactive_ = true;
      backend->decoder_.set_interactive(true);
      backend->poll_size();
    }
    // The size was set by the controller itself: no "viewport" event for it.
    backend->events_.take();
    backend->open_ = true;
    return backend;
  } catch (const std::bad_alloc&) {
    error.set("Invalid terminal color mode or viewport budget");
    return nullptr;
  }
}

TerminalBackend::~TerminalBackend() {
  open_ = false;
  // The terminal gets its modes and screen back before anything is freed. A
  // worker that would not stop keeps what it uses alive by itself.
  if (console_) console_->close(decoder_.keyboard_enhanced());
  scene_.clear();
  last_written_.reset();
}

// ---- host::Backend ----

JsonPtr TerminalBackend::info() { return make_terminal_info(*this); }

bool TerminalBackend::commit_scene(const cJSON* commands, ErrorText error) {
  if (!open_) {
    error.set("Terminal is closed");
    return false;
  }
  try {
    return scene_.commit(raster_context(), commands, error);
  } catch (const std::bad_alloc&) {
    error.set("Cannot retain command list");
    return false;
  }
}

bool TerminalBackend::patch_scene(const cJSON* command, ErrorText error) {
  if (!open_) {
    error.set("Terminal is closed");
    return false;
  }
  try {
    return scene_.patch(raster_context(), command, error);
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate retained terminal segment patch");
    return false;
  }
}

JsonPtr TerminalBackend::run_operation(const cJSON* command, ErrorText error) {
  if (!open_) {
    error.set("Terminal is closed");
    return nullptr;
  }
  return run_terminal_operation(*this, command, error);
}

void TerminalBackend::reset_statistics() {
  scene_.reset_counters();
  ansi_frames_encoded_ = 0;
  ansi_bytes_encoded_ = 0;
  terminal_bytes_written_ = 0;
}

JsonPtr TerminalBackend::drain_events() {
  // An interactive terminal first polls the size, reports a lost input or
  // output, feeds the collected input to the decoder, pumps the output and
  // catches up a deferred frame; the decoder's time-based step (a lone
  // Escape resolved after a while) runs for every terminal.
  if (console_) console_->drain(*this, events_);
  decoder_.decode(platform::now_seconds(), false, events_);
  return events_.take();
}

bool TerminalBackend::draw_retained_scene(ErrorText error) {
  if (!open_) {
    error.set("Terminal is closed");
    return false;
  }
  try {
    return scene_.present(raster_context(), error);
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate terminal cells");
    return false;
  }
}

bool TerminalBackend::present_frame(ErrorText error) {
  const CellFrame* current = current_frame();
  if (current == nullptr) {
    error.set("Terminal has no frame");
    return false;
  }
  // An interactive terminal pumps its output here and defers the frame while
  // earlier bytes are still pending: frames are coalesced, never queued.
  if (console_) {
    if (!console_->pump(error)) return false;
    if (console_->output_pending()) return true;
  }
  if (current == last_written_.get()) return true;
  if (!encode_frame(current, last_written_.get(), colour_mode_, encoded_)) {
    error.set("Cannot allocate terminal ANSI frame");
    return false;
  }
  commit_encoded_output(encoded_);
  return !console_ || console_->pump(error);
}

host::SceneCounts TerminalBackend::last_scene_counts() const {
  const SceneCounters& counters = scene_.counters();
  return {counters.last_commands_touched, counters.last_commands_replayed};
}

std::uint64_t TerminalBackend::last_segments_tested() const { return scene_.counters().last_segments_tested; }

// ---- Grid and modes ----

void TerminalBackend::set_colour_mode(ColourMode mode) {
  if (mode == colour_mode_) return;
  colour_mode_ = mode;
  last_written_.reset();
}

bool TerminalBackend::set_size(std::int32_t columns, std::int32_t rows) {
  if (!grid_size_acceptable(columns, rows)) return false;
  if (columns == columns_ && rows == rows_) return true;
  columns_ = columns;
  rows_ = rows;
  last_written_.reset();
  events_.push_viewport(static_cast<double>(columns) * scene::kCellWidthUnits,
                        static_cast<double>(rows) * scene::kCellHeightUnits, 1);
  return true;
}

void TerminalBackend::poll_size() {
  // Headless terminals keep the size the controller gave them.
  std::int32_t columns = 0;
  std::int32_t rows = 0;
  if (console_ && console_->visible_size(&columns, &rows)) set_size(columns, rows);
}

// ---- Title ----

void TerminalBackend::set_title(std::string title) {
  title_ = std::move(title);
  if (!interactive_) return;
  ByteBuffer sequence;
  append_title_sequence(title_, sequence);
  if (!sequence.failed()) queue_output(sequence.view());
}

// ---- Scene and frames ----

RasterContext TerminalBackend::raster_context() {
  RasterContext context;
  context.columns = columns_;
  context.rows = rows_;
  context.monochrome = colour_mode_ == ColourMode::none;
  context.image_cache = &image_cache_;
  context.events = this;
  return context;
}

void TerminalBackend::note_image_reloaded() {
  ++resource_revision_;
  scene_.invalidate_frame();
}

void TerminalBackend::resource_error(std::string_view text) { events_.push_resource_error(text); }

void TerminalBackend::apply_visible_size(std::int32_t columns, std::int32_t rows) { set_size(columns, rows); }

void TerminalBackend::feed_console_input(std::string_view bytes) {
  const double now = platform::now_seconds();
  decoder_.feed(bytes, now, events_);
  decoder_.decode(now, false, events_);
  if (decoder_.take_keyboard_enhancement_push()) queue_output(kKeyboardEnhancementPush);
}

void TerminalBackend::catch_up_deferred_frame() {
  const CellFrame* current = current_frame();
  if (current == nullptr || current == last_written_.get() || !scene_.frame_reusable(raster_context())) return;
  // An allocation failure is not reported: the next drain tries again.
  if (!encode_frame(current, last_written_.get(), colour_mode_, encoded_)) return;
  commit_encoded_output(encoded_);
  scene::ErrorBuffer<64> ignored;
  console_->pump(ignored.text());
}

bool TerminalBackend::keyboard_enhanced() const { return decoder_.keyboard_enhanced(); }

void TerminalBackend::console_taken_again() {
  ByteBuffer title;
  append_title_sequence(title_, title);
  if (!title.failed()) queue_output(title.view());
  decoder_.forget_keyboard_enhancement();
  last_written_.reset();
}

// ---- Encoding and output ----

bool TerminalBackend::encode_current_frame(bool diff, ByteBuffer& out) const {
  return encode_frame(current_frame(), diff ? last_written_.get() : nullptr, colour_mode_, out);
}

void TerminalBackend::commit_encoded_output(ByteBuffer& encoded) {
  last_written_ = scene_.current_frame();
  if (!encoded.empty()) {
    ++ansi_frames_encoded_;
    ansi_bytes_encoded_ += encoded.size();
  }
  if (headless_) {
    encoded.clear();
    return;
  }
  // Presents only encode once the previous output was written, so the
  // pending output is empty here: the frame takes its place by a swap, and
  // the storage of both buffers is reused by the frames that follow.
  std::swap(pending_output_, encoded);
  pending_written_ = 0;
  encoded.clear();
}

void TerminalBackend::queue_output(std::string_view bytes) {
  if (headless_) return;
  pending_output_.append(bytes);
}

// ---- Input ----

void TerminalBackend::feed_input(std::string_view bytes, bool flush) {
  decoder_.feed_input(bytes, flush, platform::now_seconds(), events_);
  if (decoder_.take_keyboard_enhancement_push()) queue_output(kKeyboardEnhancementPush);
}

std::unique_ptr<host::Backend> open_terminal_backend(const cJSON* command, scene::ErrorText error) {
  return TerminalBackend::open(command, error);
}

}  // namespace lumora::terminal
