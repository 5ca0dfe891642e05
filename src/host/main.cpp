// The shipped render host: the terminal backend is available; the window
// backend arrives with the SDL renderer, and until then asking for it is
// answered with "Could not open backend".
#include "host/entry.h"
#include "terminal/terminal_backend.h"

namespace {

// Leaves the error text empty on purpose: the host then answers with its own
// "Could not open backend".
std::unique_ptr<lumora::host::Backend> open_window_backend(const cJSON*, lumora::scene::ErrorText) { return nullptr; }

}  // namespace

int main(int argc, char** argv) {
  lumora::host::BackendOpeners openers;
  openers.terminal = lumora::terminal::open_terminal_backend;
  openers.window = open_window_backend;
  return lumora::host::run_host(argc, argv, openers);
}
