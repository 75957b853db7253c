// The run sheet: the plan as CSV in execution order, and results read back
// from CSV by run id.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>

#include "study/csv.h"
#include "study/internal.h"
#include "study/text.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// "Temperature [°C]" for a factor or response with a unit, else the name.
std::string columnHeader(const std::string& name, const std::string& unit) {
  return unit.empty() ? name : name + " [" + unit + "]";
}

const csv::Field* fieldAt(const csv::Record& record, std::size_t column) {
  return column < record.fields.size() ? &record.fields[column] : nullptr;
}

// The header's columns: where the run id is, and which response each column holds.
struct SheetLayout {
  std::size_t runIdColumn = 0;
  std::vector<std::pair<std::size_t, std::size_t>> responseColumns;  // (column, response)
};

SheetLayout readHeader(const csv::Record& header, const std::vector<Response>& responses, const std::string& source) {
  SheetLayout layout;
  std::optional<std::size_t> runId;
  std::map<std::size_t, std::size_t> columnOfResponse;
  for (std::size_t col = 0; col < header.fields.size(); ++col) {
    const csv::Field& field = header.fields[col];
    if (field.text == kRunIdHeader) {
      if (runId)
        throw ParseError(source, field.line, field.column, "a second \"run_id\" column; a sheet has exactly one");
      runId = col;
      continue;
    }
    for (std::size_t j = 0; j < responses.size(); ++j) {
      const Response& r = responses[j];
      if (field.text != r.name && field.text != columnHeader(r.name, r.unit)) continue;
      if (columnOfResponse.count(j))
        throw ParseError(source, field.line, field.column,
                         "a second column for response " + text::quoted(r.name) + "; a response has one column");
      columnOfResponse[j] = col;
      layout.responseColumns.emplace_back(col, j);
      break;
    }
  }
  if (!runId)
    throw ParseError(source, header.line, 0,
                     "the header row has no \"run_id\" column; the sheet needs one to match results to runs");
  layout.runIdColumn = *runId;
  return layout;
}

int readRunId(const csv::Field* field, const csv::Record& record, std::size_t runs, const std::string& source) {
  if (!field || field->text.empty())
    throw ParseError(source, record.line, field ? field->column : 0, "the row has no run id");
  const std::optional<double> value = text::parseDouble(field->text);
  if (!value || *value != std::floor(*value) || *value < 1 || *value > static_cast<double>(runs))
    throw ParseError(source, field->line, field->column,
                     "run id " + text::quoted(field->text) + " is not a run of the plan; run ids are 1.." +
                         std::to_string(runs));
  return static_cast<int>(*value);
}

}  // namespace

void Study::writeRunSheet(std::ostream& out) const {
  std::string text;
  const auto cell = [&text](std::string_view field) {
    text += ',';
    text += field;
  };
  text += kRunIdHeader;
  cell(kRunOrderHeader);
  for (const Factor& f : factors()) cell(csv::escape(columnHeader(f.name, f.unit)));
  for (const Response& r : responses_) cell(csv::escape(columnHeader(r.name, r.unit)));
  text += "\r\n";
  for (std::size_t k = 0; k < plan_.executionOrder.size(); ++k) {
    const int id = plan_.executionOrder[k];
    const auto row = static_cast<std::size_t>(id - 1);
    text += std::to_string(id);
    cell(std::to_string(k + 1));
    for (std::size_t i = 0; i < factors().size(); ++i) cell(text::formatDouble(plan_.natural(row, i)));
    for (std::size_t j = 0; j < responses_.size(); ++j) {
      const double value = results_(row, j);
      cell(std::isnan(value) ? std::string() : text::formatDouble(value));
    }
    text += "\r\n";
  }
  out << text;
}

std::string Study::runSheet() const {
  std::ostringstream out;
  writeRunSheet(out);
  return out.str();
}

void Study::readResults(std::istream& in, const std::string& source) {
  const std::vector<csv::Record> records = csv::read(in, source);
  if (records.empty()) throw ParseError(source, 0, 0, "the sheet is empty; it needs a header row with \"run_id\"");
  const SheetLayout layout = readHeader(records.front(), responses_, source);
  const std::size_t width = records.front().fields.size();

  // Everything is read into a copy first, so that bad input changes nothing.
  Matrix results = results_;
  std::vector<std::size_t> seenOnLine(plan_.runCount(), 0);
  for (std::size_t k = 1; k < records.size(); ++k) {
    const csv::Record& record = records[k];
    if (record.fields.size() != width)
      throw ParseError(source, record.line, 0,
                       "the row has " + std::to_string(record.fields.size()) + " fields; the header has " +
                           std::to_string(width));
    const csv::Field* idField = fieldAt(record, layout.runIdColumn);
    const int id = readRunId(idField, record, plan_.runCount(), source);
    const auto row = static_cast<std::size_t>(id - 1);
    if (seenOnLine[row] != 0)
      throw ParseError(source, idField->line, idField->column,
                       "run " + std::to_string(id) + " is given twice; it was first given on line " +
                           std::to_string(seenOnLine[row]));
    seenOnLine[row] = record.line;
    for (const auto& [column, response] : layout.responseColumns) {
      const csv::Field& field = record.fields[column];
      if (field.text.empty()) {
        results(row, response) = std::numeric_limits<double>::quiet_NaN();
        continue;
      }
      const std::optional<double> value = text::parseDouble(field.text);
      if (!value || !std::isfinite(*value))
        throw ParseError(source, field.line, field.column,
                         text::quoted(field.text) + " for response " + text::quoted(responses_[response].name) +
                             " is not a finite number; leave the cell empty for a missing result");
      results(row, response) = *value;
    }
  }
  results_ = std::move(results);
}

void Study::readResultsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    FileError error(path, "cannot open " + text::quoted(path) + " to read results: " + std::strerror(errno));
    if (errno == ENOENT) error.markNotFound();
    throw error;
  }
  readResults(in, path);
}

}  // namespace tavrin
