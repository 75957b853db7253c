// The worker pool's limits: asking for more threads than the hardware runs
// starts no more than poolThreadLimit() (the process's own thread count, as
// Linux reports it, is the independent witness), threads are reused by the
// next call, and calls nested in a task finish even when every pooled
// thread is taken by the outer call.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "optimum/parallel.h"

namespace tavrin::optimum {
namespace {

// Threads of this process from /proc/self/status; 0 where there is none.
unsigned processThreads() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "Threads:") {
      unsigned threads = 0;
      status >> threads;
      return threads;
    }
    status.ignore(1 << 16, '\n');
  }
  return 0;
}

TEST(WorkerPoolLimit, AskingForManyThreadsStartsAtMostTheLimitAndReusesThem) {
  const unsigned before = processThreads();
  if (before == 0) GTEST_SKIP() << "no /proc/self/status to count threads";
  constexpr unsigned kAsked = 300;
  std::vector<std::atomic<int>> ran(kAsked);
  std::mutex idsLock;
  std::set<std::thread::id> ids;
  const auto task = [&](unsigned i) {
    ran[i].fetch_add(1);
    const std::lock_guard<std::mutex> lock(idsLock);
    ids.insert(std::this_thread::get_id());
  };
  runOnPool(kAsked, task);
  const unsigned after = processThreads();
  EXPECT_LE(after, before + poolThreadLimit());
  EXPECT_LE(ids.size(), std::size_t{poolThreadLimit()} + 1);
  for (unsigned i = 0; i < kAsked; ++i) EXPECT_EQ(ran[i].load(), 1) << "index " << i;

  runOnPool(kAsked, task);
  EXPECT_LE(processThreads(), after);
  for (unsigned i = 0; i < kAsked; ++i) EXPECT_EQ(ran[i].load(), 2) << "index " << i;
}

TEST(WorkerPoolLimit, NestedCallsRunEveryPairOnce) {
  // More outer indices than pooled threads: every pooled thread is inside an
  // outer task while inner calls wait for theirs.
  const unsigned outer = poolThreadLimit() + 3;
  constexpr unsigned kInner = 4;
  std::vector<std::array<std::atomic<int>, kInner>> ran(outer);
  runOnPool(outer, [&](unsigned i) { runOnPool(kInner, [&](unsigned j) { ran[i][j].fetch_add(1); }); });
  for (unsigned i = 0; i < outer; ++i)
    for (unsigned j = 0; j < kInner; ++j) EXPECT_EQ(ran[i][j].load(), 1) << "outer " << i << ", inner " << j;
}

}  // namespace
}  // namespace tavrin::optimum
