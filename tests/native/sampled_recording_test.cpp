// Frame layout and the native exception types of SampledRecording; the
// validation rules are covered through the Python tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "movimo/sampled_recording.h"

namespace {

using movimo::SampledRecording;

constexpr std::int32_t kMinPip = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMaxPip = std::numeric_limits<std::int32_t>::max();

TEST(SampledRecording, FramesReadBackInAxisOrder) {
  const SampledRecording recording("take", {"x", "roll", "z"},
                                   {{0.1, 0.2, 0.3}, {-0.4, -0.5, -0.6}}, 120.0, -1.5, -7);
  EXPECT_EQ(recording.sample_count(), 2);
  EXPECT_EQ(recording.sample(-7), (std::vector<double>{0.1, 0.2, 0.3}));
  EXPECT_EQ(recording.sample(-6), (std::vector<double>{-0.4, -0.5, -0.6}));
  EXPECT_EQ(recording.dimensions(), (std::vector<std::string>{"x", "roll", "z"}));
  EXPECT_EQ(recording.beat_zero_seconds(), -1.5);
}

TEST(SampledRecording, MovedFromHasNoFrames) {
  SampledRecording source("take", {"x"}, {{0.5}}, 120.0, 0.0, 0);
  const SampledRecording target(std::move(source));
  EXPECT_EQ(target.sample_count(), 1);
  EXPECT_EQ(source.sample_count(), 0);  // NOLINT(bugprone-use-after-move)
  EXPECT_THROW(source.sample(0), std::out_of_range);
}

TEST(SampledRecording, PipsOutsideThrowOutOfRange) {
  const SampledRecording low("low", {"x"}, {{0.5}, {0.25}}, 90.0, 0.0, kMinPip);
  const SampledRecording high("high", {"x"}, {{0.5}}, 90.0, 0.0, kMaxPip - 1);
  const std::vector<std::pair<const SampledRecording*, std::int32_t>> outside = {
      {&low, kMinPip + 2}, {&low, kMaxPip}, {&high, kMaxPip}, {&high, kMinPip}};
  for (const auto& [recording, pip] : outside) {
    SCOPED_TRACE(pip);
    EXPECT_THROW(
        {
          try {
            recording->sample(pip);
          } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "Pip outside non-looping recording");
            throw;
          }
        },
        std::out_of_range);
  }
  EXPECT_EQ(low.sample(kMinPip + 1), std::vector<double>{0.25});
  EXPECT_EQ(high.sample(kMaxPip - 1), std::vector<double>{0.5});
}

// A flat layout whose counts disagree with its values has no whole frames,
// so it is refused as ragged rather than read out of bounds.
TEST(SampledRecording, InconsistentFlatFramesAreRagged) {
  const auto frames = [](std::vector<double> values, std::size_t count, std::size_t length,
                         std::size_t uniform) {
    movimo::RecordingFrames layout;
    layout.values = std::move(values);
    layout.count = count;
    layout.first_length = length;
    layout.uniform_count = uniform;
    return layout;
  };
  const std::vector<movimo::RecordingFrames> layouts = {
      frames({0.5}, 2, 1, 2), frames({0.5, 0.5, 0.5}, 2, 1, 2), frames({0.5, 0.5}, 2, 1, 3),
      frames({}, 1, 0, 1), frames({0.5, 0.5}, 1, 2, 1)};
  for (const movimo::RecordingFrames& layout : layouts) {
    try {
      SampledRecording("take", {"x"}, layout, 120.0, 0.0, 0);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), "Ragged recording");
    }
  }
  const SampledRecording whole("take", {"x"}, frames({0.5, -0.5}, 2, 1, 2), 120.0, 0.0, 0);
  EXPECT_EQ(whole.sample(1), std::vector<double>{-0.5});
}

// The flat layout of `rows`, as the binding layer collects it.
movimo::RecordingFrames flatten(const std::vector<std::vector<double>>& rows) {
  movimo::RecordingFrames frames;
  frames.count = rows.size();
  frames.first_length = rows.empty() ? 0 : rows.front().size();
  for (const std::vector<double>& row : rows) {
    if (row.size() != frames.first_length) break;
    frames.values.insert(frames.values.end(), row.begin(), row.end());
    ++frames.uniform_count;
  }
  return frames;
}

template <typename Rows>
std::string frame_error(const Rows& rows) {
  try {
    SampledRecording("take", {"x"}, rows, 120.0, 0.0, 0);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "accepted";
}

TEST(SampledRecording, NestedAndFlatFramesAreTestedAlike) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<std::vector<std::vector<double>>, std::string>> cases = {
      {{{0.5}, {1.0}, {-1.0}}, "accepted"},
      {{{0.5, 0.5}}, "Ragged recording"},
      {{{}}, "Ragged recording"},
      {{{0.5}, {0.5, 0.5}, {nan}}, "Ragged recording"},
      {{{0.5}, {nan}, {0.5, 0.5}}, "Invalid sample"},
      {{{0.5}, {0.5}, {std::nextafter(1.0, 2.0)}}, "Invalid sample"},
      {{}, "Empty recording or recording resource limit exceeded"},
  };
  for (const auto& [rows, message] : cases) {
    SCOPED_TRACE(message);
    EXPECT_EQ(frame_error(rows), message);
    EXPECT_EQ(frame_error(flatten(rows)), message);
  }
}

}  // namespace
