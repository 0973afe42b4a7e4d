#pragma once

// The built-in catalogue: the 15 procedural patterns followed by the 1716
// sampled ones, and evaluation of any built-in pattern by name.

#include <cstdint>
#include <string_view>
#include <vector>

#include "movimo/core.h"
#include "movimo/export.h"

namespace movimo {

// All 1731 built-in descriptors, built once on first use (safe against
// concurrent first calls). Every call returns the same object.
MOVIMO_API const std::vector<PatternInfo>& catalogue();

// The built-in pattern `name` at `pip`. Throws std::invalid_argument with
// "Unknown movimo: " + name when no built-in pattern has that name.
MOVIMO_API Offset3 sample(std::string_view name, std::int32_t pip);

}  // namespace movimo
