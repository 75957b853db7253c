#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "study_helpers.h"

namespace {

using study::errorText;

enum Stage { Declared, Planned, Modeled, Optimized };

// Two variables x1 on [0, 10] and x2 on [-1, 1], objectives y1 and y2,
// advanced to `stage`; y1 measures x1's natural value, y2 is 1 everywhere.
std::unique_ptr<CTavrin> studyAt(Stage stage) {
  auto s = std::make_unique<CTavrin>(CTavrin::BoxBehnkenPlan);
  s->planAddDesignVar(L"x1", 0, 10);
  s->planAddDesignVar(L"x2", -1, 1);
  s->planAddObjective(L"y1");
  s->planAddObjective(L"y2");
  if (stage == Declared) return s;
  EXPECT_EQ(s->planCompute().code, 0u);
  if (stage == Planned) return s;
  for (unsigned r = 1; r <= 9; ++r) {
    double x1 = 0;
    s->planGetDesignVarValue(L"x1", L"y1", r, x1);
    s->planSetObjectiveValue(L"y1", r, x1);
    s->planSetObjectiveValue(L"y2", r, 1.0);
  }
  EXPECT_EQ(s->modelCompute().code, 0u);
  if (stage == Modeled) return s;
  s->modelSetObjectiveLimits(L"y1", 1, 0, 0);
  s->modelSetObjectiveLimits(L"y2", 0, 0, 2);
  s->modelSetDesignVarLimits(L"x1", 0, 10);
  EXPECT_EQ(s->modelOptimize(0, 8).code, 0u);
  return s;
}

struct Query {
  std::wstring op;
  bool needsModel;
  bool needsOptimized;
  std::function<Result(CTavrin&, const wchar_t* name, unsigned slot)> call;
  const wchar_t* goodName;
};

double sink[3];  // outputs of failing calls: must stay untouched

const std::vector<Query>& queries() {
  static const std::vector<Query> q = {
      {L"modelSetDesignVarValue", false, false, [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelSetDesignVarValue(n, 3); }, L"x1"},
      {L"modelGetObjectiveValue", true, false, [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelGetObjectiveValue(n, sink[0]); }, L"y1"},
      {L"modelSetObjectiveLimits", true, false, [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelSetObjectiveLimits(n, 1, 2, 3); }, L"y1"},
      {L"modelGetObjectiveLimits", true, false, [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelGetObjectiveLimits(n, sink[0], sink[1], sink[2]); }, L"y1"},
      {L"modelSetDesignVarLimits", true, false, [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelSetDesignVarLimits(n, 1, 2); }, L"x1"},
      {L"modelGetDesignVarLimits", true, false, [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelGetDesignVarLimits(n, sink[0], sink[1]); }, L"x1"},
      {L"modelGetObjectiveBestResult", true, true, [](CTavrin& s, const wchar_t* n, unsigned k) { return s.modelGetObjectiveBestResult(n, k, sink[0]); }, L"y1"},
      {L"modelGetDesignVarBestResult", true, true, [](CTavrin& s, const wchar_t* n, unsigned k) { return s.modelGetDesignVarBestResult(n, k, sink[0]); }, L"x1"},
  };
  return q;
}

void expectResult(const Result& r, unsigned code, const std::wstring& message, const std::wstring& op) {
  EXPECT_EQ(r.code, code) << std::string(op.begin(), op.end());
  EXPECT_EQ(std::wstring(r.message), message) << std::string(op.begin(), op.end());
}

// Codes in check order: 1 before 2 before 3 before 5, with the name
// looked up last; a failure writes no output.
TEST(ModelQueries, StageChecksComeBeforeTheNameLookup) {
  for (const Query& q : queries()) {
    for (Stage stage : {Declared, Planned, Modeled, Optimized}) {
      for (const wchar_t* name : {q.goodName, L"nope"}) {
        auto s = studyAt(stage);
        sink[0] = sink[1] = sink[2] = -123.0;
        const Result r = q.call(*s, name, 1);
        const bool good = name == q.goodName;
        if (stage == Declared) {
          expectResult(r, 1, errorText(q.op, L"Plan is not computed."), q.op);
        } else if (stage == Planned && q.needsModel) {
          expectResult(r, 2, errorText(q.op, L"Model is not computed."), q.op);
        } else if (stage != Optimized && q.needsOptimized) {
          expectResult(r, 3, errorText(q.op, L"Model is not optimized."), q.op);
        } else if (!good) {
          expectResult(r, 5, errorText(q.op, L"Variable is not found."), q.op);
        } else {
          expectResult(r, 0, L"No Errors", q.op);
        }
        if (r.code != 0) {
          EXPECT_TRUE(sink[0] == -123.0 && sink[1] == -123.0 && sink[2] == -123.0);
        }
      }
    }
  }
}

TEST(ModelQueries, SlotAboveFiveIsRefusedBeforeAnythingElse) {
  for (const Query& q : queries()) {
    if (!q.needsOptimized) continue;
    for (Stage stage : {Declared, Planned, Modeled, Optimized}) {
      auto s = studyAt(stage);
      expectResult(q.call(*s, L"nope", 6), 11, errorText(q.op, L"Index too large."), q.op);
      expectResult(q.call(*s, q.goodName, 4000000000u), 11, errorText(q.op, L"Index too large."), q.op);
    }
    expectResult(q.call(*studyAt(Declared), q.goodName, 5), 1, errorText(q.op, L"Plan is not computed."), q.op);
    auto s = studyAt(Optimized);
    sink[0] = -1;
    expectResult(q.call(*s, q.goodName, 0), 0, L"No Errors", q.op);
    EXPECT_EQ(sink[0], 0.0) << "slot 0 is never filled";
  }
}

struct FlagCase {
  std::function<Result(CTavrin&, const wchar_t*)> call;
  const wchar_t* goodName;
  bool modelAfter, optimizedAfter;
};

// Setters clear their flags once the stage checks pass, found or not;
// getters change nothing.
TEST(ModelQueries, FlagChangesHappenEvenWhenTheNameIsUnknown) {
  double a, b, c;
  const FlagCase cases[] = {
      {[](CTavrin& s, const wchar_t* n) { return s.modelSetDesignVarValue(n, 1); }, L"x2", false, false},
      {[](CTavrin& s, const wchar_t* n) { return s.modelSetObjectiveLimits(n, 1, 0, 1); }, L"y2", true, false},
      {[](CTavrin& s, const wchar_t* n) { return s.modelSetDesignVarLimits(n, 0, 1); }, L"x2", true, false},
      {[&](CTavrin& s, const wchar_t* n) { return s.modelGetObjectiveValue(n, a); }, L"y2", true, true},
      {[&](CTavrin& s, const wchar_t* n) { return s.modelGetObjectiveLimits(n, a, b, c); }, L"y2", true, true},
      {[&](CTavrin& s, const wchar_t* n) { return s.modelGetDesignVarLimits(n, a, b); }, L"x2", true, true},
      {[&](CTavrin& s, const wchar_t* n) { return s.modelGetObjectiveBestResult(n, 2, a); }, L"y2", true, true},
      {[&](CTavrin& s, const wchar_t* n) { return s.modelGetDesignVarBestResult(n, 2, a); }, L"x2", true, true},
  };
  for (const FlagCase& fc : cases) {
    for (const wchar_t* name : {fc.goodName, L"x3"}) {
      auto s = studyAt(Optimized);
      const unsigned code = fc.call(*s, name).code;
      EXPECT_EQ(code, name == fc.goodName ? 0u : 5u);
      EXPECT_TRUE(s->planIsComputed());
      EXPECT_EQ(s->modelIsComputed(), fc.modelAfter);
      EXPECT_EQ(s->modelIsOptimized(), fc.optimizedAfter);
    }
  }
  // A setter refused by the model check leaves the flags alone.
  auto s = studyAt(Planned);
  EXPECT_EQ(s->modelSetObjectiveLimits(L"y1", 1, 0, 1).code, 2u);
  EXPECT_TRUE(s->planIsComputed());
}

TEST(ModelQueries, LimitsStartAtZeroAndRoundTripInOrder) {
  auto s = studyAt(Modeled);
  double w = -1, lo = -1, hi = -1;
  ASSERT_EQ(s->modelGetObjectiveLimits(L"y2", w, lo, hi).code, 0u);
  EXPECT_EQ(w, 0.0);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 0.0);
  ASSERT_EQ(s->modelGetDesignVarLimits(L"x2", lo, hi).code, 0u);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 0.0);

  ASSERT_EQ(s->modelSetObjectiveLimits(L"y2", 2.5, 9, -4).code, 0u);  // low above high is stored
  ASSERT_EQ(s->modelSetDesignVarLimits(L"x2", 7, -7).code, 0u);
  ASSERT_EQ(s->modelGetObjectiveLimits(L"y2", w, lo, hi).code, 0u);
  EXPECT_EQ(w, 2.5);
  EXPECT_EQ(lo, 9.0);
  EXPECT_EQ(hi, -4.0);
  ASSERT_EQ(s->modelGetObjectiveLimits(L"y1", w, lo, hi).code, 0u);
  EXPECT_EQ(w, 0.0) << "other objective untouched";
  ASSERT_EQ(s->modelGetDesignVarLimits(L"x2", lo, hi).code, 0u);
  EXPECT_EQ(lo, 7.0);
  EXPECT_EQ(hi, -7.0);
  ASSERT_EQ(s->modelGetDesignVarLimits(L"x1", lo, hi).code, 0u);
  EXPECT_EQ(hi, 0.0);

  // modelCompute keeps them; a new planCompute clears them.
  ASSERT_EQ(s->modelCompute().code, 0u);
  ASSERT_EQ(s->modelGetObjectiveLimits(L"y2", w, lo, hi).code, 0u);
  EXPECT_EQ(w, 2.5);
  ASSERT_EQ(s->planCompute().code, 0u);
  ASSERT_EQ(s->modelCompute().code, 0u);
  ASSERT_EQ(s->modelGetObjectiveLimits(L"y2", w, lo, hi).code, 0u);
  EXPECT_EQ(w, 0.0);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 0.0);
  ASSERT_EQ(s->modelGetDesignVarLimits(L"x2", lo, hi).code, 0u);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 0.0);
}

