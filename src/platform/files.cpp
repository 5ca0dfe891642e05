#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora::platform {

namespace {

// O_NONBLOCK makes open() return at once whatever the path names: a FIFO
// for reading opens without a writer, one for writing fails without a
// reader. It is cleared once the file is known to be regular, where it has
// no meaning anyway.
FileHandle open_checked(const char* path, int flags, FileOpenStatus* status) {
  *status = FileOpenStatus::cannot_open;
  if (path == nullptr || path[0] == '\0') return FileHandle();
  FileHandle file(::open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  if (!file.valid()) {
    if (errno == ENXIO) *status = FileOpenStatus::not_regular;  // a FIFO without a reader
    return FileHandle();
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return FileHandle();
  if (!S_ISREG(info.st_mode)) {
    *status = FileOpenStatus::not_regular;
    return FileHandle();
  }
  const int current = ::fcntl(file.get(), F_GETFL);
  if (current < 0 || ::fcntl(file.get(), F_SETFL, current & ~O_NONBLOCK) != 0) return FileHandle();
  *status = FileOpenStatus::ok;
  return file;
}

std::FILE* stream_of(FileHandle file, const char* mode, FileOpenStatus* status) {
  if (!file.valid()) return nullptr;
  std::FILE* stream = ::fdopen(file.get(), mode);
  if (stream == nullptr) {
    *status = FileOpenStatus::cannot_open;
    return nullptr;
  }
  file.release();  // the stream owns it now
  return stream;
}

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

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.release();
  }
  return *this;
}

bool FileHandle::close() {
  if (handle_ < 0) return true;
  const int handle = release();
  return ::close(handle) == 0;
}

FileHandle open_regular_file_for_reading(const char* path, FileOpenStatus* status) {
  return open_checked(path, O_RDONLY, status);
}

FileHandle open_regular_file_for_writing(const char* path, FileOpenStatus* status) {
  *status = FileOpenStatus::cannot_open;
  if (path == nullptr || path[0] == '\0') return FileHandle();
  // An existing target of another kind is refused before it is opened at
  // all: opening a FIFO that somebody reads, or a device, already acts on it.
  // Symbolic links are followed, so a link to a pipe is refused too.
  struct stat info {};
  if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    *status = FileOpenStatus::not_regular;
    return FileHandle();
  }
  // Truncated only once it is known to be regular: the path may have been
  // replaced between the two looks.
  FileHandle file = open_checked(path, O_WRONLY | O_CREAT, status);
  if (file.valid() && ::ftruncate(file.get(), 0) != 0) {
    *status = FileOpenStatus::cannot_open;
    return FileHandle();
  }
  return file;
}

std::FILE* open_regular_stream_for_reading(const char* path, FileOpenStatus* status) {
  return stream_of(open_regular_file_for_reading(path, status), "rb", status);
}

std::FILE* open_regular_stream_for_writing(const char* path, FileOpenStatus* status) {
  return stream_of(open_regular_file_for_writing(path, status), "wb", status);
}

FileWriteStatus write_file_replacing(const std::string& path, std::string_view bytes) {
  FileOpenStatus status;
  FileHandle file = open_regular_file_for_writing(path.c_str(), &status);
  if (!file.valid()) return FileWriteStatus::open_failed;
  if (!write_all(file.get(), bytes)) return FileWriteStatus::write_failed;
  if (!file.close()) return FileWriteStatus::write_failed;
  return FileWriteStatus::ok;
}

}  // namespace lumora::platform
