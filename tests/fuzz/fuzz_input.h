#pragma once

// Turns fuzzer bytes into the arguments the constructors take: short names
// drawn from identifier-like and arbitrary bytes, and doubles that are often
// on or next to the edges the validation cares about.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "movimo/core.h"

namespace fuzz_input {

inline double value(FuzzedDataProvider& data) {
  switch (data.ConsumeIntegralInRange(0, 7)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return data.ConsumeBool() ? INFINITY : -INFINITY;
    case 2: return std::nextafter(1.0, 2.0);
    case 3: return data.ConsumeBool() ? 1.0 : -1.0;
    case 4: return data.ConsumeBool() ? 0.0 : -0.0;
    case 5: return std::numeric_limits<double>::denorm_min();
    default: return data.ConsumeFloatingPointInRange(-1.25, 1.25);
  }
}

inline std::string name(FuzzedDataProvider& data) {
  if (data.ConsumeBool()) return data.ConsumeRandomLengthString(140);
  std::string text(data.ConsumeIntegralInRange<std::size_t>(0, 130), 'a');
  for (char& c : text) c = "abcz09_A-"[data.ConsumeIntegralInRange(0, 8)];
  return text;
}

inline std::vector<movimo::Offset3> rows(FuzzedDataProvider& data, std::size_t most) {
  std::vector<movimo::Offset3> samples(data.ConsumeIntegralInRange<std::size_t>(0, most));
  for (movimo::Offset3& row : samples) row = {value(data), value(data), value(data)};
  return samples;
}

}  // namespace fuzz_input
