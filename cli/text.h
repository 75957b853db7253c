// The text outputs for people: aligned tables of the study layer's values.
// Numbers show 6 significant digits (p values 3, settings and responses
// more when their spread is small beside their size); the JSON outputs
// carry the same numbers in full precision.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tavrin/analysis.h"
#include "tavrin/optimum.h"
#include "tavrin/study.h"
#include "tavrin/verdict.h"

namespace tavrin::cli {

// %.6g (or `digits` significant digits); "n/a" for NaN, "inf", "-inf".
std::string formatNumber(double value, int digits = 6);

// Significant digits (6..17) that show values between `low` and `high` to
// 1e-5 of their spread, so that 1e7 and 1e7 + 0.5 print apart.
int digitsFor(double low, double high);
// Digits for a factor's settings, and for a response's values given its
// observations (the finite entries of column `response`).
int digitsOf(const Factor& factor);
int digitsOf(const Matrix& observations, std::size_t response);

// Columns separated by two blanks; text columns left-aligned, the others
// right-aligned; widths in characters of UTF-8.
class Table {
 public:
  explicit Table(std::vector<std::string> headings, std::vector<bool> leftAligned = {});
  void add(std::vector<std::string> cells);
  void print(std::ostream& out, int indent = 2) const;

 private:
  std::vector<std::string> headings_;
  std::vector<bool> left_;
  std::vector<std::vector<std::string>> rows_;
};

// "Temperature [°C]", or the name alone without a unit.
std::string label(const Factor& factor);
std::string label(const Response& response);

void printStudy(std::ostream& out, const Study& study);
// The verdict first, then the statistics with their meanings, coefficients, lack of fit and canonical analysis.
void printAnalysis(std::ostream& out, const FitReport& report, const Canonical& canonical,
                   const std::vector<Factor>& factors, const Verdict& verdict, bool diagnostics);
void printOptimum(std::ostream& out, const Fit& fit, const Goals& goals, const Optimum& optimum);
void printRobustness(std::ostream& out, const Fit& fit, const Goals& goals, const Robustness& robustness,
                     std::uint64_t seed);
void printPredictions(std::ostream& out, const Fit& fit, const Matrix& points,
                      const std::vector<std::vector<Prediction>>& predictions, double confidence);

}  // namespace tavrin::cli
