// Processor time of another process, read from the scheduler's accounts,
// for benchmarks that report what the host itself spends per request.
#pragma once

#include <functional>
#include <string>

namespace lumora::bench {

// Processor time the process `pid` has used so far, in seconds: the
// scheduler's nanosecond count of its main thread (a headless terminal runs
// on that thread alone), system time included; -1 when it cannot be read.
double process_cpu_seconds(int pid);

// The same summed over every thread of the process (a window's drivers may
// start threads of their own); -1 when it cannot be read.
double process_threads_cpu_seconds(int pid);

// The sum of `read`(/proc/<pid>/task/<thread>) over every thread of the
// process `pid`; -1 when its threads cannot be listed.
double sum_over_threads(int pid, const std::function<double(const std::string&)>& read);

}  // namespace lumora::bench
