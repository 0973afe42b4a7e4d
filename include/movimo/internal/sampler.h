#pragma once

// The phase arithmetic of the generated samplers.

#include <cstdint>

namespace movimo::internal {

// Floor modulo of `pip` by `Period`: the low bits for a power of two, else
// the truncated remainder moved into [0, Period).
template <std::int32_t Period>
constexpr std::int32_t loop_phase(std::int32_t pip) noexcept {
  static_assert(Period > 0);
  if constexpr ((Period & (Period - 1)) == 0) {
    return pip & (Period - 1);
  } else {
    const std::int32_t remainder = pip % Period;
    return remainder < 0 ? remainder + Period : remainder;
  }
}

}  // namespace movimo::internal
