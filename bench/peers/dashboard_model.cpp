#include "peers/dashboard_model.h"

#include <cstdio>

namespace lumora::bench::peers {

namespace {

constexpr int kColumns = 8;
constexpr int kRowsInWindow = 6;
constexpr int kLinesPerPanel = 10;
constexpr int kPanelWidth = 150;
constexpr int kPanelHeight = 114;
constexpr int kPanelPitchX = 158;
constexpr int kPanelPitchY = 122;
constexpr int kLinePitch = 10;

constexpr Colour kBackground{0x0b, 0x0e, 0x14, 255};
constexpr Colour kBand{0x1c, 0x22, 0x30, 255};
constexpr Colour kPanelFill{0x11, 0x15, 0x1c, 255};
constexpr Colour kPanelBorder{0x3b, 0x42, 0x52, 255};
constexpr Colour kTitle{0xe5, 0xe9, 0xf0, 255};
constexpr Colour kClock{0xe5, 0xc0, 0x7b, 255};
constexpr Colour kLabel{0xd8, 0xde, 0xe9, 255};
constexpr Colour kLow{0xa3, 0xbe, 0x8c, 255};
constexpr Colour kMiddle{0xeb, 0xcb, 0x8b, 255};
constexpr Colour kHigh{0xbf, 0x61, 0x6a, 255};

Item fill_item(Box box, Colour colour) {
  Item item;
  item.kind = ItemKind::fill;
  item.box = box;
  item.fill = colour;
  return item;
}

Item text_item(std::string text, int x, int y, int size, int width, Colour colour) {
  Item item;
  item.kind = ItemKind::text;
  // The line's height is below twice its size for every font in use.
  item.box = Box{x, y, width, size * 2};
  item.fill = colour;
  item.size = size;
  item.text = std::move(text);
  return item;
}

// Panel slots fill the window row by row; slot 47 stays empty so that the
// panels of a tall dashboard start below the window.
Box panel_box(int panel) {
  const int slot = panel < kWindowPanels ? panel : panel + 1;
  const int column = slot % kColumns, row = slot / kColumns;
  const int y =
      row < kRowsInWindow ? 40 + row * kPanelPitchY : kDashboardHeight + 8 + (row - kRowsInWindow) * kPanelPitchY;
  return Box{8 + column * kPanelPitchX, y, kPanelWidth, kPanelHeight};
}

void add_group(Dashboard& dashboard, std::string id, Box bounds, std::size_t first) {
  dashboard.groups.push_back(Group{std::move(id), bounds, first, dashboard.items.size() - first});
}

void add_panel(Dashboard& dashboard, int panel, int variant) {
  const Box box = panel_box(panel);
  const std::size_t first = dashboard.items.size();
  Item frame;
  frame.kind = ItemKind::panel;
  frame.box = box;
  frame.fill = kPanelFill;
  frame.border = kPanelBorder;
  frame.radius = 6;
  frame.border_width = 1;
  dashboard.items.push_back(frame);
  for (int line = 0; line < kLinesPerPanel; ++line) {
    const int base_load = (panel * 37 + line * 53) % 100;
    const int load = (base_load + variant * 29) % 100;
    char label[32];
    std::snprintf(label, sizeof label, "node-%04d %3d%%", panel * kLinesPerPanel + line, base_load);
    const int y = box.y + 7 + line * kLinePitch;
    dashboard.items.push_back(text_item(label, box.x + 8, y, 9, 76, kLabel));
    const Colour colour = load < 50 ? kLow : load < 80 ? kMiddle : kHigh;
    dashboard.items.push_back(fill_item(Box{box.x + 86, y + 3, 4 + load * 56 / 100, 5}, colour));
  }
  add_group(dashboard, "panel-" + std::to_string(panel), box, first);
}

std::string number(int value) { return std::to_string(value); }

std::string box_text(const Box& box) {
  return "[" + number(box.x) + "," + number(box.y) + "," + number(box.w) + "," + number(box.h) + "]";
}

std::string colour_text(const Colour& colour) {
  char text[16];
  if (colour.a == 255) {
    std::snprintf(text, sizeof text, "\"#%02x%02x%02x\"", colour.r, colour.g, colour.b);
  } else {
    std::snprintf(text, sizeof text, "\"#%02x%02x%02x%02x\"", colour.r, colour.g, colour.b, colour.a);
  }
  return text;
}

// The item's draw command; the generated texts need no escaping.
std::string command_text(const Item& item) {
  switch (item.kind) {
    case ItemKind::panel:
      return "[\"rect\"," + box_text(item.box) + "," + colour_text(item.fill) + "," + number(item.radius) + "," +
             colour_text(item.border) + "," + number(item.border_width) + "]";
    case ItemKind::fill:
      return "[\"rect\"," + box_text(item.box) + "," + colour_text(item.fill) + ",0,\"\",0]";
    case ItemKind::text:
      return "[\"text\",\"" + item.text + "\"," + number(item.box.x) + "," + number(item.box.y) + "," +
             colour_text(item.fill) + "," + number(item.size) + ",false]";
  }
  return "";
}

void append_commands(std::string& out, const Dashboard& dashboard, std::size_t first, std::size_t count) {
  for (std::size_t i = first; i < first + count; ++i) {
    if (i > first) out += ',';
    out += command_text(dashboard.items[i]);
  }
}

}  // namespace

std::string clock_text(int second) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", (second / 3600) % 24, (second / 60) % 60, second % 60);
  return text;
}

