// The worker pool: every index of a call runs exactly once, whatever other
// callers do at the same time, and a failure stops the other threads'
// work. Under the sanitizers (ASan, TSan) the first test also watches for
// a pooled thread touching a call that has already returned.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "optimum/parallel.h"

namespace tavrin::optimum {
namespace {

TEST(WorkerPool, RunsEveryIndexOnceForConcurrentCallers) {
  constexpr int kRounds = 2000;
  std::atomic<bool> allOnce{true};
  std::vector<std::thread> callers;
  for (const unsigned count : {2u, 3u, 5u})
    callers.emplace_back([count, &allOnce] {
      for (int round = 0; round < kRounds; ++round) {
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

TEST(WorkerPool, AFailingItemStopsTheOtherThreads) {
  // One thread: the items after the failing one never start.
  std::size_t started = 0;
  const auto countAndFail = [&](std::size_t k, unsigned) {
    ++started;
    if (k == 50) throw std::runtime_error("item 50 failed");
  };
  EXPECT_THROW(forEachItem(1, 1000, countAndFail, [](std::size_t) {}), std::runtime_error);
  EXPECT_EQ(started, 51u);

  // Several threads: how many items the others finish before they see the
  // failure depends on the scheduler, so the check is only that the work
  // stops. Without the stop, every one of the items would run; with it, the
  // others would have to run the whole rest while the failing thread stood
  // still between its throw and the next check.
  constexpr std::size_t kItems = 200000;
  std::atomic<std::size_t> startedByAll{0};
  const auto item = [&](std::size_t k, unsigned) {
    startedByAll.fetch_add(1);
    if (k == 50) throw std::runtime_error("item 50 failed");
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  };
  EXPECT_THROW(forEachItem(3, kItems, item, [](std::size_t) {}), std::runtime_error);
  EXPECT_LT(startedByAll.load(), kItems);
}

}  // namespace
}  // namespace tavrin::optimum
