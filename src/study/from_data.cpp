// A study whose runs are rows of existing data rather than a generated plan.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <cmath>
#include <limits>
#include <string>

#include "study/csv.h"
#include "study/internal.h"
#include "study/text.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// Fills the coding of factors given without one from the data's minimum
// and maximum; refuses a half-given coding or a setting that is not finite.
void codeFactors(std::vector<Factor>& factors, const Matrix& settings) {
  for (std::size_t i = 0; i < factors.size(); ++i) {
    Factor& f = factors[i];
    const std::string item = "factor " + std::to_string(i + 1) + " " + text::quoted(f.name);
    for (std::size_t r = 0; r < settings.rows(); ++r)
      if (!std::isfinite(settings(r, i)))
        throw InvalidArgument(item + ", row " + std::to_string(r + 1) + ": the setting " +
                              (std::isnan(settings(r, i)) ? std::string("is missing") : "is infinite") +
                              "; every run needs a finite setting of every factor");
    if (std::isnan(f.low) != std::isnan(f.high))
      throw InvalidArgument(item + ": give both ends of the coding (low:high) or neither");
    if (!std::isnan(f.low)) continue;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (std::size_t r = 0; r < settings.rows(); ++r) {
      low = std::min(low, settings(r, i));
      high = std::max(high, settings(r, i));
    }
    if (!(low < high))
      throw InvalidArgument(item + ": every row has the setting " + text::formatDouble(low) +
                            ", so the data give it no range to code; a factor must vary");
    f.low = low;
    f.high = high;
  }
}

}  // namespace

std::vector<FactorSpan> spans(const Plan& plan) {
  const Matrix coded = plan.actualCoded();
  std::vector<FactorSpan> out;
  for (std::size_t i = 0; i < plan.factorCount(); ++i) {
    FactorSpan s{plan.factors[i].name, std::numeric_limits<double>::infinity(),
                 -std::numeric_limits<double>::infinity(), 0, 0};
    for (std::size_t r = 0; r < plan.runCount(); ++r) {
      s.lowCoded = std::min(s.lowCoded, coded(r, i));
      s.highCoded = std::max(s.highCoded, coded(r, i));
    }
    s.low = plan.runCount() == 0 ? plan.factors[i].low : toNatural(plan.factors[i], s.lowCoded);
    s.high = plan.runCount() == 0 ? plan.factors[i].high : toNatural(plan.factors[i], s.highCoded);
    out.push_back(s);
  }
  return out;
}

Study Study::fromData(std::vector<Factor> factors, std::vector<Response> responses, const Matrix& settings,
                      const Matrix& results, std::vector<int> blocks) {
  const std::size_t runs = settings.rows();
  if (runs == 0) throw InvalidArgument("the data have no rows; a study needs runs");
  if (settings.cols() != factors.size())
    throw InvalidArgument("the settings have " + std::to_string(settings.cols()) + " columns for " +
                          std::to_string(factors.size()) + " factors");
  if (results.rows() != runs || results.cols() != responses.size())
    throw InvalidArgument("the results are " + std::to_string(results.rows()) + " x " + std::to_string(results.cols()) +
                          "; the data need " + std::to_string(runs) + " rows x " + std::to_string(responses.size()) +
                          " responses");
  if (blocks.empty()) blocks.assign(runs, 1);
  if (blocks.size() != runs)
    throw InvalidArgument("there are " + std::to_string(blocks.size()) + " blocks for " + std::to_string(runs) + " rows");
  for (std::size_t r = 0; r < runs; ++r)
    if (blocks[r] < 1)
      throw InvalidArgument("row " + std::to_string(r + 1) + ": block " + std::to_string(blocks[r]) +
                            " is not a block number (1, 2, ...)");
  for (std::size_t k = 0; k < runs * results.cols(); ++k)
    if (std::isinf(results.data()[k]))
      throw InvalidArgument("row " + std::to_string(k / results.cols() + 1) + ", response " +
                            text::quoted(responses[k % results.cols()].name) +
                            ": the result is infinite; a result is a finite number, or NaN for missing");
  codeFactors(factors, settings);
  validateDefinition(DesignKind::Imported, factors, responses);

  Study study;
  Plan& plan = study.plan_;
  plan.kind = DesignKind::Imported;
  plan.natural = settings;
  plan.actual = settings;
  plan.coded = Matrix(runs, factors.size());
  for (std::size_t r = 0; r < runs; ++r)
    for (std::size_t i = 0; i < factors.size(); ++i) plan.coded(r, i) = toCoded(factors[i], settings(r, i));
  plan.blocks = std::move(blocks);
  plan.origins.assign(runs, RunOrigin::Imported);
  plan.executionOrder.resize(runs);
  for (std::size_t r = 0; r < runs; ++r) plan.executionOrder[r] = static_cast<int>(r) + 1;
  plan.factors = std::move(factors);
  study.responses_ = std::move(responses);
  study.results_ = results;
  return study;
}

