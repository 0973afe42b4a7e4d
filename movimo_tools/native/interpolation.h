// Patterns between pips: the step, linear and smooth (Catmull-Rom)
// interpolation of movimo_tools.evaluate_at over a pattern's loop.
//
// The arithmetic is written in the order of the NumPy expressions it
// replaced, operation for operation, and this file is compiled without
// contracting a * b + c into fused multiply-adds, so every value is
// bit-identical to that NumPy code.
//
// A row's x, y and z travel together as the first three lanes of a
// four-double vector, so each operation serves all three axes at once. The
// same code is compiled twice: for the x86-64 baseline, and for AVX, where
// one instruction holds all four lanes; the AVX copy runs where the
// processor has it. Both do the same IEEE operations on the same values,
// lane by lane, so they give the same bits.

#ifndef MOVIMO_TOOLS_NATIVE_INTERPOLATION_H
#define MOVIMO_TOOLS_NATIVE_INTERPOLATION_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "movimo/core.h"

namespace movimo_tools {

enum class Interpolation { step, linear, smooth };

inline Interpolation interpolation_named(std::string_view name) {
  if (name == "step") return Interpolation::step;
  if (name == "linear") return Interpolation::linear;
  if (name == "smooth") return Interpolation::smooth;
  throw std::invalid_argument("interpolation must be one of step, linear, smooth");
}

// x, y, z and one lane of slack, which is computed along and never stored.
using Lanes = double __attribute__((vector_size(4 * sizeof(double))));

// The four doubles from `row` on: its x, y and z and the double after them.
[[gnu::always_inline]] inline Lanes load_row(const double* row) {
  Lanes lanes;
  std::memcpy(&lanes, row, sizeof lanes);
  return lanes;
}

[[gnu::always_inline]] inline void store_row(const Lanes& lanes, double* row) {
  row[0] = lanes[0];
  row[1] = lanes[1];
  row[2] = lanes[2];
}

// Uniform Catmull-Rom between p1 (t = 0) and p2 (t = 1), in Horner form.
[[gnu::always_inline]] inline Lanes catmull_rom(Lanes p0, Lanes p1, Lanes p2, Lanes p3,
                                                Lanes t) {
  const Lanes cubic = 3.0 * (p1 - p2) + p3 - p0;
  const Lanes quadratic = 2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3;
  return p1 + 0.5 * t * ((p2 - p0) + t * (quadratic + t * cubic));
}

// Each row the interpolation reads at a phase k lies in a window of four
// rows, at the phases k - 1, k, k + 1 and k + 2 round the loop, three
// doubles apart and readable one double past the last z, so that each loads
// as whole lanes.
//
// Over a loop table most windows are four rows of the table itself. Those
// that cross the loop's seam, or would read past the table's end, come from
// a copy of the seven rows around the seam.
class TableWindows {
 public:
  // `rows` holds `period` rows of x, y and z, period >= 1.
  TableWindows(const double* rows, std::int32_t period) : rows_(rows), period_(period) {
    for (int row = 0; row < kSeamRows; ++row) {
      const std::int32_t phase = movimo::wrap_pip(row - kSeamZero, period);
      std::memcpy(seam_ + 3 * row, rows + 3 * phase, 3 * sizeof(double));
    }
  }

  std::int32_t period() const { return period_; }

  // The window at `phase`, 0 <= phase < period.
  template <Interpolation>
  const double* window(std::int32_t phase) const {
    // Windows of the table itself start at rows 0 to period - 5, so that
    // their last row's four lanes end within the table.
    if (phase >= 1 && phase <= period_ - 4) {
      return rows_ + 3 * (phase - 1);
    }
    // The window's first row, counted from the seam: a phase at the end of
    // the loop lies just before it, phase 0 just after.
    const std::int32_t first = (phase == 0 ? 0 : phase - period_) - 1;
    return seam_ + 3 * (first + kSeamZero);
  }

 private:
  // Row r of the copy holds phase r - kSeamZero round the loop.
  static constexpr int kSeamRows = 7;
  static constexpr int kSeamZero = 4;
  const double* rows_;
  std::int32_t period_;
  double seam_[3 * kSeamRows + 1] = {};
};

// Windows of rows that `row_at(phase)` gives one at a time, such as a
// library pattern's, which has no table: only the rows the method reads are
// fetched.
template <class RowAt>
class SampledWindows {
 public:
  SampledWindows(RowAt row_at, std::int32_t period) : row_at_(row_at), period_(period) {}

