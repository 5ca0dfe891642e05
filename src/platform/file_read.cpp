#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace lumora::platform {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

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
  if (path == nullptr || path[0] == '\0') return FileReadStatus::cannot_open;
  FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) return FileReadStatus::cannot_open;
  struct stat info {};
  // Directories, pipes and devices have no trustworthy size; only regular
  // files are read.
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return FileReadStatus::cannot_open;
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
