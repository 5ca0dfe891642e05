#include "platform/file_read.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/files.h"

namespace lumora::platform {
namespace {

// Reads up to `count` bytes, retrying after interruptions; returns the number
// read (short only at end of file) or -1 on error.
ssize_t read_fully(int fd, std::uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t got = ::read(fd, data + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

FileReadStatus read_file_bounded(const char* path, std::size_t max_bytes, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  FileOpenStatus opened;
  FileHandle file = open_regular_file_for_reading(path, &opened);
  if (opened == FileOpenStatus::not_regular) return FileReadStatus::not_regular;
  if (!file.valid()) return FileReadStatus::cannot_open;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return FileReadStatus::cannot_open;
  if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > max_bytes) return FileReadStatus::too_large;
  const auto size = static_cast<std::size_t>(info.st_size);
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    bytes = {};
    return FileReadStatus::out_of_memory;
  }
  ssize_t got = read_fully(file.get(), bytes.data(), size);
  if (got < 0 || static_cast<std::size_t>(got) != size) {
    bytes = {};
    return FileReadStatus::read_failed;
  }
  // One more byte would mean the file grew after the size was taken.
  std::uint8_t extra = 0;
  ssize_t more = read_fully(file.get(), &extra, 1);
  if (more != 0) {
    bytes = {};
    return FileReadStatus::read_failed;
  }
  return FileReadStatus::ok;
}

}  // namespace lumora::platform
