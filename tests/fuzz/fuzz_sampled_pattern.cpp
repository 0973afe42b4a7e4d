#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "fuzz_input.h"
#include "movimo/sampled_pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  std::string name = fuzz_input::name(data);
  std::string description = data.ConsumeRandomLengthString(64);
  std::vector<movimo::Offset3> samples = fuzz_input::rows(data, 300);
  try {
    const movimo::SampledPattern pattern(name, description, samples);
    const movimo::PatternInfo info = pattern.info();
    if (info.period_pips != samples.size() || info.dimensions < 1 || info.dimensions > 3) std::abort();
    const std::int32_t pip = data.ConsumeIntegral<std::int32_t>();
    const movimo::Offset3 row = pattern.sample(pip);
    if (!std::isfinite(row.x) || std::fabs(row.y) > 1.0) std::abort();
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
