// A connection of the test's own to an X server, sending the host's window
// what a window manager or another program would: a close request, a change
// of keyboard focus. Xlib stays inside x11_client.cpp, so that its macros
// (None, Bool, Status, ...) never meet the test code.
#pragma once

#include <string>

struct _XDisplay;

namespace lumora::test {

class X11Client {
 public:
  // Connects to `display_name` (":N"); connected() tells whether that worked.
  explicit X11Client(const std::string& display_name);
  ~X11Client();
  X11Client(const X11Client&) = delete;
  X11Client& operator=(const X11Client&) = delete;

  bool connected() const { return display_ != nullptr; }

  // Asks `window` to close the way a window manager does when the user
  // clicks its close button: a WM_PROTOCOLS client message carrying
  // WM_DELETE_WINDOW. False when it could not be sent.
  bool request_close(unsigned long window);

  // Takes the keyboard focus from every window, as clicking on the desktop does.
  bool drop_focus();

 private:
  _XDisplay* display_ = nullptr;
};

// The window id that xdotool prints (decimal), or 0 when it is not one.
unsigned long parse_window_id(const std::string& text);

}  // namespace lumora::test
