// Writes the seed inputs of the two fuzz targets:
//   make_fuzz_seeds <tests/fuzz directory>
// corpus/load: plan files written with the library's own Save (Box-Behnken with
// 2 variables and 1 objective, Box-Behnken with 3 variables and 2 objectives,
// Rechtschaffner with 4 variables and 1 objective); corpus/api and
// regressions/api: scripts in the format that tests/fuzz/harness.h reads.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tavrin/tavrin.h"

namespace {

bool writeSeed(const std::string& path, CTavrin::PlanType type, int n, int m, unsigned version) {
  CTavrin study(type);
  const wchar_t* vars[] = {L"Speed", L"Feed", L"Depth", L"Angle"};
  const wchar_t* objectives[] = {L"Yield", L"Cost"};
  for (int i = 0; i < n; ++i) study.planAddDesignVar(vars[i], 10.0 * i, 10.0 * i + 5.5);
  for (int j = 0; j < m; ++j) study.planAddObjective(objectives[j]);
  if (study.planCompute().code != 0) return false;
  unsigned runs = 0;
  study.planGetExperimentCount(runs);
  for (int j = 0; j < m; ++j) {
    for (unsigned k = 1; k <= runs; ++k) study.planSetObjectiveValue(objectives[j], k, 50.0 + 3.0 * std::sin(k + j));
  }
  return study.modelCompute().code == 0 && study.Save(path.c_str(), version).code == 0;
}

// The operations of the script interpreter, in the order of its cases.
enum Op {
  SetType, AddVar, AddObj, FindVar, FindObj, Compute, Count, VarValue, ObjValue, SetValue, Model, SetPoint,
  Predict, SetObjLimits, GetObjLimits, SetVarLimits, GetVarLimits, Optimize, BestObj, BestVar, Save, Load, Copy
};
// Name bytes: "a", "b", "c", "d", "y", "z", "" and "a b".
enum Name { A, B, C, D, Y, Z, Empty, Blank };
// Number bytes: 0, 1, -1, 0.5, 2.75, 10, -7.5, 100, 1e300, -1e300, the largest double, +inf, -inf, NaN, ...
enum Number { N0, N1, Nm1, Nhalf, N275, N10, Nm75, N100, Big, MinusBig, Max, Inf, MinusInf, NaN };
// Selector bytes from 252: the experiment count - 1, the count, the count + 1, the largest number.
enum Selector { CountMinus1 = 252, CountItself, CountPlus1, Largest };

struct Step {
  Op op;
  Name v = A;
  Name o = Y;
  int sel = 1;
  Number x = N0, y = N10, z = N100;
  int span = 100;  // for Optimize: 200 points forwards
};
using Script = std::vector<Step>;

bool writeScript(const std::string& path, const Script& script) {
  std::string bytes;
  for (const Step& s : script) {
    for (int b : {static_cast<int>(s.op), static_cast<int>(s.v), static_cast<int>(s.o), s.sel, static_cast<int>(s.x),
                  static_cast<int>(s.y), static_cast<int>(s.z)}) {
      bytes += static_cast<char>(b);
    }
    if (s.op == Optimize) bytes += static_cast<char>(s.span);
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

// Measured values for experiments 1..runs of one objective.
Script measure(Name o, int runs) {
  Script s;
  for (int k = 1; k <= runs; ++k) s.push_back({SetValue, A, o, k, static_cast<Number>(k % 8)});
  return s;
}

Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Box-Behnken with a and b on [0, 10] and objective y: 9 experiments.
const Script kBoxBehnken = Script{{AddVar, A}, {AddVar, B}, {AddObj}, {Compute}, {Count}} + measure(Y, 9) + Script{{Model}};

Script bestResults(Name v, Name o) {
  Script s;
  for (int slot = 0; slot <= 6; ++slot) s.push_back({BestObj, v, o, slot}), s.push_back({BestVar, v, o, slot});
  return s;
}

const Script kOptimized = kBoxBehnken + Script{{SetObjLimits, A, Y, 1, N1, N0, N100}, {SetVarLimits, A, Y, 1, N0, N10},
                                              {SetVarLimits, B, Y, 1, N0, N10}, {Optimize}};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <tests/fuzz directory>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1], load = dir + "/corpus/load/", api = dir + "/corpus/api/", reg = dir + "/regressions/api/";
  bool ok = writeSeed(load + "box_behnken_2x1.plan", CTavrin::BoxBehnkenPlan, 2, 1, 1) &&
            writeSeed(load + "box_behnken_3x2.plan", CTavrin::BoxBehnkenPlan, 3, 2, 0) &&
            writeSeed(load + "rechtschaffner_4x1.plan", CTavrin::RechschafnerPlan, 4, 1, 1);

  ok = ok && writeScript(api + "box_behnken_study",
                         kOptimized + bestResults(A, Y) + Script{{Copy}, {BestVar, B, Y, 2}, {Predict}, {GetObjLimits}, {GetVarLimits, B}, {Save},
                                                                 {Load}, {Count}, {Optimize}, {BestObj}, {Copy}, {Copy, A, Y, 0, N0, N0, N0}});
  ok = ok && writeScript(api + "rechtschaffner_study",
                         Script{{SetType}, {AddVar, A, Y, 1, Nm1, N1}, {AddVar, B, Y, 1, N0, Nhalf}, {AddVar, C}, {AddVar, D},
                                {AddObj, A, Y}, {AddObj, A, Z}, {Compute}, {Count}} +
                             measure(Y, 15) + measure(Z, 15) +
                             Script{{Model}, {SetObjLimits, A, Y, 1, N1, MinusBig, Big}, {SetObjLimits, A, Z, 1, N0, MinusBig, Big},
                                    {Optimize, A, Y, 0, N0, N0, N0, 127}} +
                             bestResults(C, Z) + Script{{Save, A, Y, 0}, {Load}, {Compute}, {Model}, {Save, A, Y, 1}});
  ok = ok && writeScript(api + "names_and_errors",
                         Script{{FindVar}, {FindObj}, {Compute}, {AddVar, Empty}, {Compute}, {AddObj, A, Blank}, {FindVar, Empty},
                                {FindObj, A, Blank, 2}, {FindObj, A, Blank, 0}, {Compute}, {AddVar}, {AddObj}, {Count},
                                {VarValue, Empty, Blank, 1}, {VarValue, Blank, Blank, 1}, {ObjValue, A, Y, 1}, {Predict},
                                {Model}, {Predict, A, Blank}, {Predict, A, Y}, {BestObj, A, Blank, 1}, {BestObj, A, Blank, 6},
                                {BestVar, A, Y, Largest}, {FindVar, A, Y, 0}, {FindVar, A, Y, 3}, {SetType, A, Y, 2}, {AddVar},
                                {Compute}});
  ok = ok && writeScript(api + "limits_clear_optimized",
                         kOptimized + Script{{BestObj}, {SetObjLimits, A, Z, 1, N1}, {BestObj}, {Optimize}, {SetVarLimits, D},
                                             {BestVar}, {Optimize}, {SetPoint, C}, {Predict}, {Model}, {Optimize},
                                             {SetValue, A, Z, 1}, {Model}, {Optimize, A, Y, 0, N0, N0, N0, 0}, {BestObj},
                                             {SetObjLimits, A, Y, 1, N0, N100, N0}, {Optimize}, {BestVar, B, Y, 5},
                                             {SetObjLimits, A, Y, 1, N1, N0, N100}, {Optimize}, {SetType, A, Y, 2}, {BestObj}});
  ok = ok && writeScript(api + "plan_types_and_load",
                         Script{{Load}, {SetType, A, Y, 0}, {AddVar}, {AddVar, B}, {AddVar, C}, {AddVar, D}, {AddObj}, {Compute},
                                {SetType, A, Y, 3}, {Compute}, {Count}, {Save}, {Model}, {Save, A, Y, 2}, {Save, A, Y, 3},
                                {Save, A, Y, 129}, {Save, A, Y, 1}, {Load}, {Count}, {SetType, A, Y, 1}, {Compute}, {Model},
                                {Save, A, Y, 0}, {SetType, A, Y, 2}, {Load}, {Count}});
  ok = ok && writeScript(api + "experiment_zero_values",
                         kBoxBehnken + Script{{VarValue, A, Y, 0}, {ObjValue, A, Y, 0}, {SetValue, A, Y, 0, N10}, {ObjValue, A, Y, 0},
                                              {VarValue, A, Y, CountMinus1}, {VarValue, A, Y, CountItself},
                                              {VarValue, A, Y, CountPlus1}, {SetValue, A, Y, CountPlus1}, {Predict},
                                              {SetValue, A, Y, Largest}, {Predict}, {SetValue, A, Z, 3}, {Predict}});
  ok = ok && writeScript(api + "flags_and_codes_of_a_full_study",
                         Script{{Count}, {VarValue}, {Model}, {SetPoint}, {Predict}, {Optimize}, {BestObj}, {Save}} + kOptimized +
                             Script{{SetPoint, A, Y, 1, N0}, {Predict}, {Model}, {Predict}, {Optimize, A, Y, 6, N0, N0, N0, 10},
                                    {Optimize, A, Y, 2, N0, N0, N0, 250}, {Optimize, A, Y, 7, N0, N0, N0, 20}, {SetType, A, Y, 2},
                                    {BestObj}, {Predict}, {Compute}});

  // Regressions: scenarios that once went wrong.
  ok = ok && writeScript(reg + "count_after_failed_recompute",
                         kBoxBehnken + Script{{SetType, A, Y, 2}, {AddVar, C}, {Compute}, {Count}, {AddVar, D}, {Compute},
                                              {Count}, {Save}, {Model}, {Save}, {Load}, {Count}, {Compute}, {Count}});
  ok = ok && writeScript(reg + "namesakes_share_a_record",
                         Script{{AddVar}, {AddVar}, {AddObj}, {AddObj}, {Compute}, {VarValue, A, Y, 3}, {SetValue, A, Y, 3, N10},
                                {ObjValue, A, Y, 3}} +
                             measure(Y, 9) + Script{{Model}, {Predict}, {SetObjLimits}, {Optimize}, {BestObj}, {BestVar}});
  ok = ok && writeScript(reg + "set_value_after_unpredictable_load",
                         Script{{AddVar, Blank}, {AddVar, Empty}, {AddObj, A, Blank}, {AddObj, A, Empty}, {Compute}} +
                             measure(Blank, 9) + Script{{Model}, {Save}, {Load}, {Count}, {SetValue, A, Blank, 1}, {SetValue, A, Empty, 2},
                                                        {ObjValue, A, Blank, 1}, {Model}, {Predict, A, Blank}, {Save}, {Load}});
  return ok ? 0 : 1;
}
