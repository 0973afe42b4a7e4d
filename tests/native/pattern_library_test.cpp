// What only native callers reach: moved-from patterns in a pack, the order
// of the per-pattern tests around them, and catalogue entries viewing the
// library's own strings. The rest is covered through the Python tests.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "movimo/catalogue.h"
#include "movimo/pattern_library.h"

namespace {

using movimo::PatternLibrary;
using movimo::SampledPattern;

SampledPattern pattern(const std::string& name) {
  return SampledPattern(name, "", {{0.5, 0.0, 0.0}});
}

SampledPattern moved_from() {
  SampledPattern source = pattern("drained");
  SampledPattern target(std::move(source));
  return source;  // moving it on keeps it without samples
}

template <typename Patterns>
std::string construction_error(Patterns patterns) {
  try {
    PatternLibrary library(std::move(patterns));
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "no error";
}

// The same patterns as the caller keeps them, for the constructor that copies.
std::vector<const SampledPattern*> pointers(const std::vector<SampledPattern>& patterns) {
  std::vector<const SampledPattern*> kept;
  for (const SampledPattern& pattern : patterns) kept.push_back(&pattern);
  return kept;
}

TEST(PatternLibrary, FirstFailingPatternDecides) {
  struct Case {
    std::vector<SampledPattern> patterns;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back({{pattern("a"), moved_from()}, "Empty/moved-from pattern"});
  cases.push_back({{moved_from(), pattern("a"), pattern("a")}, "Empty/moved-from pattern"});
  cases.push_back({{pattern("a"), pattern("a"), moved_from()}, "Duplicate pattern name: a"});
  cases.push_back({std::vector<SampledPattern>(1025, moved_from()), "Too many patterns"});
  for (Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(construction_error(pointers(c.patterns)), c.message);
    EXPECT_EQ(construction_error(std::move(c.patterns)), c.message);
  }
}

TEST(PatternLibrary, KeptPatternsAreCopiedAndNullIsMovedFrom) {
  const std::vector<SampledPattern> kept = {pattern("mine")};
  const PatternLibrary library(pointers(kept));
  EXPECT_EQ(library.sample("mine", 0).x, 0.5);
  EXPECT_EQ(kept.front().name(), "mine");
  const std::vector<const SampledPattern*> with_null = {&kept.front(), nullptr};
  EXPECT_EQ(construction_error(with_null), "Empty/moved-from pattern");
}

TEST(PatternLibrary, CatalogueViewsTheLibrarysOwnStrings) {
  std::vector<SampledPattern> patterns = {SampledPattern("mine", "My own", {{0.0, 0.5, 0.0}})};
  // Only the address is kept: the given vector is gone once the library is built.
  const char* given_name = patterns.front().name().data();
  const PatternLibrary library(std::move(patterns));
  const std::vector<movimo::PatternInfo> entries = library.catalogue();
  ASSERT_EQ(entries.size(), movimo::catalogue().size() + 1);
  const movimo::PatternInfo& mine = entries.back();
  EXPECT_EQ(mine.name, "mine");
  EXPECT_EQ(mine.description, "My own");
  EXPECT_EQ(mine.period_pips, 1);
  EXPECT_EQ(mine.dimensions, 2);
  EXPECT_NE(mine.name.data(), given_name);
  EXPECT_EQ(entries.front().name.data(), movimo::catalogue().front().name.data());
}

}  // namespace
