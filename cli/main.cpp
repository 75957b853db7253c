// tavrin: a whole response-surface study from the shell. One subcommand per
// step; the study lives in its study file between them.
//
// Exit status: 0 on success, 2 on bad usage, 1 on a failure; a failure
// prints one line on stderr naming the problem.
#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "arguments.h"
#include "commands.h"
#include "json_io.h"
#include "plot_command.h"
#include "serve.h"
#include "tavrin/study.h"

namespace {

using namespace tavrin::cli;

constexpr int kFailure = 1;
constexpr int kUsage = 2;

void addJson(CLI::App& sub, bool& json) {
  sub.add_flag("--json", json, "Write the result as JSON (full precision) instead of text");
}

void addNew(CLI::App& app, NewOptions& o) {
  auto* sub = app.add_subcommand("new", "Plan a study and write its study file");
  sub->add_option("study", o.study, "Study file to create (JSON)")->required();
  sub->add_option("-d,--design", o.design, "box-behnken, rechtschaffner, ccd, factorial or optimal")->capture_default_str();
  sub->add_option("-f,--factor", o.factors, "Factor as Name=low:high[unit]; repeat per factor")->required();
  sub->add_option("-r,--response", o.responses, "Response as Name or Name[unit]; repeat per response")->required();
  sub->add_option("--seed", o.seed, "Seed of the execution order, 0..2^64-1 (default: drawn at random, then recorded)");
  sub->add_option("--center-runs", o.centerRuns,
                  "Centre runs added to the design's own (0..100); a ccd's centre runs, spread over its blocks");
  sub->add_option("--axial-center-runs", o.axialCenterRuns, "blocked ccd: how many of the centre runs the axial block takes");
  sub->add_option("--alpha", o.alpha, "ccd: rotatable, orthogonal, spherical, face or a number");
  sub->add_flag("--inscribed", o.inscribed, "ccd: scale the design so the axial runs are at the factor ranges");
  sub->add_option("--blocks", o.blocks, "ccd, factorial: number of blocks (1 = unblocked)");
  sub->add_option("--levels", o.levels, "factorial: 2 or 3 levels");
  sub->add_option("--fraction", o.fraction, "ccd, factorial: P of a 2^(k-P) cube");
  sub->add_option("--runs", o.runs, "optimal: number of runs");
  sub->add_option("--model", o.model, "optimal: linear, interaction, quadratic or a term list");
  sub->add_option("--criterion", o.criterion, "optimal: d or i");
  sub->add_option("--constraint", o.constraints, "optimal: a linear constraint such as \"2*A+B<=3\"; repeatable");
  auto* data = sub->add_option("--data", o.data, "CSV of existing runs: a column per factor and per response");
  sub->add_option("--block", o.block, "The data's column of block numbers")->needs(data);
  sub->add_flag("--force", o.force, "Replace an existing study file");
  addJson(*sub, o.json);
  sub->footer(
      "Example:\n  tavrin new study.json --design box-behnken \\\n"
      "    --factor \"Temperature=150:210[°C]\" --factor \"Time=10:50[min]\" \\\n"
      "    --response Yield[%] --response Impurity[%] --seed 7\n"
      "  tavrin new ccd.json --design ccd --alpha orthogonal --blocks 3 --center-runs 6 \\\n"
      "    --factor A=0.1:0.7 --factor B=10:30 --factor C=1:3 --response Y\n"
      "  tavrin new opt.json --design optimal --runs 12 --model quadratic --criterion i \\\n"
      "    --constraint \"A+B<=1\" --factor A=0:1 --factor B=0:1 --response Y --seed 3\n"
      "From existing data (a factor's low:high gives its coding; without it the\n"
      "data's minimum and maximum code it):\n"
      "  tavrin new study.json --data runs.csv --factor \"Temperature=150:210[°C]\" \\\n"
      "    --factor \"Time[min]\" --response Yield[%] --block Day");
}

void addAugment(CLI::App& app, AugmentCommandOptions& o) {
  auto* sub = app.add_subcommand("augment", "Add runs to a study, keeping its runs and results");
  sub->add_option("study", o.study, "Study file to update")->required();
  auto* fold = sub->add_flag("--fold", o.fold, "Fold a two-level factorial into a central composite design");
  sub->add_option("--runs", o.runs, "Runs to add")->excludes(fold);
  sub->add_option("--criterion", o.criterion, "d, i, cloud or optimum (the last two from goals)")
      ->capture_default_str()->excludes(fold);
  sub->add_option("--model", o.model, "linear, interaction, quadratic or a term list (default: the design's)")
      ->excludes(fold);
  sub->add_option("--seed", o.seed, "Seed of the search and of the new runs' order (default: drawn, then recorded)");
  sub->add_option("--maximize", o.maximize, "cloud, optimum: goal, as for optimize")->excludes(fold);
  sub->add_option("--minimize", o.minimize, "cloud, optimum: goal, as for optimize")->excludes(fold);
  sub->add_option("--target", o.target, "cloud, optimum: goal, as for optimize")->excludes(fold);
  sub->add_option("--within", o.within, "cloud, optimum: hard constraint, as for optimize")->excludes(fold);
  sub->add_option("--replicates", o.replicates, "cloud, optimum: replicates of the robustness that makes the cloud")
      ->capture_default_str()->excludes(fold);
  sub->add_option("--threads", o.threads, "Threads; 0 uses every core")->capture_default_str();
  sub->add_option("--alpha", o.alpha, "fold: orthogonal (default), rotatable, spherical, face or a number")->needs(fold);
  sub->add_option("--center-runs", o.centerRuns, "fold: centre runs of the axial block (default: Box and Hunter's)")
      ->needs(fold);
  addJson(*sub, o.json);
  sub->footer("The new runs form a block of their own and come after every run in the execution order.\n"
              "The cloud and optimum criteria add runs where the optimum of the goals moves under\n"
              "simulated noise (the relocated optima of optimize --robust, with the same seed).\n"
              "Examples:\n  tavrin augment study.json --runs 6 --criterion d --model quadratic --seed 4\n"
              "  tavrin augment study.json --runs 4 --criterion optimum --maximize Yield --within \"Impurity<=1.5\"\n"
              "  tavrin augment factorial.json --fold --alpha rotatable --center-runs 2");
}

void addEvaluate(CLI::App& app, EvaluateOptions& o) {
  auto* sub = app.add_subcommand("evaluate", "Evaluate the study's design for a model before (or after) the runs");
  sub->add_option("study", o.study, "Study file")->required();
  sub->add_option("--model", o.model, "linear, interaction, quadratic or a term list (default: the design's)");
  addJson(*sub, o.json);
  sub->footer("Example:\n  tavrin evaluate study.json --model \"A B A:B\"");
}

void addSheet(CLI::App& app, SheetOptions& o) {
  auto* sub = app.add_subcommand("sheet", "Show the run sheet in execution order, or write it as CSV");
  sub->add_option("study", o.study, "Study file")->required();
  sub->add_option("-o,--output", o.output, "Write the run sheet as CSV to this file (\"-\" for standard output)");
  sub->add_flag("--force", o.force, "Replace an existing output file");
  addJson(*sub, o.json);
  sub->footer("Example:\n  tavrin sheet study.json -o runs.csv\n"
              "Fill the response columns of runs.csv, then: tavrin enter study.json runs.csv");
}

void addEnter(CLI::App& app, EnterOptions& o) {
  auto* sub = app.add_subcommand("enter", "Enter results from a CSV file, matched by run id");
  sub->add_option("study", o.study, "Study file to update")->required();
  sub->add_option("results", o.csv, "CSV with a run_id column and a column per response")->required();
  sub->add_flag("--actual", o.actual, "Record the file's factor settings as the runs' actual settings");
  addJson(*sub, o.json);
  sub->footer(
      "The CSV needs the run_id column and any of the response columns (by name\n"
      "or as \"Name [unit]\", as the run sheet heads them); a column that names no\n"
      "response or factor is refused, and an empty cell clears a result. Factor\n"
      "columns must match each run's settings (up to printed rounding), unless\n"
      "--actual records them as the settings the runs were made at.\n"
      "Example:\n  tavrin enter study.json results.csv");
}

void addFit(CLI::App& app, FitOptions& o) {
  auto* sub = app.add_subcommand("fit", "Fit a quadratic model per response and report it");
  sub->add_option("study", o.study, "Study file")->required();
  sub->add_option("-r,--response", o.responses, "Report only this response; repeatable");
  sub->add_option("--confidence", o.confidence, "Level of the confidence intervals")->capture_default_str();
  sub->add_option("--sigma", o.sigma, "Known measurement standard deviation as Response=s; repeatable");
  sub->add_flag("--runs", o.diagnostics, "Also list the residuals, leverages and Cook's distances of the runs");
  ModelOptions& m = o.model;
  sub->add_option("--model", m.model, "linear, interaction, quadratic or a term list such as \"A B A:B A^2\"");
  auto* reduce = sub->add_flag("--reduce", m.reduce, "Backward elimination keeping hierarchy");
  sub->add_option("--alpha", m.alpha, "p to remove in the elimination (default 0.10)")->needs(reduce);
  sub->add_flag("--aicc", m.aicc, "Eliminate while AICc falls instead of by p")->needs(reduce);
  sub->add_option("--force", m.forceIn, "A term the elimination keeps; repeatable")->needs(reduce);
  sub->add_option("--force-out", m.forceOut, "A term removed before the elimination; repeatable")->needs(reduce);
  sub->add_option("--transform", m.transform, "none, log, sqrt, inverse or boxcox");
  sub->add_option("--anova", m.anova, "sequential (by groups of terms, default) or partial (per term)");
  sub->add_flag("--save", m.save, "Keep the model as the chosen model of the --response named, in the study file");
  addJson(*sub, o.json);
  sub->footer("Example:\n  tavrin fit study.json\n  tavrin fit study.json --response Yield --runs\n"
              "  tavrin fit study.json --model \"Temperature Time Temperature^2\" --anova partial\n"
              "  tavrin fit study.json --reduce --alpha 0.05 --force Time --transform boxcox\n"
              "  tavrin fit study.json --response Yield --reduce --transform log --save");
}

void addOptimize(CLI::App& app, OptimizeOptions& o) {
  auto* sub = app.add_subcommand("optimize", "Find the settings that best meet the goals");
  sub->add_option("study", o.study, "Study file")->required();
  sub->add_option("--maximize", o.maximize, "Goal: R, R>=low or R=low:high (desirability 0 at low, 1 at high)");
  sub->add_option("--minimize", o.minimize, "Goal: R, R<=high or R=low:high (desirability 1 at low, 0 at high)");
  sub->add_option("--target", o.target, "Goal: R=t or R=low:t:high (desirability 1 at t, 0 at low and high)");
  sub->add_option("--within", o.within, "Hard constraint on a prediction: R=low:high, R<=high or R>=low");
  sub->add_option("--region", o.region, "Search only Factor=low:high (natural units); default: the factor's range");
  sub->add_option("--importance", o.importance, "Weight of a goal in the overall desirability, R=w (default 1)");
  sub->add_option("--shape", o.shape, "Exponent of a goal's desirability curve, R=s (default 1)");
  sub->add_option("--points", o.search.points, "Points of the global search (1..65536)")->capture_default_str();
  sub->add_option("--best", o.search.best, "Distinct optima to list")->capture_default_str();
  sub->add_option("--threads", o.search.threads, "Threads; 0 uses every core")->capture_default_str();
  auto* robust = sub->add_flag("--robust", o.robust, "Also relocate the best optimum under simulated measurement noise");
  sub->add_option("--sigma", o.sigma, "Noise standard deviation, R=s; default: from the residuals")->needs(robust);
  sub->add_option("--replicates", o.replicates, "Simulated replicates of the study")->capture_default_str()->needs(robust);
  sub->add_option("--seed", o.seed, "Seed of the simulated noise, 0..2^64-1")->capture_default_str()->needs(robust);
  addJson(*sub, o.json);
  sub->footer(
      "Goals combine into the weighted geometric mean of their desirabilities.\n"
      "A bound a goal leaves open is the lowest or highest prediction of its\n"
      "response over the search region, so --maximize R alone finds the highest\n"
      "prediction of R. --within constraints are hard: a point whose prediction\n"
      "lies outside is never proposed.\n"
      "Examples:\n"
      "  tavrin optimize study.json --maximize Yield --within \"Impurity<=1.5\"\n"
      "  tavrin optimize study.json --maximize \"Yield=70:90\" --minimize \"Impurity=0.5:2\" --importance Yield=2\n"
      "  tavrin optimize study.json --maximize Yield --within \"Impurity=0:1.5\" \\\n"
      "    --robust --sigma Yield=0.5 --sigma Impurity=0.05 --replicates 500 --seed 3");
}

void addReport(CLI::App& app, ReportOptions& o) {
  auto* sub = app.add_subcommand("report", "Write the whole study as one self-contained HTML (or PDF) report");
  OptimizeOptions& g = o.optimum;
  sub->add_option("study", g.study, "Study file")->required();
  sub->add_option("-o,--output", o.output, "The report to write (HTML, or PDF with --pdf)")->required();
  sub->add_flag("--pdf", o.pdf, "Print the report to PDF with headless Chromium");
  sub->add_option("--title", o.title, "The report's heading")->capture_default_str();
  sub->add_flag("--force", o.force, "Replace an existing report");
  sub->add_option("--maximize", g.maximize, "Goal of the optimum section, as for optimize");
  sub->add_option("--minimize", g.minimize, "Goal, as for optimize");
  sub->add_option("--target", g.target, "Goal, as for optimize");
  sub->add_option("--within", g.within, "Hard constraint, as for optimize");
  sub->add_option("--region", g.region, "Search only Factor=low:high, as for optimize");
  sub->add_option("--importance", g.importance, "Weight of a goal, R=w");
  sub->add_option("--shape", g.shape, "Exponent of a goal's desirability curve, R=s");
  sub->add_option("--sigma", g.sigma, "Noise of the robustness simulation, R=s; default: from the residuals");
  sub->add_option("--replicates", g.replicates, "Simulated replicates of the study")->capture_default_str();
  sub->add_option("--seed", g.seed, "Seed of the simulated noise, 0..2^64-1")->capture_default_str();
  sub->footer(
      "The HTML carries Plotly, the data and every figure inline: it opens offline and\n"
      "can be mailed as it is. With goals it adds the optimum and its robustness, as\n"
      "tavrin optimize --robust gives them.\n"
      "Examples:\n  tavrin report study.json -o study.html --maximize Yield --within \"Impurity<=1.5\"\n"
      "  tavrin report study.json -o study.pdf --pdf");
}

void addPredict(CLI::App& app, PredictOptions& o) {
  auto* sub = app.add_subcommand("predict", "Predict every response, with intervals, at given settings");
  sub->add_option("study", o.study, "Study file")->required();
  sub->add_option("--at", o.at, "A point as Factor=value,Factor=value; repeatable");
  sub->add_option("--csv", o.csv, "CSV of points, one column per factor (by name)");
  sub->add_option("-o,--output", o.output, "Also write the predictions as CSV to this file");
  sub->add_option("--confidence", o.confidence, "Level of the intervals")->capture_default_str();
  sub->add_option("--sigma", o.sigma, "Known measurement standard deviation as Response=s; repeatable");
  sub->add_flag("--force", o.force, "Replace an existing output file");
  addJson(*sub, o.json);
  sub->footer("Examples:\n  tavrin predict study.json --at \"Temperature=180,Time=30\"\n"
              "  tavrin predict study.json --csv points.csv -o predictions.csv");
}

void addExchange(CLI::App& app, ExchangeOptions& exported, ExchangeOptions& imported) {
  auto* out = app.add_subcommand("export", "Write the study as a plan file of the plan object");
  out->add_option("study", exported.from, "Study file")->required();
  out->add_option("planfile", exported.to, "Plan file to write")->required();
  out->add_flag("--force", exported.force, "Replace an existing plan file");
  addJson(*out, exported.json);
  out->footer("The plan file holds no units, no run order and 6 significant digits.\n"
              "Example:\n  tavrin export study.json study.tvr");
  auto* in = app.add_subcommand("import", "Make a study file from a plan file");
  in->add_option("planfile", imported.from, "Plan file to read")->required();
  in->add_option("study", imported.to, "Study file to create")->required();
  in->add_flag("--force", imported.force, "Replace an existing study file");
  addJson(*in, imported.json);
  in->footer("Example:\n  tavrin import study.tvr study.json");
}

void addPath(CLI::App& app, PathOptions& o) {
  auto* sub = app.add_subcommand("path", "Ridge analysis or the path of steepest ascent of one response");
  sub->add_option("study", o.study, "Study file")->required();
  sub->add_option("-r,--response", o.response, "The response")->required();
  auto* ridge = sub->add_flag("--ridge", o.ridge, "Best prediction on spheres about the centre");
  auto* steepest = sub->add_flag("--steepest", o.steepest, "Steepest ascent of the model's first-order part");
  ridge->excludes(steepest);
  sub->add_flag("--minimize", o.minimize, "The lowest prediction (ridge) or steepest descent");
  sub->add_option("--model", o.model,
                  "linear, interaction, quadratic or a term list, of the response as measured (default: the "
                  "response's saved model, terms and transform)");
  sub->add_option("--steps", o.steps, "Steps of the path (1..1000)")->capture_default_str();
  sub->add_option("--radius", o.radius, "Ridge: coded distance of the last step")->capture_default_str()->needs(ridge);
  sub->add_option("--step", o.step, "Steepest: Factor=change per step, natural units")->needs(steepest);
  sub->add_option("--confidence", o.confidence, "Level of the intervals")->capture_default_str();
  addJson(*sub, o.json);
  sub->footer("Examples:\n  tavrin path study.json --response Yield --ridge --radius 1.5\n"
              "  tavrin path study.json --response Yield --steepest --model linear --step Temperature=5");
}

bool jsonWanted(const CLI::App& app) {
  for (const CLI::App* sub : app.get_subcommands()) {
    const CLI::Option* json = sub->get_option_no_throw("--json");
    if (json != nullptr && json->count() > 0) return true;
  }
  return false;
}

// One line on stderr, and the error as JSON on stdout when --json was given.
// " (did you mean "--maximize"?)" when `given` is probably a misspelling of
// one of `known`, else nothing.
std::string didYouMean(const std::string& given, const std::vector<std::string>& known) {
  const std::vector<std::string> similar = tavrin::similarNames(given, known);
  return similar.empty() ? "" : " (did you mean \"" + similar.front() + "\"?)";
}

// The suggestion for the first option of argv that `sub` does not have.
std::string optionSuggestion(const CLI::App& sub, int argc, char** argv) {
  std::vector<std::string> known;
  for (const CLI::Option* option : sub.get_options())
    for (const std::string& name : option->get_lnames()) known.push_back("--" + name);
  for (int k = 2; k < argc; ++k) {
    const std::string word(argv[k]);
    if (word.rfind("--", 0) != 0) continue;
    const std::string name = word.substr(0, word.find('='));
    if (std::find(known.begin(), known.end(), name) == known.end()) return didYouMean(name, known);
  }
  return {};
}

int fail(const std::exception& error, const std::string& type, bool json, int status) {
  if (json) tavrin::json::printJson(std::cout, tavrin::json::errorJson(error, type));
  std::cerr << "tavrin: " << error.what() << "\n";
  return status;
}

int run(int argc, char** argv) {
  CLI::App app{"tavrin: design of experiments and quadratic response surfaces from the shell"};
  app.set_version_flag("--version", TAVRIN_VERSION);
  app.require_subcommand(1);
  app.footer("A study: new -> evaluate -> sheet -> enter -> fit -> augment / optimize / predict -> report.\n"
             "Run 'tavrin <subcommand> --help' for its options and an example.");

  NewOptions newOptions;
  SheetOptions sheetOptions;
  EnterOptions enterOptions;
  FitOptions fitOptions;
  OptimizeOptions optimizeOptions;
  PredictOptions predictOptions;
  ExchangeOptions exportOptions;
  ExchangeOptions importOptions;
  addNew(app, newOptions);
  addSheet(app, sheetOptions);
  addEnter(app, enterOptions);
  addFit(app, fitOptions);
  addOptimize(app, optimizeOptions);
  addPredict(app, predictOptions);
  addExchange(app, exportOptions, importOptions);
  PathOptions pathOptions;
  addPath(app, pathOptions);
  PlotOptions plotOptions;
  addPlot(app, plotOptions);
  ReportOptions reportOptions;
  addReport(app, reportOptions);
  AugmentCommandOptions augmentOptions;
  addAugment(app, augmentOptions);
  EvaluateOptions evaluateOptions;
  addEvaluate(app, evaluateOptions);
  ServeOptions serveOptions;
  addServe(app, serveOptions);

  // CLI11 reports an unknown subcommand as a missing one; name it instead.
  const std::vector<CLI::App*> chosen =
      argc > 1 ? app.get_subcommands([&](CLI::App* sub) { return sub->check_name(argv[1]); }) : std::vector<CLI::App*>{};
  if (argc > 1 && argv[1][0] != '-' && chosen.empty()) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) names.push_back(sub->get_name());
    std::cerr << "tavrin: unknown subcommand \"" << argv[1] << "\"" << didYouMean(argv[1], names) << " (see --help)\n";
    return kUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    const std::string hint = chosen.empty() ? "" : optionSuggestion(*chosen.front(), argc, argv);
    std::cerr << "tavrin: " << e.what() << hint << " (see --help)\n";
    return kUsage;
  }

  const bool json = jsonWanted(app);
  try {
    const std::string command = app.get_subcommands().front()->get_name();
    if (command == "new") runNew(newOptions, std::cout);
    if (command == "sheet") runSheet(sheetOptions, std::cout);
    if (command == "enter") runEnter(enterOptions, std::cout);
    if (command == "fit") runFit(fitOptions, std::cout);
    if (command == "optimize") runOptimize(optimizeOptions, std::cout);
    if (command == "predict") runPredict(predictOptions, std::cout);
    if (command == "path") {
      if (!pathOptions.ridge && !pathOptions.steepest) throw UsageError("path needs --ridge or --steepest");
      runPath(pathOptions, std::cout);
    }
    if (command == "plot") runPlot(plotOptions, std::cout);
    if (command == "report") runReport(reportOptions, std::cout);
    if (command == "augment") runAugment(augmentOptions, std::cout);
    if (command == "evaluate") runEvaluate(evaluateOptions, std::cout);
    if (command == "export") runExport(exportOptions, std::cout);
    if (command == "import") runImport(importOptions, std::cout);
    if (command == "serve") runServe(serveOptions, std::cout);
    std::cout.flush();
    if (!std::cout) {
      std::cerr << "tavrin: cannot write to standard output\n";
      return kFailure;
    }
    return 0;
  } catch (const UsageError& e) {
    return fail(e, "UsageError", json, kUsage);
  } catch (const std::exception& e) {
    return fail(e, tavrin::json::errorType(e), json, kFailure);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // run() reports every failure of a study. What still reaches here is the
  // program's own (an option table CLI11 refuses, memory exhausted): one
  // line and status 1 rather than an abort.
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tavrin: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "tavrin: an unexpected failure\n";
  }
  return kFailure;
}
