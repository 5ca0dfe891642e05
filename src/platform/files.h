// The one rule for every file a command names (image sources, captures):
// only a regular file is read or written, and opening never blocks on what
// the path names. A FIFO would hold open() until a peer came, and a device
// may never answer; either would stop the whole host.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace lumora::platform {

// An owned file descriptor; closed when destroyed.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int handle) : handle_(handle) {}
  FileHandle(FileHandle&& other) noexcept : handle_(other.release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { close(); }

  bool valid() const { return handle_ >= 0; }
  int get() const { return handle_; }
  int release() {
    int handle = handle_;
    handle_ = -1;
    return handle;
  }
  // Closes now; false when the close reported an error (a write that was
  // not stored after all).
  bool close();

 private:
  int handle_ = -1;
};

enum class FileOpenStatus {
  ok,
  cannot_open,  // missing, not permitted, or not creatable
  not_regular,  // a FIFO, device, directory or socket, or a symbolic link to one
};

// Opens the regular file at `path` for reading, in blocking mode once it is
// known to be regular.
FileHandle open_regular_file_for_reading(const char* path, FileOpenStatus* status);

// Creates the file at `path`, or truncates it when it is an existing regular
// file, for writing in blocking mode. An existing target of any other kind
// is refused without being truncated or written.
FileHandle open_regular_file_for_writing(const char* path, FileOpenStatus* status);

// The same two as C streams for binary reading or writing, for libraries
// that read or write through one; null on failure. The caller owns and
// closes the stream.
std::FILE* open_regular_stream_for_reading(const char* path, FileOpenStatus* status);
std::FILE* open_regular_stream_for_writing(const char* path, FileOpenStatus* status);

// Whole-file writes (the terminal's capture file).
enum class FileWriteStatus {
  ok,
  open_failed,   // the file could not be created or replaced, or is not a regular file
  write_failed,  // it was opened but not every byte reached it; it is left partly written
};

// Creates or truncates the regular file at `path` and writes `bytes` to it
// in binary, by the rule above.
FileWriteStatus write_file_replacing(const std::string& path, std::string_view bytes);

}  // namespace lumora::platform
