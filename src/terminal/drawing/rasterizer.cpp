#include "terminal/drawing/rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "scene/command_schema.h"
#include "scene/limits.h"
#include "scene/scene_format.h"
#include "scene/style.h"
#include "terminal/drawing/boxes.h"
#include "terminal/drawing/image_draw.h"
#include "terminal/drawing/primitives.h"
#include "terminal/drawing/text.h"

namespace lumora::terminal {
namespace {

// Line end cells are clamped to this before being walked.
constexpr double kMaxLineCell = 1e9;
// The far edge of the clip as a continuous coordinate stays inside its last cell.
constexpr double kClipEdgeInset = 1e-9;

struct Icon {
  const char* name;
  const char* glyph;
};

constexpr Icon kIcons[] = {
    {"check", "✓"},        {"close", "×"},         {"plus", "+"},          {"minus", "−"},
    {"play", "▶"},         {"pause", "‖"},         {"home", "⌂"},          {"save", "▣"},
    {"folder", "▱"},       {"search", "⌕"},        {"undo", "↶"},          {"redo", "↷"},
    {"chevron_left", "‹"}, {"chevron_right", "›"}, {"chevron_up", "▴"},    {"chevron_down", "▾"},
    {"arrow_left", "←"},   {"arrow_right", "→"},   {"arrow_up", "↑"},      {"arrow_down", "↓"},
    {"diamond", "◇"},      {"settings", "⚙"},      {"layers", "▱▱"},       {"sparkles", "✧"},
    {"sun", "☼"},          {"moon", "☾"},          {"heart", "♥"},         {"copy", "⧉"},
    {"download", "↓"},     {"upload", "↑"},        {"refresh", "↻"},       {"external_link", "↗"},
    {"grid", "▦"},         {"chart", "▥"},         {"bolt", "ϟ"},          {"menu", "≡"},
    {"code", "‹›"},        {"mail", "✉"},
};
static_assert(sizeof kIcons / sizeof kIcons[0] == 38);

bool is_number(const cJSON* item) { return cJSON_IsNumber(item) && std::isfinite(item->valuedouble); }
bool is_colour(const cJSON* item) {
  scene::ColorValue ignored;
  return parse_colour(item, ignored);
}
bool is_string(const cJSON* item) { return cJSON_IsString(item) && item->valuestring != nullptr; }
bool string_is(const cJSON* item, const char* text) {
  return is_string(item) && std::strcmp(item->valuestring, text) == 0;
}

struct RectValue {
  double x = 0, y = 0, w = 0, h = 0;
};

bool read_rect(const cJSON* item, RectValue* out = nullptr) {
  if (!cJSON_IsArray(item)) return false;
  double values[4];
  int count = 0;
  for (const cJSON* value = item->child; value != nullptr; value = value->next) {
    if (count == 4 || !is_number(value)) return false;
    values[count++] = value->valuedouble;
  }
  if (count != 4 || !std::isfinite(values[0] + values[2]) || !std::isfinite(values[1] + values[3])) return false;
  if (out != nullptr) *out = RectValue{values[0], values[1], values[2], values[3]};
  return true;
}

// Absent, null, or a rect without negative extents.
bool is_optional_rect(const cJSON* item) {
  return item == nullptr || cJSON_IsNull(item) || rect_without_negative_extent(item);
}

bool is_point_array(const cJSON* item, bool even) {
  if (!cJSON_IsArray(item)) return false;
  std::size_t count = 0;
  for (const cJSON* point = item->child; point != nullptr; point = point->next) {
    if (++count > kMaxTerminalPoints || !cJSON_IsArray(point)) return false;
    const cJSON* first = point->child;
    if (!is_number(first) || !is_number(first->next) || first->next->next != nullptr) return false;
  }
  return !even || count % 2 == 0;
}

// The style check: known names, each once, scalar values, and every colour
// member that is not null a colour the terminal can parse.
bool is_style(const cJSON* item) {
  if (!scene::style_names_acceptable(item)) return false;
  for (const cJSON* member = item->child; member != nullptr; member = member->next) {
    if (scene::is_style_colour_member(member->string) && !cJSON_IsNull(member) && !is_colour(member)) return false;
  }
  return true;
}

bool is_fit(const cJSON* item) {
  return string_is(item, "stretch") || string_is(item, "contain") || string_is(item, "cover");
}

bool is_insets(const cJSON* item) {
  if (!cJSON_IsArray(item)) return false;
  int count = 0;
  for (const cJSON* value = item->child; value != nullptr; value = value->next) {
    if (++count > 4 || !is_number(value)) return false;
  }
  return count == 4;
}

scene::ColorValue colour_of(const cJSON* item) {
  scene::ColorValue colour;
  parse_colour(item, colour);
  return colour;
}

void draw_points(CellFrame& frame, const cJSON* points, bool pairs, scene::ColorValue colour, double width) {
  if (!(width > 0)) return;
  const cJSON* previous = nullptr;
  for (const cJSON* point = points->child; point != nullptr; point = point->next) {
    if (previous != nullptr) {
      draw_line(frame, previous->child->valuedouble, previous->child->next->valuedouble, point->child->valuedouble,
                point->child->next->valuedouble, colour, width);
    }
    previous = pairs && previous != nullptr ? nullptr : point;
  }
}

void draw_rect_command(CellFrame& frame, const cJSON* const* items) {
  RectValue rect;
  read_rect(items[0], &rect);
  const bool has_fill = items[1]->valuestring[0] != '\0';
  const bool has_border = items[3]->valuestring[0] != '\0';
  if (has_fill && draw_rect_fill(frame, rect.x, rect.y, rect.w, rect.h, colour_of(items[1]))) return;
  if (!has_border || !(items[4]->valuedouble > 0)) return;
  CellRect cells = rect_to_cells(rect.x, rect.y, rect.w, rect.h);
  if (cells.empty()) return;
  BoxOutline outline;
  outline.a = outline.b = colour_of(items[3]);
  outline.radius = items[2]->valuedouble;
  draw_box_outline(frame, cells, outline);
}

void set_clip(CellFrame& frame, const cJSON* item) {
  if (cJSON_IsNull(item)) {
    frame.clip = frame.whole_grid();
    return;
  }
  RectValue rect;
  read_rect(item, &rect);
  frame.clip = intersect(rect_to_cells(rect.x, rect.y, rect.w, rect.h), frame.whole_grid());
}

// One item by the terminal's reading of its type. The terminal is looser than
// the table's ranges: every coordinate, extent and size only needs to be a
// finite number, because positions clamp to cells and a size of 0 or less
// draws nothing; a rect needs finite sums so that its far edge maps to a
// cell. A colour is a string that parse_colour accepts: "" is the way to give
// no colour, and null, which the window reads as no colour for optional
// colours, is refused.
bool item_acceptable(scene::ItemType type, const cJSON* item) {
  using scene::ItemType;
  switch (type) {
    case ItemType::coordinate:
    case ItemType::extent:
    case ItemType::text_size: return is_number(item);
    case ItemType::rect: return read_rect(item);
    case ItemType::rect_or_null: return cJSON_IsNull(item) || read_rect(item);
    case ItemType::optional_rect: return is_optional_rect(item);
    case ItemType::point_list: return is_point_array(item, false);
    case ItemType::even_point_list: return is_point_array(item, true);
    case ItemType::colour:
    case ItemType::optional_colour: return is_colour(item);
    case ItemType::text:
    case ItemType::source: return is_string(item);
    case ItemType::boolean: return cJSON_IsBool(item);
    case ItemType::fit: return is_fit(item);
    case ItemType::axis: return string_is(item, "vertical") || string_is(item, "horizontal");
    case ItemType::insets: return is_insets(item);
    case ItemType::style: return is_style(item);
    case ItemType::shape: return string_is(item, "square") || string_is(item, "circle");
    case ItemType::icon_name: return is_string(item) && icon_glyph(item->valuestring) != nullptr;
    // Only in kinds the terminal does not draw.
    case ItemType::frame_extent:
    case ItemType::frame_count:
    case ItemType::frames_per_second:
    case ItemType::animation: return false;
  }
  return false;
}

// The item count and every item of a command of a kind the terminal draws.
// `items` are the items after the kind; `count` how many there are.
bool items_acceptable(const scene::KindSchema& schema, const cJSON* const* items, std::size_t count) {
  if (count + 1 < schema.min_items || count + 1 > schema.max_items) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (!item_acceptable(schema.items[i], items[i])) return false;
  }
  // An icon's size is the one extent the terminal bounds: a negative box
  // cannot be centred in, where a negative radius or width just draws nothing.
  if (schema.kind == scene::CommandKind::icon && !(items[3]->valuedouble >= 0)) return false;
  return true;
}

// Draws a command whose items were accepted.
void draw(const RasterContext& context, CellFrame& frame, const cJSON* command, const scene::KindSchema& schema,
          const cJSON* const* items) {
  using scene::CommandKind;
  switch (schema.kind) {
    case CommandKind::begin: clear_frame(frame, colour_of(items[0])); break;
    case CommandKind::clip: set_clip(frame, items[0]); break;
    case CommandKind::rect: draw_rect_command(frame, items); break;
    case CommandKind::text: draw_text_command(context, frame, command); break;
    case CommandKind::line:
      draw_line(frame, items[0]->valuedouble, items[1]->valuedouble, items[2]->valuedouble, items[3]->valuedouble,
                colour_of(items[4]), items[5]->valuedouble);
      break;
    case CommandKind::lines:
      draw_points(frame, items[0], schema.items[0] == scene::ItemType::even_point_list, colour_of(items[1]),
                  items[2]->valuedouble);
      break;
    case CommandKind::gradient_rect: draw_gradient_rect_command(context, frame, command); break;
    case CommandKind::styled_rect: draw_styled_rect_command(context, frame, command); break;
    case CommandKind::marker: draw_marker_command(context, frame, command); break;
    case CommandKind::focus_ring: draw_focus_ring_command(context, frame, command); break;
    case CommandKind::caret:
      if (items[2]->valuedouble > 0) {
        scene::ColorValue colour = colour_of(items[3]);
        mark_underline(frame, column_of(items[0]->valuedouble), row_of(items[1]->valuedouble), &colour);
      }
      break;
    case CommandKind::icon: draw_icon_command(context, frame, command); break;
    case CommandKind::image: draw_image_command(context, frame, command); break;
    case CommandKind::image_nine: draw_image_nine_command(context, frame, command); break;
    case CommandKind::unknown:
    case CommandKind::sprite:
    case CommandKind::animated_rect: break;  // refused before drawing: not terminal kinds
  }
}

void report_command_failure(std::size_t index, const cJSON* command, scene::ErrorText error) {
  const std::string_view kind = scene::command_kind(command, "?");
  // The kind may be a 16 MiB string: only what can fit is formatted.
  char scratch[kCommandErrorBytes + 128];
  int written = std::snprintf(scratch, sizeof scratch,
                              "Invalid terminal command %zu (%.*s), geometry, color, or allocation budget", index,
                              static_cast<int>(std::min(kind.size(), kCommandErrorBytes)), kind.data());
  if (written < 0) {
    error.clear();
    return;
  }
  // Made well-formed first (the kind is the controller's bytes), then cut.
  char message[kCommandErrorBytes];
  std::size_t length = scene::append_valid_utf8(std::string_view(scratch, std::strlen(scratch)), message,
                                                kCommandErrorBytes - 1);
  error.set(std::string_view(message, length));
}

// A frame already cleared to `clear`, as step one of composing: blank
// cells over the cleared background, whole-grid clip. When the list begins
// with "begin", which clears every cell again (or fails the composition),
// a recycled frame's cells are not cleared twice.
CellFrameRef new_frame(const RasterContext& context, scene::ColorValue clear, const cJSON* list,
                       scene::ErrorText error) {
  const scene::ColorValue background = cleared_background(clear);
  const bool begins_with_clear = list != nullptr && cJSON_IsArray(list) && list->child != nullptr &&
                                 cJSON_IsArray(list->child) && string_is(list->child->child, "begin");
  CellFrameRef frame;
  if (context.frames == nullptr) {
    frame = make_cell_frame(context.columns, context.rows, background);
  } else if (begins_with_clear) {
    frame = context.frames->take_uncleared(context.columns, context.rows);
    if (frame) frame->background = background;
  } else {
    frame = context.frames->take(context.columns, context.rows, background);
  }
  if (!frame) {
    error.set("Cannot allocate terminal cells");
    return {};
  }
  frame->monochrome = context.monochrome;
  return frame;
}

// A composition that failed hands its frame back for the next one.
CellFrameRef discard(const RasterContext& context, CellFrameRef frame) {
  if (context.frames != nullptr) context.frames->keep(std::move(frame));
  return {};
}

}  // namespace

