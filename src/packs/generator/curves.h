#pragma once

// Curve tools shared by the authored families: eased poses, per-axis peak
// scaling, harmonic sums and a sampled single cycle.

#include <functional>
#include <span>

#include "table.h"

namespace movimo_gen {

// A pose reached at a (possibly fractional) pip of the loop.
struct Key {
  double at;
  Row pose;
};

// Closed path through keys in ascending order of `at`, all within
// [0, period): each key eases to the next by a half cosine, so the motion
// stops at every key, and the last key eases back to the first across the
// seam. Two keys with the same pose make a hold.
Table eased_keys(int period, std::span<const Key> keys);

// Multiplies one axis (&Row::x, &Row::y or &Row::z) by peak / its largest
// magnitude; an axis at rest stays at rest.
void scale_axis_to_peak(Table& table, double Row::* axis, double peak);

// Multiplies x and y together by peak / the largest magnitude among them,
// leaving z alone.
void scale_plane_to_peak(Table& table, double peak);

// One harmonic of the loop: amplitude · sin(harmonic · t + phase).
struct Partial {
  int harmonic;
  double amplitude;
  double phase;
};

// Sum of the partials at loop angle t; a harmonic of 0 adds the constant
// amplitude · sin(phase).
double harmonic_sum(std::span<const Partial> partials, double t);

// Row p of a one-axis (x) table holding `wave` at loop angle 2π·p/period.
Table sample_x(int period, const std::function<double(double)>& wave);

}  // namespace movimo_gen
