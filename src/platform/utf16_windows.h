// Text conversion at the Windows API boundary: the program keeps UTF-8
// everywhere and converts only where a wide-character call needs it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumora::platform {

// Strict: ill-formed UTF-8 and embedded NUL characters (which would cut a
// path short) give no result rather than a replacement.
std::optional<std::wstring> utf8_to_utf16(std::string_view text);

}  // namespace lumora::platform
