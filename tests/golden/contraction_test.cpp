// Fails when the compiler fuses a multiply and an add of the numeric code
// into one rounding (contraction), on the scalar path, on both block
// variants and in the search mapping. The operands are chosen so that the
// fused result differs from the two-rounding one; `volatile` keeps the
// expected values in this file rounded step by step whatever the flags.
#include <gtest/gtest.h>

#include <cmath>

#include "design/tables.h"
#include "model/evaluate.h"
#include "model/evaluate_block.h"
#include "optimize/search.h"

namespace {

// B01 cancels most of B10 x and B00 most of the rest, so every fusion shows.
const double kX = 0x1.91b752265b1f5p+0;
const float kSquare = 0x1.d8f16ap+0f, kLinear = -0x1.73126ap+1f, kConstant = 0x1.f320b2p-25f;

// y = B00 + (B01 + B10 x) x for n = 1, rounded after every operation.
double unfused() {
  volatile double product = kSquare * kX;
  volatile double inner = product + kLinear;
  volatile double outer = inner * kX;
  return kConstant + outer;
}

tavrin::NumericWorkspace oneVariableModel() {
  tavrin::NumericWorkspace ws;
  ws.varCount = ws.objCount = 1;
  ws.coefTable = tavrin::allocTriangularTable<float>(2, 2);
  ws.coefTable[1][0][0] = kConstant, ws.coefTable[1][0][1] = kLinear, ws.coefTable[1][1][0] = kSquare;
  ws.levelLow[1][1] = -1, ws.levelHigh[1][1] = 1;  // codes x as itself
  return ws;
}

TEST(Contraction, ModelEvaluationRoundsEveryOperation) {
  volatile double product = kSquare * kX;
  const double inner = product + kLinear, fusedInner = std::fma(double{kSquare}, kX, double{kLinear});
  for (double fused : {kConstant + fusedInner * kX, std::fma(inner, kX, double{kConstant}),
                       std::fma(fusedInner, kX, double{kConstant})})
    ASSERT_NE(unfused(), fused);
  tavrin::NumericWorkspace ws = oneVariableModel();
  ws.pointCoded[1] = kX;
  tavrin::evaluateQuadratic(1, ws);
  EXPECT_EQ(ws.objValue[1], unfused());

  tavrin::PreparedModels models;
  ASSERT_TRUE(tavrin::prepareModels(ws, models));
  tavrin::BlockColumn natural[2] = {}, coded[2] = {}, values[2] = {};
  for (double& lane : natural[1].lane) lane = kX;
  using tavrin::BlockPath;
  for (BlockPath path : {BlockPath::Baseline, BlockPath::Avx2, BlockPath::Avx512}) {
    if (!tavrin::useBlockPath(path)) continue;
    tavrin::evaluateBlock(models, natural, coded, values);
    for (double lane : values[1].lane) EXPECT_EQ(lane, unfused()) << "path " << static_cast<int>(path);
  }
  tavrin::useBlockPath(BlockPath::Best);
}

// Point 3 has t = 0.75; (high - low) t + low with high - low = 1 + 2^-52 rounds the product.
TEST(Contraction, SearchMappingRoundsTheProduct) {
  const double low = -0.75, high = 0.25 + std::ldexp(1.0, -52);
  volatile double range = high - low;
  volatile double scaled = range * 0.75;
  const double expected = scaled + low;
  ASSERT_NE(expected, std::fma(high - low, 0.75, low));
  for (tavrin::SearchPath path : {tavrin::SearchPath::PointByPoint, tavrin::SearchPath::Blocks}) {
    tavrin::NumericWorkspace ws = oneVariableModel();
    ws.coefTable[1][0][0] = ws.coefTable[1][0][1] = ws.coefTable[1][1][0] = 0;  // every point scores 0
    ws.objWeight[1] = 1, ws.searchLow[1] = low, ws.searchHigh[1] = high;
    ASSERT_TRUE(tavrin::searchBestPoints(ws, 3, 19, path));
    EXPECT_EQ(ws.bestVarValue[1][1], expected);  // slot 1 keeps the first point tried
  }
}

}  // namespace
