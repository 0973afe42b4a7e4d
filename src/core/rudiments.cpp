#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>

#include "math_constants.h"
#include "movimo/patterns.h"

namespace movimo {
namespace {

constexpr std::int32_t R = 1;
constexpr std::int32_t L = -1;

// One stroke: a sin^2 pulse of `amplitude` inside a window of `length` pips.
struct Stroke {
  std::int32_t start;
  std::int32_t side;
  double amplitude;
  std::int32_t length;
};

// Share of each pulse that pulls y down.
constexpr double kYWeight = 0.72;

template <std::int32_t Period>
Offset3 play(std::span<const Stroke> strokes, std::int32_t pip) {
  const std::int32_t phase = pip & (Period - 1);
  double x = 0.0;
  double y = 0.0;
  for (const Stroke& stroke : strokes) {
    const std::int32_t w = (phase - stroke.start) & (Period - 1);
    // Outside its window a stroke's pulse is 0, and adding a zero pulse
    // leaves x and y bit for bit as they are (neither is ever -0.0), so the
    // stroke costs only this test.
    if (w >= stroke.length) continue;
    const double s = std::sin((static_cast<double>(w) / stroke.length) * internal::kPi);
    const double pulse = s * (s * stroke.amplitude);
    x = x + stroke.side * pulse;
    y = std::fma(-pulse, kYWeight, y);
  }
  return {std::clamp(x, -1.0, 1.0), std::clamp(y, -1.0, 1.0), 0.0};
}

constexpr Stroke kSingleStrokeRoll[] = {
    {0, R, 0.92, 8},  {8, L, 0.92, 8},  {16, R, 0.92, 8}, {24, L, 0.92, 8},
    {32, R, 0.92, 8}, {40, L, 0.92, 8}, {48, R, 0.92, 8}, {56, L, 0.92, 8},
};

constexpr Stroke kDoubleStrokeRoll[] = {
    {0, R, 0.88, 8},  {8, R, 0.72, 8},  {16, L, 0.88, 8}, {24, L, 0.72, 8},
    {32, R, 0.88, 8}, {40, R, 0.72, 8}, {48, L, 0.88, 8}, {56, L, 0.72, 8},
};

constexpr Stroke kMultipleBounceRoll[] = {
    {0, R, 0.92, 6},  {6, R, 0.68, 6},  {12, R, 0.48, 6}, {18, R, 0.32, 6},
    {32, L, 0.92, 6}, {38, L, 0.68, 6}, {44, L, 0.48, 6}, {50, L, 0.32, 6},
};

// RLRR LRLL twice, the first stroke of each group accented.
constexpr Stroke kSingleParadiddle[] = {
    {0, R, 1.0, 8},    {8, L, 0.72, 8},   {16, R, 0.72, 8},  {24, R, 0.72, 8},
    {32, L, 1.0, 8},   {40, R, 0.72, 8},  {48, L, 0.72, 8},  {56, L, 0.72, 8},
    {64, R, 1.0, 8},   {72, L, 0.72, 8},  {80, R, 0.72, 8},  {88, R, 0.72, 8},
    {96, L, 1.0, 8},   {104, R, 0.72, 8}, {112, L, 0.72, 8}, {120, L, 0.72, 8},
};

constexpr Stroke kFlam[] = {
    {0, L, 0.34, 10}, {5, R, 0.9, 14}, {32, R, 0.34, 10}, {37, L, 0.9, 14},
};

constexpr Stroke kDrag[] = {
    {0, L, 0.28, 8},  {5, L, 0.32, 8},  {10, R, 0.88, 14},
    {32, R, 0.28, 8}, {37, R, 0.32, 8}, {42, L, 0.88, 14},
};

constexpr Stroke kFiveStrokeRoll[] = {
    {0, R, 0.72, 9},  {8, R, 0.62, 9},  {16, L, 0.72, 9},  {24, L, 0.62, 9},
    {36, R, 1.0, 14}, {64, L, 0.72, 9}, {72, L, 0.62, 9},  {80, R, 0.72, 9},
    {88, R, 0.62, 9}, {100, L, 1.0, 14},
};

}  // namespace

Offset3 single_stroke_roll(std::int32_t pip) noexcept {
  return play<64>(kSingleStrokeRoll, pip);
}
Offset3 double_stroke_roll(std::int32_t pip) noexcept {
  return play<64>(kDoubleStrokeRoll, pip);
}
Offset3 multiple_bounce_roll(std::int32_t pip) noexcept {
  return play<64>(kMultipleBounceRoll, pip);
}
Offset3 single_paradiddle(std::int32_t pip) noexcept {
  return play<128>(kSingleParadiddle, pip);
}
Offset3 flam(std::int32_t pip) noexcept { return play<64>(kFlam, pip); }
Offset3 drag(std::int32_t pip) noexcept { return play<64>(kDrag, pip); }
Offset3 five_stroke_roll(std::int32_t pip) noexcept {
  return play<128>(kFiveStrokeRoll, pip);
}

}  // namespace movimo
