#include "terminal/snapshot.h"

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "json/json_writer.h"
#include "terminal/vt/channel_digits.h"

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

// A 32-bit integer prints as its decimal digits, exactly as the printer
// prints the number item holding it ("%1.15g" of an integer below 10^15),
// without the round trip through a double and its checks.
char* put_integer(char* out, std::int32_t value) { return std::to_chars(out, out + 11, value).ptr; }

// `out` needs room for 11 bytes.
char* put_channel(char* out, std::int32_t value) {
  if (value < 0 || value > 255) return put_integer(out, value);
  return put_channel_digits(out, value);
}

char* put_text(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* put_rgb(char* out, std::int32_t r, std::int32_t g, std::int32_t b) {
  *out++ = '[';
  out = put_channel(out, r);
  *out++ = ',';
  out = put_channel(out, g);
  *out++ = ',';
  out = put_channel(out, b);
  *out++ = ']';
  return out;
}

// One cell object, in the member order controllers rely on. Everything
// after the text has a bounded length and is written in one piece.
void append_cell(std::string& out, const Cell& cell) {
  const char* glyph = cell.glyph != nullptr ? cell.glyph : "";
  out += "{\"text\":";
  json::append_json_string(out, cell.width == 0 ? "" : glyph);
  char rest[192];  // at most 14 + 37 + 14 + 37 + 9 + 11 + 19 bytes
  char* end = put_text(rest, ",\"foreground\":");
  end = put_rgb(end, cell.fg_r, cell.fg_g, cell.fg_b);
  end = put_text(end, ",\"background\":");
  end = put_rgb(end, cell.bg_r, cell.bg_g, cell.bg_b);
  end = put_text(end, ",\"width\":");
  end = put_channel(end, cell.width);
  end = put_text(end, cell.underline != 0 ? ",\"underline\":true}" : ",\"underline\":false}");
  out.append(rest, static_cast<std::size_t>(end - rest));
}

// The snapshot is written as JSON text, as the printer would print the
// object of cells, rows and texts: tens of thousands of small items would
// cost far more to build, print and free than the text itself.
void append_snapshot(std::string& out, const CellFrame* frame, std::int32_t columns, std::int32_t rows) {
  out += "{\"columns\":";
  json::append_json_number(out, columns);
  out += ",\"rows\":";
  json::append_json_number(out, rows);
  out += ",\"cells\":[";
  const std::int64_t cells = frame != nullptr ? static_cast<std::int64_t>(frame->columns) * frame->rows : 0;
  for (std::int64_t i = 0; i < cells; ++i) {
    if (i > 0) out.push_back(',');
    append_cell(out, frame->cells[i]);
  }
  out += "],\"rows_text\":[";
  std::string row_text;
  for (std::int32_t row = 0; frame != nullptr && row < frame->rows; ++row) {
    row_text.clear();
    for (std::int32_t column = 0; column < frame->columns; ++column) {
      const Cell& cell = frame->at(column, row);
      if (cell.width != 0 && cell.glyph != nullptr) row_text += cell.glyph;
    }
    if (row > 0) out.push_back(',');
    json::append_json_string(out, row_text.c_str());
  }
  out += "]}";
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

json::JsonPtr make_snapshot(const CellFrame* frame, std::int32_t columns, std::int32_t rows, scene::ErrorText error) {
  if (frame != nullptr && estimate_snapshot_bytes(*frame, kMaxSnapshotBytes) > kMaxSnapshotBytes) {
    error.set("Terminal snapshot exceeds the 16 MiB reply budget; use a smaller viewport");
    return nullptr;
  }
  try {
    std::string text;
    if (frame != nullptr) text.reserve(estimate_snapshot_bytes(*frame, kMaxSnapshotBytes));
    append_snapshot(text, frame, columns, rows);
    json::JsonPtr snapshot(json::make_raw_json(text));
    if (snapshot) return snapshot;
  } catch (const std::bad_alloc&) {
  }
  error.set("Cannot allocate terminal snapshot");
  return nullptr;
}

}  // namespace lumora::terminal
