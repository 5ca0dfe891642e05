#include "platform/utf16_windows.h"

#include <windows.h>

#include <climits>
#include <new>

namespace lumora::platform {

std::optional<std::wstring> utf8_to_utf16(std::string_view text) {
  if (text.find('\0') != std::string_view::npos || text.size() > static_cast<std::size_t>(INT_MAX)) {
    return std::nullopt;
  }
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int wide_length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (wide_length <= 0) return std::nullopt;
  try {
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), wide_length) !=
        wide_length) {
      return std::nullopt;
    }
    return wide;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace lumora::platform
