// Reading the process environment (the terminal's colour detection).
#pragma once

#include <optional>
#include <string_view>

namespace lumora::platform {

// The variable's value, or empty when it is not set. The view stays valid
// until the environment is changed.
std::optional<std::string_view> environment_variable(const char* name);

}  // namespace lumora::platform
