// The shipped render host, and the one file that knows both backends: "open"
// chooses between them by name through this table. Where SDL is not built,
// the table has no window and "open" of a window fails like any unknown one.
#include "host/entry.h"
#include "terminal/terminal_backend.h"
#if LUMORA_WITH_WINDOW
#include "window/window_backend.h"
#endif

namespace {

constexpr lumora::host::BackendFactory kBackends[] = {
    {"terminal", lumora::terminal::open_terminal_backend},
#if LUMORA_WITH_WINDOW
    {"window", lumora::window::open_window_backend},
#endif
};

}  // namespace

int main(int argc, char** argv) { return lumora::host::run_host(argc, argv, kBackends); }
