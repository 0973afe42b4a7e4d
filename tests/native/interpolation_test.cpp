// movimo_tools' interpolation between pips (movimo_tools/native/interpolation.h):
// rows read from a loop table match rows fetched one at a time, across the
// loop's seam and for loops shorter than a window, and the baseline and AVX
// copies of the loop give the same bits. The NumPy reference itself is
// checked from Python over every pattern.

#include "interpolation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

using movimo_tools::Interpolation;

// A loop of `period` rows in [-1, 1], held in exactly 3 * period doubles so
// that a sanitizer catches any read past the table.
std::vector<double> loop_rows(std::int32_t period) {
  std::vector<double> rows(3 * static_cast<std::size_t>(period));
  std::uint32_t state = 2463534242u + static_cast<std::uint32_t>(period);
  for (double& value : rows) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    value = static_cast<double>(state) / 2147483647.5 - 1.0;
  }
  return rows;
}

// Pips all round the loop and at both ends of the 32-bit range, whole and
// between pips.
std::vector<double> pips_around(std::int32_t period) {
  const double p = period;
  std::vector<double> wholes = {-3 * p - 1, -p - 1, -1, 0, 1, 2, p / 2, 5 * p, -2147483648.0,
                                2147483646.0};
  for (std::int32_t back = 1; back <= 4; ++back) wholes.push_back(p - back);
  std::vector<double> pips;
  for (const double whole : wholes) {
    for (const double fraction : {0.0, 0.5, 1.0 / 3.0, 1e-9, 1 - std::ldexp(1.0, -40)}) {
      pips.push_back(whole + fraction);
    }
  }
  pips.push_back(-0.0);
  pips.push_back(2147483647.0);
  return pips;
}

std::vector<double> run(const std::vector<double>& pips, const auto& windows,
                        Interpolation method) {
  std::vector<double> out(3 * pips.size());
  const auto pip_at = [&pips](std::ptrdiff_t i) { return pips[i]; };
  movimo_tools::interpolate(static_cast<std::ptrdiff_t>(pips.size()), pip_at, windows, method,
                            out.data());
  return out;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

class Interpolating : public testing::TestWithParam<std::tuple<std::int32_t, Interpolation>> {};

TEST_P(Interpolating, TableWindowsMatchRowsFetchedOneByOne) {
  const auto [period, method] = GetParam();
  const std::vector<double> rows = loop_rows(period);
  const std::vector<double> pips = pips_around(period);
  const auto row_at = [&rows](std::int32_t phase) {
    return movimo::Offset3{rows[3 * phase], rows[3 * phase + 1], rows[3 * phase + 2]};
  };
  EXPECT_TRUE(same_bits(run(pips, movimo_tools::TableWindows(rows.data(), period), method),
                        run(pips, movimo_tools::SampledWindows(row_at, period), method)));
}

#if defined(__x86_64__)
template <Interpolation method>
void expect_avx_matches_baseline(const std::vector<double>& pips,
                                 const movimo_tools::TableWindows& windows) {
  const auto count = static_cast<std::ptrdiff_t>(pips.size());
  const auto pip_at = [&pips](std::ptrdiff_t i) { return pips[i]; };
  std::vector<double> baseline(3 * pips.size());
  std::vector<double> avx(3 * pips.size());
  movimo_tools::interpolate_rows<method>(count, pip_at, windows, baseline.data());
  movimo_tools::interpolate_rows_avx<method>(count, pip_at, windows, avx.data());
  EXPECT_TRUE(same_bits(baseline, avx));
}

TEST_P(Interpolating, AvxGivesTheBaselineBits) {
  if (!movimo_tools::has_avx()) GTEST_SKIP() << "this processor has no AVX";
  const auto [period, method] = GetParam();
  const std::vector<double> rows = loop_rows(period);
  const movimo_tools::TableWindows windows(rows.data(), period);
  const std::vector<double> pips = pips_around(period);
  switch (method) {
    case Interpolation::step:
      return expect_avx_matches_baseline<Interpolation::step>(pips, windows);
    case Interpolation::linear:
      return expect_avx_matches_baseline<Interpolation::linear>(pips, windows);
    case Interpolation::smooth:
      return expect_avx_matches_baseline<Interpolation::smooth>(pips, windows);
  }
}
#endif

INSTANTIATE_TEST_SUITE_P(
    Loops, Interpolating,
    testing::Combine(testing::Values(1, 2, 3, 4, 5, 6, 64, 1001, 65535),
                     testing::Values(Interpolation::step, Interpolation::linear,
                                     Interpolation::smooth)));

}  // namespace
