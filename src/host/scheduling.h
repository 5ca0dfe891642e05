// When the open backend draws and presents its retained scene again, how each
// present is measured, and how long one loop turn may sleep.
#pragma once

#include <cjson/cJSON.h>

#include "host/session.h"
#include "scene/error_text.h"

namespace lumora::host {

// No loop turn sleeps longer, so commands and terminal input wait at most this.
inline constexpr double kMaxWaitSeconds = 0.01;

// Reads "continuous", "redraw_interval" and "fps_limit" of an "open" or a
// successful "configure"; absent members leave the current values.
void apply_scheduling_members(HostSession& session, const cJSON* command);

// Seconds until the next present may happen, at least 0.
double time_until_next_present(const HostSession& session, double now);

// A backend is open, a scene committed, not closing nor suspended, and
// something wants a frame (a request, continuous redraw or an animation).
bool present_wanted(HostSession& session);

// Draws and presents the retained scene of the open backend, measuring both
// halves; false with the backend's message in `error` on failure.
bool present(HostSession& session, scene::ErrorText error);

// Presents when due; a failed present ends the connection with "native_error".
void present_if_due(HostSession& session, scene::ErrorText error);

// The time-out of this turn's wait: 0 when a whole frame is buffered (only
// while not closing), else the time until a wanted present, at most 10 ms.
double wait_timeout(HostSession& session, double now);

enum class WaitOutcome {
  not_waited,  // the backend has input waiting already
  woken,       // the socket or the backend's descriptor is ready
  timed_out,
  failed,      // the wait itself failed; `stopped` is set
};

// Waits for the socket, the open backend's wait source (Backend::prepare_wait)
// or the next present, at most kMaxWaitSeconds.
WaitOutcome wait_for_activity(HostSession& session);

}  // namespace lumora::host
