// The window demo's scene: a segmented desktop UI built as JSON patches.
// Panels, controls, scripts, images, a sprite, animated rectangles, a live
// clock and progress bar, a button that cross-fades on hover and an event
// log, each in segments of their own so that only what changed is sent and
// redrawn.
#pragma once

#include <array>
#include <deque>
#include <initializer_list>
#include <string>

#include "json/json.h"

namespace lumora::demo {

// The window's logical size.
inline constexpr int kWindowWidth = 960;
inline constexpr int kWindowHeight = 680;
inline constexpr std::size_t kWindowEventLines = 9;
// How long the hover and toggle changes cross-fade.
inline constexpr double kCrossFadeSeconds = 0.25;
// The font size of the button's label, which the runner measures.
inline constexpr double kButtonLabelPoints = 15;
inline constexpr const char* kButtonLabel = "Hover me";
inline constexpr double kFieldTextPoints = 15;

struct WindowDemoState {
  double progress = 0;  // 0..1
  std::string clock = "00:00:00.0";
  std::deque<std::string> event_log;  // newest last
  bool interactive = false;
  bool button_hovered = false;
  std::array<bool, 2> checks = {true, false};
  int radio = 0;                 // which of the two radio buttons is selected
  std::string typed;             // text typed into the field
  double typed_width = 0;        // its measured width in logical units
  double button_label_width = 64;
  std::string footer_note;       // renderer, scale and pixel size
};

// The named segments of the scene, in drawing order.
enum class WindowPart {
  kHeader,
  kStyles,
  kControls,
  kButton,
  kField,
  kScripts,
  kImages,
  kMotion,
  kSprite,
  kSlider,
  kProgress,
  kClock,
  kEvents,
  kFooter,
};

// The first patch: background, every segment and their order.
json::JsonPtr window_initial_patch(const WindowDemoState& state);
// A patch that replaces only `parts`, cross-fading over `transition_seconds`.
json::JsonPtr window_patch(const WindowDemoState& state, std::initializer_list<WindowPart> parts,
                            double transition_seconds = 0);

// What a click or the pointer at (x, y) in logical units is over.
enum class WindowTarget { kNothing, kButton, kCheck0, kCheck1, kRadio0, kRadio1, kField };
WindowTarget window_target_at(double x, double y);

// The field's rectangle, for the host's text-input area: x, y, width, height.
std::array<double, 4> window_field_rect();

}  // namespace lumora::demo
