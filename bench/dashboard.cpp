#include "dashboard.h"

#include <cstdio>

namespace lumora::bench {

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string rect_of(int x, int y, int w, int h) {
  return "[" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h) + "]";
}

}  // namespace

// A monitoring dashboard filling the grid: a header bar with a title, an
// icon and a clock; four bordered panels of ten labelled rows with a bar
// each, a sparkline and two icons; a footer of key hints. About 120
// commands and 5 KB of JSON; only `clock` differs between updates.
std::string dashboard_frame(const std::string& clock) {
  constexpr int kWidth = kDashboardColumns * 8;
  constexpr int kHeight = kDashboardRows * 16;
  const char* titles[] = {"CPU", "Memory", "Network", "Jobs"};
  const char* bar_colours[] = {"#a3be8c", "#ebcb8b", "#bf616a"};
  std::vector<std::string> commands = {
      R"(["begin","#0b0e14"])",
      "[\"rect\"," + rect_of(0, 0, kWidth, 32) + R"(,"#1c2230",0,"",0])",
      R"(["icon","grid",8,8,16,"#61afef"])",
      R"(["text","Lumora / cluster overview",32,8,"#e5e9f0",14,false])",
      "[\"text\"," + quoted(clock) + "," + std::to_string(kWidth - 80) + R"(,8,"#e5c07b",14,true])",
      "[\"line\",0,32," + std::to_string(kWidth) + R"(,32,"#3b4252",1])",
  };
  for (int panel = 0; panel < 4; ++panel) {
    const int x = 8 + (panel % 2) * 796, y = 40 + (panel / 2) * 448, w = 784, h = 440;
    commands.push_back("[\"rect\"," + rect_of(x, y, w, h) + R"(,"#11151c",4,"#3b4252",1])");
    commands.push_back("[\"text\"," + quoted(titles[panel]) + "," + std::to_string(x + 16) + "," +
                       std::to_string(y + 16) + R"(,"#88c0d0",14,false])");
    commands.push_back("[\"icon\",\"chart\"," + std::to_string(x + w - 32) + "," + std::to_string(y + 16) +
                       R"(,16,"#88c0d0"])");
    commands.push_back("[\"icon\",\"settings\"," + std::to_string(x + w - 56) + "," + std::to_string(y + 16) +
                       R"(,16,"#4c566a"])");
    commands.push_back("[\"line\"," + std::to_string(x + 8) + "," + std::to_string(y + 40) + "," +
                       std::to_string(x + w - 8) + "," + std::to_string(y + 40) + R"(,"#3b4252",1])");
    for (int row = 0; row < 10; ++row) {
      const int row_y = y + 56 + row * 32;
      const int load = (row * 37 + panel * 11) % 100;
      char label[32];
      std::snprintf(label, sizeof label, "node-%02d  %3d%%", row, load);
      commands.push_back("[\"text\"," + quoted(label) + "," + std::to_string(x + 16) + "," + std::to_string(row_y) +
                         R"(,"#d8dee9",14,true])");
      commands.push_back("[\"rect\"," + rect_of(x + 200, row_y, load * 4 + 8, 16) + "," +
                         quoted(bar_colours[row % 3]) + R"(,0,"",0])");
    }
    std::string points;
    for (int i = 0; i < 15; ++i) {
      if (i > 0) points += ",";
      points += "[" + std::to_string(x + 16 + i * 48) + "," + std::to_string(y + h - 24 - (i * 53 + panel * 7) % 5 * 16) +
                "]";
    }
    commands.push_back("[\"lines\",[" + points + R"(],"#81a1c1",1])");
  }
  commands.push_back("[\"rect\"," + rect_of(0, kHeight - 16, kWidth, 16) + R"(,"#1c2230",0,"",0])");
  commands.push_back("[\"text\",\"q quit  r refresh  / filter\",8," + std::to_string(kHeight - 16) +
                     R"(,"#d8dee9",14,false])");
  std::string body = R"({"op":"frame","commands":[)";
  for (std::size_t i = 0; i < commands.size(); ++i) body += (i > 0 ? "," : "") + commands[i];
  return body + "]}";
}

std::vector<std::string> dashboard_frames() {
  std::vector<std::string> frames;
  for (int second = 0; second < 60; ++second) {
    char clock[16];
    std::snprintf(clock, sizeof clock, "12:34:%02d", second);
    frames.push_back(dashboard_frame(clock));
  }
  return frames;
}

}  // namespace lumora::bench
