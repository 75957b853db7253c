// The run sheet: the plan as CSV in execution order, and results read back
// from CSV by run id.
#include <algorithm>
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

// What a column of a results table holds.
struct Column {
  enum Role { RunId, RunOrder, Factor, Response, Blank } role = Blank;
  std::size_t index = 0;  // of the factor or response
};

constexpr std::size_t kHeaderRow = static_cast<std::size_t>(-1);

// A table of results to enter: a header and rows of cells as text ("" is
// empty), with a way to refuse a cell or a header field by its place.
class EntryTable {
 public:
  virtual ~EntryTable() = default;
  virtual const std::vector<std::string>& header() const = 0;
  virtual std::size_t rowCount() const = 0;
  virtual const std::string& cell(std::size_t row, std::size_t column) const = 0;
  // Throws when a row does not fit the header.
  virtual void checkRow(std::size_t /*row*/) const {}
  // "line 4" or "row 3": where a row is, for messages.
  virtual std::string place(std::size_t row) const = 0;
  // Throws naming the place; `row` is kHeaderRow for the header.
  [[noreturn]] virtual void fail(std::size_t row, std::size_t column, const std::string& what) const = 0;
};

// Every name a column may carry, as the run sheet writes it, for suggestions.
std::vector<std::string> knownHeaders(const std::vector<Factor>& factors, const std::vector<Response>& responses) {
  std::vector<std::string> names;
  names.reserve(responses.size() + factors.size() + 1);
  for (const Response& r : responses) names.push_back(columnHeader(r.name, r.unit));
  for (const Factor& f : factors) names.push_back(columnHeader(f.name, f.unit));
  names.emplace_back(kRunIdHeader);
  return names;
}

std::string unknownColumnMessage(const std::string& name, const std::vector<Factor>& factors,
                                 const std::vector<Response>& responses) {
  std::string out = "column " + text::quoted(name) + " is not a response or factor of the study";
  const std::vector<std::string> similar = text::similarNames(name, knownHeaders(factors, responses));
  std::string list;
  for (const std::string& s : similar.empty() ? knownHeaders(factors, responses) : similar)
    list += (list.empty() ? "" : ", ") + text::quoted(s);
  out += similar.empty() ? " (the columns it knows are " + list + ")." : "; did you mean " + list + "?";
  return out + " Rename the column, or remove it: no column of results is ignored";
}

// Why a header row has no "run_id" column: a file separated by ";" or
// tabs (as spreadsheets save CSV in some locales) reads as one column.
std::string noRunIdMessage(const std::vector<std::string>& header) {
  std::string out = "the header row has no \"run_id\" column; the sheet needs one to match results to runs";
  if (header.size() != 1) return out;
  for (const auto& [separator, name] : {std::pair{';', "semicolons"}, std::pair{'\t', "tabs"}})
    if (header.front().find(separator) != std::string::npos)
      return out + ". Its fields are separated by " + name +
             ", not commas: save the sheet as CSV with commas (and a decimal point) and enter it again";
  return out;
}

std::vector<Column> readHeader(const EntryTable& table, const std::vector<Factor>& factors,
                               const std::vector<Response>& responses) {
  const std::vector<std::string>& header = table.header();
  if (std::find(header.begin(), header.end(), kRunIdHeader) == header.end())
    table.fail(kHeaderRow, header.size(), noRunIdMessage(header));
  std::vector<Column> columns(header.size());
  std::map<std::pair<int, std::size_t>, std::size_t> firstColumn;
  for (std::size_t col = 0; col < header.size(); ++col) {
    const std::string& name = header[col];
    Column& c = columns[col];
    if (name.empty()) continue;  // a blank column; its cells must be empty
    if (name == kRunIdHeader) {
      c.role = Column::RunId;
    } else if (name == kRunOrderHeader) {
      c.role = Column::RunOrder;
    } else {
      for (std::size_t j = 0; j < responses.size() && c.role == Column::Blank; ++j)
        if (name == responses[j].name || name == columnHeader(responses[j].name, responses[j].unit)) c = {Column::Response, j};
      for (std::size_t i = 0; i < factors.size() && c.role == Column::Blank; ++i)
        if (name == factors[i].name || name == columnHeader(factors[i].name, factors[i].unit)) c = {Column::Factor, i};
      if (c.role == Column::Blank) table.fail(kHeaderRow, col, unknownColumnMessage(name, factors, responses));
    }
    const auto [at, fresh] = firstColumn.emplace(std::pair{static_cast<int>(c.role), c.index}, col);
    if (!fresh)
      table.fail(kHeaderRow, col, "a second column " + text::quoted(name) + " (the first is column " +
                                      std::to_string(at->second + 1) + "); each run id, factor and response has one column");
  }
  return columns;
}

