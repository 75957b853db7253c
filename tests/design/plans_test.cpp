#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "design/plans.h"
#include "design/tables.h"
#include "design/transforms.h"
#include "plan/study_fixture.h"

using namespace tavrin_test;

// Runs 1.. as words of '+', '-', '0' over columns 1.. (row 0 and column 0 are unused).
static std::string describe(const tavrin::Table<std::int32_t>& plan) {
  std::string out;
  for (std::size_t r = 1; r < plan.rowCount(); ++r)
    for (std::size_t i = 1; i < plan.colCount(); ++i)
      out += std::string(i == 1 && r > 1 ? " " : "") + "?-0+?"[std::clamp(plan[r][i], -2, 2) + 2];
  return out;
}

// All at -1; each alone at -1; each pair at +1 in order; each alone at +1; the centre.
TEST(RechtschaffnerPlan, FourVariablesAndEverySupportedCount) {
  EXPECT_EQ(describe(tavrin::buildRechtschaffnerPlan(4)),
            "---- -+++ +-++ ++-+ +++- ++-- +-+- +--+ -++- -+-+ --++ +000 0+00 00+0 000+ 0000");
  for (int n = 4; n <= 20; ++n) {
    std::string expected(n, '-'), run;
    for (int k = 0; k < n; ++k) (run = std::string(n, '+'))[k] = '-', expected += ' ' + run;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j)
        run = std::string(n, '-'), run[i] = run[j] = '+', expected += ' ' + run;
    for (int k = 0; k < n; ++k) (run = std::string(n, '0'))[k] = '+', expected += ' ' + run;
    EXPECT_EQ(describe(tavrin::buildRechtschaffnerPlan(n)), expected + ' ' + std::string(n, '0')) << n;
  }
}

// Each block (variables a = 1, b = 2, ...) crossed with its two-level factorial, then the centre run.
TEST(BoxBehnkenPlan, EverySupportedCountRunByRun) {
  EXPECT_EQ(describe(tavrin::buildBoxBehnkenPlan(1)) + "|" + describe(tavrin::buildBoxBehnkenPlan(2)),
            "- + 0|++ -+ +- -- +0 -0 0+ 0- 00");
  EXPECT_EQ(describe(tavrin::buildBoxBehnkenPlan(3)), "++0 +-0 -+0 --0 +0+ +0- -0+ -0- 0++ 0+- 0-+ 0-- 000");
  const std::string kFactorial[] = {"++ +- -+ --", "+++ ++- +-- --- --+ -++ +-+ -+-",
      "---- +--+ -+-+ ++-- --+- +-++ -+++ +++- ++++ -++- +-+- --++ ++-+ -+-- +--- ---+"};
  const std::pair<int, const char*> kBlocks[] = {{3, "ab ac bc"}, {4, "ab cd ad bc ac bd"},
      {5, "ab cd be ac de bc ad ce ae bd"}, {6, "abd bce cdf ade bef acf"},
      {7, "def afg beg abd cdg ace bcf"}, {9, "adg beh cfi abc def ghi aei cdh bfg afh bdi ceg adg beh cfi"},
      {10, "bfgj abej bcgh bdfi ahij cdej adgh cegi acfi defh"},
      {11, "cghik adhij beijk acfjk abdgk abceh bcdfi cdegj defhk aefgi bfghj"},
      {12, "abeg bcfh cdgi dehj efik fgjl aghk bhil acij bdjk cekl adfl"},
      {16, "abfi cdhk ejmn glop bcgj adel fkno himp befm dgho aijn cklp cfgn aehp bjko dilm acmo bdnp egik "
           "fhjl dfjp ceio agkm bhln"}};
  std::string expected, block, row;
  for (const auto& [n, blocks] : kBlocks) {
    expected.clear();
    for (std::istringstream bs(blocks); bs >> block;)
      for (std::istringstream fs(kFactorial[std::min<std::size_t>(block.size(), 4) - 2]); fs >> row;) {
        if (block.size() == 5) row += std::count(row.begin(), row.end(), '-') % 2 ? '-' : '+';
        std::string run(n, '0');
        for (std::size_t t = 0; t < block.size(); ++t) run[block[t] - 'a'] = row[t];
        expected += run + ' ';
      }
    EXPECT_EQ(describe(tavrin::buildBoxBehnkenPlan(n)), expected + std::string(n, '0')) << n;
  }
}

// {type, variables, objectives, code, runs}: "code flags runs vars objs"; a refusal changes nothing.
TEST(PlanCompute, CountsRefusedOrAcceptedByType) {
  const int BB = 2, R = 1, kCases[][5] = {{BB, 0, 1, 6, 0}, {BB, 8, 1, 6, 0}, {BB, 17, 1, 6, 0},
      {R, 3, 1, 6, 0}, {R, 21, 1, 6, 0}, {BB, 8, 0, 6, 0}, {R, 3, 21, 6, 0}, {BB, 2, 0, 7, 0},
      {BB, 16, 21, 7, 0}, {R, 4, 0, 7, 0}, {BB, 1, 1, 0, 3}, {BB, 12, 1, 0, 193}, {BB, 16, 20, 0, 385},
      {R, 4, 1, 0, 15}, {R, 20, 20, 0, 231}, {0, 4, 1, 0, 15}, {7, 8, 2, 0, 45}};
  for (const auto& c : kCases) {
    auto s = makeStudy(static_cast<CTavrin::PlanType>(c[0]), c[1], c[2]);
    const unsigned code = s->planCompute().code;
    unsigned runs = 0, vars = 0, objs = 0;
    s->planGetExperimentCount(runs), s->planGetDesignVarCount(vars), s->planGetObjectiveCount(objs);
    std::ostringstream got, expected;
    got << code << ' ' << flags(*s) << ' ' << runs << ' ' << vars << ' ' << objs;
    expected << c[3] << (c[3] ? " --- " : " P-- ") << c[4] << ' ' << c[1] << ' ' << c[2];
    EXPECT_EQ(got.str(), expected.str());
  }
}

// Range 0.1 .. 0.7: literals from tests/golden/golden.py, where a different order of the operations shows.
TEST(Transforms, RangesNotExactInBinary) {
  CTavrin s(CTavrin::BoxBehnkenPlan);
  s.planAddDesignVar(L"x", 0.1, 0.7), s.planAddObjective(L"y");
  double v[5] = {};
  unsigned failed = s.planCompute().code;
  for (unsigned r = 1; r <= 3; ++r) failed += s.planGetDesignVarValue(L"x", L"y", r, v[r - 1]).code;
  tavrin::NumericWorkspace ws;
  ws.varCount = ws.objCount = 1, ws.varMin[1] = 0.1, ws.varMax[1] = 0.7, ws.pointNatural[1] = 0.3;
  tavrin::mapRanges(1, ws);
  int failure = 0;
  tavrin::transformInverse(1, ws, failure);
  failed += s.modelCompute().code + s.modelSetObjectiveLimits(L"y", 1, 0, 0).code;
  failed += s.modelSetDesignVarLimits(L"x", 0.1, 0.7).code + s.modelOptimize(3, 4).code;
  failed += s.modelGetDesignVarBestResult(L"x", 1, v[4]).code;  // point 3: t = 0.75
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ((std::vector<double>{v[0], v[1], v[2], ws.pointCoded[1], v[4]}),
            (std::vector<double>{0x1.9999999999998p-4, 0x1.6666666666666p-1, 0x1.9999999999999p-2,
                                 -0x1.5555555555555p-2, 0x1.1999999999999p-1}));
}
