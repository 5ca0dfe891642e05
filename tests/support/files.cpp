#include "support/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace lumora::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/lumora-test-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) != nullptr) path_ = name.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool make_fifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

bool make_symlink(const std::string& target, const std::string& path) {
  return ::symlink(target.c_str(), path.c_str()) == 0;
}

int open_fifo_reader(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

void close_descriptor(int descriptor) {
  if (descriptor >= 0) ::close(descriptor);
}

std::string read_available(int descriptor) {
  std::string text;
  char chunk[4096];
  for (;;) {
    ssize_t count = ::read(descriptor, chunk, sizeof chunk);
    if (count <= 0) return text;
    text.append(chunk, static_cast<std::size_t>(count));
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<unreadable>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace lumora::test
