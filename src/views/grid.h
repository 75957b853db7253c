// Shared helpers of the plot data: argument checks that name what is wrong,
// the runs' span of a factor and evenly spaced points along it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tavrin/matrix.h"
#include "tavrin/study.h"
#include "tavrin/views.h"

namespace tavrin::views::detail {

// InvalidArgument unless 2 <= steps <= 401.
void checkSteps(std::size_t steps);
// InvalidArgument unless `setting` has one finite value per factor; `what`
// names it in the message.
void checkSetting(const Fit& fit, const std::vector<double>& setting, const std::string& what);
// InvalidArgument for a factor index out of range.
void checkFactor(const Fit& fit, std::size_t factor);
void checkResponse(const Fit& fit, std::size_t response);
// InvalidArgument for a one-factor fit or x == y; `plot` names the picture.
void checkPair(const Fit& fit, std::size_t xFactor, std::size_t yFactor, const std::string& plot);

// The lowest and highest actual setting of the runs on a factor, natural units.
double spanLow(const Fit& fit, std::size_t factor);
double spanHigh(const Fit& fit, std::size_t factor);
// `steps` points from the span's low to its high end, both included.
std::vector<double> along(const Fit& fit, std::size_t factor, std::size_t steps);

// Points (rows) equal to `held` with column `factor` running through `values`.
Matrix sweep(const std::vector<double>& held, std::size_t factor, const std::vector<double>& values);
// The grid's points, y-major: row i * x.size() + j is (x[j], y[i]).
Matrix gridPoints(const Grid& grid);
Grid makeGrid(const Fit& fit, std::size_t xFactor, std::size_t yFactor, const std::vector<double>& held,
              std::size_t steps);
// Column `response` of points x responses predictions, as a y x x grid.
Matrix gridOf(const Grid& grid, const Matrix& predictions, std::size_t response);
// The runs' actual settings on the grid's factors.
DesignPoints designPoints(const Fit& fit, const Grid& grid);

}  // namespace tavrin::views::detail
