#include "demo_scene.h"

#include <cmath>
#include <cstdio>
#include <string_view>

namespace lumora::demo {
namespace {

// One cell is 8 x 16 scene units.
constexpr double kCellWidth = 8;
constexpr double kCellHeight = 16;

// A 16 x 8 RGBA gradient, small enough to travel inside the scene.
constexpr const char* kDemoImage =
    "data:image/png;base64,"
    "iVBORw0KGgoAAAANSUhEUgAAABAAAAAICAYAAADwdn+XAAABCElEQVR42hXMMY0DYQyEUUPIQbiTEVwopDCBUEjnOhTSulwKC8DNUlgElkIhFCbf31gaj+aZmfRjH/3ZW1c7dbNDd9v1sE1Pe+llT2320G53HXbTaf96268+dpEYmzmAAziAAziAAziAAziAAziAAziAAziALyAAAiAAAiAAAiAAAiAAAiAAAiAAAiAAYgEJkAAJkAAJkAAJkAAJkAAJkAAJkAAJkAsogAIogAIogAIogAIogAIogAIogAIogFpAAzRAAzRAAzRAAzRAAzRAAzRAAzRAA/QCBmAABmAABmAABmAABmAABmAABmAABmAWIAABCEAAAhCAAATA3Ug734P2FIAABCDTF94aPoiCeQb9AAAAAElFTkSuQmCC";

cJSON* number(double value) { return cJSON_CreateNumber(value); }
cJSON* string(std::string_view value) { return cJSON_CreateString(std::string(value).c_str()); }

// Builds a positional draw command from its items.
template <typename... Items>
cJSON* command(const char* kind, Items*... items) {
  cJSON* array = cJSON_CreateArray();
  cJSON_AddItemToArray(array, string(kind));
  (cJSON_AddItemToArray(array, items), ...);
  return array;
}

cJSON* rect(double column, double row, double columns, double rows) {
  cJSON* array = cJSON_CreateArray();
  cJSON_AddItemToArray(array, number(column * kCellWidth));
  cJSON_AddItemToArray(array, number(row * kCellHeight));
  cJSON_AddItemToArray(array, number(columns * kCellWidth));
  cJSON_AddItemToArray(array, number(rows * kCellHeight));
  return array;
}

cJSON* text(std::string_view value, double column, double row, const char* colour) {
  return command("text", string(value), number(column * kCellWidth), number(row * kCellHeight), string(colour),
                 number(16), cJSON_CreateBool(true));
}

cJSON* icon(const char* name, double column, double row, const char* colour) {
  return command("icon", string(name), number(column * kCellWidth), number(row * kCellHeight), number(16),
                 string(colour));
}

cJSON* panel_style(const char* fill, const char* fill_end, const char* border) {
  cJSON* style = cJSON_CreateObject();
  cJSON_AddStringToObject(style, "fill", fill);
  cJSON_AddStringToObject(style, "fill_end", fill_end);
  cJSON_AddStringToObject(style, "border", border);
  cJSON_AddNumberToObject(style, "border_width", 1);
  cJSON_AddNumberToObject(style, "radius", 8);
  return style;
}

cJSON* panel(double column, double row, double columns, double rows, const char* title) {
  cJSON* list = cJSON_CreateArray();
  cJSON_AddItemToArray(list, command("styled_rect", rect(column, row, columns, rows),
                                     panel_style("#1b2233", "#283352", "#6d83c4")));
  cJSON_AddItemToArray(list, text(title, column + 2, row, "#ffd479"));
  return list;
}

// A segment entry: id, bounds and the commands in `list` (taken over).
cJSON* segment(const char* id, double column, double row, double columns, double rows, cJSON* list) {
  cJSON* entry = cJSON_CreateObject();
  cJSON_AddStringToObject(entry, "id", id);
  cJSON_AddItemToObject(entry, "bounds", rect(column, row, columns, rows));
  cJSON_AddItemToObject(entry, "commands", list);
  return entry;
}

cJSON* header_segment() {
  cJSON* list = cJSON_CreateArray();
  cJSON_AddItemToArray(list, command("gradient_rect", rect(0, 0, kColumns, 3), string("#243b6b"), string("#6a2c70"),
                                     string("horizontal"), number(0), number(0)));
  cJSON_AddItemToArray(list, icon("sparkles", 2, 1, "#ffd479"));
  cJSON_AddItemToArray(list, text("Lumora render host - terminal backend", 5, 1, "#ffffff"));
  cJSON_AddItemToArray(list, icon("bolt", kColumns - 4, 1, "#ffd479"));
  return segment("header", 0, 0, kColumns, 3, list);
}

// Scripts whose widths terminals disagree about (emoji sequences, Indic
// clusters) sit in the right-hand panel, so that a shifted row moves nothing
// but that panel's own border.
cJSON* scripts_segment() {
  cJSON* list = panel(51, 4, 48, 13, " Scripts ");
  const char* lines[] = {
      "Latin       Hello, wörld! Ça va? Ærøskøbing",
      "Greek       Καλημέρα κόσμε",
      "Cyrillic    Привет, мир",
      "CJK         你好，世界  こんにちは  안녕",
      "Devanagari  नमस्ते दुनिया",
      "Emoji       🚀 ✨ 👍🏽 🇳🇴 👩‍💻",
      "Symbols     ← ↑ → ↓ ✓ ♥ ☼ ☾",
      "Tabs        a\tb\tc",
  };
  double row = 6;
  for (const char* line : lines) cJSON_AddItemToArray(list, text(line, 53, row++, "#e6e9f2"));
  return segment("scripts", 51, 4, 48, 13, list);
}

cJSON* controls_segment() {
  cJSON* list = panel(1, 4, 48, 13, " Controls ");
  cJSON* style = cJSON_CreateObject();
  cJSON_AddStringToObject(style, "fill", "#10141f");
  cJSON_AddStringToObject(style, "border", "#8fa2d8");
  cJSON_AddNumberToObject(style, "border_width", 1);
  cJSON_AddStringToObject(style, "foreground", "#7ee787");
  const struct {
    const char* shape;
    bool checked;
    const char* label;
  } markers[] = {
      {"square", true, "Check box, checked"},
      {"square", false, "Check box, clear"},
      {"circle", true, "Radio, selected"},
      {"circle", false, "Radio, not selected"},
  };
  double row = 6;
  for (const auto& marker : markers) {
    cJSON_AddItemToArray(list, command("marker", rect(3, row, 2, 1), cJSON_Duplicate(style, true),
                                       string(marker.shape), cJSON_CreateBool(marker.checked)));
    cJSON_AddItemToArray(list, text(marker.label, 7, row, "#e6e9f2"));
    ++row;
  }
  cJSON_Delete(style);
  const char* icons[] = {"home", "search", "folder", "save", "settings", "heart", "mail", "refresh", "play", "code"};
  double column = 3;
  for (const char* name : icons) {
    cJSON_AddItemToArray(list, icon(name, column, 11, "#9ad1ff"));
    column += 3;
  }
  cJSON_AddItemToArray(list, command("image", string(kDemoImage), rect(3, 12.5, 16, 4), string("#ffffff"),
                                     string("stretch")));
  cJSON_AddItemToArray(list, text("PNG as half blocks", 21, 14, "#c8cfe0"));
  cJSON_AddItemToArray(list, command("focus_ring", rect(20, 13, 22, 3), string("#ffd479"), number(4)));
  return segment("controls", 1, 4, 48, 13, list);
}

cJSON* progress_segment(const DemoState& state) {
  cJSON* list = panel(1, 18, 68, 4, " Progress ");
  constexpr double kBarColumns = 50;
  cJSON_AddItemToArray(list, command("rect", rect(3, 20, kBarColumns, 1), string("#303850"), number(0), string(""),
                                     number(0)));
  double filled = std::floor(state.progress * kBarColumns);
  if (filled > 0) {
    cJSON_AddItemToArray(list, command("gradient_rect", rect(3, 20, filled, 1), string("#2ea043"), string("#a5d6ff"),
                                       string("horizontal"), number(0), number(0)));
  }
  char percent[16];
  std::snprintf(percent, sizeof percent, "%3d %%", static_cast<int>(state.progress * 100));
  cJSON_AddItemToArray(list, text(percent, 55, 20, "#ffffff"));
  return segment("progress", 1, 18, 68, 4, list);
}

cJSON* clock_segment(const DemoState& state) {
  cJSON* list = panel(71, 18, 28, 4, " Clock ");
  cJSON_AddItemToArray(list, icon("sun", 73, 20, "#ffd479"));
  cJSON_AddItemToArray(list, text(state.clock, 76, 20, "#ffffff"));
  return segment("clock", 71, 18, 28, 4, list);
}

cJSON* events_segment(const DemoState& state) {
  cJSON* list = panel(1, 23, 98, 7, state.interactive ? " Events (type, click, scroll, paste) " : " Events ");
  double row = 24;
  if (state.event_log.empty()) {
    cJSON_AddItemToArray(list, text(state.interactive ? "Waiting for input..." : "Headless: no input", 3, row,
                                    "#8b93a7"));
  }
  for (const std::string& line : state.event_log) cJSON_AddItemToArray(list, text(line, 3, row++, "#e6e9f2"));
  return segment("events", 1, 23, 98, 7, list);
}

cJSON* footer_segment(const DemoState& state) {
  cJSON* list = cJSON_CreateArray();
  cJSON_AddItemToArray(list, text(state.interactive ? "q, Esc or Ctrl+Q quits" : "Rendered headless by lumora-host",
                                  2, kRows - 1, "#8b93a7"));
  cJSON_AddItemToArray(list, command("caret", number(kCellWidth * 40), number(kCellHeight * (kRows - 1)),
                                     number(kCellHeight), string("#ffd479")));
  return segment("footer", 0, kRows - 1, kColumns, 1, list);
}

// Typed or pasted text as one line of the event panel: control characters
// (a pasted line feed would start a new row over the panel's border) are
// shown escaped, and the cut never splits a UTF-8 sequence.
std::string printable_excerpt(std::string_view text) {
  constexpr std::size_t kMaxExcerptBytes = 60;
  std::string shown;
  std::size_t index = 0;
  while (index < text.size()) {
    const auto byte = static_cast<unsigned char>(text[index]);
    std::string piece;
    std::size_t consumed = 1;
    if (byte == '\n') {
      piece = "\\n";
    } else if (byte == '\r') {
      piece = "\\r";
    } else if (byte == '\t') {
      piece = "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      piece = escaped;
    } else {
      consumed = byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
      piece = text.substr(index, consumed);
    }
    if (shown.size() + piece.size() > kMaxExcerptBytes) break;
    shown += piece;
    index += consumed;
  }
  return shown;
}

json::JsonPtr make_patch(cJSON* upsert) {
  json::JsonPtr patch(cJSON_CreateObject());
  cJSON_AddStringToObject(patch.get(), "op", "patch");
  cJSON_AddItemToObject(patch.get(), "upsert", upsert);
  return patch;
}

}  // namespace

json::JsonPtr initial_patch(const DemoState& state) {
  cJSON* upsert = cJSON_CreateArray();
  cJSON_AddItemToArray(upsert, header_segment());
  cJSON_AddItemToArray(upsert, scripts_segment());
  cJSON_AddItemToArray(upsert, controls_segment());
  cJSON_AddItemToArray(upsert, progress_segment(state));
  cJSON_AddItemToArray(upsert, clock_segment(state));
  cJSON_AddItemToArray(upsert, events_segment(state));
  cJSON_AddItemToArray(upsert, footer_segment(state));
  json::JsonPtr patch = make_patch(upsert);
  cJSON_AddStringToObject(patch.get(), "background", "#0d1117");
  const char* order[] = {"header", "scripts", "controls", "progress", "clock", "events", "footer"};
  cJSON_AddItemToObject(patch.get(), "order", cJSON_CreateStringArray(order, 7));
  return patch;
}

json::JsonPtr live_patch(const DemoState& state) {
  cJSON* upsert = cJSON_CreateArray();
  cJSON_AddItemToArray(upsert, progress_segment(state));
  cJSON_AddItemToArray(upsert, clock_segment(state));
  cJSON_AddItemToArray(upsert, events_segment(state));
  return make_patch(upsert);
}

std::string describe_event(const cJSON* event) {
  std::string_view kind = json::string_member(event, "kind");
  std::string line(kind);
  auto flag = [&](const char* name) {
    if (cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(event, name))) {
      line += " +";
      line += name;
    }
  };
  if (kind == "key_down" || kind == "key_up") {
    line += "  ";
    line += json::string_member(event, "key");
    flag("shift");
    flag("ctrl");
  } else if (kind == "text" || kind == "composition") {
    line += "  \"" + printable_excerpt(json::string_member(event, "text")) + "\"";
    flag("paste");
  } else if (kind.starts_with("pointer_") || kind == "wheel") {
    char where[96];
    const cJSON* x = cJSON_GetObjectItemCaseSensitive(event, "x");
    const cJSON* y = cJSON_GetObjectItemCaseSensitive(event, "y");
    const cJSON* button = cJSON_GetObjectItemCaseSensitive(event, kind == "wheel" ? "delta" : "button");
    std::snprintf(where, sizeof where, "  x=%g y=%g %s=%g", cJSON_GetNumberValue(x), cJSON_GetNumberValue(y),
                  kind == "wheel" ? "delta" : "button", cJSON_GetNumberValue(button));
    line += where;
    flag("shift");
    flag("ctrl");
  } else if (kind == "viewport") {
    const cJSON* viewport = cJSON_GetObjectItemCaseSensitive(event, "viewport");
    char size[64];
    std::snprintf(size, sizeof size, "  %gx%g", cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(viewport, "width")),
                  cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(viewport, "height")));
    line += size;
  } else if (kind == "error" || kind == "resource_error") {
    line += "  ";
    line += json::string_member(event, "text");
  }
  return line;
}

}  // namespace lumora::demo
