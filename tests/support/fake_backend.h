// A scripted backend for host tests: it draws nothing and keeps no scene, but
// records every call and can be told to fail, to animate or to flood the host
// with events. The test-only host binary opens it for both backend names.
//
// Scripting, through the members of "open":
//   "fake_open_error": a string: the open fails with it ("" = no message).
// and through operations:
//   {"op":"fake_queue_events","events":[...]}     queued for the next drain
//   {"op":"fake_flood","per_drain":N,"text_bytes":B}  N "text" events of B bytes per drain
//   {"op":"fake_fail","draw":"msg","present":"msg"}  later draws/presents fail (null: succeed again)
//   {"op":"fake_set","animating":true,"input_pending":true}
//   {"op":"fake_set","wait_descriptor":D,"wait_ready":true}  what prepare_wait offers
//   {"op":"fake_fail_op","message":"msg"}          fails (no "message": an empty one)
//   {"op":"fake_echo","value":V}                   V as the result (null when absent)
//   {"op":"fake_drains"}                           number of drains so far
//   {"op":"fake_wait_preparations"}                number of prepare_wait calls so far
//   {"op":"fake_log"}                              the calls received, as strings
//   {"op":"configure",...}                         null; "fail":true makes it fail silently
//   {"op":"reload_image"}                          null
// A commit fails with "Fake commit needs an array" unless "commands" is an
// array, and silently when its first item is the string "fail". A patch fails
// silently when the command has "fail":true.
#pragma once

#include <memory>

#include "host/backend.h"

namespace lumora::host {

std::unique_ptr<Backend> open_fake_backend(const cJSON* command, ErrorText error);

}  // namespace lumora::host
