// A host's way to stop the plan object's LPtau search part way, for example
// a Python binding that lets Ctrl-C through during a long modelOptimize.
#pragma once

#include "tavrin/tavrin.h"

namespace tavrin {

// A host's question "stop now?", asked on the searching thread.
using SearchInterruptHook = bool (*)();

// Runs study.modelOptimize(first, last), calling `interrupted` (not null) on
// this thread between blocks of points, and returns true with modelOptimize's
// Result in `result`, exactly as modelOptimize gives it. Once `interrupted`
// returns true the search is abandoned and the call returns false, leaving
// `study` half searched and `result` untouched: a host that may interrupt
// searches on a copy.
TAVRIN_API bool modelOptimizeInterruptible(CTavrin& study, unsigned int first, unsigned int last,
                                           SearchInterruptHook interrupted, Result& result);

}  // namespace tavrin
