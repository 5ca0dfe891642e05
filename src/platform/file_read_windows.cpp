#include "platform/file_read.h"

#include <sys/stat.h>

#include <cstdio>
#include <new>

#include "platform/stdio_file_windows.h"
#include "platform/utf16_windows.h"

namespace lumora::platform {

FileReadStatus read_file_bounded(const char* path, std::size_t max_bytes, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (path == nullptr || path[0] == '\0') return FileReadStatus::cannot_open;
  std::optional<std::wstring> wide_path = utf8_to_utf16(path);
  if (!wide_path) return FileReadStatus::cannot_open;
  FilePtr file(::_wfopen(wide_path->c_str(), L"rb"));
  if (!file) return FileReadStatus::cannot_open;
  struct _stat64 info {};
  if (::_fstat64(::_fileno(file.get()), &info) != 0) return FileReadStatus::cannot_open;
  // Directories, pipes and devices have no trustworthy size; only regular
  // files are read, as on every other system.
  if ((info.st_mode & _S_IFMT) != _S_IFREG) return FileReadStatus::not_regular;
  if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > max_bytes) return FileReadStatus::too_large;
  const auto size = static_cast<std::size_t>(info.st_size);
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    bytes = {};
    return FileReadStatus::out_of_memory;
  }
  if (size > 0 && std::fread(bytes.data(), 1, size, file.get()) != size) {
    bytes = {};
    return FileReadStatus::read_failed;
  }
  // One more byte would mean the file grew after the size was taken.
  std::uint8_t extra = 0;
  if (std::fread(&extra, 1, 1, file.get()) != 0 || std::ferror(file.get())) {
    bytes = {};
    return FileReadStatus::read_failed;
  }
  return FileReadStatus::ok;
}

}  // namespace lumora::platform
