#include "movimo/pattern_library.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "movimo/catalogue.h"

namespace movimo {
namespace {

constexpr std::size_t kMaxPackSamples = std::size_t{1} << 20;

const PatternInfo* find_builtin(const std::vector<PatternInfo>& builtins,
                                std::string_view name) {
  const auto found = std::find_if(builtins.begin(), builtins.end(),
                                  [name](const PatternInfo& info) { return info.name == name; });
  return found == builtins.end() ? nullptr : &*found;
}

// Compared as doubles, so -0.0 equals 0.0.
bool same_row(const Offset3& a, const Offset3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// True when the pattern repeats the built-in exactly: description, period
// and the value at every pip of the period. The axis count is not compared.
bool copies_builtin(const SampledPattern& pattern, const PatternInfo& builtin) {
  if (pattern.description() != builtin.description ||
      pattern.period_pips() != builtin.period_pips) {
    return false;
  }
  for (std::int32_t pip = 0; pip < pattern.period_pips(); ++pip) {
    if (!same_row(pattern.sample(pip), movimo::sample(builtin.name, pip))) return false;
  }
  return true;
}

// Runs every test of the constructors over the patterns, in order, and
// returns the positions of those the library keeps: all but exact copies of
// a built-in, which the built-in answers for.
template <typename PatternAt>
std::vector<std::size_t> admit(std::size_t count, PatternAt pattern_at) {
  if (count > PatternLibrary::kMaxPatterns) throw std::invalid_argument("Too many patterns");
  const std::vector<PatternInfo>& builtins = movimo::catalogue();
  // Views of the given names, which stay in place until the library is built.
  std::unordered_set<std::string_view> names;
  names.reserve(count);
  std::size_t total_samples = 0;
  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < count; ++i) {
    const SampledPattern* pattern = pattern_at(i);
    if (pattern == nullptr || pattern->period_pips() == 0) {
      throw std::invalid_argument("Empty/moved-from pattern");
    }
    if (!names.insert(pattern->name()).second) {
      throw std::invalid_argument("Duplicate pattern name: " + pattern->name());
    }
    total_samples += static_cast<std::size_t>(pattern->period_pips());
    if (total_samples > kMaxPackSamples) throw std::invalid_argument("Pattern pack is too large");
    const PatternInfo* builtin = find_builtin(builtins, pattern->name());
    if (builtin == nullptr) {
      kept.push_back(i);
    } else if (!copies_builtin(*pattern, *builtin)) {
      throw std::invalid_argument("Cannot override default pattern: " + pattern->name());
    }
  }
  return kept;
}

}  // namespace

PatternLibrary::PatternLibrary(std::vector<SampledPattern> patterns) {
  const std::vector<std::size_t> kept =
      admit(patterns.size(), [&patterns](std::size_t i) { return &patterns[i]; });
  patterns_.reserve(kept.size());
  for (const std::size_t i : kept) patterns_.push_back(std::move(patterns[i]));
}

PatternLibrary::PatternLibrary(std::span<const SampledPattern* const> patterns) {
  const std::vector<std::size_t> kept =
      admit(patterns.size(), [patterns](std::size_t i) { return patterns[i]; });
  patterns_.reserve(kept.size());
  for (const std::size_t i : kept) patterns_.push_back(*patterns[i]);
}

Offset3 PatternLibrary::sample(std::string_view name, std::int32_t pip) const {
  for (const SampledPattern& pattern : patterns_) {
    if (pattern.name() == name) return pattern.sample(pip);
  }
  return movimo::sample(name, pip);
}

std::vector<PatternInfo> PatternLibrary::catalogue() const {
  const std::vector<PatternInfo>& builtins = movimo::catalogue();
  std::vector<PatternInfo> entries;
  entries.reserve(builtins.size() + patterns_.size());
  entries.assign(builtins.begin(), builtins.end());
  for (const SampledPattern& pattern : patterns_) entries.push_back(pattern.info());
  return entries;
}

}  // namespace movimo