bool rect_without_negative_extent(const cJSON* item) {
  RectValue rect;
  return read_rect(item, &rect) && rect.w >= 0 && rect.h >= 0;
}

const char* icon_glyph(std::string_view name) {
  for (const Icon& icon : kIcons) {
    if (name == icon.name) return icon.glyph;
  }
  return nullptr;
}

bool rasterize_command(const RasterContext& context, CellFrame& frame, const cJSON* command) {
  const scene::KindSchema* schema = scene::command_schema(command);
  if (schema == nullptr || (schema->backends & scene::kTerminalBackend) == 0) return false;
  const cJSON* items[scene::kMaxCommandItems - 1];
  std::size_t count = 0;
  for (const cJSON* item = command->child->next; item != nullptr; item = item->next) {
    if (count + 1 == schema->max_items) return false;
    items[count++] = item;
  }
  if (!items_acceptable(*schema, items, count)) return false;
  draw(context, frame, command, *schema, items);
  return !frame.pool_exhausted;
}

bool draw_command_list(const RasterContext& context, CellFrame& frame, const cJSON* list, bool in_segment,
                       scene::ErrorText error, std::uint64_t* drawn) {
  std::size_t index = 0;
  for (const cJSON* command = cJSON_IsArray(list) ? list->child : nullptr; command != nullptr;
       command = command->next, ++index) {
    bool is_begin = cJSON_IsArray(command) && string_is(command->child, "begin");
    if ((in_segment && is_begin) || !rasterize_command(context, frame, command)) {
      report_command_failure(index, command, error);
      return false;
    }
    if (drawn != nullptr) ++*drawn;
  }
  return true;
}

