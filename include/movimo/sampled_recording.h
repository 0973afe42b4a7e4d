#pragma once

// Recorded motion on the pip timebase: named axes and one frame of values
// per pip from start_pip on. A recording does not loop.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "movimo/export.h"

namespace movimo {

// Frames laid out back to back, for callers that collect them without one
// vector per frame. `values` holds the first `uniform_count` frames, all of
// `first_length` values; frame `uniform_count`, if there is one, is the
// first whose length differs, and nothing from it on is stored.
struct RecordingFrames {
  // Declared so that the type is no aggregate: a braced list of rows passed
  // to SampledRecording then always means the vector of rows.
  RecordingFrames() = default;

  std::vector<double> values;
  std::size_t count = 0;
  std::size_t first_length = 0;
  std::size_t uniform_count = 0;
};

class SampledRecording {
 public:
  // Axes x frames may not exceed this.
  static constexpr std::size_t kMaxValues = std::size_t{1} << 23;

  // Each row of `samples` is one frame holding one value per axis. Throws
  // std::invalid_argument, checking in this order: the name, the timing
  // (bpm, 60 / bpm and beat_zero_seconds), the size (at least one axis and
  // one row, at most 8388608 values, start_pip + rows below 2^31), the axis
  // names (valid, then unique), then every row (length, then values).
  MOVIMO_API SampledRecording(std::string name, std::vector<std::string> dimensions,
                              const std::vector<std::vector<double>>& samples, double bpm,
                              double beat_zero_seconds, std::int32_t start_pip);
  // The same recording from frames given back to back: the same tests in the
  // same order, and `frames.values` becomes the recording's storage.
  MOVIMO_API SampledRecording(std::string name, std::vector<std::string> dimensions,
                              RecordingFrames frames, double bpm, double beat_zero_seconds,
                              std::int32_t start_pip);

  MOVIMO_API const std::string& name() const noexcept;
  MOVIMO_API const std::vector<std::string>& dimensions() const noexcept;
  // 0 for a moved-from recording.
  MOVIMO_API std::int32_t sample_count() const noexcept;
  MOVIMO_API double bpm() const noexcept;
  MOVIMO_API double beat_zero_seconds() const noexcept;
  MOVIMO_API std::int32_t start_pip() const noexcept;

  // The frame at `pip`, one value per axis. Throws std::out_of_range outside
  // start_pip .. start_pip + sample_count() - 1.
  MOVIMO_API std::vector<double> sample(std::int32_t pip) const;

 private:
  // Every test that comes before the frames: name, timing, size, axis names.
  void validate_header(std::size_t frame_count) const;

  std::string name_;
  std::vector<std::string> dimensions_;
  std::vector<double> samples_;  // frame f, axis a at f * axes + a
  double bpm_;
  double beat_zero_seconds_;
  std::int32_t start_pip_;
};

}  // namespace movimo
