#include "process_cpu.h"

#include <dirent.h>

#include <fstream>
#include <string>

namespace lumora::bench {

namespace {

double schedstat_seconds(const std::string& path) {
  std::ifstream stats(path);
  unsigned long long nanoseconds = 0;
  if (!(stats >> nanoseconds)) return -1;
  return static_cast<double>(nanoseconds) * 1e-9;
}

}  // namespace

double process_cpu_seconds(int pid) { return schedstat_seconds("/proc/" + std::to_string(pid) + "/schedstat"); }

double process_threads_cpu_seconds(int pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* directory = opendir(tasks.c_str());
  if (directory == nullptr) return -1;
  double total = 0;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    const double seconds = schedstat_seconds(tasks + "/" + entry->d_name + "/schedstat");
    if (seconds > 0) total += seconds;
  }
  closedir(directory);
  return total;
}

}  // namespace lumora::bench
