// Many threads racing on the first catalogue() call and sampling at once.
// Built on its own so that a ThreadSanitizer build needs only this binary.
#include <gtest/gtest.h>

#include <cstring>
#include <latch>
#include <thread>
#include <vector>

#include "movimo/catalogue.h"

namespace {

constexpr int kThreads = 16;

TEST(Concurrency, FirstCatalogueCallsAllSeeOneFinishedObject) {
  std::latch start(kThreads);
  std::vector<const std::vector<movimo::PatternInfo>*> seen(kThreads);
  std::vector<std::size_t> sizes(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      seen[t] = &movimo::catalogue();
      sizes[t] = seen[t]->size();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(seen[t], seen[0]);
    EXPECT_EQ(sizes[t], 1731u);
  }
}

TEST(Concurrency, SamplingFromManyThreadsMatchesOneThread) {
  const std::vector<const char*> names = {"bounce", "helix", "five_stroke_roll", "lfo_breathe",
                                          "euclid_11_24", "beat_dembow_push_ricochet"};
  constexpr int kPips = 2048;
  std::vector<movimo::Offset3> expected;
  for (const char* name : names) {
    for (int pip = -kPips / 2; pip < kPips / 2; ++pip) expected.push_back(movimo::sample(name, pip));
  }
  std::latch start(kThreads);
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      std::size_t k = 0;
      for (const char* name : names) {
        for (int pip = -kPips / 2; pip < kPips / 2; ++pip, ++k) {
          const movimo::Offset3 got = movimo::sample(name, pip);
          mismatches[t] += std::memcmp(&got, &expected[k], sizeof got) != 0;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
