// The worker pool: every index runs once for concurrent and nested callers,
// at most poolThreadLimit() threads start (the process's thread count as
// Linux reports it is the witness), and a failing item stops the work.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "optimum/parallel.h"

namespace tavrin::optimum {
namespace {

TEST(WorkerPool, RunsEveryIndexOnceForConcurrentCallers) {
  std::atomic<bool> allOnce{true};
  std::vector<std::thread> callers;
  for (const unsigned count : {2u, 3u, 5u})
    callers.emplace_back([count, &allOnce] {
      for (int round = 0; round < 2000; ++round) {
        std::array<std::atomic<int>, 5> ran{};
        // Long enough for pooled threads to claim indices, not only the caller.
        runOnPool(count, [&](unsigned i) {
          std::atomic<int> spin{0};
          while (spin.fetch_add(1, std::memory_order_relaxed) < 200) {
          }
          ran[i].fetch_add(1);
        });
        for (unsigned i = 0; i < ran.size(); ++i)
          if (ran[i].load() != (i < count ? 1 : 0)) allOnce = false;
      }
    });
  for (std::thread& c : callers) c.join();
  EXPECT_TRUE(allOnce);
}

// Threads of this process from /proc/self/status; 0 where there is none.
unsigned processThreads() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return static_cast<unsigned>(std::stoul(line.substr(8)));
  return 0;
}

TEST(WorkerPool, AskingForManyThreadsStartsAtMostTheLimitAndReusesThem) {
  const unsigned before = processThreads();
  if (before == 0) GTEST_SKIP() << "no /proc/self/status to count threads";
  constexpr unsigned kAsked = 300;
  std::vector<std::atomic<int>> ran(kAsked);
  const auto task = [&](unsigned i) { ran[i].fetch_add(1); };
  runOnPool(kAsked, task);
  const unsigned after = processThreads();
  EXPECT_LE(after, before + poolThreadLimit());
  runOnPool(kAsked, task);
  EXPECT_LE(processThreads(), after);
  for (unsigned i = 0; i < kAsked; ++i) EXPECT_EQ(ran[i].load(), 2) << "index " << i;
}

TEST(WorkerPool, NestedCallsRunEveryPairOnce) {
  // More outer indices than pooled threads: every pooled thread is inside an
  // outer task while inner calls wait for theirs.
  const unsigned outer = poolThreadLimit() + 3;
  constexpr unsigned kInner = 4;
  std::vector<std::array<std::atomic<int>, kInner>> ran(outer);
  runOnPool(outer, [&](unsigned i) { runOnPool(kInner, [&](unsigned j) { ran[i][j].fetch_add(1); }); });
  for (unsigned i = 0; i < outer; ++i)
    for (unsigned j = 0; j < kInner; ++j) EXPECT_EQ(ran[i][j].load(), 1) << "outer " << i << ", inner " << j;
}

// On one thread the items after the failing one never start. (How many
// other threads finish first depends on the scheduler, so it is not tested.)
TEST(WorkerPool, AFailingItemStopsTheWork) {
  std::size_t started = 0;
  const auto countAndFail = [&](std::size_t k, unsigned) {
    ++started;
    if (k == 50) throw std::runtime_error("item 50 failed");
  };
  EXPECT_THROW(forEachItem(1, 1000, countAndFail, [](std::size_t) {}), std::runtime_error);
  EXPECT_EQ(started, 51u);
}

}  // namespace
}  // namespace tavrin::optimum