Dashboard make_dashboard(const DashboardOptions& options) {
  Dashboard dashboard;
  dashboard.background = kBackground;
  std::vector<Item>& items = dashboard.items;
  items.reserve(static_cast<std::size_t>(options.panels) * 21 + 12);

  items.push_back(fill_item(Box{0, 0, kDashboardWidth, 32}, kBand));
  items.push_back(text_item("Lumora / cluster overview", 12, 8, 14, 400, kTitle));
  add_group(dashboard, "header", Box{0, 0, kDashboardWidth, 32}, 0);
  items.push_back(text_item(options.clock, kDashboardWidth - 96, 8, 14, 88, kClock));
  add_group(dashboard, kClockGroup, items.back().box, items.size() - 1);

  for (int panel = 0; panel < options.panels; ++panel) add_panel(dashboard, panel, options.variant);

  const std::size_t footer = items.size();
  const Box band{0, kDashboardHeight - 20, kDashboardWidth, 20};
  items.push_back(fill_item(band, kBand));
  const char* hints[] = {"F1 help", "F2 nodes", "F3 jobs", "F4 alerts", "/ filter", "s sort", "r refresh", "q quit"};
  for (int k = 0; k < 8; ++k) {
    items.push_back(text_item(hints[k], 12 + k * 150, band.y + 3, 11, 140, kLabel));
  }
  add_group(dashboard, "footer", band, footer);
  return dashboard;
}

bool box_visible(const Box& box) {
  return box.w > 0 && box.h > 0 && box.x < kDashboardWidth && box.y < kDashboardHeight && box.x + box.w > 0 &&
         box.y + box.h > 0;
}

std::string frame_command(const Dashboard& dashboard) {
  std::string out = "{\"op\":\"frame\",\"commands\":[[\"begin\"," + colour_text(dashboard.background) + "]";
  if (!dashboard.items.empty()) out += ',';
  append_commands(out, dashboard, 0, dashboard.items.size());
  return out + "]}";
}

std::string patch_command(const Dashboard& dashboard, const std::vector<std::string>& wanted) {
  std::string out = "{\"op\":\"patch\",\"background\":" + colour_text(dashboard.background) + ",\"upsert\":[";
  bool first = true;
  for (const Group& group : dashboard.groups) {
    bool take = wanted.empty();
    for (const std::string& id : wanted) take = take || id == group.id;
    if (!take) continue;
    if (!first) out += ',';
    first = false;
    out += "{\"id\":\"" + group.id + "\",\"bounds\":" + box_text(group.bounds) + ",\"commands\":[";
    append_commands(out, dashboard, group.first, group.count);
    out += "]}";
  }
  return out + "]}";
}

std::vector<std::string> panel_group_ids(const Dashboard& dashboard) {
  std::vector<std::string> ids;
  for (const Group& group : dashboard.groups) {
    if (group.id.rfind("panel-", 0) == 0) ids.push_back(group.id);
  }
  return ids;
}

}  // namespace lumora::bench::peers