CellFrameRef compose_frame(const RasterContext& context, const cJSON* list, scene::ColorValue clear,
                           scene::ErrorText error) {
  try {
    CellFrameRef frame = new_frame(context, clear, list, error);
    if (!frame) return {};
    if (!draw_command_list(context, *frame, list, false, error)) return discard(context, std::move(frame));
    return frame;
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate terminal cells");
    return {};
  }
}

CellFrameRef compose_frame(const RasterContext& context, std::span<const cJSON* const> segment_lists,
                           scene::ColorValue clear, scene::ErrorText error) {
  try {
    // Segments may not clear: their frame always starts cleared.
    CellFrameRef frame = new_frame(context, clear, nullptr, error);
    if (!frame) return {};
    for (const cJSON* list : segment_lists) {
      frame->clip = frame->whole_grid();
      if (!draw_command_list(context, *frame, list, true, error)) return discard(context, std::move(frame));
    }
    return frame;
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate terminal cells");
    return {};
  }
}

scene::ColorValue cleared_background(scene::ColorValue colour) {
  return scene::rgba((colour.r * colour.a + 127) / 255, (colour.g * colour.a + 127) / 255,
                     (colour.b * colour.a + 127) / 255, 255);
}

void clear_frame(CellFrame& frame, scene::ColorValue colour) {
  fill_blank(frame, cleared_background(colour));
  frame.clip = frame.whole_grid();
}

