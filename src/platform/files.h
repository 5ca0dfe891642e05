// Whole-file writes (the terminal's capture file).
#pragma once

#include <string>
#include <string_view>

namespace lumora::platform {

enum class FileWriteStatus {
  ok,
  open_failed,   // the file could not be created or replaced, or is not a regular file
  write_failed,  // it was opened but not every byte reached it; it is left partly written
};

// Creates or truncates the regular file at `path` and writes `bytes` to it in
// binary. Never blocks on what the path names: a FIFO, a device or a socket
// is refused as open_failed, whether or not anything reads it.
FileWriteStatus write_file_replacing(const std::string& path, std::string_view bytes);

}  // namespace lumora::platform
