#include "csv.h"

#include <algorithm>
#include <iterator>

#include "arguments.h"
#include "tavrin/error.h"

namespace tavrin::cli {
namespace {

// A byte that starts a character (not a UTF-8 continuation byte).
bool startsCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }

class Reader {
 public:
  Reader(std::string text, const std::string& source) : text_(std::move(text)), source_(source) {
    if (text_.starts_with("\xEF\xBB\xBF")) at_ = 3;
  }

  std::vector<CsvRow> records() {
    std::vector<CsvRow> rows;
    while (at_ < text_.size()) {
      CsvRow row = record();
      const bool blank = row.size() == 1 && row[0].text.empty();
      if (!blank) rows.push_back(std::move(row));
    }
    return rows;
  }

 private:
  CsvRow record() {
    CsvRow row;
    while (true) {
      row.push_back(cell());
      if (at_ >= text_.size()) return row;
      const char c = text_[at_];
      advance();
      if (c == '\n') return row;
      if (c == '\r') {
        if (at_ < text_.size() && text_[at_] == '\n') advance();
        return row;
      }
    }
  }

  CsvCell cell() {
    CsvCell cell{{}, line_, column_};
    if (at_ < text_.size() && text_[at_] == '"') return quotedCell(cell);
    while (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '\n' && text_[at_] != '\r') {
      cell.text += text_[at_];
      advance();
    }
    return cell;
  }

  CsvCell quotedCell(CsvCell cell) {
    advance();
    while (true) {
      if (at_ >= text_.size()) throw ParseError(source_, cell.line, cell.column, "quoted cell without its closing quote");
      const char c = text_[at_];
      advance();
      if (c != '"') {
        cell.text += c;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == '"') {
        cell.text += '"';
        advance();
        continue;
      }
      if (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '\n' && text_[at_] != '\r')
        throw ParseError(source_, line_, column_, "text after the closing quote of a cell");
      return cell;
    }
  }

  void advance() {
    const char c = text_[at_++];
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else if (c != '\r' && startsCharacter(c)) {
      ++column_;
    }
  }

  std::string text_;
  const std::string& source_;
  std::size_t at_ = 0;
  std::size_t line_ = 1;
  std::size_t column_ = 1;
};

}  // namespace

std::vector<CsvRow> readCsv(std::istream& in, const std::string& source) {
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return Reader(std::move(text), source).records();
}

Matrix readPoints(std::istream& in, const std::string& source, const std::vector<Factor>& factors) {
  const std::vector<CsvRow> rows = readCsv(in, source);
  if (rows.empty()) throw ParseError(source, 0, 0, "no header row: the file is empty");
  const CsvRow& header = rows.front();
  std::vector<std::size_t> columnOf;
  for (const Factor& factor : factors) {
    // The run sheet's heading "Temperature [°C]" names the factor too.
    const std::string withUnit = factor.unit.empty() ? factor.name : factor.name + " [" + factor.unit + "]";
    const auto found = std::find_if(header.begin(), header.end(),
                                    [&](const CsvCell& c) { return c.text == factor.name || c.text == withUnit; });
    if (found == header.end()) throw ParseError(source, 1, 0, "no column \"" + factor.name + "\" (one column per factor is needed)");
    columnOf.push_back(static_cast<std::size_t>(found - header.begin()));
  }
  Matrix points(rows.size() - 1, factors.size());
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const CsvRow& row = rows[r];
    for (std::size_t f = 0; f < factors.size(); ++f) {
      if (columnOf[f] >= row.size())
        throw ParseError(source, row.back().line, 0, "the row has no cell in column \"" + factors[f].name + "\"");
      const CsvCell& cell = row[columnOf[f]];
      if (cell.text.find_first_not_of(" \t") == std::string::npos)
        throw ParseError(source, cell.line, cell.column, "empty cell in column \"" + factors[f].name + "\"");
      if (!parseNumber(cell.text, points(r - 1, f)))
        throw ParseError(source, cell.line, cell.column,
                         "\"" + cell.text + "\" in column \"" + factors[f].name + "\" is not a finite number");
    }
  }
  return points;
}

}  // namespace tavrin::cli
