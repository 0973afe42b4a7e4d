#include "movimo/sampled_pattern.h"

#include <cstddef>
#include <stdexcept>
#include <utility>

#include "validation.h"

namespace movimo {

SampledPattern::SampledPattern(std::string name, std::string description,
                               std::vector<Offset3> samples)
    : name_(std::move(name)),
      description_(std::move(description)),
      samples_(std::move(samples)),
      dimensions_(1) {
  if (!internal::is_identifier(name_)) throw std::invalid_argument("Invalid pattern name");
  if (samples_.empty() || samples_.size() > kMaxSamples) {
    throw std::invalid_argument("A pattern requires 1..65535 samples (one per pip)");
  }
  for (const Offset3& row : samples_) {
    if (!internal::is_unit_value(row.x) || !internal::is_unit_value(row.y) ||
        !internal::is_unit_value(row.z)) {
      throw std::invalid_argument("Pattern samples must be finite and within [-1, 1]");
    }
    // The x axis never decides: a pattern that moves only x still has one axis.
    if (row.z != 0.0) {
      dimensions_ = 3;
    } else if (row.y != 0.0 && dimensions_ != 3) {
      dimensions_ = 2;
    }
  }
}

SampledPattern::SampledPattern(const SampledPattern& other) = default;
SampledPattern& SampledPattern::operator=(const SampledPattern& other) = default;

// std::vector promises an empty source only for move construction, so both
// moves empty the source's samples explicitly.
SampledPattern::SampledPattern(SampledPattern&& other) noexcept
    : name_(std::move(other.name_)),
      description_(std::move(other.description_)),
      samples_(std::exchange(other.samples_, {})),
      dimensions_(other.dimensions_) {}

SampledPattern& SampledPattern::operator=(SampledPattern&& other) noexcept {
  // Moving the strings onto themselves would empty them and keep the samples.
  if (this == &other) return *this;
  name_ = std::move(other.name_);
  description_ = std::move(other.description_);
  samples_ = std::exchange(other.samples_, {});
  dimensions_ = other.dimensions_;
  return *this;
}

SampledPattern::~SampledPattern() = default;

PatternInfo SampledPattern::info() const noexcept {
  return {name_, description_, static_cast<std::uint16_t>(samples_.size()), dimensions_};
}

Offset3 SampledPattern::sample(std::int32_t pip) const {
  if (samples_.empty()) throw std::logic_error("Cannot sample a moved-from pattern");
  return samples_[static_cast<std::size_t>(wrap_pip(pip, period_pips()))];
}

const std::string& SampledPattern::name() const noexcept { return name_; }

const std::string& SampledPattern::description() const noexcept { return description_; }

std::int32_t SampledPattern::period_pips() const noexcept {
  return static_cast<std::int32_t>(samples_.size());
}

}  // namespace movimo
