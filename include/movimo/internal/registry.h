#pragma once

// The registry of the sampled patterns, generated at build time with their
// tables: one descriptor per pattern in registry order, the registry
// positions ordered by name for lookup, and the packs in order.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "movimo/core.h"
#include "movimo/packs.h"
#include "movimo/pattern_handle.h"

namespace movimo {

// Starts with the PatternInfo fields in PatternInfo's order, so a catalogue
// entry is a copy of the first four fields.
struct SampledDescriptor {
  std::string_view name;
  std::string_view description;
  std::uint16_t period_pips;
  std::uint8_t dimensions;
  Sampler sampler;
  std::string_view pack;
  std::string_view family;
  const Offset3* pack_rows;  // the rows of the pack's tables
  std::uint32_t first_row;   // where this pattern's table starts in them
};

extern const SampledDescriptor SAMPLED_PATTERNS[kSampledPatternCount];

// Positions into SAMPLED_PATTERNS whose names ascend in unsigned byte order.
extern const std::uint64_t SAMPLED_NAME_INDEX[kSampledPatternCount];

extern const PackInfo SAMPLED_PACKS[kPackCount];

}  // namespace movimo
