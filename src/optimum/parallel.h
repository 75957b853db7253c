// Work split over threads in ways that keep results independent of the
// thread count: either fixed contiguous ranges (the caller merges them in a
// fixed order) or independent items whose results land in their own slot.
// The threads come from a pool that lives as long as the process, so a
// short search does not pay for starting and joining threads each time.
// The pool never holds more than poolThreadLimit() threads, however many a
// caller asks for: the indices beyond them run on the threads there are.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace tavrin::optimum {

// 0 = every core; never more threads than items of work, never fewer than one.
inline unsigned resolveThreads(unsigned requested, std::size_t work) {
  unsigned threads = requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
  if (work < threads) threads = static_cast<unsigned>(std::max<std::size_t>(1, work));
  return threads;
}

// The most threads the pool starts: one fewer than the hardware runs at
// once (the caller is one more), and at least one.
unsigned poolThreadLimit();

// Calls task(0), ..., task(count - 1), each once, and returns when all have
// returned: the caller runs task(0), pooled threads the others. The caller
// also takes any the pool has not started by then, so the call finishes
// even when every pooled thread is busy, cannot be started, or was lost to
// a fork, and a task may itself call runOnPool. `task` must not throw.
void runOnPool(unsigned count, const std::function<void(unsigned)>& task);

// Runs body(threadIndex) for threadIndex 0..threads-1, the caller taking 0,
// and rethrows the first exception once every call has finished.
template <class Body>
void runThreads(unsigned threads, Body body) {
  std::exception_ptr failure;
  std::mutex failureLock;
  const auto guarded = [&](unsigned t) {
    try {
      body(t);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(failureLock);
      if (!failure) failure = std::current_exception();
    }
  };
  if (threads > 1)
    runOnPool(threads, guarded);
  else
    guarded(0);
  if (failure) std::rethrow_exception(failure);
}

// Thread t of `threads` takes the items [t * count / threads, (t + 1) * count / threads).
inline std::pair<std::size_t, std::size_t> threadRange(unsigned t, unsigned threads, std::size_t count) {
  return {count * t / threads, count * (t + 1) / threads};
}

// Calls item(index, threadIndex) once for every index in [0, count), items
// taken in turn by whichever thread is free; `onCaller(done)` runs on the
// calling thread after each item it finishes. When an item or onCaller
// throws (a caller's progress callback stopping the work, say), no thread
// starts another item, and the first exception is rethrown.
template <class Item, class Progress>
void forEachItem(unsigned threads, std::size_t count, Item item, Progress onCaller) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<bool> stopped{false};
  runThreads(threads, [&](unsigned t) {
    try {
      for (std::size_t k = next.fetch_add(1); k < count && !stopped.load(std::memory_order_relaxed);
           k = next.fetch_add(1)) {
        item(k, t);
        const std::size_t finished = done.fetch_add(1) + 1;
        if (t == 0) onCaller(finished);
      }
    } catch (...) {
      stopped.store(true, std::memory_order_relaxed);
      throw;
    }
  });
}

}  // namespace tavrin::optimum
