#include "design/plan_kinds.h"

#include "design/plans.h"
#include "model/estimators.h"

namespace tavrin {
namespace {

// The workspace holds at most kMaxVars design variables.
bool rechtschaffnerSupports(int n) { return n >= 4 && n <= kMaxVars; }

constexpr PlanKind kRechtschaffner{CTavrin::RechschafnerPlan, rechtschaffnerSupports, rechtschaffnerRunCount,
                                   buildRechtschaffnerPlan, fitRechtschaffner};
constexpr PlanKind kBoxBehnken{CTavrin::BoxBehnkenPlan, boxBehnkenSupports, boxBehnkenRunCount,
                               buildBoxBehnkenPlan, fitBoxBehnken};

}  // namespace

const PlanKind& planKindOf(CTavrin::PlanType type) {
  return type == CTavrin::BoxBehnkenPlan ? kBoxBehnken : kRechtschaffner;
}

const PlanKind& planKindOfFileType(int fileType) {
  return fileType == CTavrin::RechschafnerPlan ? kRechtschaffner : kBoxBehnken;
}

}  // namespace tavrin
