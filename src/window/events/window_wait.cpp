// How the window's input wakes the host's main loop.
//
// On X11 every input event reaches SDL through one socket, the X
// connection. The host polls that descriptor together with its own socket,
// so a key press wakes it within a fraction of a millisecond and an idle
// window costs nothing between wakes; no extra thread or wake-up event is
// needed. Xlib may already hold events it read while SDL rendered or
// presented, and such events never make the descriptor readable again: so
// SDL's queue is filled from Xlib right before every wait, and when anything
// is queued the host does not wait at all.
//
// Drivers without such a descriptor (offscreen, for example) offer none: the
// host then waits on its socket alone, at most its wait cap (10 ms) at a
// time, and the pump finds the window's input on the next turn. That never
// spins and delays window input by at most the cap.
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include "window/window_backend.h"

namespace lumora::window {

namespace {

int x11_connection_descriptor(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE) {
    // Not an error of ours: a later "%s: %s" must not quote it.
    SDL_ClearError();
    return -1;
  }
  if (info.subsystem != SDL_SYSWM_X11 || info.info.x11.display == nullptr) return -1;
  // A macro reading the Display record: SDL loaded libX11, nothing to link.
  return ConnectionNumber(info.info.x11.display);
}

}  // namespace

host::WaitSource WindowBackend::prepare_wait() {
  if (!wait_descriptor_known_) {
    // The connection lives as long as the window: looked up once.
    wait_descriptor_ = x11_connection_descriptor(window_.get());
    wait_descriptor_known_ = true;
  }
  SDL_PumpEvents();
  host::WaitSource source;
  source.descriptor = wait_descriptor_;
  source.ready = SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT) == SDL_TRUE;
  return source;
}

}  // namespace lumora::window
