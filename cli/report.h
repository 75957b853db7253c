// The study report: one self-contained HTML file (Plotly, data and figures
// inlined, no network request when opened) with the definition, the design
// and its evaluation, the run sheet, each response's model with its
// analysis and verdict, and the optimum with its robustness. The command
// line, the workbench and Python all write it through this one module, so
// they give the same file for the same study and request.
#pragma once

#include <optional>
#include <string>

#include "tavrin/optimum.h"
#include "tavrin/study.h"

namespace tavrin::report {

struct ReportRequest {
  std::string title = "Study report";  // the page's heading, e.g. the study file's name
  // Goals as given (open bounds are completed as `tavrin optimize` does);
  // without goals the report has no optimum section.
  std::optional<Goals> goals;
  SearchOptions search;
  RobustnessOptions robustness;  // of the best optimum; its progress callback is not used
};

// True when Plotly was built into this module (it needs npm at build time).
bool available() noexcept;

// The report's HTML. Parts that cannot be drawn say why in their place:
// the models with results missing, the design evaluation of a design that
// cannot estimate the full quadratic, robustness without residual degrees
// of freedom. Throws StateError when Plotly is not built in, and as
// completeGoals() and optimize() for goals that do not fit the study.
std::string html(const Study& study, const ReportRequest& request);

}  // namespace tavrin::report
