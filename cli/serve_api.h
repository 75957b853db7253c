// The workbench's JSON API over one study, apart from HTTP: each operation
// takes the request body and gives a status and a body. Values are written
// with the command line's JSON schema (json_io.h). A refused request
// changes nothing: changes are made on a copy that replaces the study only
// when every step succeeded.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "tavrin/study.h"
#include "tavrin/study_file.h"

namespace tavrin::cli {

struct ApiReply {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
};

class Workbench {
 public:
  // The study file the workbench reads and writes; a file that does not
  // exist yet is created by the first save. Throws as Study::load does.
  explicit Workbench(std::optional<std::string> path);

  // {file, saved, study} with study as json::studyJson, or null.
  ApiReply state() const;
  // Checks a definition {design, factors, responses, seed (a number or its
  // text), extraCenterRuns,
  // options: {alpha, inscribed, center-runs, ..., constraint: [text]}}
  // without keeping it: {ok, message, fields: {"factors/0": message, ...}}.
  ApiReply validate(std::string_view body) const;
  // The design generators with the options and factor counts each takes:
  // {designs: [{name, summary, factorCounts, options}], alpha, criterion}.
  ApiReply designs() const;
  // The evaluation of the design a definition makes (as for validate, with
  // the design's `options`), for `model` or the design's own: {evaluation}
  // as json::evaluationJson gives it. Nothing is kept.
  ApiReply evaluate(std::string_view body) const;
  // Replaces the study by a new plan from such a definition.
  ApiReply create(std::string_view body);
  // {results: [{run, response, value}]}, value null to clear; all or none.
  ApiReply enterResults(std::string_view body);
  // Results as CSV text, read as Study::readResults reads a file; `source`
  // (the uploaded file's name) names it in messages. Settings columns are
  // checked against the runs, or with `recordActual` recorded as their
  // actual settings.
  ApiReply enterResultsCsv(std::string_view body, const std::string& source, bool recordActual = false);
  // The run sheet as CSV, in execution order.
  ApiReply runSheet() const;
  // The fit report and canonical analysis of every response.
  ApiReply fit() const;
  // Predictions of one response on a grid over two factors, the others
  // held at `at`: {response, x, y, at, steps}.
  ApiReply surface(std::string_view body) const;
  // {goals (the schema of json::toJson(Goals)), points, robust: {replicates,
  // sigma, seed} or null} -> {goals, optimum, robustness}.
  ApiReply optimize(std::string_view body) const;
  // The data of one view (plot_json.h): {kind, response, x, y, by, at
  // {F: v}, goals (as for optimize) or null, steps, confidence, replicates, seed}.
  ApiReply plot(std::string_view body) const;
  // The study report as HTML; the body is optimize's, its goals optional.
  ApiReply report(std::string_view body) const;
  // Builds one response's model as asked (model, transform, reduction) and
  // shows its ANOVA and diagnostics; with "save" keeps it as the
  // response's chosen model, which the fit and the optimum then use.
  ApiReply model(std::string_view body);
  // The study file's text.
  ApiReply studyFile() const;
  // Replaces the study by an uploaded study file's text.
  ApiReply open(std::string_view body, const std::string& source);
  // Writes the study to the file the workbench was started with, unless
  // another program changed that file since the workbench read or wrote it:
  // 409 with error type "FileChanged" then, and nothing is written.
  ApiReply save();
  // Reads the study file again, dropping the changes made here.
  ApiReply reload();
  // {name}: writes the study to a new file of that name in the study
  // file's folder, which the workbench then reads and writes. A plain
  // file name ending in ".json"; an existing file is refused.
  ApiReply saveAs(std::string_view body);

 private:
  std::shared_ptr<const Fit> currentFit() const;
  std::shared_ptr<const Fit> fitLocked() const;  // with mutex_ held
  void replace(Study study, bool saved);

  mutable std::mutex mutex_;
  std::optional<std::string> path_;
  std::optional<Study> study_;
  FileStamp stamp_;  // of the file at path_ as last read or written
  bool saved_ = true;
  mutable std::shared_ptr<const Fit> fit_;  // of study_, computed on demand
};

}  // namespace tavrin::cli
