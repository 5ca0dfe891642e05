// The window's strict validation of one draw command: the shared command
// schema applied with every value range, the animation object's member
// rules and the style rules. The terminal applies the same schema with its
// own, looser rules elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cjson/cJSON.h>

#include "scene/error_text.h"

namespace lumora::scene {

// Value ranges of the window's validation.
inline constexpr std::size_t kMaxCommandStringBytes = 16777216;  // texts, sources, colours
inline constexpr std::uint64_t kMaxCommandPoints = 200000;      // "lines", "segments"
inline constexpr double kMinTextSize = 0.01;
inline constexpr double kMaxTextSize = 2048;
inline constexpr double kMaxInset = 8192;
inline constexpr double kMaxFrameExtent = 8192;
inline constexpr double kMaxFrameCount = 4096;
inline constexpr double kMinFramesPerSecond = 0.01;
inline constexpr double kMaxFramesPerSecond = 1000;
inline constexpr double kMinAnimationSeconds = 0.001;
inline constexpr double kMaxAnimationSeconds = 86400;

// True when `command` is a command of a kind the window draws, with the
// kind's item count and every item of its type and within its range. Has no
// side effects, never allocates and reports no reason.
bool validate_draw_command(const cJSON* command);

// The message for the first rejected command of a list:
// "Invalid draw command at index %d (%s)" with its 0-based position and its
// kind ("" when item 0 is not a string). A long kind is cut to what the
// buffer holds, without reading all of it.
void report_invalid_draw_command(ErrorText error, std::size_t index, const cJSON* command);

}  // namespace lumora::scene
