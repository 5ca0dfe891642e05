// The in-process window the window benchmarks draw in: the offscreen video
// driver and the software renderer (deterministic, and the same on every
// machine), 1280 × 800, vsync off, with the fonts the build links next to the
// host.
#pragma once

#include <memory>
#include <string>

#include "window/window_backend.h"

namespace lumora::bench {

inline constexpr int kBenchWindowWidth = 1280;
inline constexpr int kBenchWindowHeight = 800;

// The folder of the fonts the build links next to the host.
std::string bench_font_dir();

// An open window of kBenchWindowWidth × kBenchWindowHeight, null when it
// cannot open; `cache_scene` is its "cache_scene" member.
std::unique_ptr<window::WindowBackend> open_offscreen_window(bool cache_scene = true);

}  // namespace lumora::bench
