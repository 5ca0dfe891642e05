// Processor time of another process, read from the scheduler's accounts,
// for benchmarks that report what the host itself spends per request.
#pragma once

namespace lumora::bench {

// Processor time the process `pid` has used so far, in seconds: the
// scheduler's nanosecond count of its main thread (a headless terminal runs
// on that thread alone), system time included; -1 when it cannot be read.
double process_cpu_seconds(int pid);

// The same summed over every thread of the process (a window's drivers may
// start threads of their own); -1 when it cannot be read.
double process_threads_cpu_seconds(int pid);

}  // namespace lumora::bench
