#include "plot_command.h"

#include "arguments.h"
#include "plot_json.h"
#include "tavrin/error.h"
#include "tavrin/study.h"

namespace tavrin::cli {
namespace {

// Goals and limits as `tavrin optimize` reads them; limits alone are
// enough for the overlay.
Goals goalsOf(const PlotOptions& o) {
  Goals goals;
  goals.goals = parseGoals(o.maximize, o.minimize, o.target);
  goals.constraints = parseConstraints(o.within);
  return goals;
}

std::string kindList() {
  std::string names;
  for (const std::string_view k : json::plotKinds()) names += (names.empty() ? "" : "|") + std::string(k);
  return names;
}

}  // namespace

void addPlot(CLI::App& app, PlotOptions& o) {
  auto* sub = app.add_subcommand("plot", "The data of one view of the study: what its plot shows");
  sub->add_option("study", o.study, "Study file")->required();
  sub->add_option("-k,--kind", o.kind, kindList())->required();
  sub->add_option("-r,--response", o.response, "The response drawn (default: the first)");
  sub->add_option("--x", o.x, "Factor on the x axis (default: the first)");
  sub->add_option("--y", o.y, "Factor on the y axis (default: the next)");
  sub->add_option("--by", o.by, "Interaction: the factor at its low and high end (default: --y)");
  sub->add_option("--model", o.model, "Box-Cox: the model profiled, as for fit (default: the response's chosen model)");
  sub->add_option("--at", o.at, "Settings of the other factors, Factor=value,Factor=value (default: the centre)");
  sub->add_option("--maximize", o.maximize, "Goal, as for optimize (profiler's desirability row, overlay's optimum)");
  sub->add_option("--minimize", o.minimize, "Goal, as for optimize");
  sub->add_option("--target", o.target, "Goal, as for optimize");
  sub->add_option("--within", o.within, "A limit on a response, R=low:high, R<=high or R>=low (the overlay's contours)");
  sub->add_option("--steps", o.steps, "Grid points per axis (2..401)")->capture_default_str();
  sub->add_option("--confidence", o.confidence, "Level of the profiler's band")->capture_default_str();
  sub->add_option("--replicates", o.replicates, "Robustness: simulated replicates")->capture_default_str();
  sub->add_option("--seed", o.seed, "Robustness: seed of the simulated noise")->capture_default_str();
  sub->add_flag("--json", o.json, "Write the plot data as JSON (full precision)");
  sub->footer("Examples:\n  tavrin plot study.json --kind profiler --at \"Temperature=180\" --maximize Yield --json\n"
              "  tavrin plot study.json --kind overlay --x Temperature --y Time --within \"Impurity<=1.5\" --json");
}

void runPlot(const PlotOptions& o, std::ostream& out) {
  const Study study = Study::load(o.study);
  json::PlotRequest request;
  request.kind = o.kind;
  request.response = o.response;
  request.x = o.x;
  request.y = o.y;
  request.by = o.by;
  request.model = o.model;
  if (!o.at.empty())
    for (const auto& [name, value] : parsePoint(o.at))
      if (!request.at.emplace(name, value).second) throw UsageError("--at gives \"" + name + "\" twice");
  request.goals = goalsOf(o);
  request.steps = o.steps;
  request.confidence = o.confidence;
  request.replicates = o.replicates;
  try {
    request.seed = parseSeed(o.seed);
  } catch (const InvalidArgument& e) {
    throw UsageError(std::string("--seed: ") + e.what());
  }
  const json::Json data = json::plotJson(study, request);
  if (o.json) {
    json::printJson(out, data);
    return;
  }
  out << "The " << o.kind << " view of " << o.study << " can be drawn; add --json for its data.\n";
}

}  // namespace tavrin::cli
