// Whole studies of both plan types on separate objects in four threads at once give exactly what the same
// studies give one after another: every best result, and the saved file loaded and saved again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "plan/study_fixture.h"

namespace {

using namespace tavrin_test;

std::string runStudy(int shape, int thread) {
  static const struct { CTavrin::PlanType type; int vars, objs; } shapes[] = {
      {CTavrin::BoxBehnkenPlan, 3, 2}, {CTavrin::RechschafnerPlan, 5, 2}, {CTavrin::BoxBehnkenPlan, 4, 1}, {CTavrin::RechschafnerPlan, 6, 3}};
  const auto [type, vars, objs] = shapes[shape];
  const std::unique_ptr<CTavrin> study = makeStudy(type, vars, objs, Stage::Optimized);  // plan, model and search
  std::ostringstream out;
  const auto log = [&out](const Result& r) { out << (r.code == 0 ? "" : "failed with " + std::to_string(r.code)) << ' '; };
  for (unsigned slot = 1; slot <= CTavrin::BestResultCount; ++slot) {
    double value = 0;
    for (int i = 1; i <= vars; ++i) log(study->modelGetDesignVarBestResult(varName(i).c_str(), slot, value)), out << std::hexfloat << value;
    for (int j = 1; j <= objs; ++j) log(study->modelGetObjectiveBestResult(objName(j).c_str(), slot, value)), out << std::hexfloat << value;
  }
  const std::string path = ::testing::TempDir() + "tavrin-threads-" + std::to_string(getpid()) + "-" + std::to_string(thread);
  const auto saved = [&path] { std::ifstream in(path); return std::string(std::istreambuf_iterator<char>(in), {}); };
  CTavrin loaded(CTavrin::RechschafnerPlan);
  unsigned version = 0;
  log(study->Save(path.c_str(), CTavrin::FILE_CURRENT_VERSION)), out << saved();
  log(loaded.Load(path.c_str(), version)), log(loaded.Save(path.c_str(), version)), out << saved();
  std::remove(path.c_str());
  return out.str();
}

TEST(ConcurrentStudies, MatchSequentialRuns) {
  std::vector<std::string> sequential;
  for (int s = 0; s < 4; ++s) sequential.push_back(runStudy(s, s));
  for (const std::string& outcome : sequential) EXPECT_EQ(outcome.find("failed"), std::string::npos) << outcome;
  for (int round = 0; round < 2; ++round) {  // the four studies at once, then the first one on every thread
    std::vector<std::string> concurrent(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { concurrent[t] = runStudy(round == 0 ? t : 0, t); });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(concurrent[t], sequential[round == 0 ? t : 0]) << "thread " << t << ", round " << round;
  }
}

}  // namespace
