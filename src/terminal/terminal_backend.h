// The terminal backend: a grid of character cells, drawn into the user's
// terminal or kept in memory only (headless) for snapshots.
#pragma once

#include <memory>

#include "host/backend.h"

namespace lumora::terminal {

// Opens the terminal backend from the whole "open" command.
std::unique_ptr<host::Backend> open_terminal_backend(const cJSON* command, scene::ErrorText error);

}  // namespace lumora::terminal
