// Reading CSV (RFC 4180, UTF-8, header row) with the position of every
// cell, so that a bad cell is reported as source:line:column.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "tavrin/matrix.h"
#include "tavrin/study.h"

namespace tavrin::cli {

struct CsvCell {
  std::string text;
  std::size_t line = 0;
  std::size_t column = 0;  // in characters, from 1
};
using CsvRow = std::vector<CsvCell>;

// Every non-blank record; the first is the header. A leading byte-order
// mark is skipped; CRLF and LF both end a record. ParseError for an
// unterminated quote or text after a closing quote.
std::vector<CsvRow> readCsv(std::istream& in, const std::string& source);

// Points to evaluate: one column per factor, found by its name or by the
// run sheet's "Name [unit]" (other columns are ignored), one row per point; natural units. ParseError naming the
// missing column, an empty cell or a cell that is not a number.
Matrix readPoints(std::istream& in, const std::string& source, const std::vector<Factor>& factors);

}  // namespace tavrin::cli
