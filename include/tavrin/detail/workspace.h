// The numeric workspace and the records of a study. Not part of the
// interface: CTavrin holds them by value, so their layout is visible here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tavrin/detail/table.h"

// Every result is reproducible to the last bit only when each operation is
// rounded as written; value-changing optimisation breaks that.
#if defined(TAVRIN_BUILDING_LIBRARY) && defined(__FAST_MATH__)
#error "Tavrin must not be built with -ffast-math: its results depend on IEEE rounding of every operation"
#endif

namespace tavrin {

// Arrays are indexed from 1; element 0 is never used.
inline constexpr int kMaxVars = 20;
inline constexpr int kMaxObjectives = 20;
inline constexpr int kSlots = 21;
inline constexpr int kBestSlots = 6;  // slot 0 unused, slots 1..5
static_assert(kSlots == kMaxVars + 1, "per-variable arrays are indexed 1..kMaxVars");
static_assert(kSlots == kMaxObjectives + 1, "per-objective arrays are indexed 1..kMaxObjectives");

// Every field is zero when the workspace is value-initialised.
struct NumericWorkspace {
  std::int32_t varCount = 0;
  std::int32_t runCount = 0;
  std::int32_t objCount = 0;
  std::int32_t transformKind[kSlots][kSlots] = {};
  double transformParam[kSlots][kSlots][3] = {};
  double objValue[kSlots] = {};
  double bestObjValue[kBestSlots][kSlots] = {};
  double bestVarValue[kBestSlots][kSlots] = {};
  double pointNatural[kSlots] = {};
  double pointCoded[kSlots] = {};
  double objWeight[kSlots] = {};
  double objLow[kSlots] = {};
  double objHigh[kSlots] = {};
  double searchLow[kSlots] = {};
  double searchHigh[kSlots] = {};
  double varMin[kSlots] = {};
  double varMax[kSlots] = {};
  double levelLow[kSlots][kSlots] = {};
  double levelHigh[kSlots][kSlots] = {};
  TriangularTable<float> coefTable;
  Table<float> obsTable;
  Table<std::int32_t> planMatrix;
};

struct DesignVarRecord {
  std::wstring name;
  std::int32_t index = 0;
  double minValue = 0.0;
  double maxValue = 0.0;
};

struct ObjectiveRecord {
  std::wstring name;
  std::int32_t index = 0;
};

struct DesignVarValuesRecord {
  std::wstring key;
  std::vector<double> values;
};

// The experiment table: records in the order planCompute builds them, plus
// a hash index from a key to its first record, so lookups stay O(1) even
// when 400 records share a table.
class ExperimentTable {
 public:
  void clear();
  // Appends a record keyed "designVar,objective" with no values.
  void append(const std::wstring& designVar, const std::wstring& objective);
  // The first record whose key is designVar + L"," + objective, or null.
  DesignVarValuesRecord* find(const wchar_t* designVar, const wchar_t* objective);
  const DesignVarValuesRecord* find(const wchar_t* designVar, const wchar_t* objective) const;
  const std::vector<DesignVarValuesRecord>& records() const { return records_; }

 private:
  void rebuildIndex();
  void indexRecord(std::uint32_t position);

  std::vector<DesignVarValuesRecord> records_;
  std::vector<std::uint32_t> firstByHash_;  // open addressing; 0 = empty, else position + 1
  std::vector<std::uint64_t> hashes_;       // hash of every record's key
};

}  // namespace tavrin
