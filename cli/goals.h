// Goals as the command line and the workbench complete them.
#pragma once

#include "tavrin/optimum.h"

namespace tavrin::cli {

// Bounds a maximise, minimise or target goal leaves open (NaN) become the lowest and highest prediction
// of its response over the search region, found by the same search as the
// optimum, so that "maximise Yield" alone looks for the true maximum.
void completeOpenBounds(const Fit& fit, Goals& goals, const SearchOptions& search);

}  // namespace tavrin::cli