namespace {

// A refused cell of a data table; each reader turns it into its own error
// with the cell's place.
struct CellError {
  std::size_t row;
  std::size_t column;
  std::string what;
};

[[noreturn]] void refuse(std::size_t row, std::size_t column, const std::string& what) {
  throw CellError{row, column, what};
}

std::size_t columnOf(const std::vector<std::string>& header, const std::string& name, const std::string& unit,
                     const std::string& what) {
  const std::string withUnit = unit.empty() ? name : name + " [" + unit + "]";
  for (std::size_t c = 0; c < header.size(); ++c)
    if (header[c] == name || header[c] == withUnit) return c;
  std::string list;
  for (const std::string& h : header) list += (list.empty() ? "" : ", ") + text::quoted(h);
  const std::vector<std::string> similar = text::similarNames(name, header);
  throw InvalidArgument("the data have no column for " + what + " " + text::quoted(name) +
                        (similar.empty() ? "" : " (did you mean " + text::quoted(similar.front()) + "?)") +
                        "; the columns are " + list);
}

Study importTable(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                  std::vector<Factor> factors, std::vector<Response> responses, const std::string& blockColumn,
                  std::vector<std::string>* ignoredColumns) {
  std::vector<std::size_t> factorColumns, responseColumns;
  for (const Factor& f : factors) factorColumns.push_back(columnOf(header, f.name, f.unit, "factor"));
  for (const Response& r : responses) responseColumns.push_back(columnOf(header, r.name, r.unit, "response"));
  std::optional<std::size_t> blockAt;
  if (!blockColumn.empty()) blockAt = columnOf(header, blockColumn, "", "the block column");
  if (ignoredColumns) {
    ignoredColumns->clear();
    for (std::size_t c = 0; c < header.size(); ++c)
      if (std::count(factorColumns.begin(), factorColumns.end(), c) + std::count(responseColumns.begin(), responseColumns.end(), c) == 0 &&
          blockAt != c)
        ignoredColumns->push_back(header[c]);
  }

  std::vector<std::size_t> kept;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (std::all_of(rows[k].begin(), rows[k].end(), [](const std::string& cell) { return cell.empty(); })) continue;
    if (rows[k].size() != header.size())
      refuse(k, header.size(), "the row has " + std::to_string(rows[k].size()) + " cells; the header has " +
                                          std::to_string(header.size()));
    kept.push_back(k);
  }
  Matrix settings(kept.size(), factors.size()), results(kept.size(), responses.size());
  std::vector<int> blocks;
  for (std::size_t r = 0; r < kept.size(); ++r) {
    const std::vector<std::string>& row = rows[kept[r]];
    for (std::size_t i = 0; i < factors.size(); ++i) {
      const std::string& cell = row[factorColumns[i]];
      const std::optional<double> value = text::parseDouble(cell);
      if (!value || !std::isfinite(*value))
        refuse(kept[r], factorColumns[i],
               text::quoted(cell) + " for factor " + text::quoted(factors[i].name) +
                   " is not a finite number; every run needs a setting of every factor");
      settings(r, i) = *value;
    }
    for (std::size_t j = 0; j < responses.size(); ++j) {
      const std::string& cell = row[responseColumns[j]];
      const std::optional<double> value = cell.empty() ? std::optional<double>(std::nan("")) : text::parseDouble(cell);
      if (!value || std::isinf(*value))
        refuse(kept[r], responseColumns[j],
               text::quoted(cell) + " for response " + text::quoted(responses[j].name) +
                   " is not a finite number; leave the cell empty for a missing result");
      results(r, j) = *value;
    }
    if (!blockAt) continue;
    const std::string& cell = row[*blockAt];
    const std::optional<double> value = text::parseDouble(cell);
    if (!value || *value != std::floor(*value) || *value < 1 || *value > 1e6)
      refuse(kept[r], *blockAt, "block " + text::quoted(cell) + " is not a block number 1, 2, ...");
    blocks.push_back(static_cast<int>(*value));
  }
  return Study::fromData(std::move(factors), std::move(responses), settings, results, std::move(blocks));
}

}  // namespace

Study Study::fromTable(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                       std::vector<Factor> factors, std::vector<Response> responses, const std::string& blockColumn,
                       std::vector<std::string>* ignoredColumns) {
  try {
    return importTable(header, rows, std::move(factors), std::move(responses), blockColumn, ignoredColumns);
  } catch (const CellError& e) {
    throw InvalidArgument("row " + std::to_string(e.row + 1) +
                          (e.column < header.size() ? ", column " + text::quoted(header[e.column]) : "") + ": " + e.what);
  }
}

Study Study::fromDataCsv(std::istream& in, const std::string& source, std::vector<Factor> factors,
                         std::vector<Response> responses, const std::string& blockColumn,
                         std::vector<std::string>* ignoredColumns) {
  const std::vector<csv::Record> records = csv::read(in, source);
  if (records.empty()) throw ParseError(source, 0, 0, "the data table is empty; it needs a header row");
  std::vector<std::string> header;
  for (const csv::Field& f : records.front().fields) header.push_back(f.text);
  std::vector<std::vector<std::string>> rows;
  for (std::size_t k = 1; k < records.size(); ++k) {
    rows.emplace_back();
    for (const csv::Field& f : records[k].fields) rows.back().push_back(f.text);
  }
  try {
    return importTable(header, rows, std::move(factors), std::move(responses), blockColumn, ignoredColumns);
  } catch (const CellError& e) {
    const csv::Record& r = records[e.row + 1];
    if (e.column >= r.fields.size()) throw ParseError(source, r.line, 0, e.what);
    throw ParseError(source, r.fields[e.column].line, r.fields[e.column].column, e.what);
  }
}

Study Study::fromDataFile(const std::string& path, std::vector<Factor> factors, std::vector<Response> responses,
                          const std::string& blockColumn, std::vector<std::string>* ignoredColumns) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    FileError error(path, "cannot open the data table " + text::quoted(path) + ": " + std::strerror(errno));
    if (errno == ENOENT) error.markNotFound();
    throw error;
  }
  return fromDataCsv(in, path, std::move(factors), std::move(responses), blockColumn, ignoredColumns);
}

}  // namespace tavrin
