// The statistics object of "stats" and of every final notice, and the
// bookkeeping of presents and scene updates behind it.
#pragma once

#include "host/session.h"
#include "json/json.h"

namespace lumora::host {

// The open backend's info object (an empty object without one) followed by
// the host's members in their fixed order. Null when memory is short.
JsonPtr build_statistics(HostSession& session, double now);

// Zeroes every counter, timing and sample and restarts the epoch at `now`;
// `last_present_time` is kept. The backend's own counters are not touched.
void reset_host_statistics(HostSession& session, double now);

// Adds one timing to its last, total and running maximum.
void record_timing(double elapsed, double* last, double* total, double* max);

// Appends one scene update latency to the ring of the most recent ones.
void record_update_sample(HostStatistics& stats, double seconds);

}  // namespace lumora::host
