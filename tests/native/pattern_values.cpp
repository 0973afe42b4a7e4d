// movimo_pattern_values: prints every procedural pattern's value at the pips
// its golden digest covers, one line per pip: name, pip, then x, y and z as
// hexadecimal floats, so the text carries every bit. The pips are two periods
// either side of 0 and one period at each end of the 32-bit range, where the
// phase arithmetic meets wrap-around.

#include <cstdint>
#include <cstdio>
#include <limits>

#include "movimo/catalogue.h"
#include "movimo/internal/registry.h"

namespace {

void print_value(const movimo::PatternInfo& pattern, std::int32_t pip) {
  const movimo::Offset3 value = movimo::sample(pattern.name, pip);
  std::printf("%.*s\t%d\t%a\t%a\t%a\n", static_cast<int>(pattern.name.size()),
              pattern.name.data(), pip, value.x, value.y, value.z);
}

}  // namespace

int main() {
  constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kHighest = std::numeric_limits<std::int32_t>::max();
  const auto& catalogue = movimo::catalogue();
  const std::size_t procedural = catalogue.size() - movimo::kSampledPatternCount;
  for (std::size_t i = 0; i < procedural; ++i) {
    const movimo::PatternInfo& pattern = catalogue[i];
    const std::int64_t period = pattern.period_pips;
    for (std::int64_t pip = -2 * period; pip < 2 * period; ++pip) {
      print_value(pattern, static_cast<std::int32_t>(pip));
    }
    for (std::int64_t pip = kLowest; pip < kLowest + period; ++pip) {
      print_value(pattern, static_cast<std::int32_t>(pip));
    }
    for (std::int64_t pip = kHighest - period + 1; pip <= kHighest; ++pip) {
      print_value(pattern, static_cast<std::int32_t>(pip));
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
