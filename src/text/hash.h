// The byte hash of the tables that look strings up by their bytes: glyph
// pools and segment indexes.
#pragma once

#include <cstdint>
#include <string_view>

namespace lumora::text {

// 32-bit FNV-1a with the standard offset basis and prime.
constexpr std::uint32_t fnv1a32(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace lumora::text
