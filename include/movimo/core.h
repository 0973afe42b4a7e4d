#pragma once

#include <cstdint>
#include <string_view>

#include "movimo/export.h"

namespace movimo {

// A pip is the integer time index of every pattern: 64 pips to a beat.
inline constexpr int PIPS_PER_BEAT = 64;

// The value of a pattern at one pip. Axes a pattern does not move are 0.
struct Offset3 {
  double x;
  double y;
  double z;
};

// Descriptor of one pattern. The views do not own their text.
struct PatternInfo {
  std::string_view name;
  std::string_view description;
  std::uint16_t period_pips;
  std::uint8_t dimensions;
};

// Floor modulo of `pip` by `period`, in [0, period); 0 for a period below 1.
MOVIMO_API std::int32_t wrap_pip(std::int32_t pip, std::int32_t period) noexcept;

}  // namespace movimo
