#pragma once

// Input rules shared by user patterns and recordings.

#include <cmath>
#include <string_view>

namespace movimo::internal {

// 1 to 128 bytes: a lowercase ASCII letter, then lowercase letters, digits
// or underscores.
bool is_identifier(std::string_view text) noexcept;

// Finite and within [-1, 1]; NaN fails the comparison.
inline bool is_unit_value(double value) noexcept { return std::fabs(value) <= 1.0; }

}  // namespace movimo::internal
