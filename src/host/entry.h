// The host process: command line, start-up, the main loop and shutdown.
#pragma once

#include <cstdint>

#include "host/backend.h"
#include "scene/limits.h"

namespace lumora::host {

using scene::kTokenLength;

struct CommandLine {
  std::uint16_t port = 0;
  char token[kTokenLength + 1] = {};
};

// "--port" and "--token" in name/value pairs, any order, last value wins.
// False on any problem.
bool parse_command_line(int argc, char** argv, CommandLine* command_line);

// Runs one connection to completion; the process exit code: 0 for a normal
// end, 2 for a bad command line, a failed start-up or a protocol error.
int run_host(int argc, char** argv, BackendFactories backends);

}  // namespace lumora::host
