#include "movimo/pattern_handle.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "movimo/catalogue.h"
#include "movimo/patterns.h"

namespace {

using namespace std::string_view_literals;

bool same_bits(const movimo::Offset3& a, const movimo::Offset3& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A procedural pattern, power-of-two tables, and tables of other periods.
const std::string_view kNames[] = {"five_stroke_roll", "lfo_breathe", "beat_dembow_push_ricochet",
                                   "rhythm_group_223", "euclid_8_19"};

TEST(Resolve, EveryCatalogueEntryResolvesToItsDescriptorAndPack) {
  std::size_t position = 0;
  std::vector<std::string_view> pack_order;
  for (const movimo::PatternInfo& info : movimo::catalogue()) {
    const movimo::PatternHandle pattern = movimo::resolve(info.name);
    ASSERT_TRUE(pattern) << info.name;
    EXPECT_EQ(pattern.info.name.data(), info.name.data());
    EXPECT_EQ(pattern.info.period_pips, info.period_pips);
    EXPECT_EQ(pattern.info.dimensions, info.dimensions);
    const bool procedural = position++ < 15;
    EXPECT_EQ(pattern.pack == movimo::kProcedural, procedural) << info.name;
    EXPECT_EQ(pattern.family, procedural ? movimo::kProcedural
                                         : info.name.substr(0, info.name.find('_')));
    EXPECT_EQ(pattern.table.size(), procedural ? 0u : info.period_pips) << info.name;
    if (pack_order.empty() || pack_order.back() != pattern.pack) pack_order.push_back(pattern.pack);
  }
  std::vector<std::string_view> packs{movimo::kProcedural};
  std::size_t sampled = 0;
  for (const movimo::PackInfo& pack : movimo::packs()) {
    packs.push_back(pack.name);
    sampled += pack.pattern_count;
  }
  EXPECT_EQ(pack_order, packs);
  EXPECT_EQ(packs, (std::vector{"procedural"sv, "initial"sv, "expansion"sv, "atlas"sv,
                                "continuum"sv, "club"sv, "dancefloor"sv}));
  EXPECT_EQ(15 + sampled, movimo::catalogue().size());
}

TEST(Resolve, HandleEvaluatesWithTheSamplersBits) {
  for (const std::string_view name : kNames) {
    const movimo::PatternHandle pattern = movimo::resolve(name);
    for (const std::int32_t pip : {0, 1, 63, 64, 1000, -1, -449, INT_MIN, INT_MAX}) {
      EXPECT_TRUE(same_bits(pattern(pip), movimo::sample(name, pip))) << name << " " << pip;
    }
    for (std::size_t phase = 0; phase < pattern.table.size(); ++phase) {
      EXPECT_TRUE(same_bits(pattern.table[phase], pattern(static_cast<std::int32_t>(phase))));
    }
  }
  EXPECT_EQ(movimo::resolve("helix").evaluate, &movimo::helix);
}

class ResolveUnknownName : public testing::TestWithParam<std::string_view> {};

// Calling the empty handle once crashed the process on a null sampler.
TEST_P(ResolveUnknownName, GivesAnEmptyHandleThatRestsAtEveryPip) {
  const movimo::PatternHandle pattern = movimo::resolve(GetParam());
  EXPECT_FALSE(pattern);
  EXPECT_TRUE(pattern.pack.empty() && pattern.info.name.empty() && pattern.table.empty());
  for (const std::int32_t pip : {0, 1, -1, INT_MIN, INT_MAX}) {
    EXPECT_TRUE(same_bits(pattern(pip), movimo::Offset3{0.0, 0.0, 0.0})) << pip;
  }
}

INSTANTIATE_TEST_SUITE_P(Names, ResolveUnknownName,
                         testing::Values(""sv, "nosuch"sv, "Bounce"sv, "bounce "sv, "lfo_"sv,
                                         "lfo_breath"sv, "lfo_breathe\0"sv, "zzzz"sv));

TEST(Fill, AtGivenPipsMatchesEvaluation) {
  const std::vector<std::int32_t> pips = {5, -1, INT_MIN, INT_MAX, 0, 700, 700};
  for (const std::string_view name : kNames) {
    const movimo::PatternHandle pattern = movimo::resolve(name);
    std::vector<movimo::Offset3> out(pips.size());
    movimo::fill(pattern, pips, out);
    for (std::size_t i = 0; i < pips.size(); ++i) {
      EXPECT_TRUE(same_bits(out[i], pattern(pips[i]))) << name << " " << pips[i];
    }
  }
}

// Every table period that is not a power of two, over both ends of the pip
// range, around zero and at a stride through all of it.
TEST(Fill, AtGivenPipsFindsThePhaseForEveryPeriod) {
  std::vector<std::int32_t> pips;
  for (std::int64_t pip = INT_MIN; pip <= INT_MAX; pip += 65521) pips.push_back(std::int32_t(pip));
  for (std::int32_t i = 0; i < 2000; ++i) pips.insert(pips.end(), {INT_MIN + i, INT_MAX - i, i - 1000});
  for (const std::string_view name :
       {"euclid_2_5"sv, "euclid_3_7"sv, "euclid_4_9"sv, "euclid_3_10"sv, "euclid_4_11"sv,
        "euclid_7_12"sv, "euclid_5_13"sv, "rhythm_group_223"sv, "euclid_7_15"sv, "euclid_7_17"sv,
        "euclid_8_19"sv, "euclid_9_20"sv, "euclid_11_24"sv}) {
    const movimo::PatternHandle pattern = movimo::resolve(name);
    ASSERT_NE(pattern.table.size() & (pattern.table.size() - 1), 0u) << name;
    std::vector<movimo::Offset3> out(pips.size());
    movimo::fill(pattern, pips, out);
    for (std::size_t i = 0; i < pips.size(); ++i) {
      ASSERT_TRUE(same_bits(out[i], pattern(pips[i]))) << name << " " << pips[i];
    }
  }
}

// Spans that start mid-period, cross period ends, cover several periods and
// end exactly at the largest pip.
TEST(Fill, ConsecutivePipsMatchEvaluation) {
  for (const std::string_view name : kNames) {
    const movimo::PatternHandle pattern = movimo::resolve(name);
    const std::int32_t period = pattern.info.period_pips;
    for (const auto& [first, count] : std::vector<std::pair<std::int32_t, std::int32_t>>{
             {0, 1}, {-3, 7}, {period - 1, 3 * period + 2}, {-2 * period, period}, {INT_MIN, 300},
             {INT_MAX - 299, 300}}) {
      std::vector<movimo::Offset3> out(static_cast<std::size_t>(count));
      movimo::fill(pattern, first, out);
      for (std::int32_t i = 0; i < count; ++i) {
        ASSERT_TRUE(same_bits(out[static_cast<std::size_t>(i)], pattern(first + i)))
            << name << " from " << first << " at " << i;
      }
    }
  }
}

TEST(Fill, RefusesAMismatchedBufferAnEmptyHandleAndPipsPastTheLargest) {
  const movimo::PatternHandle pattern = movimo::resolve("lfo_breathe");
  std::vector<movimo::Offset3> out(3);
  const std::vector<std::int32_t> pips(4);
  try {
    movimo::fill(pattern, pips, out);
    FAIL() << "a buffer of 3 for 4 pips was accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "fill: the output holds 3 values for 4 pips");
  }
  EXPECT_THROW(movimo::fill(movimo::PatternHandle{}, 0, out), std::invalid_argument);
  EXPECT_THROW(movimo::fill(movimo::resolve("nosuch"), pips, {}), std::invalid_argument);
  try {
    movimo::fill(pattern, INT_MAX - 1, out);
    FAIL() << "pips past the largest pip were accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "fill: 3 pips from pip 2147483646 pass the largest pip 2147483647");
  }
  movimo::fill(pattern, INT_MAX, {});  // nothing to write, nothing refused
}

}  // namespace
