// The terminal's operation table: every "op" the host does not handle itself
// ("snapshot", "ansi", "capture", "feed_input", "configure", ...), and the
// info object that answers "open", "info" and opens the host's statistics.
#pragma once

#include "json/json.h"
#include "scene/error_text.h"

namespace lumora::terminal {

class TerminalBackend;

// Runs one operation; its result (JSON null included), or null with the
// message in `error`.
json::JsonPtr run_terminal_operation(TerminalBackend& backend, const cJSON* command, scene::ErrorText error);

// The info object, its keys in their fixed order. Null only when memory ran out.
json::JsonPtr make_terminal_info(const TerminalBackend& backend);

}  // namespace lumora::terminal
