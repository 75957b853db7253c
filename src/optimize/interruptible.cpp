#include "tavrin/interruptible.h"

#include "optimize/interrupt.h"

namespace tavrin {
namespace {

// Installs a hook on this thread for one search and puts the previous one
// back, however the search ends.
class ScopedHook {
 public:
  explicit ScopedHook(SearchInterruptHook hook) : previous_(searchInterruptHook) { searchInterruptHook = hook; }
  ~ScopedHook() { searchInterruptHook = previous_; }
  ScopedHook(const ScopedHook&) = delete;
  ScopedHook& operator=(const ScopedHook&) = delete;

 private:
  SearchInterruptHook previous_;
};

}  // namespace

bool modelOptimizeInterruptible(CTavrin& study, unsigned int first, unsigned int last,
                                SearchInterruptHook interrupted, Result& result) {
  const ScopedHook hook(interrupted);
  try {
    result = study.modelOptimize(first, last);
  } catch (const SearchInterrupted&) {
    return false;
  }
  return true;
}

}  // namespace tavrin
