// A host's way to stop a long LPtau search. The search asks the hook of its
// own thread between blocks of points; when the hook returns true it
// abandons the search by throwing SearchInterrupted, leaving the workspace
// half-searched, so a host that installs a hook searches on a copy. No hook
// (the default) costs one thread-local load per block and changes no result.
#pragma once

namespace tavrin {

struct SearchInterrupted {};

using SearchInterruptHook = bool (*)();
inline thread_local SearchInterruptHook searchInterruptHook = nullptr;

inline void checkSearchInterrupt() {
  if (searchInterruptHook != nullptr && searchInterruptHook()) throw SearchInterrupted{};
}

}  // namespace tavrin
