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

// Where each panel goes in a viewport of the state's size: the full layout
// at 100 x 32, narrower columns and fewer rows (a one-row header, no gaps,
// shorter panels) down to 60 x 20. The footer always takes the last row.
struct Layout {
  int columns = kColumns;
  int header_rows = 3;
  int top_row = 4, top_rows = 13;            // controls and scripts
  int left_columns = 48;                     // controls; scripts take the rest
  int progress_row = 18, progress_rows = 4;  // progress and clock
  int clock_columns = 28;
  int events_row = 23, events_rows = 7;
  int footer_row = kRows - 1;
};

Layout layout_for(const DemoState& state) {
  Layout layout;
  const int columns = state.columns > kMinColumns ? state.columns : kMinColumns;
  const int rows = state.rows > kMinRows ? state.rows : kMinRows;
  layout.columns = columns;
  layout.footer_row = (state.rows > 1 ? state.rows : 1) - 1;
  layout.header_rows = rows >= 28 ? 3 : 1;
  const int gap = rows >= kRows ? 1 : 0;
  int left = rows - layout.header_rows - 1 - 4 * gap;
  layout.progress_rows = 4;
  layout.events_rows = 7;
  constexpr int kMinTopRows = 5;
  while (left - layout.progress_rows - layout.events_rows < kMinTopRows && layout.events_rows > 4) --layout.events_rows;
  while (left - layout.progress_rows - layout.events_rows < kMinTopRows && layout.progress_rows > 3) {
    --layout.progress_rows;
  }
  layout.top_row = layout.header_rows + gap;
  layout.top_rows = left - layout.progress_rows - layout.events_rows;
  layout.progress_row = layout.top_row + layout.top_rows + gap;
  layout.events_row = layout.progress_row + layout.progress_rows + gap;
  layout.left_columns = (columns - 4) / 2;
  const int clock_columns = columns * 28 / 100;
  layout.clock_columns = clock_columns < 16 ? 16 : clock_columns > 28 ? 28 : clock_columns;
  return layout;
}

// Keeps a panel's content inside its border.
cJSON* clip_to_inside(double column, double row, double columns, double rows) {
  return command("clip", rect(column + 1, row + 1, columns - 2, rows - 2));
}

// A segment entry: id, bounds and the commands in `list` (taken over).
cJSON* segment(const char* id, double column, double row, double columns, double rows, cJSON* list) {
  cJSON* entry = cJSON_CreateObject();
  cJSON_AddStringToObject(entry, "id", id);
  cJSON_AddItemToObject(entry, "bounds", rect(column, row, columns, rows));
  cJSON_AddItemToObject(entry, "commands", list);
  return entry;
}

cJSON* header_segment(const Layout& layout) {
  cJSON* list = cJSON_CreateArray();
  const int title_row = layout.header_rows / 2;
  cJSON_AddItemToArray(list, command("gradient_rect", rect(0, 0, layout.columns, layout.header_rows),
                                     string("#243b6b"), string("#6a2c70"), string("horizontal"), number(0),
                                     number(0)));
  cJSON_AddItemToArray(list, icon("sparkles", 2, title_row, "#ffd479"));
  cJSON_AddItemToArray(list, text("Lumora render host - terminal backend", 5, title_row, "#ffffff"));
  cJSON_AddItemToArray(list, icon("bolt", layout.columns - 4, title_row, "#ffd479"));
  return segment("header", 0, 0, layout.columns, layout.header_rows, list);
}

// Scripts whose widths terminals disagree about (emoji sequences, Indic
// clusters) sit in the right-hand panel, so that a shifted row moves nothing
// but that panel's own border.
cJSON* scripts_segment(const Layout& layout) {
  const int x = layout.left_columns + 3;
  const int width = layout.columns - x - 1;
  cJSON* list = panel(x, layout.top_row, width, layout.top_rows, " Scripts ");
  cJSON_AddItemToArray(list, clip_to_inside(x, layout.top_row, width, layout.top_rows));
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
  double row = layout.top_row + 2;
  for (const char* line : lines) cJSON_AddItemToArray(list, text(line, x + 2, row++, "#e6e9f2"));
  return segment("scripts", x, layout.top_row, width, layout.top_rows, list);
}

cJSON* controls_segment(const Layout& layout) {
  const int top = layout.top_row;
  cJSON* list = panel(1, top, layout.left_columns, layout.top_rows, " Controls ");
  cJSON_AddItemToArray(list, clip_to_inside(1, top, layout.left_columns, layout.top_rows));
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
  double row = top + 2;
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
    cJSON_AddItemToArray(list, icon(name, column, top + 7, "#9ad1ff"));
    column += 3;
  }
  cJSON_AddItemToArray(list, command("image", string(kDemoImage), rect(3, top + 8.5, 16, 4), string("#ffffff"),
                                     string("stretch")));
  cJSON_AddItemToArray(list, text("PNG as half blocks", 21, top + 10, "#c8cfe0"));
  cJSON_AddItemToArray(list, command("focus_ring", rect(20, top + 9, 22, 3), string("#ffd479"), number(4)));
  return segment("controls", 1, top, layout.left_columns, layout.top_rows, list);
}

