// Random bytes from the operating system's cryptographic source, for the
// one-time tokens that tie a host to the controller that started it.
#pragma once

#include <cstddef>

namespace lumora::platform {

// Fills `length` bytes; false when the system's source cannot be read.
bool random_bytes(void* data, std::size_t length);

}  // namespace lumora::platform
