#include "platform/files.h"

#include <cstdio>

#include "platform/stdio_file_windows.h"
#include "platform/utf16_windows.h"

namespace lumora::platform {

FileWriteStatus write_file_replacing(const std::string& path, std::string_view bytes) {
  // Paths arrive as UTF-8; the wide-character open is the only one that
  // reaches every name the file system can hold.
  std::optional<std::wstring> wide_path = utf8_to_utf16(path);
  if (!wide_path || wide_path->empty()) return FileWriteStatus::open_failed;
  FilePtr file(::_wfopen(wide_path->c_str(), L"wb"));
  if (!file) return FileWriteStatus::open_failed;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return FileWriteStatus::write_failed;
  }
  // Closed here, so that a failing flush counts as a failed write.
  if (std::fclose(file.release()) != 0) return FileWriteStatus::write_failed;
  return FileWriteStatus::ok;
}

}  // namespace lumora::platform
