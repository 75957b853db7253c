// Whole studies of both plan types on separate objects in four threads give what they give one after another.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "plan/study_fixture.h"

namespace {

using namespace tavrin_test;

// Every best result, then the saved file; a failing call shows as "failed".
std::string runStudy(int shape) {
  static const struct { CTavrin::PlanType type; int vars, objs; } shapes[] = {{CTavrin::BoxBehnkenPlan, 3, 2},
      {CTavrin::RechschafnerPlan, 5, 2}, {CTavrin::BoxBehnkenPlan, 4, 1}, {CTavrin::RechschafnerPlan, 6, 3}};
  const auto [type, vars, objs] = shapes[shape];
  const std::unique_ptr<CTavrin> study = makeStudy(type, vars, objs, Stage::Optimized);
  std::ostringstream out;
  out << std::hexfloat;
  const auto log = [&out](const Result& r, double v) { out << (r.code == 0 ? " " : " failed ") << v; };
  double v = 0;
  for (unsigned slot = 1; slot <= CTavrin::BestResultCount; ++slot) {
    for (int i = 1; i <= vars; ++i) log(study->modelGetDesignVarBestResult(varName(i).c_str(), slot, v), v);
    for (int j = 1; j <= objs; ++j) log(study->modelGetObjectiveBestResult(objName(j).c_str(), slot, v), v);
  }
  const std::string path = ::testing::TempDir() + "tavrin-threads-" + std::to_string(getpid() * 10 + shape);
  log(study->Save(path.c_str(), CTavrin::FILE_CURRENT_VERSION), 0);
  out << std::ifstream(path).rdbuf();
  std::remove(path.c_str());
  return out.str();
}

TEST(ConcurrentStudies, MatchSequentialRuns) {
  std::vector<std::string> sequential, concurrent(4);
  for (int s = 0; s < 4; ++s) sequential.push_back(runStudy(s));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&concurrent, t] { concurrent[t] = runStudy(t); });
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(concurrent[t].find("failed"), std::string::npos) << concurrent[t];
  EXPECT_EQ(concurrent, sequential);
}

}  // namespace
