// Nanoseconds per call of each procedural pattern and of a few generated
// samplers (power-of-two and other periods), over a sweep of pips so that
// every branch and window is visited.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "movimo/packs.h"
#include "movimo/patterns.h"

namespace {

template <movimo::Offset3 (*Pattern)(std::int32_t) noexcept>
void BM_Pattern(benchmark::State& state) {
  std::int32_t pip = -1000;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Pattern(pip));
    ++pip;
  }
}

BENCHMARK(BM_Pattern<movimo::bounce>)->Name("bounce");
BENCHMARK(BM_Pattern<movimo::sway>)->Name("sway");
BENCHMARK(BM_Pattern<movimo::circle>)->Name("circle");
BENCHMARK(BM_Pattern<movimo::figure_eight>)->Name("figure_eight");
BENCHMARK(BM_Pattern<movimo::step_touch>)->Name("step_touch");
BENCHMARK(BM_Pattern<movimo::box_step>)->Name("box_step");
BENCHMARK(BM_Pattern<movimo::helix>)->Name("helix");
BENCHMARK(BM_Pattern<movimo::clay_background>)->Name("clay_background");
BENCHMARK(BM_Pattern<movimo::single_stroke_roll>)->Name("single_stroke_roll");
BENCHMARK(BM_Pattern<movimo::double_stroke_roll>)->Name("double_stroke_roll");
BENCHMARK(BM_Pattern<movimo::multiple_bounce_roll>)->Name("multiple_bounce_roll");
BENCHMARK(BM_Pattern<movimo::single_paradiddle>)->Name("single_paradiddle");
BENCHMARK(BM_Pattern<movimo::flam>)->Name("flam");
BENCHMARK(BM_Pattern<movimo::drag>)->Name("drag");
BENCHMARK(BM_Pattern<movimo::five_stroke_roll>)->Name("five_stroke_roll");
BENCHMARK(BM_Pattern<movimo_initial::sample_lfo_breathe>)->Name("sampler/mask_256");
BENCHMARK(BM_Pattern<movimo_expansion::sample_rhythm_group_223>)->Name("sampler/remainder_448");
BENCHMARK(BM_Pattern<movimo_dancefloor::sample_beat_dembow_push_ricochet>)
    ->Name("sampler/mask_512");

}  // namespace
