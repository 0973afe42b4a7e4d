// Costs of evaluation by name and of the catalogue (single sampler calls
// are measured beside the procedural patterns, in patterns_bench.cpp). Run on its own binary so that the first catalogue() call
// is the one the FirstCatalogueCall benchmark times.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>

#include "movimo/catalogue.h"

namespace {

// Registered first: google benchmark runs benchmarks in registration order.
void FirstCatalogueCall(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(&movimo::catalogue());
}
BENCHMARK(FirstCatalogueCall)->Iterations(1);

void LaterCatalogueCall(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(&movimo::catalogue());
}
BENCHMARK(LaterCatalogueCall);

void SampleByName(benchmark::State& state, std::string_view name) {
  std::int32_t pip = -100000;
  for (auto _ : state) {
    benchmark::DoNotOptimize(movimo::sample(name, pip));
    ++pip;
  }
}
BENCHMARK_CAPTURE(SampleByName, procedural_bounce, "bounce");
BENCHMARK_CAPTURE(SampleByName, procedural_five_stroke_roll, "five_stroke_roll");
BENCHMARK_CAPTURE(SampleByName, sampled_lfo_breathe, "lfo_breathe");
BENCHMARK_CAPTURE(SampleByName, sampled_accent_walk_10_3, "accent_walk_10_3");
BENCHMARK_CAPTURE(SampleByName, sampled_beat_dembow_push_ricochet, "beat_dembow_push_ricochet");

}  // namespace
