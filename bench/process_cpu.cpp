#include "process_cpu.h"

#include <dirent.h>

#include <algorithm>
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

double sum_over_threads(int pid, const std::function<double(const std::string&)>& read) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* directory = opendir(tasks.c_str());
  if (directory == nullptr) return -1;
  double total = 0;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') total += read(tasks + "/" + entry->d_name);
  }
  closedir(directory);
  return total;
}

double process_threads_cpu_seconds(int pid) {
  // A thread that ended between listing and reading counts nothing.
  return sum_over_threads(
      pid, [](const std::string& task) { return std::max(0.0, schedstat_seconds(task + "/schedstat")); });
}

}  // namespace lumora::bench
