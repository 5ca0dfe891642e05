#include "platform/random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

namespace lumora::platform {
namespace {

// The device is the fallback for kernels or sandboxes without getrandom.
bool read_urandom(unsigned char* data, std::size_t length) {
  int handle = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (handle < 0) return false;
  std::size_t done = 0;
  while (done < length) {
    ssize_t got = ::read(handle, data + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(handle);
  return done == length;
}

}  // namespace

bool random_bytes(void* data, std::size_t length) {
  auto* bytes = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    ssize_t got = ::getrandom(bytes + done, length - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return read_urandom(bytes + done, length - done);
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace lumora::platform