  std::int32_t period() const { return period_; }

  template <Interpolation method>
  const double* window(std::int32_t phase) const {
    const int first = method == Interpolation::smooth ? 0 : 1;
    const int last = method == Interpolation::step ? 1 : method == Interpolation::linear ? 2 : 3;
    for (int row = first; row <= last; ++row) {
      const movimo::Offset3 value = row_at_(movimo::wrap_pip(phase + row - 1, period_));
      window_[3 * row] = value.x;
      window_[3 * row + 1] = value.y;
      window_[3 * row + 2] = value.z;
    }
    return window_;
  }

 private:
  RowAt row_at_;
  std::int32_t period_;
  mutable double window_[3 * 4 + 1] = {};
};

// Refuses non-finite pips first, then pips outside the signed 32-bit
// timebase, as movimo_tools does for fractional pips.
template <class PipAt>
void check_fractional_pips(std::ptrdiff_t count, PipAt pip_at) {
  bool in_range = true;
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    const double pip = pip_at(i);
    in_range &= pip >= -2147483648.0 && pip <= 2147483647.0;  // false for NaN
  }
  if (in_range) return;
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    if (!std::isfinite(pip_at(i))) throw std::invalid_argument("pips must be finite numbers");
  }
  throw std::invalid_argument("pips must lie within the signed 32-bit pip range");
}

// Pips `width` at a time, and their signed 32-bit whole parts.
template <int width>
struct PipVectors;
template <>
struct PipVectors<2> {
  using Pips = double __attribute__((vector_size(2 * sizeof(double))));
  using Wholes = std::int32_t __attribute__((vector_size(2 * sizeof(std::int32_t))));
};
template <>
struct PipVectors<4> {
  using Pips = double __attribute__((vector_size(4 * sizeof(double))));
  using Wholes = std::int32_t __attribute__((vector_size(4 * sizeof(std::int32_t))));
};

// Rows go through in blocks, in two passes: the first splits the pips,
// several at a time, into their phases and fractions, the second
// interpolates each row. Apart, each pass keeps its own chain of dependent
// operations short.
constexpr std::ptrdiff_t kBlockRows = 64;

// Splits `width` pips from `first` on (repeating the last pip past `count`)
// into wrapped phases and fractions (pip - floor(pip)), each fraction written
// `copies` times in a row. A phase that lay outside the loop even after one
// loop was added is left outside, for the caller to reduce.
template <int width, int copies, class PipAt>
[[gnu::always_inline]] inline void split_pips(std::ptrdiff_t first, std::ptrdiff_t count,
                                              PipAt pip_at, std::int32_t period,
                                              double* fractions, std::int32_t* phases) {
  using Pips = typename PipVectors<width>::Pips;
  using Wholes = typename PipVectors<width>::Wholes;
  const Pips pips = [&]<std::size_t... k>(std::index_sequence<k...>) {
    return Pips{pip_at(std::min(first + static_cast<std::ptrdiff_t>(k), count - 1))...};
  }(std::make_index_sequence<width>());
  // floor(pip), exactly: the truncation, one less where it rounded up.
  const Pips truncated = __builtin_convertvector(__builtin_convertvector(pips, Wholes), Pips);
  const Pips whole = truncated > pips ? truncated - 1.0 : truncated;
  const Pips fraction = pips - whole;
  // Most pips lie within the loop or one loop before it (a stream reduces
  // its pip to one loop, then a spread lags each target by less than a
  // loop), so adding one loop below zero wraps them.
  Wholes phase = __builtin_convertvector(whole, Wholes);
  phase += phase < 0 ? period : 0;
  for (int k = 0; k < width; ++k) {
    for (int copy = 0; copy < copies; ++copy) fractions[copies * k + copy] = fraction[k];
    phases[k] = phase[k];
  }
}

// Clips values to [-1, 1], where patterns stay, in place.
[[gnu::always_inline]] inline void clip_to_unit(double* values, std::ptrdiff_t count) {
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    const double above = values[i] > -1.0 ? values[i] : -1.0;
    values[i] = above < 1.0 ? above : 1.0;
  }
}

