// The shipped render host: the terminal and the window backends.
#include "host/entry.h"
#include "terminal/terminal_backend.h"
#include "window/window_backend.h"

int main(int argc, char** argv) {
  lumora::host::BackendOpeners openers;
  openers.terminal = lumora::terminal::open_terminal_backend;
  openers.window = lumora::window::open_window_backend;
  return lumora::host::run_host(argc, argv, openers);
}
