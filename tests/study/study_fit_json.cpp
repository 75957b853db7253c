// Test tool: reads a study file and prints its plan and, when every result
// is there, the fitted coefficients, as JSON on standard output. The
// pytest in this folder compares them with an independent solve.
#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>

#include "tavrin/study.h"

namespace {

nlohmann::json rows(const tavrin::Matrix& m) {
  nlohmann::json out = nlohmann::json::array();
  for (std::size_t r = 0; r < m.rows(); ++r) out.push_back(std::vector<double>(m.row(r), m.row(r) + m.cols()));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: study_fit_json STUDY.json\n");
    return 2;
  }
  try {
    const tavrin::Study study = tavrin::Study::load(argv[1]);
    nlohmann::json out;
    out["coded"] = rows(study.plan().coded);
    out["natural"] = rows(study.plan().natural);
    out["executionOrder"] = study.plan().executionOrder;
    // The order makePlan draws from the file's seed (the file may record another).
    out["seedOrder"] = tavrin::executionOrder(study.plan().runCount(), study.plan().seed);
    if (study.missing().empty()) {
      const tavrin::Fit fit = study.fit();
      nlohmann::json models = nlohmann::json::array();
      for (const tavrin::Model& m : fit.models) models.push_back({{"coded", m.coded}, {"natural", m.natural}});
      out["models"] = std::move(models);
      out["leverages"] = fit.models.at(0).leverages;
    }
    std::printf("%s\n", out.dump().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
