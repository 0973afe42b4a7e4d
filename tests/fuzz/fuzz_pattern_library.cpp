#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "fuzz_input.h"
#include "movimo/catalogue.h"
#include "movimo/pattern_library.h"

namespace {

// Built-in names give the fuzzer a way into the redefinition checks.
constexpr std::string_view kBuiltIns[] = {"bounce", "lfo_breathe", "euclid_2_5", "meter_2_3"};

movimo::SampledPattern pattern_from(FuzzedDataProvider& data) {
  if (data.ConsumeBool()) {
    // An exact or nearly exact copy of a built-in.
    const std::string_view name = kBuiltIns[data.ConsumeIntegralInRange(0, 3)];
    for (const movimo::PatternInfo& info : movimo::catalogue()) {
      if (info.name != name) continue;
      std::vector<movimo::Offset3> rows(info.period_pips);
      for (std::int32_t pip = 0; pip < info.period_pips; ++pip) rows[pip] = movimo::sample(name, pip);
      if (data.ConsumeBool() && !rows.empty()) rows[data.ConsumeIntegralInRange<std::size_t>(0, rows.size() - 1)].x = 0.5;
      return movimo::SampledPattern(std::string(name), std::string(info.description), rows);
    }
  }
  return movimo::SampledPattern(fuzz_input::name(data), data.ConsumeRandomLengthString(16),
                                fuzz_input::rows(data, 40));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  std::vector<movimo::SampledPattern> patterns;
  const int count = data.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < count; ++i) {
    try {
      patterns.push_back(pattern_from(data));
      if (data.ConsumeIntegralInRange(0, 9) == 0) {
        movimo::SampledPattern moved = std::move(patterns.back());  // leaves a moved-from pattern
        (void)moved;
      }
    } catch (const std::invalid_argument&) {
    }
  }
  try {
    const movimo::PatternLibrary library(std::move(patterns));
    const std::string name = fuzz_input::name(data);
    (void)library.catalogue();
    (void)library.sample(name, data.ConsumeIntegral<std::int32_t>());
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
