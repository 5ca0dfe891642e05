// The shipped render host: the terminal and, where SDL is built, the window
// backend. Without it, "open" of a window fails like any unavailable backend.
#include "host/entry.h"
#include "terminal/terminal_backend.h"
#if LUMORA_WITH_WINDOW
#include "window/window_backend.h"
#endif

int main(int argc, char** argv) {
  lumora::host::BackendOpeners openers;
  openers.terminal = lumora::terminal::open_terminal_backend;
#if LUMORA_WITH_WINDOW
  openers.window = lumora::window::open_window_backend;
#endif
  return lumora::host::run_host(argc, argv, openers);
}
