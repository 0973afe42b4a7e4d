#include <cstdint>
#include <stdexcept>

#include "fuzz_input.h"
#include "movimo/sampled_recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  std::string name = fuzz_input::name(data);
  std::vector<std::string> axes(data.ConsumeIntegralInRange(0, 4));
  for (std::string& axis : axes) axis = fuzz_input::name(data);
  std::vector<std::vector<double>> rows(data.ConsumeIntegralInRange(0, 64));
  for (std::vector<double>& row : rows) {
    row.resize(data.ConsumeBool() ? axes.size() : data.ConsumeIntegralInRange<std::size_t>(0, 5));
    for (double& v : row) v = fuzz_input::value(data);
  }
  const double bpm = data.ConsumeBool() ? fuzz_input::value(data) * 300.0 : fuzz_input::value(data);
  const double beat_zero = fuzz_input::value(data);
  const std::int32_t start = data.ConsumeIntegral<std::int32_t>();
  try {
    const movimo::SampledRecording recording(name, axes, rows, bpm, beat_zero, start);
    if (recording.sample(start).size() != axes.size()) std::abort();
    (void)recording.sample(data.ConsumeIntegral<std::int32_t>());
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  return 0;
}
