// The arena planner: tensors alive at the same step never share bytes, every
// offset is aligned, and dead tensors are reused.
#include "runtime/planner.h"

#include <gtest/gtest.h>

#include <random>

namespace runtime {
namespace {

void expect_valid(const std::vector<Lifetime>& lifetimes, const ArenaPlan& plan) {
  ASSERT_EQ(plan.offsets.size(), lifetimes.size());
  for (size_t i = 0; i < lifetimes.size(); ++i) {
    EXPECT_EQ(plan.offsets[i] % kArenaAlignment, 0u);
    EXPECT_LE(plan.offsets[i] + lifetimes[i].bytes, plan.bytes);
    for (size_t j = i + 1; j < lifetimes.size(); ++j) {
      const bool live_together = lifetimes[i].first <= lifetimes[j].last && lifetimes[j].first <= lifetimes[i].last;
      const bool overlap = plan.offsets[i] < plan.offsets[j] + lifetimes[j].bytes &&
                           plan.offsets[j] < plan.offsets[i] + lifetimes[i].bytes;
      EXPECT_FALSE(live_together && overlap) << i << " and " << j;
    }
  }
}

TEST(Planner, ChainReusesTwoSlots) {
  // t_i written at step i, read at step i+1: only neighbours are alive together.
  std::vector<Lifetime> chain;
  for (int i = 0; i < 20; ++i) chain.push_back({1000, i, i + 1});
  const ArenaPlan plan = plan_arena(chain);
  expect_valid(chain, plan);
  EXPECT_EQ(plan.bytes, 2 * 1024u);
}

TEST(Planner, RandomLifetimesNeverCollide) {
  std::mt19937 rng(42);
  for (int round = 0; round < 50; ++round) {
    std::vector<Lifetime> ts;
    size_t total = 0;
    for (int i = 0; i < 60; ++i) {
      const int first = static_cast<int>(rng() % 40);
      const int last = first + static_cast<int>(rng() % 10);
      const size_t bytes = 1 + rng() % 5000;
      ts.push_back({bytes, first, last});
      total += (bytes + kArenaAlignment - 1) / kArenaAlignment * kArenaAlignment;
    }
    const ArenaPlan plan = plan_arena(ts);
    expect_valid(ts, plan);
    EXPECT_LE(plan.bytes, total);
  }
}

TEST(Planner, EmptyAndZeroSized) {
  EXPECT_EQ(plan_arena({}).bytes, 0u);
  const std::vector<Lifetime> zero = {{0, 0, 0}, {0, 0, 1}};
  expect_valid(zero, plan_arena(zero));
}

}  // namespace
}  // namespace runtime