// y1 measures x1 itself (runs at 0, 5, 10), so its model predicts x1.
TEST(ModelQueries, NewPointTakesEffectAtTheNextModelCompute) {
  auto s = studyAt(Modeled);
  double v = 0;
  ASSERT_EQ(s->modelGetObjectiveValue(L"y1", v).code, 0u);
  EXPECT_EQ(v, 5.0) << "current point is the centre run";
  ASSERT_EQ(s->modelSetDesignVarValue(L"x1", 20).code, 0u);  // outside the declared range
  EXPECT_EQ(s->modelGetObjectiveValue(L"y1", v).code, 2u);
  ASSERT_EQ(s->modelCompute().code, 0u);
  ASSERT_EQ(s->modelGetObjectiveValue(L"y1", v).code, 0u);
  EXPECT_EQ(v, 20.0);
  ASSERT_EQ(s->modelGetObjectiveValue(L"y2", v).code, 0u);
  EXPECT_EQ(v, 1.0);
}

TEST(ModelQueries, BestResultsNeedAFreshOptimization) {
  auto s = studyAt(Optimized);
  double v = 0;
  ASSERT_EQ(s->modelGetDesignVarBestResult(L"x1", 1, v).code, 0u);
  EXPECT_EQ(v, 8.75);  // the largest of the first eight points on [0, 10]
  ASSERT_EQ(s->modelGetObjectiveBestResult(L"y1", 1, v).code, 0u);
  EXPECT_EQ(v, 8.75);
  ASSERT_EQ(s->modelSetDesignVarLimits(L"x1", 0, 1).code, 0u);
  EXPECT_FALSE(s->modelIsOptimized());
  EXPECT_EQ(s->modelGetObjectiveBestResult(L"y1", 1, v).code, 3u);
  EXPECT_EQ(s->modelGetDesignVarBestResult(L"x1", 1, v).code, 3u);
}

}  // namespace
