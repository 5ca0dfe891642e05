#include "platform/random.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>

namespace lumora::platform {

bool random_bytes(void* data, std::size_t length) {
  auto* bytes = static_cast<unsigned char*>(data);
  // The call takes a 32-bit count; ask in pieces that always fit one.
  constexpr std::size_t kMaxPiece = 1u << 30;
  while (length > 0) {
    const std::size_t piece = std::min(length, kMaxPiece);
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(piece), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return false;
    }
    bytes += piece;
    length -= piece;
  }
  return true;
}

}  // namespace lumora::platform
