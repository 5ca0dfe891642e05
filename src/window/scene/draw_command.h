// The window's decoded form of a committed draw-command list: one fixed-size
// `DrawCommand` per command, read once at commit time so that drawing a
// settled scene never searches JSON. Strings are borrowed from the retained
// JSON list, which lives exactly as long as the decoded list; point lists are
// owned by the decoded list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include <cjson/cJSON.h>

#include "scene/colour.h"
#include "scene/command_schema.h"
#include "scene/scene_format.h"
#include "scene/style.h"

namespace lumora::window {

// The decoded kind is the shared schema's kind, with one difference: "icon"
// has no decoded form in the window and decodes as `unknown` (see
// draw_kind_of). "lines" and "segments" share `lines`; `flag` tells them apart.
using DrawKind = scene::CommandKind;

// The decoded kind of a schema kind.
DrawKind draw_kind_of(scene::CommandKind kind);

// x, y, width, height in logical units, y downwards.
struct Rect {
  double x = 0, y = 0, w = 0, h = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Point {
  double x = 0, y = 0;
};

// One decoded command. Each field is used only by the kinds named beside it;
// the others keep their initial values. Borrowed strings are NUL-terminated
// and never null once decoded.
struct DrawCommand {
  DrawKind kind = DrawKind::unknown;
  // clip: the clip is removed; lines: the command is "segments"; text: mono;
  // gradient_rect: horizontal axis; marker: checked; sprite, animated_rect: loop.
  std::int32_t flag = 0;
  std::int32_t yoyo = 0;         // animated_rect
  std::int32_t point_count = 0;  // lines
  // sprite
  std::int32_t frame_width = 0;
  std::int32_t frame_height = 0;
  std::int32_t frame_count = 0;
  // clip, rect, image, image_nine, gradient_rect, styled_rect, marker,
  // focus_ring, sprite, animated_rect.
  Rect rect;
  // begin: background; rect, animated_rect: fill; text, line, lines, caret,
  // focus_ring: colour; image, image_nine, sprite: tint; gradient_rect: start.
  scene::ColorValue color;
  // rect, animated_rect: border; gradient_rect: end.
  scene::ColorValue color2;
  // text x, line x1, lines width, radius of rect, animated_rect,
  // gradient_rect and focus_ring, caret x, sprite frames per second.
  double a = 0;
  // text y, line y1, border width of rect, animated_rect and gradient_rect, caret y.
  double b = 0;
  // text size, line width, caret height.
  double c = 0;
  // line: x2 (from) and y2 (to); animated_rect: from, to and duration.
  double from = 0, to = 0, duration = 0;
  double insets[4] = {0, 0, 0, 0};  // image_nine: left, top, right, bottom
  // text: the text; image, image_nine, sprite: the source.
  const char* text = nullptr;
  // image: fit; marker: shape; animated_rect: property.
  const char* mode = nullptr;
  // styled_rect, marker: the effect-clip item, or null when it is absent
  // (a JSON null item is kept: it means "not clipped", not "absent").
  const cJSON* effect_clip = nullptr;
  const Point* points = nullptr;  // lines: point_count points, owned by the list
  scene::RectStyle style;         // styled_rect, marker
};

// What the retained-scene budget charges for decoded commands: a fixed
// amount per record and per point, whatever the record's real size, so that
// the charge does not change with the compiler's layout.
inline constexpr std::uint64_t kDecodedCommandBytes = 376;
inline constexpr std::uint64_t kDecodedPointBytes = 16;
static_assert(sizeof(DrawCommand) <= kDecodedCommandBytes, "a decoded record must cost no more than it is charged");
static_assert(sizeof(Point) == kDecodedPointBytes);

inline std::uint64_t decoded_charge(std::uint64_t commands, std::uint64_t points) {
  return kDecodedCommandBytes * commands + kDecodedPointBytes * points;
}

class DecodedList;

// Decodes a list that validate_draw_command accepted command by command
// (an unvalidated list decodes too, every unreadable item taking its
// default). An empty list or a non-array gives an empty `out`. Allocates one
// record array and one array per non-empty point list, nothing per command.
// False only when memory runs out: everything made is freed again and `out`
// is left as it was; the caller reports "Cannot allocate decoded commands".
//
// `allocate` returns memory that ::operator delete releases, or null; tests
// pass one that fails on purpose.
bool decode_draw_commands(const cJSON* list, DecodedList& out, void* (*allocate)(std::size_t) = nullptr);
// The same for a list whose commands the caller has already counted (while
// validating them), so that the list is walked once here rather than twice.
// `count` must be the number of items of `list`; should it not be, no more
// than the smaller of the two is decoded and nothing is written past the
// record array.
bool decode_draw_commands(const cJSON* list, std::size_t count, DecodedList& out,
                          void* (*allocate)(std::size_t) = nullptr);

// A decoded list: one array of records plus one array per non-empty point
// list, all freed together. Move-only.
class DecodedList {
 public:
  DecodedList() = default;
  DecodedList(const DecodedList&) = delete;
  DecodedList& operator=(const DecodedList&) = delete;
  DecodedList(DecodedList&& other) noexcept { swap(other); }
  DecodedList& operator=(DecodedList&& other) noexcept {
    DecodedList(std::move(other)).swap(*this);
    return *this;
  }
  ~DecodedList() { release(); }

  std::span<const DrawCommand> commands() const { return {commands_, count_}; }
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const DrawCommand& operator[](std::size_t index) const { return commands_[index]; }
  // Points across all point lists.
  std::uint64_t point_total() const { return point_total_; }
  // What the retained-scene budget charges for this list.
  std::uint64_t charge() const { return decoded_charge(count_, point_total_); }

  void swap(DecodedList& other) noexcept;
  void release() noexcept;

 private:
  friend bool decode_draw_commands(const cJSON* list, std::size_t count, DecodedList& out,
                                   void* (*allocate)(std::size_t));
  DrawCommand* commands_ = nullptr;
  std::size_t count_ = 0;
  std::uint64_t point_total_ = 0;
};

// One command's fields without its point list (no points, a count of 0),
// for what reads a single JSON command, such as a transition's blended
// commands; never allocates.
DrawCommand decode_draw_command_fields(const cJSON* command);

// Whether a re-committed command is the same command: deep comparison,
// member names compared case-sensitively, no hashing.
inline bool commands_equal(const cJSON* a, const cJSON* b) { return scene::json_equal(a, b); }

}  // namespace lumora::window
