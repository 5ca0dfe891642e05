#include "terminal/drawing/rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "scene/style.h"
#include "terminal/drawing/primitives.h"

namespace lumora::terminal {
namespace {

// Line end cells are clamped to this before being walked.
constexpr double kMaxLineCell = 1e9;
// The far edge of the clip as a continuous coordinate stays inside its last cell.
constexpr double kClipEdgeInset = 1e-9;
constexpr std::size_t kMaxItems = 7;  // items after the kind, largest kind

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
  Rgba ignored;
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
  if (item == nullptr || cJSON_IsNull(item)) return true;
  RectValue rect;
  return read_rect(item, &rect) && rect.w >= 0 && rect.h >= 0;
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

Rgba colour_of(const cJSON* item) {
  Rgba colour;
  parse_colour(item, colour);
  return colour;
}

void draw_points(CellFrame& frame, const cJSON* points, bool pairs, Rgba colour, double width) {
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

void call(CommandDrawer drawer, const RasterContext& context, CellFrame& frame, const cJSON* command) {
  if (drawer != nullptr) drawer(context, frame, command);
}

// Validates by kind and, when valid, draws. `items` are the items after the
// kind; `count` how many there are.
bool validate_and_draw(const RasterContext& context, CellFrame& frame, const cJSON* command, const char* kind,
                       const cJSON* const* items, std::size_t count) {
  const KindDrawers none;
  const KindDrawers& drawers = context.drawers != nullptr ? *context.drawers : none;
  if (std::strcmp(kind, "begin") == 0) {
    if (count != 1 || !is_colour(items[0])) return false;
    clear_frame(frame, colour_of(items[0]));
  } else if (std::strcmp(kind, "clip") == 0) {
    if (count != 1 || (!cJSON_IsNull(items[0]) && !read_rect(items[0]))) return false;
    set_clip(frame, items[0]);
  } else if (std::strcmp(kind, "rect") == 0) {
    if (count != 5 || !read_rect(items[0]) || !is_colour(items[1]) || !is_number(items[2]) ||
        !is_colour(items[3]) || !is_number(items[4])) {
      return false;
    }
    draw_rect_command(frame, items);
  } else if (std::strcmp(kind, "text") == 0) {
    if (count != 6 || !is_string(items[0]) || !is_number(items[1]) || !is_number(items[2]) ||
        !is_colour(items[3]) || !is_number(items[4]) || !cJSON_IsBool(items[5])) {
      return false;
    }
    call(drawers.text, context, frame, command);
  } else if (std::strcmp(kind, "line") == 0) {
    if (count != 6 || !is_number(items[0]) || !is_number(items[1]) || !is_number(items[2]) ||
        !is_number(items[3]) || !is_colour(items[4]) || !is_number(items[5])) {
      return false;
    }
    draw_line(frame, items[0]->valuedouble, items[1]->valuedouble, items[2]->valuedouble, items[3]->valuedouble,
              colour_of(items[4]), items[5]->valuedouble);
  } else if (std::strcmp(kind, "lines") == 0 || std::strcmp(kind, "segments") == 0) {
    const bool pairs = kind[1] == 'e';
    if (count != 3 || !is_point_array(items[0], pairs) || !is_colour(items[1]) || !is_number(items[2])) {
      return false;
    }
    draw_points(frame, items[0], pairs, colour_of(items[1]), items[2]->valuedouble);
  } else if (std::strcmp(kind, "gradient_rect") == 0) {
    if (count != 6 || !read_rect(items[0]) || !is_colour(items[1]) || !is_colour(items[2]) ||
        !(string_is(items[3], "vertical") || string_is(items[3], "horizontal")) || !is_number(items[4]) ||
        !is_number(items[5])) {
      return false;
    }
    call(drawers.gradient_rect, context, frame, command);
  } else if (std::strcmp(kind, "styled_rect") == 0) {
    if ((count != 2 && count != 3) || !read_rect(items[0]) || !is_style(items[1]) ||
        !is_optional_rect(count == 3 ? items[2] : nullptr)) {
      return false;
    }
    call(drawers.styled_rect, context, frame, command);
  } else if (std::strcmp(kind, "marker") == 0) {
    if ((count != 4 && count != 5) || !read_rect(items[0]) || !is_style(items[1]) ||
        !(string_is(items[2], "square") || string_is(items[2], "circle")) || !cJSON_IsBool(items[3]) ||
        !is_optional_rect(count == 5 ? items[4] : nullptr)) {
      return false;
    }
    call(drawers.marker, context, frame, command);
  } else if (std::strcmp(kind, "focus_ring") == 0) {
    if (count != 3 || !read_rect(items[0]) || !is_colour(items[1]) || !is_number(items[2])) return false;
    call(drawers.focus_ring, context, frame, command);
  } else if (std::strcmp(kind, "caret") == 0) {
    if (count != 4 || !is_number(items[0]) || !is_number(items[1]) || !is_number(items[2]) ||
        !is_colour(items[3])) {
      return false;
    }
    if (items[2]->valuedouble > 0) {
      Rgba colour = colour_of(items[3]);
      mark_underline(frame, column_of(items[0]->valuedouble), row_of(items[1]->valuedouble), &colour);
    }
  } else if (std::strcmp(kind, "icon") == 0) {
    if (count != 5 || !is_string(items[0]) || icon_glyph(items[0]->valuestring) == nullptr ||
        !is_number(items[1]) || !is_number(items[2]) || !is_number(items[3]) || !(items[3]->valuedouble >= 0) ||
        !is_colour(items[4])) {
      return false;
    }
    call(drawers.icon, context, frame, command);
  } else if (std::strcmp(kind, "image") == 0) {
    if (count != 4 || !is_string(items[0]) || !read_rect(items[1]) || !is_colour(items[2]) || !is_fit(items[3])) {
      return false;
    }
    call(drawers.image, context, frame, command);
  } else if (std::strcmp(kind, "image_nine") == 0) {
    if (count != 4 || !is_string(items[0]) || !read_rect(items[1]) || !is_insets(items[2]) ||
        !is_colour(items[3])) {
      return false;
    }
    call(drawers.image_nine, context, frame, command);
  } else {
    return false;
  }
  return true;
}

void report_command_failure(std::size_t index, const cJSON* command, scene::ErrorText error) {
  const cJSON* first = cJSON_IsArray(command) ? command->child : nullptr;
  const char* kind = is_string(first) ? first->valuestring : "?";
  // The kind may be a 16 MiB string: only what can fit is formatted.
  char scratch[kCommandErrorBytes + 128];
  int written = std::snprintf(scratch, sizeof scratch,
                              "Invalid terminal command %zu (%.*s), geometry, color, or allocation budget", index,
                              static_cast<int>(kCommandErrorBytes), kind);
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

CellFrameRef new_frame(const RasterContext& context, Rgba clear, scene::ErrorText error) {
  CellFrameRef frame = make_cell_frame(context.columns, context.rows);
  if (!frame) {
    error.set("Cannot allocate terminal cells");
    return {};
  }
  frame->monochrome = context.monochrome;
  clear_frame(*frame, clear);
  return frame;
}

}  // namespace

const char* icon_glyph(std::string_view name) {
  for (const Icon& icon : kIcons) {
    if (name == icon.name) return icon.glyph;
  }
  return nullptr;
}

bool rasterize_command(const RasterContext& context, CellFrame& frame, const cJSON* command) {
  if (!cJSON_IsArray(command) || !is_string(command->child)) return false;
  const cJSON* items[kMaxItems];
  std::size_t count = 0;
  for (const cJSON* item = command->child->next; item != nullptr; item = item->next) {
    if (count == kMaxItems) return false;
    items[count++] = item;
  }
  if (!validate_and_draw(context, frame, command, command->child->valuestring, items, count)) return false;
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

CellFrameRef compose_frame(const RasterContext& context, const cJSON* list, Rgba clear, scene::ErrorText error) {
  try {
    CellFrameRef frame = new_frame(context, clear, error);
    if (!frame || !draw_command_list(context, *frame, list, false, error)) return {};
    return frame;
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate terminal cells");
    return {};
  }
}

CellFrameRef compose_frame(const RasterContext& context, std::span<const cJSON* const> segment_lists, Rgba clear,
                           scene::ErrorText error) {
  try {
    CellFrameRef frame = new_frame(context, clear, error);
    if (!frame) return {};
    for (const cJSON* list : segment_lists) {
      frame->clip = frame->whole_grid();
      if (!draw_command_list(context, *frame, list, true, error)) return {};
    }
    return frame;
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate terminal cells");
    return {};
  }
}

void clear_frame(CellFrame& frame, Rgba colour) {
  frame.background = Rgba{(colour.r * colour.a + 127) / 255, (colour.g * colour.a + 127) / 255,
                          (colour.b * colour.a + 127) / 255, 255};
  const std::size_t total = static_cast<std::size_t>(frame.columns) * static_cast<std::size_t>(frame.rows);
  for (std::size_t i = 0; i < total; ++i) {
    Cell& cell = frame.cells[i];
    blank_cell(cell);
    cell.set_background(frame.background);
  }
  frame.clip = frame.whole_grid();
}

void draw_line(CellFrame& frame, double x1, double y1, double x2, double y2, Rgba colour, double width) {
  const CellRect clip = frame.clip;
  if (!(width > 0) || clip.empty()) return;
  const double X1 = x1 * 0.125, Y1 = y1 * 0.0625;
  const double DX = x2 * 0.125 - X1, DY = y2 * 0.0625 - Y1;
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

bool draw_rect_fill(CellFrame& frame, double x, double y, double w, double h, Rgba fill) {
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
  CellRect area = intersect(rect_to_cells(x, y, w, h), frame.clip);
  if (area.empty()) return false;
  for (std::int64_t row = area.y0; row < area.y1; ++row) {
    for (std::int64_t column = area.x0; column < area.x1; ++column) {
      if (fill.a <= 254 && column != area.x0 && frame.at(column, row).width == 0) continue;
      fill_cell(frame, column, row, fill);
    }
  }
  return false;
}

}  // namespace lumora::terminal
