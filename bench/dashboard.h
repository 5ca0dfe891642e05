// The monitoring dashboard that the terminal benchmarks update: a header
// with a clock, four bordered panels of labelled bars and a sparkline, a
// footer; 112 commands and 5.6 KB of JSON on a 200 x 60 grid.
#pragma once

#include <string>
#include <vector>

namespace lumora::bench {

inline constexpr int kDashboardColumns = 200;
inline constexpr int kDashboardRows = 60;

// The "frame" command of the dashboard showing `clock`.
std::string dashboard_frame(const std::string& clock);

// The dashboard at each second of one minute: consecutive frames differ in
// the clock's text alone.
std::vector<std::string> dashboard_frames();

}  // namespace lumora::bench
