// The small languages of the command line's option values: factor and
// response definitions, "Name=value" assignments, intervals, goals and
// points. A malformed value throws UsageError naming it, which the command
// line reports with exit status 2; what the values mean is left to the layer.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tavrin/optimum.h"
#include "tavrin/study.h"

namespace tavrin::cli {

// Bad usage: an option value that does not follow its syntax.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a whole value as a finite double ("1e7", "-0.25", "+3"), blanks
// around it allowed; false when the text is anything else.
bool parseNumber(std::string_view text, double& value);

// "Temperature=150:210[°C]"; the unit is optional, names may hold blanks.
Factor parseFactor(std::string_view text);
// A factor of existing data: as above, or "Name" / "Name[unit]" without a
// coding (low and high NaN: the layer codes it by the data).
Factor parseDataFactor(std::string_view text);
// "Yield" or "Yield[%]".
Response parseResponse(std::string_view text);

// "Name=value" -> (Name, value).
std::pair<std::string, double> parseAssignment(std::string_view text, std::string_view what);
// "Name=lo:hi" -> (Name, lo, hi); "Name<=hi" and "Name>=lo" leave the other
// side infinite.
struct NamedInterval {
  std::string name;
  double low;
  double high;
};
NamedInterval parseInterval(std::string_view text, std::string_view what);

// Desirability goals:
//   maximize "R", "R>=lo", "R=lo:hi"   (0 at lo rising to 1 at hi)
//   minimize "R", "R<=hi", "R=lo:hi"   (1 at lo falling to 0 at hi)
//   target   "R=t", "R=lo:t:hi"        (1 at t, 0 at lo and hi)
// Bounds not given are left NaN for the layer's defaults.
Goal parseGoal(Goal::Kind kind, std::string_view text);

// Every --maximize, --minimize and --target, in that order; and every
// --within as a hard constraint.
std::vector<Goal> parseGoals(const std::vector<std::string>& maximize, const std::vector<std::string>& minimize,
                             const std::vector<std::string>& target);
std::vector<Constraint> parseConstraints(const std::vector<std::string>& within);

// "Temperature=180,Time=30" -> values by name in the order given.
std::vector<std::pair<std::string, double>> parsePoint(std::string_view text);

}  // namespace tavrin::cli
