// What both demos say to their host: one command at a time, a failure
// reported on standard error.
#pragma once

#include <string>
#include <string_view>

#include "client/controller.h"

namespace lumora::demo {

// Sends `json` and waits for its reply; false, with the reason on standard
// error, when there is none or it is an error. The reply goes to `reply_out`.
bool request_ok(client::Controller& host, std::string_view json, client::Reply* reply_out = nullptr);

// `item` as unformatted JSON text, "" when it cannot be printed.
std::string print(const cJSON* item);

}  // namespace lumora::demo
