#pragma once

// The registry of the sampled patterns, generated at build time with their
// tables: one descriptor per pattern in registry order, and the registry
// positions ordered by name for lookup.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "movimo/core.h"

namespace movimo {

inline constexpr std::size_t kSampledPatternCount = 1716;

using Sampler = Offset3 (*)(std::int32_t pip) noexcept;

// Starts with the PatternInfo fields in PatternInfo's order, so a catalogue
// entry is a copy of the first four fields.
struct SampledDescriptor {
  std::string_view name;
  std::string_view description;
  std::uint16_t period_pips;
  std::uint8_t dimensions;
  Sampler sampler;
};

extern const SampledDescriptor SAMPLED_PATTERNS[kSampledPatternCount];

// Positions into SAMPLED_PATTERNS whose names ascend in unsigned byte order.
extern const std::uint64_t SAMPLED_NAME_INDEX[kSampledPatternCount];

}  // namespace movimo
