// Whole-file writes (the terminal's capture file).
#pragma once

#include <string>
#include <string_view>

namespace lumora::platform {

enum class FileWriteStatus {
  ok,
  open_failed,   // the file could not be created or replaced (or a FIFO has no reader)
  write_failed,  // it was opened but not every byte reached it at once; it is left partly written
};

// Creates or truncates the file at `path` and writes `bytes` to it in binary.
// Never blocks on what the path names: a FIFO without a reader is
// open_failed, and a FIFO or device that cannot take every byte at once is
// write_failed.
FileWriteStatus write_file_replacing(const std::string& path, std::string_view bytes);

}  // namespace lumora::platform
