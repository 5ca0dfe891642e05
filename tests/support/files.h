// Files for tests: a private temporary directory removed with everything in
// it, FIFOs, and whole-file reads.
#pragma once

#include <string>

namespace lumora::test {

class TempDir {
 public:
  TempDir();  // under $TMPDIR (or /tmp); path() is empty when it could not be made
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Creates a FIFO (named pipe) at `path`.
bool make_fifo(const std::string& path);
// Creates a symbolic link at `path` that points to `target`.
bool make_symlink(const std::string& target, const std::string& path);

// Opens the FIFO's read end without blocking; the descriptor, or -1.
// Closed with close_descriptor.
int open_fifo_reader(const std::string& path);
void close_descriptor(int descriptor);
// Whatever the descriptor has to read now, without waiting.
std::string read_available(int descriptor);

// The whole file, or "<unreadable>".
std::string read_file(const std::string& path);

}  // namespace lumora::test
