// Whole-file writes (the terminal's capture file).
#pragma once

#include <string>
#include <string_view>

namespace lumora::platform {

enum class FileWriteStatus {
  ok,
  open_failed,   // the file could not be created or replaced
  write_failed,  // it was opened but not every byte reached it; it is left partly written
};

// Creates or truncates the file at `path` and writes `bytes` to it in binary.
FileWriteStatus write_file_replacing(const std::string& path, std::string_view bytes);

}  // namespace lumora::platform
