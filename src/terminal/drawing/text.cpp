#include "terminal/drawing/text.h"

#include <algorithm>
#include <cstring>

#include "scene/limits.h"
#include "terminal/drawing/primitives.h"
#include "terminal/drawing/rasterizer.h"
#include "text/grapheme.h"

namespace lumora::terminal {

namespace {

// Tab stops every 4 columns, counted from where the text starts.
constexpr std::int64_t kTabColumns = 4;

std::int64_t tab_advance(std::int64_t columns_from_start) { return kTabColumns - columns_from_start % kTabColumns; }

// The string of a validated item; strings from cJSON end at their NUL.
std::string_view string_of(const cJSON* item) {
  return item != nullptr && item->valuestring != nullptr ? std::string_view(item->valuestring) : std::string_view();
}

// Length of a member string when it is a string of at most `limit` bytes;
// strnlen stops looking one byte past the limit.
bool bounded_string(const cJSON* item, std::size_t limit, std::string_view& out) {
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return false;
  const std::size_t length = strnlen(item->valuestring, limit + 1);
  if (length > limit) return false;
  out = std::string_view(item->valuestring, length);
  return true;
}

json::JsonPtr size_array(const TextSize& size) {
  json::JsonPtr array(cJSON_CreateArray());
  if (!array) return {};
  for (double value : {size.width, size.height}) {
    cJSON* number = cJSON_CreateNumber(value);
    if (number == nullptr || !cJSON_AddItemToArray(array.get(), number)) {
      cJSON_Delete(number);
      return {};
    }
  }
  return array;
}

}  // namespace

TextSize measure_text(std::string_view text) {
  text::GraphemeReader reader(text);
  std::int64_t line_columns = 0;
  std::int64_t widest = 0;
  std::int64_t lines = 1;
  char control = 0;
  for (int width = reader.next_width(control); width >= 0; width = reader.next_width(control)) {
    if (control == '\n') {
      widest = std::max(widest, line_columns);
      line_columns = 0;
      ++lines;
    } else if (control == '\t') {
      line_columns += tab_advance(line_columns);
    } else {
      line_columns += width;
    }
  }
  widest = std::max(widest, line_columns);
  return {static_cast<double>(widest) * scene::kCellWidthUnits, static_cast<double>(lines) * scene::kCellHeightUnits};
}

void draw_text_at_cell(CellFrame& frame, std::string_view text, std::int64_t start_column, std::int64_t row,
                       scene::ColorValue colour) {
  const CellRect clip = frame.clip;
  // Nothing could be drawn: rows only grow, and put_glyph skips a
  // transparent colour or an empty clip.
  if (clip.empty() || row >= clip.y1 || colour.a == 0) return;

  text::GraphemeReader reader(text);
  text::Cluster cluster;
  std::int64_t column = start_column;
  for (;;) {
    char control = 0;
    int width = 0;
    if (row < clip.y0 || column >= clip.x1) {
      // Above the clip, or past its right edge: only the advance matters
      // until the next line feed, so the cluster's bytes are not gathered.
      width = reader.next_width(control);
      if (width < 0) break;
      if (control == '\t') column += tab_advance(column - start_column);
    } else {
      if (!reader.next(cluster)) break;
      control = cluster.control;
      width = cluster.width;
      if (control == '\t') {
        for (std::int64_t spaces = tab_advance(column - start_column); spaces > 0; --spaces) {
          put_glyph(frame, column, row, kBlankGlyph, 1, colour, CellKind::text);
          ++column;
        }
      } else if (control != '\n') {
        put_glyph(frame, column, row, cluster.text(), width, colour, CellKind::text);
      }
    }
    if (control == '\n') {
      column = start_column;
      ++row;
      if (row >= clip.y1) break;
    } else if (control != '\t') {
      column += width;
    }
  }
}

void draw_text(CellFrame& frame, std::string_view text, double x, double y, scene::ColorValue colour) {
  draw_text_at_cell(frame, text, column_of(x), row_of(y), colour);
}

void draw_icon(CellFrame& frame, std::string_view glyph, double x, double y, double size, scene::ColorValue colour) {
  if (!(size > 0)) return;
  const CellRect box = rect_to_cells(x, y, size, size);
  const auto columns = static_cast<std::int64_t>(measure_text(glyph).width * scene::kColumnsPerUnit);
  if (box.x1 - box.x0 < columns || box.y1 <= box.y0) return;

  const CellPoint centre = centre_cell(x, y, size, size);
  const std::int64_t column = std::min(std::max(centre.column - columns / 2, box.x0), box.x1 - columns);
  const std::int64_t row = std::min(std::max(centre.row, box.y0), box.y1 - 1);

  const CellRect saved = frame.clip;
  frame.clip = intersect(saved, box);
  draw_text_at_cell(frame, glyph, column, row, colour);
  frame.clip = saved;
}

void draw_text_command(const RasterContext&, CellFrame& frame, const cJSON* command) {
  const cJSON* text = cJSON_GetArrayItem(command, 1);
  const cJSON* x = text != nullptr ? text->next : nullptr;
  const cJSON* y = x != nullptr ? x->next : nullptr;
  const cJSON* colour_item = y != nullptr ? y->next : nullptr;
  scene::ColorValue colour;
  if (colour_item == nullptr || !parse_colour(colour_item, colour)) return;
  draw_text(frame, string_of(text), x->valuedouble, y->valuedouble, colour);
}

void draw_icon_command(const RasterContext&, CellFrame& frame, const cJSON* command) {
  const cJSON* name = cJSON_GetArrayItem(command, 1);
  const cJSON* x = name != nullptr ? name->next : nullptr;
  const cJSON* y = x != nullptr ? x->next : nullptr;
  const cJSON* size = y != nullptr ? y->next : nullptr;
  const cJSON* colour_item = size != nullptr ? size->next : nullptr;
  scene::ColorValue colour;
  if (colour_item == nullptr || !parse_colour(colour_item, colour)) return;
  const char* glyph = icon_glyph(string_of(name));
  if (glyph == nullptr) return;
  draw_icon(frame, glyph, x->valuedouble, y->valuedouble, size->valuedouble, colour);
}

json::JsonPtr measure_operation(const cJSON* command, scene::ErrorText error) {
  std::string_view text;
  if (!bounded_string(cJSON_GetObjectItemCaseSensitive(command, "text"), kMaxMeasureTextBytes, text)) {
    error.set("Invalid terminal text");
    return {};
  }
  json::JsonPtr result = size_array(measure_text(text));
  if (!result) error.set("Cannot allocate text metrics");
  return result;
}

json::JsonPtr measure_many_operation(const cJSON* command, scene::ErrorText error) {
  const cJSON* texts = cJSON_GetObjectItemCaseSensitive(command, "texts");
  if (!cJSON_IsArray(texts)) {
    error.set("Invalid terminal text batch");
    return {};
  }
  // Every entry is checked before any is measured, so that a bad entry late
  // in a large batch costs no measuring.
  std::size_t count = 0;
  for (const cJSON* entry = texts->child; entry != nullptr; entry = entry->next) {
    if (++count > kMaxMeasureBatch) {
      error.set("Terminal text batch exceeds 4096 strings");
      return {};
    }
  }
  std::string_view text;
  for (const cJSON* entry = texts->child; entry != nullptr; entry = entry->next) {
    if (!bounded_string(entry, kMaxMeasureTextBytes, text)) {
      error.set("Invalid terminal text batch");
      return {};
    }
  }
  json::JsonPtr result(cJSON_CreateArray());
  if (!result) {
    error.set("Cannot allocate text metrics");
    return {};
  }
  for (const cJSON* entry = texts->child; entry != nullptr; entry = entry->next) {
    bounded_string(entry, kMaxMeasureTextBytes, text);
    json::JsonPtr size = size_array(measure_text(text));
    if (!size || !cJSON_AddItemToArray(result.get(), size.get())) {
      error.set("Cannot allocate text metrics");
      return {};
    }
    size.release();
  }
  return result;
}

}  // namespace lumora::terminal
