// Tavrin: design of experiments and quadratic response surfaces.
//
// One CTavrin object holds one study: declare design variables and
// objectives, compute the experiment plan, enter the measured values, fit
// one quadratic model per objective, search the models for the best points,
// and save or load the whole study as a plan file.
//
// Every operation returns a Result; code 0 means success. Output arguments
// are written only on success (Load writes `version` early, see there).
// Names are null-terminated wide texts; a null name is read as "".
#pragma once

#include <vector>

#include "tavrin/detail/workspace.h"

#if defined(_WIN32)
#if defined(TAVRIN_BUILDING_LIBRARY)
#define TAVRIN_API __declspec(dllexport)
#else
#define TAVRIN_API __declspec(dllimport)
#endif
#else
#define TAVRIN_API __attribute__((visibility("default")))
#endif

// Outcome of an operation: a code (0 = success) and an owned message of at
// most 298 characters; element 299 is always null.
struct TAVRIN_API Result {
  static constexpr unsigned int kMessageSize = 300;

  unsigned int code;
  wchar_t message[kMessageSize];

  // Copies at most 298 characters of `message` (null reads as "").
  Result(unsigned int code = 0, const wchar_t* message = L"No Errors");
  Result(const Result& other) = default;
  // Copies the code and the text by the same rule as the constructor.
  Result& operator=(const Result& other);
};

class TAVRIN_API CTavrin {
 public:
  // Any value is stored unvalidated; every value other than BoxBehnkenPlan
  // builds a Rechtschaffner plan.
  enum PlanType : int { RechschafnerPlan = 1, BoxBehnkenPlan = 2 };

  // Version written by Save and expected in plan files.
  static const unsigned int FILE_CURRENT_VERSION = 1;
  // Number of best points kept by modelOptimize (slots 1..5).
  static const unsigned int BestResultCount = 5;

  // An empty study of the given plan type; no flag set, no table held.
  explicit CTavrin(PlanType type);
  // Deep, independent copies of the whole study, flags included.
  CTavrin(CTavrin const& other);
  CTavrin& operator=(CTavrin const& other);
  virtual ~CTavrin();

  bool planIsComputed() const;
  bool modelIsComputed() const;
  bool modelIsOptimized() const;

  // Stores `type` and clears all three flags; registries are kept.
  Result planSetType(PlanType const& type);
  Result planGetType(PlanType& type) const;

  // Appends a design variable (code 12 once the plan is computed).
  Result planAddDesignVar(wchar_t const* name, double min, double max);
  // Appends an objective (code 13 once the plan is computed).
  Result planAddObjective(wchar_t const* name);
  Result planGetDesignVarCount(unsigned int& count) const;
  Result planGetObjectiveCount(unsigned int& count) const;
  // By 0-based position. `name` points into the registry and stays valid
  // until the registry changes, the object is assigned or destroyed, or Load runs.
  Result planGetDesignVar(int index, wchar_t const*& name, double& min, double& max);
  // By name; the first variable added under that name wins.
  Result planGetDesignVar(wchar_t const* name, double& min, double& max);
  Result planGetObjective(int index, wchar_t const*& name);
  // Code 0 if an objective of that name exists, else code 5.
  Result planGetObjective(wchar_t const* name);

  // Builds the plan and experiment table from the registries; discards all
  // measured values, the model, limits and best points.
  Result planCompute();
  Result planGetExperimentCount(unsigned int& count) const;
  // Natural value of `designVar` in experiment 1..N as seen by `objective`.
  Result planGetDesignVarValue(wchar_t const* designVar, wchar_t const* objective,
                               unsigned int experiment, double& value);
  // Measured values are held in single precision.
  Result planGetObjectiveValue(wchar_t const* objective, unsigned int experiment, double& value);
  Result planSetObjectiveValue(wchar_t const* objective, unsigned int experiment, double value);

  // Fits one quadratic model per objective and evaluates it at the current point.
  Result modelCompute();
  // Moves the current point; the models are re-evaluated by the next modelCompute.
  Result modelSetDesignVarValue(wchar_t const* designVar, double value);
  // Prediction at the current point (or at the last point modelOptimize tried).
  Result modelGetObjectiveValue(wchar_t const* objective, double& value);
  // Weight in the score; a weight of zero makes the objective a constraint
  // that rejects predictions outside [low, high].
  Result modelSetObjectiveLimits(wchar_t const* objective, double weight, double low, double high);
  Result modelGetObjectiveLimits(wchar_t const* objective, double& weight, double& low, double& high);
  // Search range of a design variable for modelOptimize.
  Result modelSetDesignVarLimits(wchar_t const* designVar, double low, double high);
  Result modelGetDesignVarLimits(wchar_t const* designVar, double& low, double& high);
  // Tries LPtau points first..last-1; code 4 if none is admissible.
  Result modelOptimize(unsigned int first, unsigned int last);
  // Best results, slot 1 (best) to 5; slot 0 reads 0.0.
  Result modelGetObjectiveBestResult(wchar_t const* objective, unsigned int slot, double& value);
  Result modelGetDesignVarBestResult(wchar_t const* designVar, unsigned int slot, double& value);

  // Writes the study as a plan file; version 0 or 1. A regular file is
  // written beside the target and renamed over it, so a failed write (code
  // 20) leaves an existing file as it was.
  Result Save(char const* path, unsigned int version);
  // Replays a plan file onto this object; `version` is written as soon as it
  // is read. Running out of memory while the file is read gives code 21 and
  // leaves the object as it was.
  Result Load(char const* path, unsigned int& version);

 private:
  tavrin::NumericWorkspace Workspace;
  bool PlanComputed;
  bool ModelComputed;
  bool ModelOptimized;
  std::vector<tavrin::DesignVarRecord> MapDesignVars;
  std::vector<tavrin::ObjectiveRecord> MapObjectives;
  tavrin::ExperimentTable MapDesignVarValues;
  PlanType CurrentPlanType;
};
