#include "design/transforms.h"

namespace tavrin {

void mapRanges(int j, NumericWorkspace& ws) {
  for (int i = 1; i <= ws.varCount; ++i) {
    ws.levelLow[j][i] = ws.varMin[i];
    ws.levelHigh[j][i] = ws.varMax[i];
  }
}

void transformForward(int j, NumericWorkspace& ws, int& failure) {
  failure = 0;
  for (int i = 1; i <= ws.varCount; ++i) {
    const double lo = ws.levelLow[j][i];
    const double hi = ws.levelHigh[j][i];
    ws.pointCoded[i] = ((lo + hi) + (hi - lo) * ws.pointNatural[i]) / 2;
    ws.pointNatural[i] = ws.pointCoded[i];
  }
}

void transformInverse(int j, NumericWorkspace& ws, int& failure) {
  failure = 0;
  for (int i = 1; i <= ws.varCount; ++i) {
    const double lo = ws.levelLow[j][i];
    const double hi = ws.levelHigh[j][i];
    const double x = ws.pointNatural[i];
    ws.pointCoded[i] = (x + x - hi - lo) / (hi - lo);
  }
}

}  // namespace tavrin
