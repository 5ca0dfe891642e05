#include "platform/environment.h"

#include <cstdlib>

namespace lumora::platform {

std::optional<std::string_view> environment_variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string_view(value);
}

}  // namespace lumora::platform
