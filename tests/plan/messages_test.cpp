#include <gtest/gtest.h>

#include <cwchar>
#include <set>
#include <string>
#include <utility>

#include "plan/messages.h"
#include "tavrin/tavrin.h"

using tavrin::Failure;
using tavrin::Op;

namespace {

// The name each operation shows in its messages, in the order of Op.
const wchar_t* const kOpNames[] = {
    L"planAddDesignVar",        L"planAddObjective",        L"planGetDesignVar",
    L"planGetObjective",        L"planGetObjective",        L"planCompute",
    L"planGetExperimentCount",  L"planGetDesignVarValue",   L"planGetObjectiveValue",
    L"planSetObjectiveValue",   L"modelCompute",            L"modelSetDesignVarValue",
    L"modelGetObjectiveValue",  L"modelSetObjectiveLimits", L"modelGetObjectiveLimits",
    L"modelSetDesignVarLimits", L"modelGetDesignVarLimits", L"modelOptimize",
    L"modelGetObjectiveBestResult", L"modelGetDesignVarBestResult", L"Save",
    L"Load",
};

unsigned int expectedCode(Op op, Failure why) {
  switch (why) {
    case Failure::PlanNotComputed: case Failure::PlanBuildFailed: return 1;
    case Failure::ModelNotComputed: return 2;
    case Failure::NotOptimized: return 3;
    case Failure::NoAdmissiblePoint: return 4;
    case Failure::NotFound: return 5;
    case Failure::DesignVarCount: return 6;
    case Failure::ObjectiveCount: return 7;
    case Failure::IndexTooLarge: return 11;
    case Failure::AddAfterPlan: return op == Op::planAddDesignVar ? 12 : 13;
    case Failure::FileVersion: case Failure::CannotOpenToSave: return 20;
    default: return 21;
  }
}

// The reason that follows "<op>(). " for each failure.
const wchar_t* reasonOf(Op op, Failure why) {
  switch (why) {
    case Failure::PlanNotComputed: return L"Plan is not computed.";
    case Failure::ModelNotComputed: return L"Model is not computed.";
    case Failure::NotOptimized: return L"Model is not optimized.";
    case Failure::NoAdmissiblePoint: return L"Can not find optimal results";
    case Failure::NotFound: return L"Variable is not found.";
    case Failure::DesignVarCount: return L"MapDesignVars size error.";
    case Failure::ObjectiveCount: return L"MapObjectives size error.";
    case Failure::PlanBuildFailed: return L"Plan is not computed. Check plan data";
    case Failure::IndexTooLarge: return L"Index too large.";
    case Failure::AddAfterPlan:
      return op == Op::planAddDesignVar ? L"Can not Add variable. Plan has been computed."
                                        : L"Can not Add objective. Plan has been computed.";
    case Failure::FileVersion: return L"File version is wrong.";
    case Failure::CannotOpenToSave: return L"Can not open file to save.";
    case Failure::CannotOpenToLoad: return L"Can not open file to load.";
    case Failure::CannotLoad: return L"Can not load from file.";
    case Failure::DesignVarName: return L"Design Variable Name is not valid.";
    case Failure::ObjectiveName: return L"Objective Name is not valid.";
    case Failure::CannotComputePlan: return L"Can not compute plan.";
    case Failure::CannotComputeModel: return L"Can not compute model.";
  }
  return L"";
}

}  // namespace

TEST(MessageTable, EveryEntryHasItsExactTextAndCode) {
  std::set<std::pair<Op, Failure>> seen;
  for (std::size_t k = 0; k < tavrin::kMessageCount; ++k) {
    const tavrin::MessageEntry& e = tavrin::kMessages[k];
    SCOPED_TRACE(testing::Message() << "entry " << k);
    EXPECT_TRUE(seen.insert({e.op, e.failure}).second) << "duplicate entry";
    // Only the add operations and the lookups by position write "error".
    const bool lower = e.op == Op::planAddDesignVar || e.op == Op::planAddObjective ||
                       e.op == Op::planGetDesignVar || e.op == Op::planGetObjectiveByIndex;
    const std::wstring expected = std::wstring(lower ? L"Tavrin error. " : L"Tavrin Error. ") +
                                  kOpNames[static_cast<int>(e.op)] + L"(). " + reasonOf(e.op, e.failure);
    EXPECT_EQ(std::wstring(e.text), expected);
    EXPECT_EQ(e.code, expectedCode(e.op, e.failure));
    const Result r = tavrin::failure(e.op, e.failure);
    EXPECT_EQ(r.code, e.code);
    EXPECT_STREQ(r.message, e.text);
  }
  EXPECT_EQ(tavrin::kMessageCount, 59u);  // one entry per failure the operations report
}
