#include "platform/clock.h"

#include <windows.h>

#include <cmath>

namespace lumora::platform {
namespace {

// The counter's frequency is fixed at boot, so it is read once.
double counter_period() {
  LARGE_INTEGER frequency;
  if (!::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return 1e-7;
  return 1.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

double now_seconds() {
  static const double period = counter_period();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * period;
}

void sleep_seconds(double seconds) {
  if (!(seconds > 0)) {
    ::Sleep(0);
    return;
  }
  // Whole milliseconds, rounded up so that a short positive sleep still sleeps.
  const double milliseconds = std::ceil(seconds * 1000.0);
  ::Sleep(milliseconds >= 86400000.0 ? 86400000u : static_cast<DWORD>(milliseconds));
}

}  // namespace lumora::platform
