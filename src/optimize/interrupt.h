// The search's side of tavrin/interruptible.h. The search asks the hook of
// its own thread between blocks of points; when the hook returns true it
// abandons the search by throwing SearchInterrupted, which
// modelOptimizeInterruptible catches before it leaves the library. No hook
// (the default) costs one thread-local load per block and changes no result.
#pragma once

#include "tavrin/interruptible.h"

namespace tavrin {

struct SearchInterrupted {};

inline thread_local SearchInterruptHook searchInterruptHook = nullptr;

inline void checkSearchInterrupt() {
  if (searchInterruptHook != nullptr && searchInterruptHook()) throw SearchInterrupted{};
}

}  // namespace tavrin
