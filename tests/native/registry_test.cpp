#include "movimo/internal/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "movimo/core.h"
#include "movimo/internal/sampler.h"
#include "movimo/packs.h"

namespace {

using movimo::SAMPLED_NAME_INDEX;
using movimo::SAMPLED_PATTERNS;

bool same_bits(const movimo::Offset3& a, const movimo::Offset3& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string_view name_at(std::uint64_t position) { return SAMPLED_PATTERNS[position].name; }

TEST(Registry, HoldsThePacksInOrder) {
  const std::map<std::size_t, std::string_view> expected = {
      {0, "lfo_breathe"},           {27, "groove_b_grid"},
      {28, "lfo_twin_swell"},       {51, "rhythm_three_four_five"},
      {52, "wave_pinched"},         {307, "gesture_diamond_depth"},
      {308, "ribbon_1_2_slim"},     {627, "burst_5_6_2"},
      {628, "beat_four_floor_bounce"}, {771, "beat_amapiano_glide"},
      {772, "beat_four_floor_surge"},  {1715, "beat_dembow_push_ricochet"}};
  for (const auto& [position, name] : expected) EXPECT_EQ(name_at(position), name) << position;
}

TEST(Registry, PeriodsAndAxisCountsAddUp) {
  std::map<int, int> periods;
  std::map<int, int> axes;
  std::size_t rows = 0;
  for (const auto& pattern : SAMPLED_PATTERNS) {
    ++periods[pattern.period_pips];
    ++axes[pattern.dimensions];
    rows += pattern.period_pips;
  }
  const std::map<int, int> expected_periods = {
      {160, 3},  {224, 5}, {256, 41}, {288, 5}, {320, 4},   {352, 6},  {384, 4},  {416, 6},
      {448, 6},  {480, 5}, {512, 1304}, {544, 1}, {608, 1}, {640, 1}, {768, 17}, {1024, 307}};
  EXPECT_EQ(periods, expected_periods);
  EXPECT_EQ(axes, (std::map<int, int>{{1, 29}, {2, 321}, {3, 1366}}));
  EXPECT_EQ(rows, 1022912u);
}

TEST(Registry, NamesAreIdentifiersOfTheirFamily) {
  for (const auto& pattern : SAMPLED_PATTERNS) {
    const std::string_view name = pattern.name;
    EXPECT_GE(name.size(), 8u) << name;
    EXPECT_LE(name.size(), 32u) << name;
    EXPECT_TRUE(name.front() >= 'a' && name.front() <= 'z') << name;
    EXPECT_TRUE(std::ranges::all_of(name, [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    })) << name;
    EXPECT_NE(name.find('_'), std::string_view::npos) << name;
  }
}

// Descriptions are UTF-8 whose only non-ASCII characters are the en and em
// dashes, and at least 41 characters long.
TEST(Registry, DescriptionsUseOnlyAsciiAndDashes) {
  const std::string en_dash = "\u2013";
  const std::string em_dash = "\u2014";
  for (const auto& pattern : SAMPLED_PATTERNS) {
    std::string ascii(pattern.description);
    std::size_t characters = ascii.size();
    for (const std::string& dash : {en_dash, em_dash}) {
      for (std::size_t at; (at = ascii.find(dash)) != std::string::npos;) {
        ascii.replace(at, dash.size(), 1, '-');
        characters -= dash.size() - 1;
      }
    }
    EXPECT_TRUE(std::ranges::all_of(ascii, [](char c) { return c >= 0x20 && c < 0x7f; }))
        << pattern.name;
    EXPECT_GE(characters, 41u) << pattern.name;
  }
}

TEST(NameIndex, IsAPermutationInStrictByteOrder) {
  std::set<std::uint64_t> positions(std::begin(SAMPLED_NAME_INDEX), std::end(SAMPLED_NAME_INDEX));
  EXPECT_EQ(positions.size(), movimo::kSampledPatternCount);
  EXPECT_EQ(*positions.rbegin(), movimo::kSampledPatternCount - 1);
  for (std::size_t k = 1; k < movimo::kSampledPatternCount; ++k) {
    EXPECT_LT(name_at(SAMPLED_NAME_INDEX[k - 1]), name_at(SAMPLED_NAME_INDEX[k])) << k;
  }
  EXPECT_EQ(name_at(SAMPLED_NAME_INDEX[0]), "accent_walk_10_3");
  EXPECT_EQ(name_at(SAMPLED_NAME_INDEX[1]), "accent_walk_11_2");
  EXPECT_EQ(name_at(SAMPLED_NAME_INDEX[2]), "accent_walk_11_3");
  EXPECT_EQ(name_at(SAMPLED_NAME_INDEX[movimo::kSampledPatternCount - 1]), "weave_5_9");
}

// The phase of every period in use, against wrap_pip, at the pips where
// floor modulo goes wrong most easily.
template <std::int32_t Period>
void expect_floor_modulo() {
  const std::int32_t pips[] = {0, 1, Period - 1, Period, Period + 1, -1, -Period, -Period - 1,
                               INT_MIN, INT_MIN + 1, INT_MAX, INT_MAX - Period};
  for (const std::int32_t pip : pips) {
    EXPECT_EQ(movimo::internal::loop_phase<Period>(pip), movimo::wrap_pip(pip, Period))
        << "pip " << pip << " period " << Period;
  }
}

TEST(LoopPhase, IsFloorModuloForEveryPeriod) {
  expect_floor_modulo<160>();
  expect_floor_modulo<224>();
  expect_floor_modulo<256>();
  expect_floor_modulo<288>();
  expect_floor_modulo<320>();
  expect_floor_modulo<352>();
  expect_floor_modulo<384>();
  expect_floor_modulo<416>();
  expect_floor_modulo<448>();
  expect_floor_modulo<480>();
  expect_floor_modulo<512>();
  expect_floor_modulo<544>();
  expect_floor_modulo<608>();
  expect_floor_modulo<640>();
  expect_floor_modulo<768>();
  expect_floor_modulo<1024>();
  EXPECT_EQ(movimo::internal::loop_phase<448>(INT_MAX), 127);
  EXPECT_EQ(movimo::internal::loop_phase<448>(INT_MIN), 320);
  EXPECT_EQ(movimo::internal::loop_phase<256>(INT_MIN), 0);
  EXPECT_EQ(movimo::internal::loop_phase<256>(INT_MAX), 255);
}

// Every sampler reads its own table: its rows, at every phase and at pips
// whole periods away, are the rows the generator wrote for that pattern.
struct ManifestRow {
  std::size_t position;
  std::string name;
  std::string blob;
  std::size_t offset;
};

std::vector<ManifestRow> read_manifest() {
  std::ifstream file(std::string(MOVIMO_GENERATED_DIR) + "/manifest.tsv");
  std::vector<ManifestRow> rows;
  std::string line;
  std::getline(file, line);  // header
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    ManifestRow row;
    std::string pack, family, period, dimensions;
    fields >> row.position >> pack >> family >> row.name >> period >> dimensions >> row.blob >>
        row.offset;
    rows.push_back(row);
  }
  return rows;
}

std::string read_blob(const std::string& file_name) {
  std::ifstream file(std::string(MOVIMO_GENERATED_DIR) + "/" + file_name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(Samplers, ReadTheirOwnTableRows) {
  const std::vector<ManifestRow> manifest = read_manifest();
  ASSERT_EQ(manifest.size(), movimo::kSampledPatternCount);
  std::map<std::string, std::string> blobs;
  for (const ManifestRow& entry : manifest) {
    const auto& pattern = SAMPLED_PATTERNS[entry.position];
    ASSERT_EQ(pattern.name, entry.name);
    if (!blobs.contains(entry.blob)) blobs[entry.blob] = read_blob(entry.blob);
    const std::string& blob = blobs[entry.blob];
    const std::int32_t period = pattern.period_pips;
    ASSERT_LE(entry.offset + period * sizeof(movimo::Offset3), blob.size()) << entry.name;
    for (std::int32_t k = 0; k < period; ++k) {
      movimo::Offset3 stored;
      std::memcpy(&stored, blob.data() + entry.offset + k * sizeof stored, sizeof stored);
      ASSERT_TRUE(same_bits(pattern.sampler(k), stored)) << entry.name << " row " << k;
      ASSERT_TRUE(same_bits(pattern.sampler(k - period), stored)) << entry.name << " row " << k;
      ASSERT_TRUE(same_bits(pattern.sampler(k + 3 * period), stored)) << entry.name << " row " << k;
    }
    for (const std::int32_t pip : {INT_MIN, INT_MAX}) {
      EXPECT_TRUE(same_bits(pattern.sampler(pip), pattern.sampler(movimo::wrap_pip(pip, period))))
          << entry.name << " pip " << pip;
    }
  }
}

TEST(Samplers, AreCallableByTheirPackName) {
  EXPECT_EQ(SAMPLED_PATTERNS[0].sampler, &movimo_initial::sample_lfo_breathe);
  EXPECT_EQ(movimo_initial::sample_lfo_breathe(64).x, 0.8);
  EXPECT_EQ(movimo_initial::sample_lfo_breathe(192).x, -0.8);
  EXPECT_TRUE(same_bits(movimo_initial::sample_lfo_breathe(-1), movimo_initial::sample_lfo_breathe(255)));
}

}  // namespace
