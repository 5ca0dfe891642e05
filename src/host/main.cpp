// The shipped render host, and the one file that knows both backends: "open"
// chooses between them by name through this table.
#include "host/entry.h"
#include "terminal/terminal_backend.h"
#include "window/window_backend.h"

namespace {

constexpr lumora::host::BackendFactory kBackends[] = {
    {"terminal", lumora::terminal::open_terminal_backend},
    {"window", lumora::window::open_window_backend},
};

}  // namespace

int main(int argc, char** argv) { return lumora::host::run_host(argc, argv, kBackends); }
