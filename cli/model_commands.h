// The model-building subcommands: `fit` with a chosen model, reduction,
// transform and ANOVA, and `path` (ridge analysis or steepest ascent). They
// translate options into the layer's requests and display its results.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "json_io.h"
#include "tavrin/model_building.h"
#include "tavrin/study.h"

namespace tavrin::cli {

struct ModelOptions {
  std::string model;  // empty: the full quadratic report of `fit`
  bool reduce = false;
  std::optional<double> alpha;  // p to remove
  bool aicc = false;
  std::vector<std::string> forceIn;
  std::vector<std::string> forceOut;
  std::string transform;  // empty: none
  std::string anova;      // sequential (default) or partial
  bool save = false;      // keep the model as each response's chosen model in the study file

  // True when any option asks for model building rather than the plain report.
  bool asked() const {
    return !model.empty() || reduce || !transform.empty() || !anova.empty() || save;
  }
};

void runModelFit(const std::string& study, const std::vector<std::string>& responses, const ModelOptions& options,
                 double confidence, bool json, std::ostream& out);

// A model build as JSON: the models, the reduction steps, Box-Cox, the
// estimates, the ANOVA, the run diagnostics and the verdict on them
// (buildVerdict with the request the build was made with).
nlohmann::ordered_json buildJson(const std::string& response, const ModelBuild& build, const ModelRequest& request);

// The model each response of a study is fitted with, as the commands that
// use the study's fit name it: "Yield: quadratic; Impurity: A B A^2 (log,
// power 0)".
std::string modelsUsed(const Study& study);

struct PathOptions {
  std::string study;
  std::string response;
  bool ridge = false;
  bool steepest = false;
  bool minimize = false;  // the ridge of the minimum, or steepest descent
  std::string model;  // empty: the response's saved model (terms and transform)
  int steps = 10;
  double radius = 1.0;  // ridge: coded distance of the last step
  std::string step;     // steepest: Factor=change in natural units per step
  double confidence = 0.95;
  bool json = false;
};

void runPath(const PathOptions& options, std::ostream& out);

}  // namespace tavrin::cli
