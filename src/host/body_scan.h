// What a command body may not hold: a NUL inside a string (strings are kept
// as C strings, so it would silently cut one), and nesting deeper than the
// host accepts. The reader enforces both as it parses; the scan below
// decides the message when a body is refused.
#pragma once

#include <cstddef>

#include "scene/limits.h"

namespace lumora::host {

// One level deeper than kMaxNesting is "Invalid JSON command".
using scene::kMaxNesting;

// A zero byte, or a \u escape of code point 0, inside a JSON string. Bytes
// outside strings are not examined; a truncated escape ends the scan (the
// parse then fails).
bool has_embedded_nul(const char* body, std::size_t length);

}  // namespace lumora::host
