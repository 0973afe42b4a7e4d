// What only native callers reach: copies, moves, the moved-from state and
// the descriptor views. Validation is covered through the Python tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "movimo/sampled_pattern.h"

namespace {

using movimo::Offset3;
using movimo::SampledPattern;

SampledPattern four_rows() {
  return SampledPattern("four", "Four rows", {{0.0, 0.0, 0.0}, {0.25, 0.0, 0.0},
                                              {0.5, -0.5, 0.0}, {1.0, 0.0, -1.0}});
}

void expect_row(const Offset3& actual, const Offset3& expected) {
  EXPECT_EQ(actual.x, expected.x);
  EXPECT_EQ(actual.y, expected.y);
  EXPECT_EQ(actual.z, expected.z);
}

// The exception must be std::logic_error itself: a subclass such as
// std::invalid_argument would reach Python as ValueError.
void expect_moved_from(const SampledPattern& pattern) {
  EXPECT_EQ(pattern.period_pips(), 0);
  EXPECT_EQ(pattern.info().period_pips, 0);
  try {
    pattern.sample(0);
    FAIL() << "sample() of a moved-from pattern returned";
  } catch (const std::logic_error& error) {
    EXPECT_EQ(typeid(error), typeid(std::logic_error));
    EXPECT_STREQ(error.what(), "Cannot sample a moved-from pattern");
  }
}

TEST(SampledPattern, InfoViewsThePatternsOwnStrings) {
  const SampledPattern pattern = four_rows();
  const movimo::PatternInfo info = pattern.info();
  EXPECT_EQ(info.name.data(), pattern.name().data());
  EXPECT_EQ(info.description.data(), pattern.description().data());
  EXPECT_EQ(info.name, "four");
  EXPECT_EQ(info.description, "Four rows");
  EXPECT_EQ(info.period_pips, 4);
  EXPECT_EQ(info.dimensions, 3);
}

struct DimensionCase {
  std::vector<Offset3> rows;
  std::uint8_t dimensions;
};

TEST(SampledPattern, DimensionsFollowTheHighestMovingAxis) {
  const std::vector<DimensionCase> cases = {
      {{{0.0, 0.0, 0.0}}, 1},
      {{{1.0, 0.0, 0.0}, {-0.5, 0.0, 0.0}}, 1},
      {{{0.5, -0.0, -0.0}}, 1},
      {{{0.0, 0.0, 0.0}, {0.0, 0.25, 0.0}}, 2},
      {{{0.5, 0.0, 0.0}, {0.0, -1.0, 0.0}, {0.5, 0.0, 0.0}}, 2},
      {{{0.0, 0.0, 0.1}, {0.0, 0.0, 0.0}}, 3},
      {{{0.0, 0.0, 0.1}, {0.0, 0.5, 0.0}}, 3},
  };
  for (const DimensionCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.rows.size()) + " rows, expecting " +
                 testing::PrintToString(c.dimensions));
    EXPECT_EQ(SampledPattern("p", "", c.rows).info().dimensions, c.dimensions);
  }
}

TEST(SampledPattern, SampleWrapsLikeWrapPip) {
  const SampledPattern pattern = four_rows();
  const std::vector<std::pair<std::int32_t, Offset3>> cases = {
      {4, {0.0, 0.0, 0.0}},
      {-1, {1.0, 0.0, -1.0}},
      {-4, {0.0, 0.0, 0.0}},
      {std::numeric_limits<std::int32_t>::max(), {1.0, 0.0, -1.0}},  // 2^31 - 1 = 3 mod 4
      {std::numeric_limits<std::int32_t>::min(), {0.0, 0.0, 0.0}},
  };
  for (const auto& [pip, row] : cases) {
    SCOPED_TRACE(pip);
    expect_row(pattern.sample(pip), row);
  }
}

TEST(SampledPattern, MoveConstructionLeavesSourceMovedFrom) {
  SampledPattern source = four_rows();
  const SampledPattern target(std::move(source));
  expect_moved_from(source);
  EXPECT_EQ(target.period_pips(), 4);
  expect_row(target.sample(3), {1.0, 0.0, -1.0});
}

TEST(SampledPattern, MoveAssignmentLeavesSourceMovedFrom) {
  SampledPattern source = four_rows();
  SampledPattern target("other", "", {{0.5, 0.0, 0.0}});
  target = std::move(source);
  expect_moved_from(source);
  EXPECT_EQ(target.name(), "four");
  EXPECT_EQ(target.info().dimensions, 3);
  expect_row(target.sample(2), {0.5, -0.5, 0.0});
}

TEST(SampledPattern, SelfMoveAssignmentKeepsThePattern) {
  SampledPattern pattern = four_rows();
  SampledPattern& same = pattern;  // an alias, as generic code would hold it
  pattern = std::move(same);
  EXPECT_EQ(pattern.name(), "four");
  EXPECT_EQ(pattern.description(), "Four rows");
  EXPECT_EQ(pattern.info().dimensions, 3);
  expect_row(pattern.sample(3), {1.0, 0.0, -1.0});
}

TEST(SampledPattern, CopiesAreIndependent) {
  SampledPattern original = four_rows();
  SampledPattern copy = original;
  SampledPattern assigned("other", "", {{0.5, 0.0, 0.0}});
  assigned = copy;
  const SampledPattern drained(std::move(original));
  for (const SampledPattern* pattern : {&copy, &assigned}) {
    EXPECT_EQ(pattern->name(), "four");
    EXPECT_NE(pattern->name().data(), drained.name().data());
    expect_row(pattern->sample(1), {0.25, 0.0, 0.0});
  }
}

TEST(SampledPattern, DescriptionKeepsAnyBytes) {
  const std::string bytes("\xff\x00\x80 text", 8);
  const SampledPattern pattern("p", bytes, {{0.0, 0.0, 0.0}});
  EXPECT_EQ(pattern.description(), bytes);
  EXPECT_EQ(pattern.info().description, bytes);
}

}  // namespace
