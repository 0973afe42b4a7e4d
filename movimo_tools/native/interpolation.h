// Patterns between pips: the step, linear and smooth (Catmull-Rom)
// interpolation of movimo_tools.evaluate_at over a pattern's loop.
//
// The arithmetic is written in the order of the NumPy expressions it
// replaced, operation for operation, and this file is compiled without
// contracting a * b + c into fused multiply-adds, so every value is
// bit-identical to that NumPy code.

#ifndef MOVIMO_TOOLS_NATIVE_INTERPOLATION_H
#define MOVIMO_TOOLS_NATIVE_INTERPOLATION_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "movimo/core.h"

namespace movimo_tools {

enum class Interpolation { step, linear, smooth };

inline Interpolation interpolation_named(std::string_view name) {
  if (name == "step") return Interpolation::step;
  if (name == "linear") return Interpolation::linear;
  if (name == "smooth") return Interpolation::smooth;
  throw std::invalid_argument("interpolation must be one of step, linear, smooth");
}

// Refuses non-finite pips first, then pips outside the signed 32-bit
// timebase, as movimo_tools does for fractional pips.
inline void check_fractional_pips(bool finite, bool in_range) {
  if (!finite) throw std::invalid_argument("pips must be finite numbers");
  if (!in_range) throw std::invalid_argument("pips must lie within the signed 32-bit pip range");
}

// Uniform Catmull-Rom between p1 (t = 0) and p2 (t = 1), in Horner form.
inline double catmull_rom(double p0, double p1, double p2, double p3, double t) {
  const double cubic = 3.0 * (p1 - p2) + p3 - p0;
  const double quadratic = 2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3;
  return p1 + 0.5 * t * ((p2 - p0) + t * (quadratic + t * cubic));
}

// Clips values to [-1, 1], where patterns stay, in place. A pass of its own:
// kept out of the interpolation loop, the compiler vectorises both.
inline void clip_to_unit(double* values, std::ptrdiff_t count) {
  for (std::ptrdiff_t i = 0; i < count; ++i) values[i] = std::min(std::max(values[i], -1.0), 1.0);
}

// Writes the pattern at pip_at(i) into out[3 i .. 3 i + 2] for every i below
// `count`, checking the pips on the way (an error leaves `out` unfinished,
// for the caller to discard). row_at(phase) gives the pattern's Offset3
// at a phase in [0, period); the loop closes on itself, and a whole pip
// gives its row exactly whatever the method. The method is a template
// argument so that each loop carries only its own arithmetic.
template <Interpolation method, class PipAt, class RowAt>
void interpolate_with(std::ptrdiff_t count, PipAt pip_at, std::int32_t period, RowAt row_at,
                      double* out) {
  // The next phase round the loop; any phase below `period` stays below it.
  const auto next = [period](std::int32_t phase) { return phase + 1 == period ? 0 : phase + 1; };
  bool finite = true;
  bool in_range = true;
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    const double given = pip_at(i);
    finite &= std::isfinite(given);
    const bool inside = given >= -2147483648.0 && given <= 2147483647.0;  // false for NaN
    in_range &= inside;
    const double pip = inside ? given : 0.0;  // a refused pip stands in as 0 until the end
    const double whole = std::floor(pip);
    // The pip lies within 32 bits. Most lie within the loop or one loop
    // before it (a stream reduces its pip to one loop, then a spread lags
    // each target by less than a loop) and skip the division.
    std::int32_t phase = static_cast<std::int32_t>(whole);
    phase += phase < 0 ? period : 0;
    if (static_cast<std::uint32_t>(phase) >= static_cast<std::uint32_t>(period)) {
      phase %= period;
      phase += phase < 0 ? period : 0;
    }
    const double t = pip - whole;
    const movimo::Offset3 here = row_at(phase);
    double* row = out + 3 * i;
    if (method == Interpolation::step || t == 0.0) {
      row[0] = here.x;
      row[1] = here.y;
      row[2] = here.z;
    } else if constexpr (method == Interpolation::linear) {
      const movimo::Offset3 after = row_at(next(phase));
      row[0] = here.x + (after.x - here.x) * t;
      row[1] = here.y + (after.y - here.y) * t;
      row[2] = here.z + (after.z - here.z) * t;
    } else {
      const movimo::Offset3 before = row_at(phase == 0 ? period - 1 : phase - 1);
      const movimo::Offset3 after = row_at(next(phase));
      const movimo::Offset3 later = row_at(next(next(phase)));
      row[0] = catmull_rom(before.x, here.x, after.x, later.x, t);
      row[1] = catmull_rom(before.y, here.y, after.y, later.y, t);
      row[2] = catmull_rom(before.z, here.z, after.z, later.z, t);
    }
  }
  check_fractional_pips(finite, in_range);
}

template <class PipAt, class RowAt>
void interpolate(std::ptrdiff_t count, PipAt pip_at, std::int32_t period, RowAt row_at,
                 Interpolation method, double* out) {
  switch (method) {
    case Interpolation::step:
      return interpolate_with<Interpolation::step>(count, pip_at, period, row_at, out);
    case Interpolation::linear:
      return interpolate_with<Interpolation::linear>(count, pip_at, period, row_at, out);
    case Interpolation::smooth:
      interpolate_with<Interpolation::smooth>(count, pip_at, period, row_at, out);
      // Catmull-Rom overshoots where a pattern turns. Rows at whole pips are
      // clipped too, which changes nothing: every pattern stays in [-1, 1].
      return clip_to_unit(out, 3 * count);
  }
}

}  // namespace movimo_tools

#endif  // MOVIMO_TOOLS_NATIVE_INTERPOLATION_H
