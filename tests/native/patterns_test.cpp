#include "movimo/patterns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace {

using movimo::Offset3;
using Pattern = Offset3 (*)(std::int32_t) noexcept;

struct Procedural {
  const char* name;
  Pattern pattern;
  std::int32_t period;
};

const std::vector<Procedural> kAll = {
    {"bounce", movimo::bounce, 64},
    {"sway", movimo::sway, 128},
    {"circle", movimo::circle, 64},
    {"figure_eight", movimo::figure_eight, 128},
    {"step_touch", movimo::step_touch, 128},
    {"box_step", movimo::box_step, 256},
    {"helix", movimo::helix, 256},
    {"clay_background", movimo::clay_background, 256},
    {"single_stroke_roll", movimo::single_stroke_roll, 64},
    {"double_stroke_roll", movimo::double_stroke_roll, 64},
    {"multiple_bounce_roll", movimo::multiple_bounce_roll, 64},
    {"single_paradiddle", movimo::single_paradiddle, 128},
    {"flam", movimo::flam, 64},
    {"drag", movimo::drag, 64},
    {"five_stroke_roll", movimo::five_stroke_roll, 128},
};

bool same_bits(const Offset3& a, const Offset3& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string show(const Offset3& o) {
  char text[128];
  std::snprintf(text, sizeof text, "(%.17g, %.17g, %.17g)", o.x, o.y, o.z);
  return text;
}

class EveryProcedural : public testing::TestWithParam<Procedural> {};

TEST_P(EveryProcedural, RepeatsWithItsPeriodAcrossZeroAndTheExtremes) {
  const Procedural& p = GetParam();
  std::vector<std::int64_t> pips;
  for (std::int64_t pip = -3 * p.period; pip <= 3 * p.period; ++pip) pips.push_back(pip);
  for (std::int64_t pip : {std::int64_t{INT_MIN} + p.period, std::int64_t{INT_MAX} - p.period,
                           std::int64_t{INT_MIN} + p.period + 17, std::int64_t{INT_MAX} - p.period - 5}) {
    pips.push_back(pip);
  }
  for (std::int64_t pip : pips) {
    const Offset3 here = p.pattern(static_cast<std::int32_t>(pip));
    ASSERT_TRUE(same_bits(here, p.pattern(static_cast<std::int32_t>(pip + p.period))))
        << p.name << " at " << pip;
    ASSERT_TRUE(same_bits(here, p.pattern(static_cast<std::int32_t>(pip - p.period))))
        << p.name << " at " << pip;
  }
}

TEST_P(EveryProcedural, StaysInRangeAndKeepsZIdleUnlessHelix) {
  const Procedural& p = GetParam();
  for (std::int32_t pip = 0; pip < p.period; ++pip) {
    const Offset3 o = p.pattern(pip);
    for (double v : {o.x, o.y, o.z}) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0);
    if (p.pattern != movimo::helix) {
      ASSERT_EQ(o.z, 0.0) << p.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, EveryProcedural, testing::ValuesIn(kAll),
                         [](const auto& info) { return std::string(info.param.name); });

struct Expected {
  Pattern pattern;
  std::int32_t pip;
  Offset3 value;
};

// Printed as the pip and value, not as a dump of the struct's bytes.
void PrintTo(const Expected& e, std::ostream* out) { *out << e.pip << " -> " << show(e.value); }

class KnownValues : public testing::TestWithParam<Expected> {};

TEST_P(KnownValues, AreExact) {
  const Expected& e = GetParam();
  const Offset3 got = e.pattern(e.pip);
  EXPECT_EQ(got.x, e.value.x) << show(got);
  EXPECT_EQ(got.y, e.value.y) << show(got);
  EXPECT_EQ(got.z, e.value.z) << show(got);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, KnownValues,
    testing::Values(
        Expected{movimo::bounce, 0, {-1, 0, 0}}, Expected{movimo::bounce, 16, {0, 0, 0}},
        Expected{movimo::bounce, 32, {1, 0, 0}}, Expected{movimo::bounce, -32, {1, 0, 0}},
        Expected{movimo::sway, 32, {1, 0, 0}}, Expected{movimo::sway, 96, {-1, 0, 0}},
        Expected{movimo::circle, 0, {6.123233995736766e-17, -1, 0}},
        Expected{movimo::circle, 16, {1, 0, 0}},
        Expected{movimo::step_touch, 16, {-0.5, -0.35, 0}},
        Expected{movimo::step_touch, 48, {0.5, -0.35, 0}},
        Expected{movimo::box_step, 0, {-1, -1, 0}}, Expected{movimo::box_step, 32, {0, -1, 0}},
        Expected{movimo::box_step, 64, {1, -1, 0}}, Expected{movimo::box_step, 128, {1, 1, 0}},
        Expected{movimo::box_step, -64, {-1, 1, 0}}, Expected{movimo::helix, 0, {1, 0, 0}},
        Expected{movimo::clay_background, 33, {0.9285714285714286, -0.8, 0}},
        Expected{movimo::clay_background, 100, {-1, 0.8999999999999999, 0}},
        Expected{movimo::clay_background, 243, {-0.2142857142857143, -0.29999999999999993, 0}},
        Expected{movimo::clay_background, 256, {0, 0, 0}}));

INSTANTIATE_TEST_SUITE_P(
    Rudiments, KnownValues,
    testing::Values(
        Expected{movimo::single_stroke_roll, 0, {0, 0, 0}},
        Expected{movimo::single_stroke_roll, 4, {0.92, -0.6624, 0}},
        Expected{movimo::single_stroke_roll, 12, {-0.92, -0.6624, 0}},
        Expected{movimo::single_stroke_roll, -60, {0.92, -0.6624, 0}},
        Expected{movimo::single_stroke_roll, INT_MIN, {0, 0, 0}},
        Expected{movimo::single_paradiddle, 4, {1, -0.72, 0}},
        Expected{movimo::single_paradiddle, 36, {-1, -0.72, 0}},
        Expected{movimo::single_paradiddle, -92, {-1, -0.72, 0}},
        Expected{movimo::five_stroke_roll, 43, {1, -0.72, 0}},
        Expected{movimo::five_stroke_roll, 107, {-1, -0.72, 0}},
        Expected{movimo::five_stroke_roll, 127, {0, 0, 0}},
        Expected{movimo::five_stroke_roll, INT_MAX, {0, 0, 0}},
        Expected{movimo::flam, 0, {0, 0, 0}}));

TEST(StepTouch, YIsNegativeZeroAtEverySegmentStart) {
  for (std::int32_t pip : {0, 32, 64, 96, -32, INT_MIN}) {
    const Offset3 o = movimo::step_touch(pip);
    EXPECT_EQ(o.y, 0.0);
    EXPECT_TRUE(std::signbit(o.y)) << pip;
  }
  EXPECT_EQ(movimo::step_touch(0).x, -1.0);
  EXPECT_EQ(movimo::step_touch(-1).x, -0.99713134765625);
}

TEST(Helix, HalfLoopTurnsXOnceAndRaisesZ) {
  const Offset3 o = movimo::helix(64);
  EXPECT_EQ(o.x, -1.0);
  EXPECT_EQ(o.z, 1.0);
}

TEST(ClayBackground, WrapsAtBothEnds) {
  EXPECT_TRUE(same_bits(movimo::clay_background(-1), movimo::clay_background(255)));
  EXPECT_TRUE(same_bits(movimo::clay_background(256), movimo::clay_background(0)));
}

// The fused multiply-adds are part of the results: recompute the formulas
// with std::fma and compare every phase bit for bit.
TEST(FusedArithmetic, BounceAndCircleUseOneFmaEach) {
  for (std::int32_t phase = 0; phase < 64; ++phase) {
    const double t = phase / 64.0;
    ASSERT_EQ(movimo::bounce(phase).x, std::fma(std::fabs(t - 0.5), -4.0, 1.0));
    const double a = std::fma(t, 6.283185307179586, -1.5707963267948966);
    ASSERT_EQ(movimo::circle(phase).x, std::cos(a));
    ASSERT_EQ(movimo::circle(phase).y, std::sin(a));
  }
}

TEST(Rudiments, PulsesPeakAtWindowMiddlesAndNeverLift) {
  EXPECT_EQ(movimo::multiple_bounce_roll(3).x, 0.92);
  EXPECT_EQ(movimo::multiple_bounce_roll(9).x, 0.68);
  EXPECT_EQ(movimo::multiple_bounce_roll(15).x, 0.48);
  EXPECT_EQ(movimo::multiple_bounce_roll(21).x, 0.32);
  EXPECT_EQ(movimo::multiple_bounce_roll(35).x, -0.92);
  EXPECT_EQ(movimo::flam(5).x, -0.34);
  EXPECT_EQ(movimo::flam(12).x, 0.9);
  EXPECT_EQ(movimo::flam(12).y, -0.648);
  EXPECT_EQ(movimo::drag(17).x, 0.88);
  EXPECT_EQ(movimo::drag(49).x, -0.88);
  const std::span<const Procedural> rudiments = std::span(kAll).subspan(8);
  for (const Procedural& p : rudiments) {
    for (std::int32_t pip = 0; pip < p.period; ++pip) ASSERT_LE(p.pattern(pip).y, 0.0) << p.name;
  }
}

// The documented stroke arithmetic, zero pulses included, for the two
// rudiments whose windows overlap: the library must match it bit for bit.
struct ReferenceStroke {
  int start, side;
  double amplitude;
  int length;
};

Offset3 reference_rudiment(const std::vector<ReferenceStroke>& strokes, std::int32_t pip) {
  double x = 0.0, y = 0.0;
  for (const ReferenceStroke& k : strokes) {
    const int w = ((pip & 63) - k.start) & 63;
    double p = 0.0;
    if (w < k.length) {
      const double s = std::sin((static_cast<double>(w) / k.length) * 3.141592653589793);
      p = s * (s * k.amplitude);
    }
    x = x + k.side * p;
    y = std::fma(-p, 0.72, y);
  }
  return {std::clamp(x, -1.0, 1.0), std::clamp(y, -1.0, 1.0), 0.0};
}

TEST(Rudiments, OverlappingWindowsFollowTheStrokeArithmetic) {
  const std::vector<ReferenceStroke> flam = {
      {0, -1, 0.34, 10}, {5, 1, 0.9, 14}, {32, 1, 0.34, 10}, {37, -1, 0.9, 14}};
  const std::vector<ReferenceStroke> drag = {{0, -1, 0.28, 8},  {5, -1, 0.32, 8},
                                             {10, 1, 0.88, 14}, {32, 1, 0.28, 8},
                                             {37, 1, 0.32, 8},  {42, -1, 0.88, 14}};
  for (std::int32_t pip = 0; pip < 64; ++pip) {
    ASSERT_TRUE(same_bits(movimo::flam(pip), reference_rudiment(flam, pip))) << pip;
    ASSERT_TRUE(same_bits(movimo::drag(pip), reference_rudiment(drag, pip))) << pip;
  }
}

}  // namespace