cJSON* progress_segment(const DemoState& state, const Layout& layout) {
  const int width = layout.columns - layout.clock_columns - 4;
  const int top = layout.progress_row;
  const int bar_row = top + layout.progress_rows / 2;
  cJSON* list = panel(1, top, width, layout.progress_rows, " Progress ");
  const double bar_columns = width - 18;
  cJSON_AddItemToArray(list, command("rect", rect(3, bar_row, bar_columns, 1), string("#303850"), number(0),
                                     string(""), number(0)));
  double filled = std::floor(state.progress * bar_columns);
  if (filled > 0) {
    cJSON_AddItemToArray(list, command("gradient_rect", rect(3, bar_row, filled, 1), string("#2ea043"),
                                       string("#a5d6ff"), string("horizontal"), number(0), number(0)));
  }
  char percent[16];
  std::snprintf(percent, sizeof percent, "%3d %%", static_cast<int>(state.progress * 100));
  cJSON_AddItemToArray(list, text(percent, 5 + bar_columns, bar_row, "#ffffff"));
  return segment("progress", 1, top, width, layout.progress_rows, list);
}

cJSON* clock_segment(const DemoState& state, const Layout& layout) {
  const int x = layout.columns - layout.clock_columns - 1;
  const int top = layout.progress_row;
  const int row = top + layout.progress_rows / 2;
  cJSON* list = panel(x, top, layout.clock_columns, layout.progress_rows, " Clock ");
  cJSON_AddItemToArray(list, icon("sun", x + 2, row, "#ffd479"));
  cJSON_AddItemToArray(list, text(state.clock, x + 5, row, "#ffffff"));
  return segment("clock", x, top, layout.clock_columns, layout.progress_rows, list);
}

cJSON* events_segment(const DemoState& state, const Layout& layout) {
  const int top = layout.events_row;
  const int width = layout.columns - 2;
  cJSON* list = panel(1, top, width, layout.events_rows,
                      state.interactive ? " Events (type, click, scroll, paste) " : " Events ");
  cJSON_AddItemToArray(list, clip_to_inside(1, top, width, layout.events_rows));
  double row = top + 1;
  if (state.event_log.empty()) {
    cJSON_AddItemToArray(list, text(state.interactive ? "Waiting for input..." : "Headless: no input", 3, row,
                                    "#8b93a7"));
  }
  // The newest lines that fit.
  const std::size_t shown = static_cast<std::size_t>(layout.events_rows - 2);
  const std::size_t skipped = state.event_log.size() > shown ? state.event_log.size() - shown : 0;
  for (std::size_t index = skipped; index < state.event_log.size(); ++index) {
    cJSON_AddItemToArray(list, text(state.event_log[index], 3, row++, "#e6e9f2"));
  }
  return segment("events", 1, top, width, layout.events_rows, list);
}

// The last row of the viewport, over whatever a viewport below the smallest
// layout cuts there, so that the quit hint always shows.
cJSON* footer_segment(const DemoState& state, const Layout& layout) {
  cJSON* list = cJSON_CreateArray();
  const double row = layout.footer_row;
  cJSON_AddItemToArray(list, command("rect", rect(0, row, layout.columns, 1), string("#0d1117"), number(0),
                                     string(""), number(0)));
  cJSON_AddItemToArray(list, text(state.interactive ? "q, Esc or Ctrl+Q quits" : "Rendered headless by lumora-host",
                                  2, row, "#8b93a7"));
  cJSON_AddItemToArray(list, command("caret", number(kCellWidth * 40), number(kCellHeight * row),
                                     number(kCellHeight), string("#ffd479")));
  return segment("footer", 0, row, layout.columns, 1, list);
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
  const Layout layout = layout_for(state);
  cJSON* upsert = cJSON_CreateArray();
  cJSON_AddItemToArray(upsert, header_segment(layout));
  cJSON_AddItemToArray(upsert, scripts_segment(layout));
  cJSON_AddItemToArray(upsert, controls_segment(layout));
  cJSON_AddItemToArray(upsert, progress_segment(state, layout));
  cJSON_AddItemToArray(upsert, clock_segment(state, layout));
  cJSON_AddItemToArray(upsert, events_segment(state, layout));
  cJSON_AddItemToArray(upsert, footer_segment(state, layout));
  json::JsonPtr patch = make_patch(upsert);
  cJSON_AddStringToObject(patch.get(), "background", "#0d1117");
  const char* order[] = {"header", "scripts", "controls", "progress", "clock", "events", "footer"};
  cJSON_AddItemToObject(patch.get(), "order", cJSON_CreateStringArray(order, 7));
  return patch;
}

json::JsonPtr live_patch(const DemoState& state) {
  const Layout layout = layout_for(state);
  cJSON* upsert = cJSON_CreateArray();
  cJSON_AddItemToArray(upsert, progress_segment(state, layout));
  cJSON_AddItemToArray(upsert, clock_segment(state, layout));
  cJSON_AddItemToArray(upsert, events_segment(state, layout));
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
