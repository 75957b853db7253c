// `tavrin plot`: the data of one view of a study (see plot_json.h), as
// JSON with --json, else a one-line summary of what the view would show.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "plot_json.h"

namespace tavrin::cli {

struct PlotOptions {
  std::string study;
  std::string kind;
  std::string response;
  std::string x;
  std::string y;
  std::string by;
  std::string model;
  std::string at;  // "Factor=value,Factor=value"
  std::vector<std::string> maximize;
  std::vector<std::string> minimize;
  std::vector<std::string> target;
  std::vector<std::string> within;
  std::size_t steps = json::PlotRequest{}.steps;
  double confidence = json::PlotRequest{}.confidence;
  unsigned replicates = json::PlotRequest{}.replicates;
  std::string seed = std::to_string(json::PlotRequest{}.seed);  // text: the layer parses it
  bool json = false;
};

void addPlot(CLI::App& app, PlotOptions& options);
void runPlot(const PlotOptions& options, std::ostream& out);

}  // namespace tavrin::cli
