// The native part of the largest constructions: a recording of 8388608
// values (nested rows and flat frames) and a library of 1024 patterns x 1024
// samples. The inputs are built once; each iteration times the constructor.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

#include "movimo/pattern_library.h"
#include "movimo/sampled_recording.h"

namespace {

constexpr std::size_t kValues = movimo::SampledRecording::kMaxValues;

std::vector<std::string> axis_names(std::size_t axes) {
  std::vector<std::string> names;
  for (std::size_t a = 0; a < axes; ++a) names.push_back("axis_" + std::to_string(a));
  return names;
}

void BM_RecordingNestedRows(benchmark::State& state) {
  const auto axes = static_cast<std::size_t>(state.range(0));
  const std::vector<std::vector<double>> rows(kValues / axes, std::vector<double>(axes, 0.25));
  for (auto _ : state) {
    movimo::SampledRecording recording("take", axis_names(axes), rows, 120.0, 0.0, 0);
    benchmark::DoNotOptimize(recording);
  }
}

void BM_RecordingFlatFrames(benchmark::State& state) {
  const auto axes = static_cast<std::size_t>(state.range(0));
  movimo::RecordingFrames frames;
  frames.count = kValues / axes;
  frames.first_length = axes;
  frames.uniform_count = frames.count;
  for (auto _ : state) {
    state.PauseTiming();
    frames.values.assign(frames.count * axes, 0.25);
    state.ResumeTiming();
    movimo::SampledRecording recording("take", axis_names(axes), std::move(frames), 120.0, 0.0,
                                       0);
    benchmark::DoNotOptimize(recording);
  }
}

void BM_LibraryOf1024Patterns(benchmark::State& state) {
  std::vector<movimo::SampledPattern> patterns;
  for (int i = 0; i < 1024; ++i) {
    patterns.emplace_back("user_" + std::to_string(i), "",
                          std::vector<movimo::Offset3>(1024, {0.25, 0.0, 0.0}));
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<movimo::SampledPattern> copies = patterns;
    state.ResumeTiming();
    movimo::PatternLibrary library(std::move(copies));
    benchmark::DoNotOptimize(library);
  }
}

BENCHMARK(BM_RecordingNestedRows)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordingFlatFrames)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryOf1024Patterns)->Unit(benchmark::kMillisecond);

}  // namespace
