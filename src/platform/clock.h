#pragma once

namespace lumora::platform {

// Seconds from a monotonic clock; only differences are meaningful.
double now_seconds();

// Sleeps the calling thread (used by workers and bounded retry loops only).
void sleep_seconds(double seconds);

}  // namespace lumora::platform
