// The dashboard that Lumora and its peers draw, described once as plain
// data: a header with a title and a clock, rounded panels with 1-px rounded
// borders holding ten labelled lines with a progress bar each, and a footer
// of key hints, in a 1280 × 800 window. Lumora receives it as a draw-command
// list or as segments; the peer programs walk the same items with their own
// drawing code. Nothing here knows Lumora or SDL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumora::bench::peers {

inline constexpr int kDashboardWidth = 1280;
inline constexpr int kDashboardHeight = 800;

struct Colour {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

// A box in whole pixels (the dashboard is drawn at scale 1).
struct Box {
  int x = 0, y = 0, w = 0, h = 0;
};

enum class ItemKind {
  panel,  // rounded rectangle: fill, then a ring of `border_width` in `border`
  fill,   // plain rectangle in `fill`
  text,   // one line of `text` at (box.x, box.y), `size` pixels, in `fill`
};

struct Item {
  ItemKind kind = ItemKind::fill;
  Box box;  // for text: where the line may fall, used only to skip invisible lines
  Colour fill;
  Colour border;
  int radius = 0;
  int border_width = 0;
  int size = 0;
  std::string text;
};

// A group of items that Lumora keeps as one named segment.
struct Group {
  std::string id;
  Box bounds;
  std::size_t first = 0;  // items [first, first + count)
  std::size_t count = 0;
};

struct Dashboard {
  Colour background;
  std::vector<Item> items;  // in drawing order, one draw command each
  std::vector<Group> groups;
};

struct DashboardOptions {
  // Panels beyond the 47 that fill the window go below it: 47 give 1,000
  // commands, 476 give 10,009.
  int panels = 47;
  int variant = 0;  // changes every bar's length, not the text
  std::string clock = "12:00:00";
};

inline constexpr int kWindowPanels = 47;
inline constexpr int kTallPanels = 476;

Dashboard make_dashboard(const DashboardOptions& options);

// True when `box` overlaps the window.
bool box_visible(const Box& box);

// The dashboard as Lumora's "frame" command.
std::string frame_command(const Dashboard& dashboard);

// A "patch" command upserting the groups whose ids pass `wanted`, with the
// background; every group when `wanted` is empty.
std::string patch_command(const Dashboard& dashboard, const std::vector<std::string>& wanted = {});

// Ids of the groups that hold panels.
std::vector<std::string> panel_group_ids(const Dashboard& dashboard);

inline constexpr const char* kClockGroup = "clock";

// The clock showing `second` (wrapping after a day).
std::string clock_text(int second);

}  // namespace lumora::bench::peers
