#include "movimo/core.h"

namespace movimo {

std::int32_t wrap_pip(std::int32_t pip, std::int32_t period) noexcept {
  if (period < 1) return 0;
  // The divisor is at least 1, so the remainder cannot overflow.
  const std::int32_t remainder = pip % period;
  return remainder < 0 ? remainder + period : remainder;
}

}  // namespace movimo