// Writes the pattern at pip_at(i) into out[3 i .. 3 i + 2] for every i below
// `count`; the pips lie within 32 bits. The loop closes on itself, and a
// whole pip gives its row exactly whatever the method. The method is a
// template argument so that each loop carries only its own arithmetic; the
// pips are split `split_width` at a time, as many as the build's vectors
// hold.
template <Interpolation method, int split_width = 2, class PipAt, class Windows>
[[gnu::always_inline]] inline void interpolate_rows(std::ptrdiff_t count, PipAt pip_at,
                                                    const Windows& windows, double* out) {
  const std::int32_t period = windows.period();
  // Smooth reads each fraction as four lanes, written so by the first pass:
  // the baseline build has no cheap way to widen one double to four lanes.
  constexpr int copies = method == Interpolation::smooth ? 4 : 1;
  alignas(32) double fractions[copies * kBlockRows];
  std::int32_t phases[kBlockRows];
  for (std::ptrdiff_t start = 0; start < count; start += kBlockRows) {
    const std::ptrdiff_t rows = std::min(kBlockRows, count - start);
    for (std::ptrdiff_t j = 0; j < rows; j += split_width) {
      split_pips<split_width, copies>(start + j, count, pip_at, period, fractions + copies * j,
                                      phases + j);
    }
    for (std::ptrdiff_t j = 0; j < rows; ++j) {
      const double t = fractions[copies * j];
      std::int32_t phase = phases[j];
      if (static_cast<std::uint32_t>(phase) >= static_cast<std::uint32_t>(period)) [[unlikely]] {
        // A pip more than a loop from the first: reduced by division, inline
        // (a call here would cost the loop its registers).
        phase %= period;
        phase += phase < 0 ? period : 0;
      }
      const double* window = windows.template window<method>(phase);
      const Lanes here = load_row(window + 3);
      Lanes value = here;
      if constexpr (method == Interpolation::linear) {
        const Lanes between = here + (load_row(window + 6) - here) * t;
        value = t == 0.0 ? here : between;
      } else if constexpr (method == Interpolation::smooth) {
        const Lanes between =
            catmull_rom(load_row(window), here, load_row(window + 6), load_row(window + 9),
                        load_row(fractions + copies * j));
        value = t == 0.0 ? here : between;
      }
      store_row(value, out + 3 * (start + j));
    }
    // Catmull-Rom overshoots where a pattern turns. Clipped a block at a
    // time, while the block is in cache, in a loop the compiler vectorises.
    // Rows at whole pips are clipped too, which changes nothing.
    if constexpr (method == Interpolation::smooth) clip_to_unit(out + 3 * start, 3 * rows);
  }
}

#if defined(__x86_64__)
template <Interpolation method, class PipAt, class Windows>
[[gnu::target("avx"), gnu::flatten]] void interpolate_rows_avx(std::ptrdiff_t count,
                                                                PipAt pip_at,
                                                                const Windows& windows,
                                                                double* out) {
  interpolate_rows<method, 4>(count, pip_at, windows, out);
}

inline bool has_avx() {
  static const bool avx = __builtin_cpu_supports("avx");
  return avx;
}
#endif

template <Interpolation method, class PipAt, class Windows>
void interpolate_with(std::ptrdiff_t count, PipAt pip_at, const Windows& windows,
                      double* out) {
#if defined(__x86_64__)
  if (has_avx()) return interpolate_rows_avx<method>(count, pip_at, windows, out);
#endif
  interpolate_rows<method>(count, pip_at, windows, out);
}

// Writes the pattern at pip_at(i) into out[3 i .. 3 i + 2] for every i below
// `count`, after checking every pip. `windows` gives the pattern's loop
// period and the rows around each phase, as TableWindows and SampledWindows
// do.
template <class PipAt, class Windows>
void interpolate(std::ptrdiff_t count, PipAt pip_at, const Windows& windows,
                 Interpolation method, double* out) {
  check_fractional_pips(count, pip_at);
  switch (method) {
    case Interpolation::step:
      return interpolate_with<Interpolation::step>(count, pip_at, windows, out);
    case Interpolation::linear:
      return interpolate_with<Interpolation::linear>(count, pip_at, windows, out);
    case Interpolation::smooth:
      return interpolate_with<Interpolation::smooth>(count, pip_at, windows, out);
  }
}

}  // namespace movimo_tools

#endif  // MOVIMO_TOOLS_NATIVE_INTERPOLATION_H
