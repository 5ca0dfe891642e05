#include "support/x11_client.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <cstdlib>

namespace lumora::test {

X11Client::X11Client(const std::string& display_name) : display_(XOpenDisplay(display_name.c_str())) {}

X11Client::~X11Client() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

bool X11Client::request_close(unsigned long window) {
  if (display_ == nullptr || window == 0) return false;
  const Atom protocols = XInternAtom(display_, "WM_PROTOCOLS", False);
  const Atom delete_window = XInternAtom(display_, "WM_DELETE_WINDOW", False);
  if (protocols == None || delete_window == None) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(delete_window);
  event.xclient.data.l[1] = CurrentTime;
  // No event mask: the message goes to the client that created the window.
  const Status sent = XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
  return sent != 0;
}

bool X11Client::drop_focus() {
  if (display_ == nullptr) return false;
  XSetInputFocus(display_, None, RevertToNone, CurrentTime);
  XSync(display_, False);
  return true;
}

unsigned long parse_window_id(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const unsigned long id = std::strtoul(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str()) return 0;
  return id;
}

}  // namespace lumora::test
