// Rounding to the nearest integer with exact halves to the even neighbour
// (0.5 → 0, 1.5 → 2, 2.5 → 2): every conversion from logical units to pixels
// and every colour interpolation rounds this way, so that both edges of
// abutting shapes and both ends of a blend land on the same pixels.
#pragma once

namespace lumora::scene {

// Independent of the floating-point rounding mode; infinities and NaN come
// back unchanged.
double round_half_even(double value);

}  // namespace lumora::scene
