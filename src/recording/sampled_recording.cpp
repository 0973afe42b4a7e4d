#include "movimo/sampled_recording.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "../library/validation.h"

namespace movimo {
namespace {

constexpr std::size_t kMaxValues = std::size_t{1} << 23;
constexpr std::int64_t kPipLimit = std::int64_t{1} << 31;

bool is_valid_timing(double bpm, double beat_zero_seconds) {
  if (!std::isfinite(bpm) || !(bpm > 0.0)) return false;
  const double seconds_per_beat = 60.0 / bpm;  // overflows for tiny subnormal tempos
  return std::isfinite(seconds_per_beat) && seconds_per_beat * (1.0 / 64.0) > 0.0 &&
         std::isfinite(beat_zero_seconds);
}

bool fits_limits(std::size_t axes, std::size_t rows, std::int32_t start_pip) {
  return axes != 0 && axes <= kMaxValues && rows != 0 && rows <= kMaxValues / axes &&
         start_pip + static_cast<std::int64_t>(rows) < kPipLimit;
}

void check_axis_names(const std::vector<std::string>& dimensions) {
  std::unordered_set<std::string_view> seen;
  seen.reserve(dimensions.size());
  for (const std::string& axis : dimensions) {
    if (!internal::is_identifier(axis)) throw std::invalid_argument("Invalid identifier");
    if (!seen.insert(axis).second) throw std::invalid_argument("Duplicate axis");
  }
}

}  // namespace

SampledRecording::SampledRecording(std::string name, std::vector<std::string> dimensions,
                                   const std::vector<std::vector<double>>& samples,
                                   double bpm, double beat_zero_seconds,
                                   std::int32_t start_pip)
    : name_(std::move(name)),
      dimensions_(std::move(dimensions)),
      bpm_(bpm),
      beat_zero_seconds_(beat_zero_seconds),
      start_pip_(start_pip) {
  if (!internal::is_identifier(name_)) throw std::invalid_argument("Invalid identifier");
  if (!is_valid_timing(bpm_, beat_zero_seconds_)) {
    throw std::invalid_argument("A finite positive BPM and beat origin are required");
  }
  const std::size_t axes = dimensions_.size();
  if (!fits_limits(axes, samples.size(), start_pip_)) {
    throw std::invalid_argument("Empty recording or recording resource limit exceeded");
  }
  check_axis_names(dimensions_);
  samples_.reserve(axes * samples.size());
  for (const std::vector<double>& row : samples) {
    if (row.size() != axes) throw std::invalid_argument("Ragged recording");
    if (!std::all_of(row.begin(), row.end(), internal::is_unit_value)) {
      throw std::invalid_argument("Invalid sample");
    }
    samples_.insert(samples_.end(), row.begin(), row.end());
  }
}

const std::string& SampledRecording::name() const noexcept { return name_; }

const std::vector<std::string>& SampledRecording::dimensions() const noexcept {
  return dimensions_;
}

std::int32_t SampledRecording::sample_count() const noexcept {
  return static_cast<std::int32_t>(samples_.size() / dimensions_.size());
}

double SampledRecording::bpm() const noexcept { return bpm_; }

double SampledRecording::beat_zero_seconds() const noexcept { return beat_zero_seconds_; }

std::int32_t SampledRecording::start_pip() const noexcept { return start_pip_; }

std::vector<double> SampledRecording::sample(std::int32_t pip) const {
  // 64-bit difference: pip and start_pip may lie at opposite ends of the range.
  const std::int64_t frame = std::int64_t{pip} - start_pip_;
  if (frame < 0 || frame >= sample_count()) {
    throw std::out_of_range("Pip outside non-looping recording");
  }
  const auto first = samples_.begin() + frame * static_cast<std::ptrdiff_t>(dimensions_.size());
  return {first, first + static_cast<std::ptrdiff_t>(dimensions_.size())};
}

}  // namespace movimo
