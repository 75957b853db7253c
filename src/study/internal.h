// Internals shared by the study layer's sources.
#pragma once

#include <string>
#include <vector>

#include "tavrin/study.h"

namespace tavrin {

// "1-7, 9-12, 16": the supported factor counts as text.
std::string supportedCountsText(DesignKind kind);

// The factor half and the response half of validateDefinition.
void validateFactors(DesignKind kind, const std::vector<Factor>& factors);
void validateResponses(const std::vector<Response>& responses);

// "run 3", "runs 3, 7 and 12".
std::string runList(const std::vector<int>& ids);

}  // namespace tavrin
