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
  constexpr std::size_t kItems = 100000;
  std::atomic<std::size_t> started{0};
  const auto item = [&](std::size_t k, unsigned) {
    started.fetch_add(1);
    if (k == 50) throw std::runtime_error("item 50 failed");
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  };
  EXPECT_THROW(forEachItem(3, kItems, item, [](std::size_t) {}), std::runtime_error);
  // Each thread finishes at most the item it holds after the failure.
  EXPECT_LT(started.load(), std::size_t{50 + 3 + 3});
}

}  // namespace
}  // namespace tavrin::optimum
