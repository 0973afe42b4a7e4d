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

constexpr std::size_t kMaxValues = SampledRecording::kMaxValues;
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

template <typename Iterator>
bool all_unit_values(Iterator first, Iterator last) {
  return std::all_of(first, last, internal::is_unit_value);
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
  validate_header(samples.size());
  samples_.reserve(dimensions_.size() * samples.size());
  for (const std::vector<double>& row : samples) {
    if (row.size() != dimensions_.size()) throw std::invalid_argument("Ragged recording");
    if (!all_unit_values(row.begin(), row.end())) throw std::invalid_argument("Invalid sample");
    samples_.insert(samples_.end(), row.begin(), row.end());
  }
}

SampledRecording::SampledRecording(std::string name, std::vector<std::string> dimensions,
                                   RecordingFrames frames, double bpm,
                                   double beat_zero_seconds, std::int32_t start_pip)
    : name_(std::move(name)),
      dimensions_(std::move(dimensions)),
      bpm_(bpm),
      beat_zero_seconds_(beat_zero_seconds),
      start_pip_(start_pip) {
  validate_header(frames.count);
  // The frames that pass the length test are the leading uniform ones, and
  // only if their length is the number of axes. A layout whose counts do not
  // match its values has no whole frames. The size test above bounds the
  // product, so it cannot wrap.
  const std::size_t axes = dimensions_.size();
  const bool whole = frames.first_length == axes && frames.uniform_count <= frames.count &&
                     frames.values.size() == frames.uniform_count * axes;
  const std::size_t whole_frames = whole ? frames.uniform_count : 0;
  const auto end = frames.values.begin() + static_cast<std::ptrdiff_t>(whole_frames * axes);
  if (!all_unit_values(frames.values.begin(), end)) {
    throw std::invalid_argument("Invalid sample");
  }
  if (whole_frames != frames.count) throw std::invalid_argument("Ragged recording");
  samples_ = std::move(frames.values);
}

void SampledRecording::validate_header(std::size_t frame_count) const {
  if (!internal::is_identifier(name_)) throw std::invalid_argument("Invalid identifier");
  if (!is_valid_timing(bpm_, beat_zero_seconds_)) {
    throw std::invalid_argument("A finite positive BPM and beat origin are required");
  }
  if (!fits_limits(dimensions_.size(), frame_count, start_pip_)) {
    throw std::invalid_argument("Empty recording or recording resource limit exceeded");
  }
  check_axis_names(dimensions_);
}

const std::string& SampledRecording::name() const noexcept { return name_; }

const std::vector<std::string>& SampledRecording::dimensions() const noexcept {
  return dimensions_;
}

std::int32_t SampledRecording::sample_count() const noexcept {
  // A moved-from recording has no axes left, and no frames.
  if (dimensions_.empty()) return 0;
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
