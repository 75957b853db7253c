#include "optimum/parallel.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <system_error>
#include <vector>

namespace tavrin::optimum {
namespace {

// One call of runOnPool: its indices are claimed one at a time, by pooled
// threads and by the caller alike. Shared, so that a pooled thread that
// took it from the queue may still look at it (and find nothing left to
// claim) after the caller has returned.
struct Batch {
  const std::function<void(unsigned)>* task = nullptr;
  unsigned count = 0;
  std::atomic<unsigned> next{1};  // index 0 is the caller's
  unsigned finished = 0;          // under the pool's lock
  std::condition_variable allFinished;

  // Runs unclaimed indices until none is left; returns how many it ran.
  unsigned drain() {
    unsigned ran = 0;
    for (unsigned i = next.fetch_add(1); i < count; i = next.fetch_add(1), ++ran) (*task)(i);
    return ran;
  }
};

// Threads started on first use, up to poolThreadLimit(), and kept for the
// life of the process; the pool itself is never destroyed, so no thread
// outlives what it uses at exit.
class Pool {
 public:
  static Pool& instance() {
    static Pool* const pool = new Pool;
    return *pool;
  }

  void run(unsigned count, const std::function<void(unsigned)>& task) {
    const auto batch = std::make_shared<Batch>();
    batch->task = &task;
    batch->count = count;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      grow(std::min(count - 1, poolThreadLimit()));
      pending_.push_back(batch);
    }
    work_.notify_all();
    task(0);
    const unsigned ran = 1 + batch->drain();
    std::unique_lock<std::mutex> lock(mutex_);
    // Nobody can claim an index any more, so the batch leaves the queue;
    // the caller waits for those still running elsewhere, which are the
    // last calls of `task`.
    std::erase(pending_, batch);
    batch->finished += ran;
    batch->allFinished.wait(lock, [&] { return batch->finished == count; });
  }

 private:
  Pool() = default;

  // Starts threads until `wanted` exist; a thread that cannot be started
  // leaves its share to the callers. Called under the lock.
  void grow(unsigned wanted) {
    while (threads_ < wanted) {
      try {
        startThread();
      } catch (const std::system_error&) {
        return;
      }
      ++threads_;
    }
  }

  // Out of line, so that the thread's state, its one allocation, has a
  // frame of its own: a child forked from this process has no pooled
  // threads, and the memory checker's suppression of that state, lost in
  // such a child, names this frame.
  [[gnu::noinline]] void startThread() {
    std::thread([this] { serve(); }).detach();
  }

  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return !pending_.empty(); });
      const std::shared_ptr<Batch> batch = pending_.front();
      // Taken out of the queue once its indices are all claimed, so the
      // next waiting batch is served.
      if (batch->next.load() >= batch->count) {
        pending_.pop_front();
        continue;
      }
      lock.unlock();
      const unsigned ran = batch->drain();
      lock.lock();
      if (ran == 0) continue;
      batch->finished += ran;
      if (batch->finished == batch->count) batch->allFinished.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;
  std::deque<std::shared_ptr<Batch>> pending_;
  unsigned threads_ = 0;
};

}  // namespace

unsigned poolThreadLimit() {
  static const unsigned limit = std::max(2u, std::thread::hardware_concurrency()) - 1;
  return limit;
}

void runOnPool(unsigned count, const std::function<void(unsigned)>& task) {
  if (count == 0) return;
  Pool::instance().run(count, task);
}

}  // namespace tavrin::optimum
