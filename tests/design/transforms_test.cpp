#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "design/transforms.h"

namespace {

// Three variables declared on [10, 20], [20, 10] (minimum above maximum)
// and [5, 5], for objective `j` of a workspace of three objectives.
tavrin::NumericWorkspace workspace() {
  tavrin::NumericWorkspace ws;
  ws.varCount = 3;
  ws.objCount = 3;
  const double kMin[] = {0, 10, 20, 5}, kMax[] = {0, 20, 10, 5};
  for (int i = 1; i <= 3; ++i) {
    ws.varMin[i] = kMin[i];
    ws.varMax[i] = kMax[i];
    for (int j = 1; j <= 3; ++j) ws.transformKind[j][i] = tavrin::kLinearTransform;
  }
  for (int j = 1; j <= 3; ++j) tavrin::mapRanges(j, ws);
  return ws;
}

}  // namespace

TEST(Transforms, RangeMappingCopiesTheDeclaredLimits) {
  const tavrin::NumericWorkspace ws = workspace();
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(ws.levelLow[j][1], 10);
    EXPECT_EQ(ws.levelHigh[j][1], 20);
    EXPECT_EQ(ws.levelLow[j][2], 20);
    EXPECT_EQ(ws.levelHigh[j][2], 10);
  }
  EXPECT_EQ(ws.levelLow[0][1], 0);  // row 0 is never written
}

TEST(Transforms, ForwardMapsCodedLevelsToNaturalValues) {
  const struct {
    double coded, natural[3];
  } kCases[] = {{-1, {10, 20, 5}}, {0, {15, 15, 5}}, {+1, {20, 10, 5}}, {+2, {25, 5, 5}}, {0.5, {17.5, 12.5, 5}}};
  for (int j = 1; j <= 3; ++j) {
    for (const auto& c : kCases) {
      tavrin::NumericWorkspace ws = workspace();
      for (int i = 1; i <= 3; ++i) ws.pointNatural[i] = c.coded;
      int failure = 7;
      tavrin::transformForward(j, ws, failure);
      EXPECT_EQ(failure, 0);
      for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(ws.pointNatural[i], c.natural[i - 1]) << "j " << j << " coded " << c.coded << " var " << i;
        EXPECT_EQ(ws.pointCoded[i], ws.pointNatural[i]);
      }
    }
  }
}

TEST(Transforms, InverseMapsNaturalValuesToCodedLevels) {
  const double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double natural, coded[3];
  } kCases[] = {{10, {-1, 1, kInf}}, {15, {0, 0, kInf}}, {20, {1, -1, kInf}}, {25, {2, -2, kInf}}, {0, {-3, 3, -kInf}}};
  for (int j = 1; j <= 3; ++j) {
    for (const auto& c : kCases) {
      tavrin::NumericWorkspace ws = workspace();
      for (int i = 1; i <= 3; ++i) ws.pointNatural[i] = c.natural;
      int failure = 7;
      tavrin::transformInverse(j, ws, failure);
      EXPECT_EQ(failure, 0);
      for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(ws.pointCoded[i], c.coded[i - 1]) << "j " << j << " natural " << c.natural << " var " << i;
        EXPECT_EQ(ws.pointNatural[i], c.natural);  // the input is left alone
      }
    }
  }
  // Equal limits divide by +0: above 5 gives +inf, below -inf, and 5 itself
  // 0 / 0.
  tavrin::NumericWorkspace ws = workspace();
  ws.pointNatural[3] = 5;
  int failure = 7;
  tavrin::transformInverse(2, ws, failure);
  EXPECT_TRUE(std::isnan(ws.pointCoded[3]));
  EXPECT_EQ(failure, 0);
}

TEST(Transforms, InverseUndoesForwardAtPlanLevels) {
  tavrin::NumericWorkspace ws = workspace();
  ws.varCount = 2;  // leave out the variable of equal limits
  for (double c : {-1.0, 0.0, 1.0}) {
    ws.pointNatural[1] = ws.pointNatural[2] = c;
    int failure = 0;
    tavrin::transformForward(1, ws, failure);
    tavrin::transformInverse(3, ws, failure);
    EXPECT_EQ(ws.pointCoded[1], c);
    EXPECT_EQ(ws.pointCoded[2], c);
  }
}
