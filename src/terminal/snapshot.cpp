#include "terminal/snapshot.h"

#include <string>

namespace lumora::terminal {

namespace {

constexpr std::uint64_t kBytesPerCell = 94;
constexpr std::uint64_t kBytesPerRow = 3;
constexpr std::uint64_t kBytesOverall = 128;

// What one glyph byte costs in the estimate: control bytes print as \u00XX,
// quotes and backslashes as two characters; everything else, counted twice
// for the cell text and the row text.
std::uint64_t glyph_byte_cost(unsigned char byte) {
  if (byte < 0x20) return 12;
  if (byte == '"' || byte == '\\') return 4;
  return 2;
}

cJSON* make_rgb(std::int32_t r, std::int32_t g, std::int32_t b) {
  const int channels[3] = {r, g, b};
  return cJSON_CreateIntArray(channels, 3);
}

// One cell object, in the member order controllers rely on.
cJSON* make_cell(const Cell& cell) {
  scene::JsonPtr object(cJSON_CreateObject());
  if (!object) return nullptr;
  const char* glyph = cell.glyph != nullptr ? cell.glyph : "";
  if (!cJSON_AddStringToObject(object.get(), "text", cell.width == 0 ? "" : glyph)) return nullptr;
  cJSON* foreground = make_rgb(cell.fg_r, cell.fg_g, cell.fg_b);
  if (!foreground || !cJSON_AddItemToObject(object.get(), "foreground", foreground)) {
    cJSON_Delete(foreground);
    return nullptr;
  }
  cJSON* background = make_rgb(cell.bg_r, cell.bg_g, cell.bg_b);
  if (!background || !cJSON_AddItemToObject(object.get(), "background", background)) {
    cJSON_Delete(background);
    return nullptr;
  }
  if (!cJSON_AddNumberToObject(object.get(), "width", cell.width)) return nullptr;
  if (!cJSON_AddBoolToObject(object.get(), "underline", cell.underline != 0)) return nullptr;
  return object.release();
}

bool add_owned(cJSON* array, cJSON* item) {
  if (item == nullptr) return false;
  if (!cJSON_AddItemToArray(array, item)) {
    cJSON_Delete(item);
    return false;
  }
  return true;
}

bool fill_arrays(const CellFrame& frame, cJSON* cells, cJSON* rows_text) {
  std::string row_text;
  for (std::int32_t row = 0; row < frame.rows; ++row) {
    row_text.clear();
    for (std::int32_t column = 0; column < frame.columns; ++column) {
      const Cell& cell = frame.at(column, row);
      if (!add_owned(cells, make_cell(cell))) return false;
      if (cell.width != 0 && cell.glyph != nullptr) row_text += cell.glyph;
    }
    if (!add_owned(rows_text, cJSON_CreateString(row_text.c_str()))) return false;
  }
  return true;
}

}  // namespace

std::uint64_t estimate_snapshot_bytes(const CellFrame& frame, std::uint64_t limit) {
  const std::uint64_t cells = static_cast<std::uint64_t>(frame.columns) * static_cast<std::uint64_t>(frame.rows);
  std::uint64_t estimate = cells * kBytesPerCell + static_cast<std::uint64_t>(frame.rows) * kBytesPerRow + kBytesOverall;
  if (estimate > limit) return estimate;
  for (std::uint64_t i = 0; i < cells; ++i) {
    const char* glyph = frame.cells[i].glyph;
    if (glyph == nullptr) continue;
    for (const char* byte = glyph; *byte != '\0'; ++byte) estimate += glyph_byte_cost(static_cast<unsigned char>(*byte));
    if (estimate > limit) return estimate;
  }
  return estimate;
}

scene::JsonPtr make_snapshot(const CellFrame* frame, std::int32_t columns, std::int32_t rows, scene::ErrorText error) {
  if (frame != nullptr && estimate_snapshot_bytes(*frame, kMaxSnapshotBytes) > kMaxSnapshotBytes) {
    error.set("Terminal snapshot exceeds the 16 MiB reply budget; use a smaller viewport");
    return nullptr;
  }
  try {
    scene::JsonPtr snapshot(cJSON_CreateObject());
    bool built = snapshot && cJSON_AddNumberToObject(snapshot.get(), "columns", columns) &&
                 cJSON_AddNumberToObject(snapshot.get(), "rows", rows);
    cJSON* cells = built ? cJSON_AddArrayToObject(snapshot.get(), "cells") : nullptr;
    cJSON* rows_text = cells ? cJSON_AddArrayToObject(snapshot.get(), "rows_text") : nullptr;
    built = rows_text != nullptr && (frame == nullptr || fill_arrays(*frame, cells, rows_text));
    if (built) return snapshot;
  } catch (const std::bad_alloc&) {
  }
  error.set("Cannot allocate terminal snapshot");
  return nullptr;
}

}  // namespace lumora::terminal