std::size_t readRunId(const EntryTable& table, std::size_t row, std::size_t col, std::size_t runs) {
  const std::string& text = table.cell(row, col);
  if (text.empty()) table.fail(row, col, "the row has no run id");
  const std::optional<double> value = text::parseDouble(text);
  if (!value || *value != std::floor(*value) || *value < 1 || *value > static_cast<double>(runs))
    table.fail(row, col, "run id " + text::quoted(text) + " is not a run of the study; run ids are 1.." +
                             std::to_string(runs));
  return static_cast<std::size_t>(*value) - 1;
}

// A setting as the table prints it matches the study's when it differs by
// at most half a unit in its last printed digit (a spreadsheet showing
// "183.33" for 183.3333...), plus 1e-9 relative for binary rounding.
bool sameSetting(std::string_view printed, double given, double study) {
  const double half = text::halfUnitInLastPlace(printed).value_or(0.0);
  return std::abs(given - study) <= half + 1e-9 * std::max(std::abs(given), std::abs(study));
}

// The results and actual settings after entering `table`, checked whole
// before anything changes.
struct Entered {
  Matrix results;
  Matrix actual;
};

Entered enter(const EntryTable& table, const Plan& plan, const std::vector<Response>& responses, const Matrix& results,
              SettingsColumns settings) {
  const std::vector<Column> columns = readHeader(table, plan.factors, responses);
  Entered out{results, plan.actual};
  std::vector<std::size_t> seenInRow(plan.runCount(), kHeaderRow);
  std::size_t idColumn = 0;
  while (columns[idColumn].role != Column::RunId) ++idColumn;
  for (std::size_t k = 0; k < table.rowCount(); ++k) {
    table.checkRow(k);
    const std::size_t run = readRunId(table, k, idColumn, plan.runCount());
    const std::string id = std::to_string(run + 1);
    if (seenInRow[run] != kHeaderRow)
      table.fail(k, idColumn, "run " + id + " is given twice; it was first given on " + table.place(seenInRow[run]));
    seenInRow[run] = k;
    for (std::size_t col = 0; col < columns.size(); ++col) {
      const Column& c = columns[col];
      const std::string& text = table.cell(k, col);
      if (c.role == Column::Blank && !text.empty())
        table.fail(k, col, "a value, " + text::quoted(text) + ", in a column without a header; name the column or clear it");
      if (c.role == Column::Response) {
        const std::optional<double> value = text.empty() ? std::optional<double>(std::nan("")) : text::parseDouble(text);
        if (!value || std::isinf(*value))
          table.fail(k, col, text::quoted(text) + " for response " + text::quoted(responses[c.index].name) +
                                 " is not a finite number; leave the cell empty for a missing result");
        out.results(run, c.index) = *value;
      }
      if (c.role != Column::Factor || text.empty()) continue;
      const Factor& factor = plan.factors[c.index];
      const std::optional<double> value = text::parseDouble(text);
      if (!value || !std::isfinite(*value))
        table.fail(k, col, text::quoted(text) + " for factor " + text::quoted(factor.name) +
                               " is not a finite number; a setting is a number, or an empty cell to leave it unchecked");
      const double planned = plan.natural(run, c.index);
      if (settings == SettingsColumns::RecordActual) {
        out.actual(run, c.index) = sameSetting(text, *value, planned) ? planned : *value;
        continue;
      }
      const double current = plan.actual(run, c.index);
      if (sameSetting(text, *value, current)) continue;
      const bool recorded = text::formatDouble(current) != text::formatDouble(planned);
      table.fail(k, col, "run " + id + ", factor " + text::quoted(factor.name) + ": the file has " + text +
                             ", the study has " + text::formatReadable(current) +
                             (recorded ? " (recorded as made; planned " + text::formatReadable(planned) + ")" : "") +
                             ". Are the rows under the right run ids? If the run was made at the file's setting, "
                             "enter the file in actual mode to record it");
    }
  }
  return out;
}

