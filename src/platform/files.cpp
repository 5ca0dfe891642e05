#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora::platform {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int handle) : handle_(handle) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (handle_ >= 0) ::close(handle_);
  }
  int get() const { return handle_; }
  // Closes now, so that a failing close counts as a failed write.
  bool close() {
    int handle = handle_;
    handle_ = -1;
    return ::close(handle) == 0;
  }

 private:
  int handle_;
};

// Never waits: a pipe or device that takes no more bytes now counts as a
// failed write, like a full disk.
bool write_all(int handle, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(handle, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

FileWriteStatus write_file_replacing(const std::string& path, std::string_view bytes) {
  // Opened and written without blocking, since the path may name a FIFO or
  // a device: a FIFO nobody reads fails to open at once (instead of waiting
  // for a reader), and one whose reader stops reading fails the write.
  // Only a regular file is truncated; nothing else has contents to replace.
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  if (file.get() < 0) return FileWriteStatus::open_failed;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return FileWriteStatus::open_failed;
  if (S_ISREG(status.st_mode) && ::ftruncate(file.get(), 0) != 0) return FileWriteStatus::open_failed;
  if (!write_all(file.get(), bytes)) return FileWriteStatus::write_failed;
  if (!file.close()) return FileWriteStatus::write_failed;
  return FileWriteStatus::ok;
}

}  // namespace lumora::platform
