#include "model/evaluate.h"

#include "design/transforms.h"

namespace tavrin {

void evaluateQuadratic(int j, NumericWorkspace& ws) {
  const int n = ws.varCount;
  const double* x = ws.pointCoded;
  float* const* b = ws.coefTable[static_cast<std::size_t>(j)];
  double y = b[0][0];
  y = y + (static_cast<double>(b[0][n]) + static_cast<double>(b[n][0]) * x[n]) * x[n];
  for (int i = n - 1; i >= 1; --i) {
    double s = 0.0;
    for (int k = n; k >= i + 1; --k) s = s + static_cast<double>(b[i][k - i]) * x[k];
    y = y + ((static_cast<double>(b[i][0]) * x[i] + static_cast<double>(b[0][i])) + s) * x[i];
  }
  ws.objValue[j] = y;
}

void evaluateModels(NumericWorkspace& ws, int& failure) {
  failure = 0;
  for (int j = 1; j <= ws.objCount; ++j) {
    transformInverse(j, ws, failure);
    evaluateQuadratic(j, ws);
  }
}

}  // namespace tavrin
