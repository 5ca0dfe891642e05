#include "platform/files.h"

#include <cstdio>
#include <memory>

namespace lumora::platform {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

FileWriteStatus write_file_replacing(const std::string& path, std::string_view bytes) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) return FileWriteStatus::open_failed;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return FileWriteStatus::write_failed;
  }
  // Buffered bytes that cannot be flushed are a short write too.
  if (std::fclose(file.release()) != 0) return FileWriteStatus::write_failed;
  return FileWriteStatus::ok;
}

}  // namespace lumora::platform
