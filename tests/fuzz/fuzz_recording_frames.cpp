// The flat frames path the binding takes. Rows are laid out the way the
// binding lays them out, and then sometimes tampered with, since a native
// caller may fill RecordingFrames any way it likes: a layout is either
// refused with std::invalid_argument or read back exactly, and an untouched
// layout gives the same answer as the same rows given nested.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "movimo/sampled_recording.h"

namespace {

using Rows = std::vector<std::vector<double>>;

// The binding's layout: the leading frames of the first frame's length.
movimo::RecordingFrames lay_out(const Rows& rows) {
  movimo::RecordingFrames frames;
  frames.count = rows.size();
  bool uniform = !rows.empty();
  if (uniform) frames.first_length = rows.front().size();
  for (const std::vector<double>& row : rows) {
    uniform = uniform && row.size() == frames.first_length;
    if (!uniform) break;
    frames.values.insert(frames.values.end(), row.begin(), row.end());
    ++frames.uniform_count;
  }
  return frames;
}

void tamper(FuzzedDataProvider& data, movimo::RecordingFrames& frames) {
  switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0: frames.count = data.ConsumeIntegralInRange<std::size_t>(0, 70); break;
    case 1: frames.first_length = data.ConsumeIntegralInRange<std::size_t>(0, 6); break;
    case 2: frames.uniform_count = data.ConsumeIntegralInRange<std::size_t>(0, 70); break;
    default: frames.values.resize(data.ConsumeIntegralInRange<std::size_t>(0, 300)); break;
  }
}

// What a constructor made of its input: the message it refused it with, or
// every frame read back.
struct Outcome {
  std::string refusal;
  Rows frames;
  bool operator==(const Outcome&) const = default;
};

template <typename Samples>
Outcome construct(const std::string& name, const std::vector<std::string>& axes,
                  Samples samples, double bpm, double beat_zero, std::int32_t start) {
  Outcome outcome;
  try {
    const movimo::SampledRecording recording(name, axes, std::move(samples), bpm, beat_zero,
                                             start);
    for (std::int32_t i = 0; i < recording.sample_count(); ++i) {
      outcome.frames.push_back(recording.sample(start + i));
      if (outcome.frames.back().size() != axes.size()) std::abort();
    }
  } catch (const std::invalid_argument& error) {
    outcome.refusal = error.what();
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const std::string name = data.ConsumeBool() ? "take" : fuzz_input::name(data);
  std::vector<std::string> axes(data.ConsumeIntegralInRange(0, 4));
  for (std::size_t i = 0; i < axes.size(); ++i) {
    axes[i] = data.ConsumeBool() ? std::string(1, static_cast<char>('a' + i))
                                 : fuzz_input::name(data);
  }
  Rows rows(data.ConsumeIntegralInRange(0, 64));
  for (std::vector<double>& row : rows) {
    row.resize(data.ConsumeIntegralInRange(0, 9) ? axes.size()
                                                 : data.ConsumeIntegralInRange<std::size_t>(0, 5));
    for (double& v : row) v = fuzz_input::value(data);
  }
  movimo::RecordingFrames frames = lay_out(rows);
  const bool tampered = data.ConsumeIntegralInRange(0, 3) == 0;
  if (tampered) tamper(data, frames);
  const double bpm = data.ConsumeBool() ? 120.0 : fuzz_input::value(data) * 300.0;
  const double beat_zero = fuzz_input::value(data);
  const std::int32_t start = data.ConsumeBool() ? 0 : data.ConsumeIntegral<std::int32_t>();

  const Outcome flat = construct(name, axes, std::move(frames), bpm, beat_zero, start);
  if (tampered) {
    // Whatever is accepted holds rows as given: all, or as many as the count says.
    const bool leading_rows = flat.frames.size() <= rows.size() &&
                              std::equal(flat.frames.begin(), flat.frames.end(), rows.begin());
    if (flat.refusal.empty() && !leading_rows) std::abort();
  } else if (!(flat == construct<const Rows&>(name, axes, rows, bpm, beat_zero, start))) {
    std::abort();
  }
  return 0;
}
