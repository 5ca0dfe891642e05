// A private X server for tests under a real display: Xvfb picks a free
// display itself (-displayfd) and is killed when the object goes.
#pragma once

#include <string>
#include <vector>

#include "client/controller.h"

namespace lumora::test {

class XvfbServer {
 public:
  // `screen` is Xvfb's screen geometry, such as "800x600x24".
  explicit XvfbServer(const std::string& screen);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", or "" when the server did not start.
  const std::string& display() const { return display_; }

  // Runs xdotool with `args` on this server's display.
  client::ProcessResult xdotool(std::vector<std::string> args) const;

 private:
  std::string display_file_;
  std::string pid_;
  std::string display_;
};

// Whether `program` is on the PATH.
bool program_installed(const char* program);

}  // namespace lumora::test
