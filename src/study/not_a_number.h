// The quiet NaN that marks a missing result or a statistic that does not
// exist (no error degrees of freedom, a flat response), shared by every
// area of the layer.
#pragma once

#include <limits>

namespace tavrin {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
static_assert(kNaN != kNaN, "kNaN must be a NaN");

}  // namespace tavrin
