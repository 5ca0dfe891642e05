// What both demos share: commands sent to their host one at a time, a
// failure reported on standard error, and the live clock they show.
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

// The local time as "HH:MM:SS.t" (tenths of a second).
std::string clock_text();

}  // namespace lumora::demo