// A CSV file as an entry table: errors carry the file, line and column.
class CsvTable final : public EntryTable {
 public:
  CsvTable(const std::vector<csv::Record>& records, std::string source) : source_(std::move(source)) {
    for (const csv::Field& f : records.front().fields) header_.push_back(f.text);
    for (std::size_t k = 1; k < records.size(); ++k) {
      const csv::Record& r = records[k];
      // A row a spreadsheet left behind with every cell cleared is no row.
      if (std::all_of(r.fields.begin(), r.fields.end(), [](const csv::Field& f) { return f.text.empty(); })) continue;
      rows_.push_back(&r);
    }
    header_line_ = &records.front();
  }
  const std::vector<std::string>& header() const override { return header_; }
  std::size_t rowCount() const override { return rows_.size(); }
  const std::string& cell(std::size_t row, std::size_t column) const override {
    return rows_[row]->fields[column].text;
  }
  std::string place(std::size_t row) const override { return "line " + std::to_string(rows_[row]->line); }
  void checkRow(std::size_t row) const override {
    const csv::Record& r = *rows_[row];
    if (r.fields.size() != header_.size())
      throw ParseError(source_, r.line, 0,
                       "the row has " + std::to_string(r.fields.size()) + " fields; the header has " +
                           std::to_string(header_.size()));
  }
  [[noreturn]] void fail(std::size_t row, std::size_t column, const std::string& what) const override {
    const csv::Record& r = row == kHeaderRow ? *header_line_ : *rows_[row];
    if (column >= r.fields.size()) throw ParseError(source_, r.line, 0, what);
    throw ParseError(source_, r.fields[column].line, r.fields[column].column, what);
  }

 private:
  std::string source_;
  std::vector<std::string> header_;
  const csv::Record* header_line_ = nullptr;
  std::vector<const csv::Record*> rows_;
};

// Values given as a matrix, NaN for an empty cell: errors name the row.
class ValueTable final : public EntryTable {
 public:
  ValueTable(const std::vector<std::string>& columns, const Matrix& values) : header_(columns) {
    if (values.cols() != columns.size())
      throw InvalidArgument("the values have " + std::to_string(values.cols()) + " columns for " +
                            std::to_string(columns.size()) + " column names");
    cells_.resize(values.rows() * values.cols());
    for (std::size_t k = 0; k < cells_.size(); ++k)
      if (!std::isnan(values.data()[k])) cells_[k] = text::formatDouble(values.data()[k]);
  }
  const std::vector<std::string>& header() const override { return header_; }
  std::size_t rowCount() const override { return header_.empty() ? 0 : cells_.size() / header_.size(); }
  const std::string& cell(std::size_t row, std::size_t column) const override {
    return cells_[row * header_.size() + column];
  }
  std::string place(std::size_t row) const override { return "row " + std::to_string(row + 1); }
  [[noreturn]] void fail(std::size_t row, std::size_t /*column*/, const std::string& what) const override {
    if (row == kHeaderRow) throw InvalidArgument(what);
    throw InvalidArgument("row " + std::to_string(row + 1) + ": " + what);
  }

 private:
  std::vector<std::string> header_;
  std::vector<std::string> cells_;
};

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
    for (std::size_t i = 0; i < factors().size(); ++i) cell(text::formatDouble(plan_.actual(row, i)));
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

void Study::readResults(std::istream& in, const std::string& source, SettingsColumns settings) {
  const std::vector<csv::Record> records = csv::read(in, source);
  if (records.empty()) throw ParseError(source, 0, 0, "the sheet is empty; it needs a header row with \"run_id\"");
  Entered entered = enter(CsvTable(records, source), plan_, responses_, results_, settings);
  results_ = std::move(entered.results);
  plan_.actual = std::move(entered.actual);
}

void Study::enterResults(const std::vector<std::string>& columns, const Matrix& values, SettingsColumns settings) {
  Entered entered = enter(ValueTable(columns, values), plan_, responses_, results_, settings);
  results_ = std::move(entered.results);
  plan_.actual = std::move(entered.actual);
}

void Study::readResultsFile(const std::string& path, SettingsColumns settings) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    FileError error(path, "cannot open " + text::quoted(path) + " to read results: " + std::strerror(errno));
    if (errno == ENOENT) error.markNotFound();
    throw error;
  }
  readResults(in, path, settings);
}

}  // namespace tavrin
