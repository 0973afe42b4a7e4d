#pragma once

// A caller's pack of SampledPatterns merged with the built-in patterns into
// one name space. Immutable after construction.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "movimo/core.h"
#include "movimo/export.h"
#include "movimo/sampled_pattern.h"

namespace movimo {

class PatternLibrary {
 public:
  // The most patterns a library may be given.
  static constexpr std::size_t kMaxPatterns = 1024;

  // Takes the patterns out of `patterns`. Throws std::invalid_argument for
  // more than 1024 patterns, then, pattern by pattern: a moved-from pattern,
  // a repeated name, a pack over 1048576 samples (dropped copies included),
  // or a built-in's name on anything but an exact copy of that built-in.
  // Exact copies are dropped and the built-in answers for them.
  MOVIMO_API explicit PatternLibrary(std::vector<SampledPattern> patterns);
  // The same library from patterns the caller keeps: the same tests in the
  // same order, all run before anything is copied, so a refused pack costs
  // no copies. A null pointer counts as a moved-from pattern.
  MOVIMO_API explicit PatternLibrary(std::span<const SampledPattern* const> patterns);

  // The caller's pattern of that name, else the built-in one; throws what
  // movimo::sample throws for a name in neither set.
  MOVIMO_API Offset3 sample(std::string_view name, std::int32_t pip) const;

  // The built-in catalogue followed by the caller's patterns in the order
  // given. The caller entries view strings owned by this library.
  MOVIMO_API std::vector<PatternInfo> catalogue() const;

 private:
  std::vector<SampledPattern> patterns_;
};

}  // namespace movimo
