// PLACEHOLDER until the terminal backend lands.
#include "terminal/terminal_backend.h"

namespace lumora::terminal {

std::unique_ptr<host::Backend> open_terminal_backend(const cJSON*, scene::ErrorText) { return nullptr; }

}  // namespace lumora::terminal
