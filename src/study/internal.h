// Internals shared by the study layer's sources.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tavrin/study.h"

namespace tavrin {

// The run sheet's own columns; no factor or response may take their names.
inline constexpr std::string_view kRunIdHeader = "run_id";
inline constexpr std::string_view kRunOrderHeader = "run_order";

// "1-7, 9-12, 16": the supported factor counts as text.
std::string supportedCountsText(DesignKind kind);

// The factor half and the response half of validateDefinition.
void validateFactors(DesignKind kind, const std::vector<Factor>& factors);
void validateResponses(const std::vector<Response>& responses);

// Reads runOriginName's names back; InvalidArgument otherwise.
RunOrigin parseRunOrigin(std::string_view text);

// "run 3", "runs 3, 7 and 12".
std::string runList(const std::vector<int>& ids);

}  // namespace tavrin
