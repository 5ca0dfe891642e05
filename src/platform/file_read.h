// Whole-file reads with a size bound, so that a caller never allocates more
// than it is prepared to keep, whatever the file on disk claims to be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumora::platform {

enum class FileReadStatus {
  ok,
  cannot_open,    // missing or unreadable
  not_regular,    // a FIFO, device or directory: no trustworthy size, and reading may block
  too_large,      // holds more than the bound allows
  read_failed,    // an I/O error, or the file changed size while being read
  out_of_memory,
};

// Reads the regular file at `path` into `bytes` when it holds at most
// `max_bytes` bytes, opened by the rule of platform/files.h. The size is checked before anything is allocated, and a
// file that grows past the bound while being read is refused as well.
// `bytes` is left empty unless the result is ok.
FileReadStatus read_file_bounded(const char* path, std::size_t max_bytes, std::vector<std::uint8_t>& bytes);

}  // namespace lumora::platform
