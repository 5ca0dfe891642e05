// Command dispatch: every command frame is answered with exactly one reply,
// in arrival order; the host handles "open", "close", "present", "stats",
// "frame" and "patch" itself and hands every other "op" to the open backend.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/session.h"

namespace lumora::host {

// Checks, parses and answers one command body; a reply that cannot be
// printed or queued sets `stopped`.
void handle_command(HostSession& session, std::uint32_t id, const char* body, std::size_t length);

// Queues the one final notice of the connection ("reason", the optional
// "error", "stats"), sets `closing` and the drain deadline. Later calls do
// nothing; a notice that cannot be printed or queued sets `stopped`.
void send_final_notice(HostSession& session, const char* reason, const char* error);

}  // namespace lumora::host
