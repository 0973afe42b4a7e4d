// Costs of evaluation by name and of the catalogue (single sampler calls
// are measured beside the procedural patterns, in patterns_bench.cpp). Run on its own binary so that the first catalogue() call
// is the one the FirstCatalogueCall benchmark times.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <numeric>
#include <string_view>
#include <vector>

#include "movimo/catalogue.h"
#include "movimo/pattern_handle.h"

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

// A handle resolved once, then called per pip: the sampler call's cost.
void Handle(benchmark::State& state, std::string_view name) {
  const movimo::PatternHandle pattern = movimo::resolve(name);
  std::int32_t pip = -100000;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pattern(pip));
    ++pip;
  }
}
BENCHMARK_CAPTURE(Handle, procedural_bounce, "bounce");
BENCHMARK_CAPTURE(Handle, sampled_lfo_breathe, "lfo_breathe");
BENCHMARK_CAPTURE(Handle, sampled_rhythm_group_223, "rhythm_group_223");

// Batch fills of state.range(0) pips per iteration; the report divides by it.
void FillConsecutive(benchmark::State& state, std::string_view name) {
  const movimo::PatternHandle pattern = movimo::resolve(name);
  std::vector<movimo::Offset3> out(static_cast<std::size_t>(state.range(0)));
  std::int32_t first = -100000;
  for (auto _ : state) {
    movimo::fill(pattern, first, out);
    benchmark::DoNotOptimize(out.data());
    first += 7;
  }
}
BENCHMARK_CAPTURE(FillConsecutive, sampled_lfo_breathe, "lfo_breathe")->Arg(4096);
BENCHMARK_CAPTURE(FillConsecutive, sampled_rhythm_group_223, "rhythm_group_223")->Arg(4096);
BENCHMARK_CAPTURE(FillConsecutive, procedural_bounce, "bounce")->Arg(4096);

void FillAtPips(benchmark::State& state, std::string_view name) {
  const movimo::PatternHandle pattern = movimo::resolve(name);
  std::vector<std::int32_t> pips(static_cast<std::size_t>(state.range(0)));
  std::iota(pips.begin(), pips.end(), -1000);
  std::vector<movimo::Offset3> out(pips.size());
  for (auto _ : state) {
    movimo::fill(pattern, pips, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK_CAPTURE(FillAtPips, sampled_lfo_breathe, "lfo_breathe")->Arg(4096);
BENCHMARK_CAPTURE(FillAtPips, sampled_rhythm_group_223, "rhythm_group_223")->Arg(4096);

}  // namespace
