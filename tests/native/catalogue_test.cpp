#include "movimo/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "movimo/internal/registry.h"
#include "movimo/patterns.h"

namespace {

using namespace std::string_view_literals;

bool same_bits(const movimo::Offset3& a, const movimo::Offset3& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

const std::int32_t kPips[] = {0, 1, 32, 63, 64, 100, 255, 256, -1, -448, -449, INT_MIN, INT_MAX};

TEST(Catalogue, ListsProceduralThenSampledPatterns) {
  const auto& entries = movimo::catalogue();
  ASSERT_EQ(entries.size(), 1731u);
  EXPECT_EQ(entries[0].name, "bounce");
  EXPECT_EQ(entries[0].description, "One-beat vertical bounce");
  EXPECT_EQ(entries[0].period_pips, 64);
  EXPECT_EQ(entries[0].dimensions, 1);
  EXPECT_EQ(entries[7].description, "Clay/Stars four-beat accented background drift");
  EXPECT_EQ(entries[14].name, "five_stroke_roll");
  EXPECT_EQ(entries[15].name, "lfo_breathe");
  EXPECT_EQ(entries[15].period_pips, 256);
  EXPECT_EQ(entries[15].dimensions, 1);
  EXPECT_EQ(entries[1730].name, "beat_dembow_push_ricochet");
  EXPECT_EQ(entries[1730].period_pips, 512);
  EXPECT_EQ(entries[1730].dimensions, 3);
}

TEST(Catalogue, SampledEntriesViewTheRegistryText) {
  const auto& entries = movimo::catalogue();
  for (std::size_t i = 0; i < movimo::kSampledPatternCount; ++i) {
    const movimo::PatternInfo& entry = entries[15 + i];
    const movimo::SampledDescriptor& registered = movimo::SAMPLED_PATTERNS[i];
    EXPECT_EQ(entry.name.data(), registered.name.data()) << i;
    EXPECT_EQ(entry.description.data(), registered.description.data()) << i;
    EXPECT_EQ(entry.description.size(), registered.description.size()) << i;
    EXPECT_EQ(entry.period_pips, registered.period_pips) << i;
    EXPECT_EQ(entry.dimensions, registered.dimensions) << i;
  }
}

TEST(Catalogue, NamesAreUnique) {
  std::set<std::string_view> names;
  for (const auto& entry : movimo::catalogue()) EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
}

TEST(Catalogue, IsBuiltOnce) { EXPECT_EQ(&movimo::catalogue(), &movimo::catalogue()); }

TEST(Sample, ProceduralNamesCallTheirFunctions) {
  using Pattern = movimo::Offset3 (*)(std::int32_t) noexcept;
  const std::pair<std::string_view, Pattern> procedural[] = {
      {"bounce", movimo::bounce},
      {"sway", movimo::sway},
      {"circle", movimo::circle},
      {"figure_eight", movimo::figure_eight},
      {"step_touch", movimo::step_touch},
      {"box_step", movimo::box_step},
      {"helix", movimo::helix},
      {"clay_background", movimo::clay_background},
      {"single_stroke_roll", movimo::single_stroke_roll},
      {"double_stroke_roll", movimo::double_stroke_roll},
      {"multiple_bounce_roll", movimo::multiple_bounce_roll},
      {"single_paradiddle", movimo::single_paradiddle},
      {"flam", movimo::flam},
      {"drag", movimo::drag},
      {"five_stroke_roll", movimo::five_stroke_roll}};
  for (const auto& [name, pattern] : procedural) {
    for (const std::int32_t pip : kPips) {
      EXPECT_TRUE(same_bits(movimo::sample(name, pip), pattern(pip))) << name << " " << pip;
    }
  }
}

TEST(Sample, EverySampledNameReachesItsSampler) {
  for (const auto& pattern : movimo::SAMPLED_PATTERNS) {
    for (const std::int32_t pip : kPips) {
      ASSERT_TRUE(same_bits(movimo::sample(pattern.name, pip), pattern.sampler(pip)))
          << pattern.name << " " << pip;
    }
  }
}

TEST(Sample, FindsANameThatOthersExtend) {
  // meter_2_3 is a prefix of meter_2_3_2 and meter_2_3_2_2; a period of 160
  // tells it apart from both.
  EXPECT_TRUE(same_bits(movimo::sample("meter_2_3", 161), movimo::sample("meter_2_3", 1)));
  const auto& entries = movimo::catalogue();
  const auto meter = std::ranges::find(entries, "meter_2_3"sv, &movimo::PatternInfo::name);
  ASSERT_NE(meter, entries.end());
  EXPECT_EQ(meter->period_pips, 160);
}

class UnknownName : public testing::TestWithParam<std::string_view> {};

TEST_P(UnknownName, FailsWithTheNameAsPassed) {
  const std::string_view name = GetParam();
  try {
    movimo::sample(name, 0);
    FAIL() << "no failure for " << name;
  } catch (const std::invalid_argument& error) {
    // what() is a C string: a name with a NUL byte reads up to that byte.
    EXPECT_STREQ(error.what(), ("Unknown movimo: " + std::string(name)).c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnknownName,
    testing::Values(""sv, "meter_2_"sv, "Bounce"sv, "bounce "sv, " bounce"sv, "lfo"sv,
                    "lfo_breathe "sv, "LFO_BREATHE"sv, "bounce\0"sv, "lfo_breathe\0x"sv,
                    "a"sv, "accent_walk_10"sv, "weave_5_9_"sv, "zzz"sv, "\xff\xfe"sv,
                    "beat_four_floor_bounc"sv, "beat_four_floor_bouncer"sv));

}  // namespace
