#include "support/xvfb_server.h"

#include <gtest/gtest.h>

namespace lumora::test {

namespace {

constexpr double kCommandSeconds = 30;

std::string trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

XvfbServer::XvfbServer(const std::string& screen)
    : display_file_(testing::TempDir() + "lumora-xvfb-" + client::make_token().substr(0, 16)) {
  const std::string script = "Xvfb -displayfd 3 -nolisten tcp -screen 0 " + screen + " 3>'" + display_file_ +
                             "' >/dev/null 2>&1 & echo $!";
  client::ProcessResult started = client::run_process("sh", {"-c", script}, kCommandSeconds);
  if (started.exit_code != 0) return;
  pid_ = trim(started.standard_output);
  // Xvfb writes its display number once it accepts connections.
  const std::string wait = "for i in $(seq 100); do [ -s '" + display_file_ + "' ] && break; sleep 0.1; done; cat '" +
                           display_file_ + "'";
  const std::string display = trim(client::run_process("sh", {"-c", wait}, kCommandSeconds).standard_output);
  if (!display.empty()) display_ = ":" + display;
}

XvfbServer::~XvfbServer() {
  if (!pid_.empty()) client::run_process("kill", {pid_}, kCommandSeconds);
  client::run_process("rm", {"-f", display_file_}, kCommandSeconds);
}

client::ProcessResult XvfbServer::xdotool(std::vector<std::string> args) const {
  args.insert(args.begin(), {"DISPLAY=" + display_, "xdotool"});
  return client::run_process("env", args, kCommandSeconds);
}

bool program_installed(const char* program) {
  return client::run_process("sh", {"-c", std::string("command -v ") + program}, kCommandSeconds).exit_code == 0;
}

}  // namespace lumora::test
