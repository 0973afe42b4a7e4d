#include "movimo/core.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <ostream>
#include <tuple>
#include <vector>

namespace {

using movimo::wrap_pip;

struct WrapCase {
  std::int32_t pip;
  std::int32_t period;
  std::int32_t phase;
};

void PrintTo(const WrapCase& c, std::ostream* out) { *out << c.pip << " mod " << c.period; }

class WrapPipCases : public testing::TestWithParam<WrapCase> {};

TEST_P(WrapPipCases, FloorModulo) {
  const WrapCase c = GetParam();
  EXPECT_EQ(wrap_pip(c.pip, c.period), c.phase) << c.pip << " mod " << c.period;
}

INSTANTIATE_TEST_SUITE_P(
    Edges, WrapPipCases,
    testing::Values(WrapCase{-1, 64, 63}, WrapCase{64, 64, 0}, WrapCase{-64, 64, 0},
                    WrapCase{-65, 64, 63}, WrapCase{12345, 1, 0}, WrapCase{INT_MIN, 1, 0},
                    WrapCase{5, 0, 0}, WrapCase{5, -1, 0}, WrapCase{-5, -3, 0},
                    WrapCase{INT_MIN, INT_MIN, 0}, WrapCase{INT_MAX, 448, 127},
                    WrapCase{INT_MIN, 448, 320}, WrapCase{INT_MIN, INT_MAX, INT_MAX - 1},
                    WrapCase{INT_MAX, INT_MAX, 0}));

// Reference floor modulo in 64-bit arithmetic.
std::int32_t floor_mod(std::int64_t pip, std::int64_t period) {
  const std::int64_t r = ((pip % period) + period) % period;
  return static_cast<std::int32_t>(r);
}

TEST(WrapPip, MatchesFloorModuloAcrossTheRange) {
  const std::vector<std::int32_t> periods = {1, 2, 3, 64, 160, 448, 1000, 65535, INT_MAX};
  for (std::int32_t period : periods) {
    for (std::int64_t pip = INT_MIN; pip <= INT_MAX; pip += 7919 * 4099 + 1) {
      ASSERT_EQ(wrap_pip(static_cast<std::int32_t>(pip), period), floor_mod(pip, period));
    }
    for (std::int32_t pip : {INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX - 1, INT_MAX}) {
      ASSERT_EQ(wrap_pip(pip, period), floor_mod(pip, period));
    }
  }
}

TEST(WrapPip, PowerOfTwoPeriodsEqualTheLowBits) {
  for (std::int32_t period : {1, 64, 128, 256, 512, 1024}) {
    for (std::int64_t pip = INT_MIN; pip <= INT_MAX; pip += 104729 * 257) {
      const auto p = static_cast<std::int32_t>(pip);
      ASSERT_EQ(wrap_pip(p, period), p & (period - 1));
    }
    ASSERT_EQ(wrap_pip(INT_MIN, period), INT_MIN & (period - 1));
  }
}

TEST(Offset3, IsThreePackedDoubles) {
  static_assert(sizeof(movimo::Offset3) == 3 * sizeof(double));
  static_assert(std::is_trivially_copyable_v<movimo::Offset3>);
  EXPECT_EQ(movimo::PIPS_PER_BEAT, 64);
}

}  // namespace
