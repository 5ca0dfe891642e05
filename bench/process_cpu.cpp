#include "process_cpu.h"

#include <fstream>
#include <string>

namespace lumora::bench {

double process_cpu_seconds(int pid) {
  std::ifstream stats("/proc/" + std::to_string(pid) + "/schedstat");
  unsigned long long nanoseconds = 0;
  if (!(stats >> nanoseconds)) return -1;
  return static_cast<double>(nanoseconds) * 1e-9;
}

}  // namespace lumora::bench
