// Checks on a command body made before cJSON sees it: cJSON keeps strings as
// C strings, so a NUL inside one would silently cut it, and its own nesting
// limit is far deeper than the host accepts.
#pragma once

#include <cstddef>

namespace lumora::host {

// Arrays and objects may nest this deep; one more level is "Invalid JSON command".
inline constexpr std::size_t kMaxNesting = 64;

// A zero byte, or a \u escape of code point 0, inside a JSON string. Bytes
// outside strings are not examined; a truncated escape ends the scan (the
// parse then fails).
bool has_embedded_nul(const char* body, std::size_t length);

// Arrays and objects nested deeper than `limit`, counted outside strings.
bool nesting_exceeds(const char* body, std::size_t length, std::size_t limit = kMaxNesting);

}  // namespace lumora::host
