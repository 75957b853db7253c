#include <string_view>
#include <utility>

#include "plan/messages.h"
#include "plan/registry.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

std::uint64_t hashAppend(std::uint64_t hash, std::wstring_view text) {
  for (wchar_t c : text) {
    hash ^= static_cast<std::uint64_t>(static_cast<std::uint32_t>(c));
    hash *= kFnvPrime;
  }
  return hash;
}

// Hash of the key designVar + "," + objective, without forming it.
std::uint64_t keyHash(std::wstring_view designVar, std::wstring_view objective) {
  return hashAppend(hashAppend(hashAppend(kFnvOffset, designVar), L","), objective);
}

bool keyEquals(const std::wstring& key, std::wstring_view designVar, std::wstring_view objective) {
  const std::wstring_view k(key);
  return k.size() == designVar.size() + 1 + objective.size() && k.substr(0, designVar.size()) == designVar &&
         k[designVar.size()] == L',' && k.substr(designVar.size() + 1) == objective;
}

}  // namespace

void ExperimentTable::clear() {
  records_.clear();
  hashes_.clear();
  firstByHash_.clear();
}

void ExperimentTable::append(const std::wstring& designVar, const std::wstring& objective) {
  std::wstring key;
  key.reserve(designVar.size() + 1 + objective.size());
  key.append(designVar).append(1, L',').append(objective);
  records_.push_back({std::move(key), {}});
  hashes_.push_back(keyHash(designVar, objective));
  if (2 * records_.size() > firstByHash_.size()) {
    rebuildIndex();
  } else {
    indexRecord(static_cast<std::uint32_t>(records_.size() - 1));
  }
}

void ExperimentTable::rebuildIndex() {
  std::size_t capacity = 16;
  while (capacity < 4 * records_.size()) capacity *= 2;
  firstByHash_.assign(capacity, 0);
  for (std::uint32_t position = 0; position < records_.size(); ++position) indexRecord(position);
}

void ExperimentTable::indexRecord(std::uint32_t position) {
  // Only the first record of a key is indexed: an equal key found on the
  // way means an earlier record already answers for it.
  const std::size_t mask = firstByHash_.size() - 1;
  for (std::size_t slot = hashes_[position] & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = firstByHash_[slot];
    if (entry == 0) {
      firstByHash_[slot] = position + 1;
      return;
    }
    if (hashes_[entry - 1] == hashes_[position] && records_[entry - 1].key == records_[position].key) return;
  }
}

const DesignVarValuesRecord* ExperimentTable::find(const wchar_t* designVar, const wchar_t* objective) const {
  if (records_.empty()) return nullptr;
  const std::wstring_view var = nameOf(designVar);
  const std::wstring_view obj = nameOf(objective);
  const std::uint64_t hash = keyHash(var, obj);
  const std::size_t mask = firstByHash_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = firstByHash_[slot];
    if (entry == 0) return nullptr;
    if (hashes_[entry - 1] == hash && keyEquals(records_[entry - 1].key, var, obj)) return &records_[entry - 1];
  }
}

DesignVarValuesRecord* ExperimentTable::find(const wchar_t* designVar, const wchar_t* objective) {
  return const_cast<DesignVarValuesRecord*>(std::as_const(*this).find(designVar, objective));
}

}  // namespace tavrin

using tavrin::Failure;
using tavrin::Op;

Result CTavrin::planGetExperimentCount(unsigned int& count) const {
  if (!PlanComputed) return tavrin::failure(Op::planGetExperimentCount, Failure::PlanNotComputed);
  count = static_cast<unsigned int>(Workspace.runCount);
  return Result();
}

Result CTavrin::planGetDesignVarValue(wchar_t const* designVar, wchar_t const* objective, unsigned int experiment,
                                      double& value) {
  const Op op = Op::planGetDesignVarValue;
  if (!PlanComputed) return tavrin::failure(op, Failure::PlanNotComputed);
  if (experiment > static_cast<unsigned int>(Workspace.runCount)) return tavrin::failure(op, Failure::IndexTooLarge);
  const tavrin::DesignVarValuesRecord* record = MapDesignVarValues.find(designVar, objective);
  if (!record || experiment == 0 || experiment > record->values.size()) return tavrin::failure(op, Failure::NotFound);
  value = record->values[experiment - 1];
  return Result();
}

Result CTavrin::planGetObjectiveValue(wchar_t const* objective, unsigned int experiment, double& value) {
  const Op op = Op::planGetObjectiveValue;
  if (!PlanComputed) return tavrin::failure(op, Failure::PlanNotComputed);
  if (experiment > static_cast<unsigned int>(Workspace.runCount)) return tavrin::failure(op, Failure::IndexTooLarge);
  const tavrin::ObjectiveRecord* record = tavrin::findObjective(MapObjectives, objective);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  value = static_cast<double>(Workspace.obsTable[static_cast<std::size_t>(record->index)][experiment]);
  return Result();
}

Result CTavrin::planSetObjectiveValue(wchar_t const* objective, unsigned int experiment, double value) {
  const Op op = Op::planSetObjectiveValue;
  if (!PlanComputed) return tavrin::failure(op, Failure::PlanNotComputed);
  if (experiment > static_cast<unsigned int>(Workspace.runCount)) return tavrin::failure(op, Failure::IndexTooLarge);
  ModelComputed = ModelOptimized = false;
  const tavrin::ObjectiveRecord* record = tavrin::findObjective(MapObjectives, objective);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  Workspace.obsTable[static_cast<std::size_t>(record->index)][experiment] = static_cast<float>(value);
  return Result();
}
