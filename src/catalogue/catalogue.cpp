#include "movimo/catalogue.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <stdexcept>
#include <string>

#include "movimo/internal/registry.h"
#include "movimo/pattern_handle.h"
#include "movimo/patterns.h"

namespace movimo {
namespace {

struct ProceduralPattern {
  PatternInfo info;
  Sampler evaluate;
};

// The procedural patterns in catalogue order.
constexpr std::array<ProceduralPattern, 15> kProceduralPatterns{{
    {{"bounce", "One-beat vertical bounce", 64, 1}, bounce},
    {{"sway", "Two-beat side-to-side sway", 128, 1}, sway},
    {{"circle", "One-beat circular orbit", 64, 2}, circle},
    {{"figure_eight", "Two-beat figure eight", 128, 2}, figure_eight},
    {{"step_touch", "Two-beat side step with a small lift", 128, 2}, step_touch},
    {{"box_step", "Four-beat softened square path", 256, 2}, box_step},
    {{"helix", "Four-beat double-turn helix", 256, 3}, helix},
    {{"clay_background", "Clay/Stars four-beat accented background drift", 256, 2}, clay_background},
    {{"single_stroke_roll", "Alternating R/L strokes with smooth attack and decay", 64, 2},
     single_stroke_roll},
    {{"double_stroke_roll", "RRLL strokes with a softer second motion", 64, 2}, double_stroke_roll},
    {{"multiple_bounce_roll", "Decaying same-hand bounce clusters", 64, 2}, multiple_bounce_roll},
    {{"single_paradiddle", "RLRR LRLL with accented lead strokes", 128, 2}, single_paradiddle},
    {{"flam", "Grace motion flowing into an opposite-hand primary motion", 64, 2}, flam},
    {{"drag", "Two grace motions flowing into an opposite-hand primary motion", 64, 2}, drag},
    {{"five_stroke_roll", "Two diddles resolving to an accented fifth motion", 128, 2},
     five_stroke_roll},
}};

std::vector<PatternInfo> build_catalogue() {
  std::vector<PatternInfo> entries;
  entries.reserve(kProceduralPatterns.size() + kSampledPatternCount);
  for (const ProceduralPattern& pattern : kProceduralPatterns) entries.push_back(pattern.info);
  for (const SampledDescriptor& pattern : SAMPLED_PATTERNS) {
    entries.push_back({pattern.name, pattern.description, pattern.period_pips, pattern.dimensions});
  }
  return entries;
}

PatternHandle sampled_handle(const SampledDescriptor& pattern) noexcept {
  return {{pattern.name, pattern.description, pattern.period_pips, pattern.dimensions},
          pattern.pack,
          pattern.family,
          pattern.sampler,
          {pattern.pack_rows + pattern.first_row, pattern.period_pips}};
}

}  // namespace

const std::vector<PatternInfo>& catalogue() {
  // Built on first use; a build that throws leaves it unbuilt for the next call.
  static const std::vector<PatternInfo> entries = build_catalogue();
  return entries;
}

// Procedural names come first; a sampled name is found by binary search
// over the name-ordered index (string_view compares bytes as unsigned values).
PatternHandle resolve(std::string_view name) noexcept {
  for (const ProceduralPattern& pattern : kProceduralPatterns) {
    if (pattern.info.name == name) return {pattern.info, kProcedural, kProcedural, pattern.evaluate, {}};
  }
  const auto name_at = [](std::uint64_t position) { return SAMPLED_PATTERNS[position].name; };
  const auto found = std::ranges::lower_bound(SAMPLED_NAME_INDEX, name, {}, name_at);
  if (found == std::end(SAMPLED_NAME_INDEX) || name_at(*found) != name) return {};
  return sampled_handle(SAMPLED_PATTERNS[*found]);
}

std::span<const PackInfo> packs() noexcept { return SAMPLED_PACKS; }

Offset3 sample(std::string_view name, std::int32_t pip) {
  const PatternHandle pattern = resolve(name);
  if (!pattern) throw std::invalid_argument("Unknown movimo: " + std::string(name));
  return pattern(pip);
}

}  // namespace movimo
