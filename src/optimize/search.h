// The LPtau search over the fitted models.
#pragma once

#include "tavrin/detail/workspace.h"

namespace tavrin {

// How points are evaluated: one at a time through evaluateModels, or in
// blocks of lanes through evaluateBlock. Both give the same bits.
enum class SearchPath { PointByPoint, Blocks };

// Tries LPtau points first..last-1 within the search ranges, scores them
// and ranks them into the best slots 1..5 (slots that take no point keep
// their rows). pointNatural, pointCoded and objValue are left at the last
// point tried. Returns whether any slot took a point.
bool searchBestPoints(NumericWorkspace& ws, unsigned int first, unsigned int last,
                      SearchPath path = SearchPath::Blocks);

}  // namespace tavrin
