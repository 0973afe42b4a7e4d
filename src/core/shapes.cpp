#include <cmath>
#include <cstdint>

#include "math_constants.h"
#include "movimo/patterns.h"

namespace movimo {
namespace {

using internal::smoothstep;

// Phase within a power-of-two period: the low bits of the two's-complement pip.
constexpr std::int32_t phase(std::int32_t pip, std::int32_t period) {
  return pip & (period - 1);
}

struct Segment {
  double x_from, x_to, y_from, y_to;
};

// step_touch: four 32-pip steps between -1, 0 and 1.
constexpr double kStepTouchFrom[4] = {-1.0, 0.0, 1.0, 0.0};
constexpr double kStepTouchTo[4] = {0.0, 1.0, 0.0, -1.0};

// box_step: one side of the square per beat, corners (-1,-1) (1,-1) (1,1) (-1,1).
constexpr Segment kBoxStep[4] = {
    {-1.0, 1.0, -1.0, -1.0},
    {1.0, 1.0, -1.0, 1.0},
    {1.0, -1.0, 1.0, 1.0},
    {-1.0, -1.0, 1.0, -1.0},
};

}  // namespace

Offset3 bounce(std::int32_t pip) noexcept {
  const double t = phase(pip, 64) / 64.0;
  return {std::fma(std::fabs(t - 0.5), -4.0, 1.0), 0.0, 0.0};
}

Offset3 sway(std::int32_t pip) noexcept {
  return {std::sin((phase(pip, 128) / 128.0) * internal::kTwoPi), 0.0, 0.0};
}

Offset3 circle(std::int32_t pip) noexcept {
  const double angle =
      std::fma(phase(pip, 64) / 64.0, internal::kTwoPi, internal::kMinusHalfPi);
  double sine, cosine;
  internal::sin_cos(angle, &sine, &cosine);
  return {cosine, sine, 0.0};
}

Offset3 figure_eight(std::int32_t pip) noexcept {
  const double angle = (phase(pip, 128) / 128.0) * internal::kTwoPi;
  return {std::sin(angle), std::sin(angle + angle), 0.0};
}

Offset3 step_touch(std::int32_t pip) noexcept {
  const double c = (pip & 31) / 32.0;
  const int k = (pip >> 5) & 3;
  const double x =
      kStepTouchFrom[k] + (kStepTouchTo[k] - kStepTouchFrom[k]) * smoothstep(c);
  // Sine times -0.35 (not the reverse) makes y exactly -0.0 at each segment start.
  const double y = std::sin(c * internal::kPi) * -0.35;
  return {x, y, 0.0};
}

Offset3 box_step(std::int32_t pip) noexcept {
  const double c = (pip & 63) / 64.0;
  const Segment& s = kBoxStep[(pip >> 6) & 3];
  const double e = smoothstep(c);
  return {s.x_from + (s.x_to - s.x_from) * e, s.y_from + (s.y_to - s.y_from) * e,
          0.0};
}

Offset3 helix(std::int32_t pip) noexcept {
  const double t = phase(pip, 256) / 256.0;
  double sine, cosine;
  internal::sin_cos(t * internal::kFourPi, &sine, &cosine);
  return {cosine, sine, std::sin(t * internal::kTwoPi)};
}

}  // namespace movimo
