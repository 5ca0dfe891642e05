// The shape of every draw-command kind: how many items it takes and the type
// of each item. One table, read by both backends' validations; each backend
// applies it with its own strictness (the window the exact value ranges, the
// terminal its looser reading of numbers and colours) and draws only the
// kinds it accepts.
#pragma once

#include <cstdint>
#include <string_view>

#include <cjson/cJSON.h>

namespace lumora::scene {

// Numbered as the window's decoded form numbers them; "lines" and
// "segments" share one kind there, and are told apart here by their names.
enum class CommandKind : std::uint8_t {
  unknown = 0,
  begin = 1,
  clip = 2,
  rect = 3,
  text = 4,
  line = 5,
  lines = 6,
  image = 7,
  image_nine = 8,
  gradient_rect = 9,
  styled_rect = 10,
  marker = 11,
  caret = 12,
  focus_ring = 13,
  sprite = 14,
  animated_rect = 15,
  icon = 16,  // terminal only; the window has no decoded form for it
};

// The value type of one item after the kind.
enum class ItemType : std::uint8_t {
  coordinate,         // finite number in [−1000000, 1000000]
  extent,             // finite number in [0, 1000000]
  rect,               // [x, y, width, height]: coordinates and extents
  rect_or_null,       // a rect or null ("clip")
  optional_rect,      // a rect, null, or absent when it is the last item
  point_list,         // at most 200000 points [x, y]
  even_point_list,    // as point_list, with an even number of points
  colour,             // a non-empty string that parses as a colour
  optional_colour,    // null, the empty string (no colour) or a colour
  text,               // a string
  source,             // a string naming a PNG image
  boolean,            // true or false
  text_size,          // finite number in [0.01, 2048]
  fit,                // "stretch", "contain" or "cover"
  axis,               // "vertical" or "horizontal"
  insets,             // 4 finite numbers in [0, 8192]
  style,              // a style object
  shape,              // "square" or "circle"
  frame_extent,       // integer in [1, 8192]
  frame_count,        // integer in [1, 4096]
  frames_per_second,  // finite number in [0.01, 1000]
  animation,          // an animation object
  icon_name,          // one of the icon names
};

inline constexpr int kMaxCommandItems = 9;  // "sprite", kind included

enum BackendMask : std::uint8_t {
  kWindowBackend = 1,
  kTerminalBackend = 2,
  kBothBackends = kWindowBackend | kTerminalBackend,
};

struct KindSchema {
  std::string_view name;
  CommandKind kind;
  std::uint8_t min_items;  // kind included
  std::uint8_t max_items;  // kind included; above min_items only for a trailing optional rect
  std::uint8_t backends;   // BackendMask
  ItemType items[kMaxCommandItems - 1];  // the types of items 1 .. max_items − 1
};

inline constexpr KindSchema kCommandSchema[] = {
    {"begin", CommandKind::begin, 2, 2, kBothBackends, {ItemType::colour}},
    {"clip", CommandKind::clip, 2, 2, kBothBackends, {ItemType::rect_or_null}},
    {"rect", CommandKind::rect, 6, 6, kBothBackends,
     {ItemType::rect, ItemType::optional_colour, ItemType::extent, ItemType::optional_colour, ItemType::extent}},
    {"text", CommandKind::text, 7, 7, kBothBackends,
     {ItemType::text, ItemType::coordinate, ItemType::coordinate, ItemType::colour, ItemType::text_size,
      ItemType::boolean}},
    {"line", CommandKind::line, 7, 7, kBothBackends,
     {ItemType::coordinate, ItemType::coordinate, ItemType::coordinate, ItemType::coordinate, ItemType::colour,
      ItemType::extent}},
    {"lines", CommandKind::lines, 4, 4, kBothBackends, {ItemType::point_list, ItemType::colour, ItemType::extent}},
    {"segments", CommandKind::lines, 4, 4, kBothBackends,
     {ItemType::even_point_list, ItemType::colour, ItemType::extent}},
    {"image", CommandKind::image, 5, 5, kBothBackends,
     {ItemType::source, ItemType::rect, ItemType::colour, ItemType::fit}},
    {"image_nine", CommandKind::image_nine, 5, 5, kBothBackends,
     {ItemType::source, ItemType::rect, ItemType::insets, ItemType::colour}},
    {"gradient_rect", CommandKind::gradient_rect, 7, 7, kBothBackends,
     {ItemType::rect, ItemType::colour, ItemType::colour, ItemType::axis, ItemType::extent, ItemType::extent}},
    {"styled_rect", CommandKind::styled_rect, 3, 4, kBothBackends,
     {ItemType::rect, ItemType::style, ItemType::optional_rect}},
    {"marker", CommandKind::marker, 5, 6, kBothBackends,
     {ItemType::rect, ItemType::style, ItemType::shape, ItemType::boolean, ItemType::optional_rect}},
    {"caret", CommandKind::caret, 5, 5, kBothBackends,
     {ItemType::coordinate, ItemType::coordinate, ItemType::extent, ItemType::colour}},
    {"focus_ring", CommandKind::focus_ring, 4, 4, kBothBackends,
     {ItemType::rect, ItemType::colour, ItemType::extent}},
    {"sprite", CommandKind::sprite, 9, 9, kWindowBackend,
     {ItemType::source, ItemType::rect, ItemType::frame_extent, ItemType::frame_extent, ItemType::frame_count,
      ItemType::frames_per_second, ItemType::boolean, ItemType::colour}},
    {"animated_rect", CommandKind::animated_rect, 7, 7, kWindowBackend,
     {ItemType::rect, ItemType::optional_colour, ItemType::extent, ItemType::optional_colour, ItemType::extent,
      ItemType::animation}},
    {"icon", CommandKind::icon, 6, 6, kTerminalBackend,
     {ItemType::icon_name, ItemType::coordinate, ItemType::coordinate, ItemType::extent, ItemType::colour}},
};

// The schema of `name` (compared exactly), or null for an unknown kind.
const KindSchema* find_kind_schema(std::string_view name);

// The schema of a command's kind: item 0 must be a string naming a known
// kind. Null otherwise (a non-array, a non-string kind, an unknown kind).
const KindSchema* command_schema(const cJSON* command);

}  // namespace lumora::scene
