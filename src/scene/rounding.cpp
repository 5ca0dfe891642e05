#include "scene/rounding.h"

#include <cmath>

namespace lumora::scene {

double round_half_even(double value) {
  if (!std::isfinite(value)) return value;
  // value − trunc(value) is exact for every double, so a half is found exactly.
  if (std::fabs(value - std::trunc(value)) == 0.5) return 2.0 * std::round(value / 2.0);
  return std::round(value);
}

}  // namespace lumora::scene