void draw_line(CellFrame& frame, double x1, double y1, double x2, double y2, scene::ColorValue colour, double width) {
  const CellRect clip = frame.clip;
  if (!(width > 0) || clip.empty()) return;
  const double X1 = x1 * scene::kColumnsPerUnit, Y1 = y1 * scene::kRowsPerUnit;
  const double DX = x2 * scene::kColumnsPerUnit - X1, DY = y2 * scene::kRowsPerUnit - Y1;
  const double min_x = static_cast<double>(clip.x0), max_x = static_cast<double>(clip.x1) - kClipEdgeInset;
  const double min_y = static_cast<double>(clip.y0), max_y = static_cast<double>(clip.y1) - kClipEdgeInset;
  double t_enter = 0, t_exit = 1;
  const double p[4] = {-DX, DX, -DY, DY};
  const double q[4] = {X1 - min_x, max_x - X1, Y1 - min_y, max_y - Y1};
  for (int edge = 0; edge < 4; ++edge) {
    if (p[edge] == 0) {
      if (q[edge] < 0) return;
    } else if (p[edge] < 0) {
      t_enter = std::max(t_enter, q[edge] / p[edge]);
    } else {
      t_exit = std::min(t_exit, q[edge] / p[edge]);
    }
  }
  if (t_enter > t_exit) return;
  auto to_cell = [](double value, std::int64_t low, std::int64_t high) {
    double cell = std::clamp(std::floor(value), -kMaxLineCell, kMaxLineCell);
    return std::clamp(static_cast<std::int64_t>(cell), low, high);
  };
  std::int64_t column = to_cell(X1 + t_enter * DX, clip.x0, clip.x1 - 1);
  std::int64_t row = to_cell(Y1 + t_enter * DY, clip.y0, clip.y1 - 1);
  const std::int64_t end_column = to_cell(X1 + t_exit * DX, clip.x0, clip.x1 - 1);
  const std::int64_t end_row = to_cell(Y1 + t_exit * DY, clip.y0, clip.y1 - 1);
  const std::int64_t delta_column = end_column > column ? end_column - column : column - end_column;
  const std::int64_t delta_row = end_row > row ? end_row - row : row - end_row;

  const char* glyph;
  if (DY == 0 || (DX != 0 && delta_row == 0)) {
    glyph = "─";
  } else if (DX == 0 || delta_column == 0) {
    glyph = "│";
  } else {
    glyph = (DX > 0) == (DY > 0) ? "╲" : "╱";
  }

  plot_line_cells(frame, CellLine{column, row, end_column, end_row}, glyph, colour);
}

bool draw_rect_fill(CellFrame& frame, double x, double y, double w, double h, scene::ColorValue fill) {
  if (w > 0 && h > 0) {
    if (h < 8 && w >= 8) {
      draw_line(frame, x, y, x + w - 4, y, fill, 1);
      return true;
    }
    if (w < 4 && h >= 16) {
      draw_line(frame, x, y, x, y + h - 8, fill, 1);
      return true;
    }
  }
  fill_cells(frame, intersect(rect_to_cells(x, y, w, h), frame.clip), fill);
  return false;
}

}  // namespace lumora::terminal
