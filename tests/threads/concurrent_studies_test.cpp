// Whole studies on separate objects at the same time give exactly what the
// same studies give one after another. Run under ThreadSanitizer this also
// shows that no storage is shared between objects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tavrin/tavrin.h"

namespace {

struct StudyShape {
  CTavrin::PlanType type;
  int vars;
  int objectives;
};

struct Outcome {
  std::vector<unsigned> codes;       // every code returned, in call order
  std::vector<double> best;          // slots 1..5: every variable, then every objective
  std::vector<double> predictions;   // objectives at a few fixed points
  std::string saved;                 // bytes of the saved study
  std::string resaved;               // bytes after loading that file and saving again (the
                                     // values passed through the file at 6 digits, so the
                                     // coefficients may differ from `saved`)
};

std::wstring varName(int i) { return L"x" + std::to_wstring(i); }
std::wstring objName(int j) { return L"y" + std::to_wstring(j); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string scratchPath() {
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tavrin-threads-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd >= 0) close(fd);
  return path;
}

Outcome runStudy(const StudyShape& shape) {
  Outcome out;
  CTavrin study(shape.type);
  auto code = [&out](const Result& r) { out.codes.push_back(r.code); };
  for (int i = 1; i <= shape.vars; ++i) code(study.planAddDesignVar(varName(i).c_str(), -1.5 * i, 2.0 + i));
  for (int j = 1; j <= shape.objectives; ++j) code(study.planAddObjective(objName(j).c_str()));
  code(study.planCompute());
  unsigned runs = 0;
  code(study.planGetExperimentCount(runs));
  for (int j = 1; j <= shape.objectives; ++j) {
    for (unsigned k = 1; k <= runs; ++k) {
      // A smooth response of the design point, different for each objective.
      double y = 10.0 * j;
      for (int i = 1; i <= shape.vars; ++i) {
        double x = 0;
        code(study.planGetDesignVarValue(varName(i).c_str(), objName(j).c_str(), k, x));
        y += std::sin(0.7 * x * (i + j)) - 0.05 * x * x;
      }
      code(study.planSetObjectiveValue(objName(j).c_str(), k, y));
    }
  }
  code(study.modelCompute());
  for (int i = 1; i <= shape.vars; ++i) code(study.modelSetDesignVarLimits(varName(i).c_str(), -1.5 * i, 2.0 + i));
  code(study.modelSetObjectiveLimits(objName(1).c_str(), 1.0, 0.0, 0.0));
  for (int j = 2; j <= shape.objectives; ++j) code(study.modelSetObjectiveLimits(objName(j).c_str(), 0.0, -1e9, 20.0 * j));
  code(study.modelOptimize(0, 4096));
  for (unsigned slot = 1; slot <= CTavrin::BestResultCount; ++slot) {
    double v = 0;
    for (int i = 1; i <= shape.vars; ++i) {
      code(study.modelGetDesignVarBestResult(varName(i).c_str(), slot, v));
      out.best.push_back(v);
    }
    for (int j = 1; j <= shape.objectives; ++j) {
      code(study.modelGetObjectiveBestResult(objName(j).c_str(), slot, v));
      out.best.push_back(v);
    }
  }

  const std::string path = scratchPath(), path2 = scratchPath();
  code(study.Save(path.c_str(), CTavrin::FILE_CURRENT_VERSION));
  out.saved = readFile(path);
  CTavrin loaded(CTavrin::RechschafnerPlan);
  unsigned version = 0;
  code(loaded.Load(path.c_str(), version));
  code(loaded.Save(path2.c_str(), version));
  out.resaved = readFile(path2);
  std::remove(path.c_str());
  std::remove(path2.c_str());

  for (double t : {-0.5, 0.25, 1.0}) {
    for (int i = 1; i <= shape.vars; ++i) code(loaded.modelSetDesignVarValue(varName(i).c_str(), t * i));
    code(loaded.modelCompute());
    for (int j = 1; j <= shape.objectives; ++j) {
      double v = 0;
      code(loaded.modelGetObjectiveValue(objName(j).c_str(), v));
      out.predictions.push_back(v);
    }
  }
  return out;
}

void expectSame(const Outcome& got, const Outcome& want, const char* label) {
  EXPECT_EQ(got.codes, want.codes) << label;
  EXPECT_EQ(got.best, want.best) << label;
  EXPECT_EQ(got.predictions, want.predictions) << label;
  EXPECT_EQ(got.saved, want.saved) << label;
  EXPECT_EQ(got.resaved, want.resaved) << label;
}

TEST(ConcurrentStudies, MatchSequentialRuns) {
  const std::vector<StudyShape> shapes = {
      {CTavrin::BoxBehnkenPlan, 3, 2},
      {CTavrin::RechschafnerPlan, 5, 2},
      {CTavrin::BoxBehnkenPlan, 4, 1},
      {CTavrin::RechschafnerPlan, 6, 3},
  };
  std::vector<Outcome> sequential;
  for (const StudyShape& shape : shapes) sequential.push_back(runStudy(shape));
  for (const Outcome& o : sequential) {
    for (unsigned c : o.codes) ASSERT_EQ(c, 0u);
    ASSERT_FALSE(o.saved.empty());
    ASSERT_FALSE(o.resaved.empty());
  }

  // Two rounds: every study at once, then the same study on every thread.
  for (int round = 0; round < 2; ++round) {
    std::vector<Outcome> concurrent(shapes.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < shapes.size(); ++t) {
      const std::size_t s = round == 0 ? t : 0;
      threads.emplace_back([&, t, s] { concurrent[t] = runStudy(shapes[s]); });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t t = 0; t < shapes.size(); ++t) {
      expectSame(concurrent[t], sequential[round == 0 ? t : 0], round == 0 ? "mixed studies" : "same study");
    }
  }
}

}  // namespace
