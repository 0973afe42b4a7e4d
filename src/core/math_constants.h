#pragma once

// Binary64 constants and helpers shared by the procedural patterns. The
// library is compiled without floating-point contraction: every fused
// multiply-add below is written out as std::fma on purpose.

#include <cmath>

namespace movimo::internal {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kFourPi = 12.566370614359172;
inline constexpr double kMinusHalfPi = -1.5707963267948966;

// Smoothstep easing S(c) = (c * c) * (3 - 2c).
inline double smoothstep(double c) { return (c * c) * (3.0 - 2.0 * c); }

// Sine and cosine of one angle from a single evaluation.
inline void sin_cos(double angle, double* sine, double* cosine) {
  ::sincos(angle, sine, cosine);
}

}  // namespace movimo::internal
