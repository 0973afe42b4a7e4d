#pragma once

// A caller-defined looping pattern: one Offset3 per pip of its period,
// validated once when constructed and immutable afterwards.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "movimo/core.h"
#include "movimo/export.h"

namespace movimo {

class SampledPattern {
 public:
  // The most samples (pips of one period) a pattern may hold.
  static constexpr std::size_t kMaxSamples = 65535;

  // Throws std::invalid_argument, checking in this order: the name (1 to
  // 128 bytes, a-z first, then a-z, 0-9 or _), the number of samples (1 to
  // 65535), then every component (finite, within [-1, 1]).
  MOVIMO_API SampledPattern(std::string name, std::string description,
                            std::vector<Offset3> samples);

  MOVIMO_API SampledPattern(const SampledPattern& other);
  MOVIMO_API SampledPattern& operator=(const SampledPattern& other);
  // Moving out leaves the source without samples: a moved-from pattern.
  // Moving a pattern onto itself leaves it as it was.
  MOVIMO_API SampledPattern(SampledPattern&& other) noexcept;
  MOVIMO_API SampledPattern& operator=(SampledPattern&& other) noexcept;
  MOVIMO_API ~SampledPattern();

  // Views of this pattern's own strings; period_pips is 0 once moved from.
  MOVIMO_API PatternInfo info() const noexcept;
  // The stored row at wrap_pip(pip, period). Throws std::logic_error for a
  // moved-from pattern.
  MOVIMO_API Offset3 sample(std::int32_t pip) const;

  MOVIMO_API const std::string& name() const noexcept;
  MOVIMO_API const std::string& description() const noexcept;
  // The number of samples; 0 for a moved-from pattern.
  MOVIMO_API std::int32_t period_pips() const noexcept;

 private:
  std::string name_;
  std::string description_;
  std::vector<Offset3> samples_;
  std::uint8_t dimensions_;
};

}  // namespace movimo
