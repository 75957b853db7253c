// RFC 4180 CSV: reading into records with the position of every field,
// and quoting for writing.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::csv {

struct Field {
  std::string text;
  std::size_t line;    // from 1
  std::size_t column;  // from 1, in characters, where the field starts
};

struct Record {
  std::vector<Field> fields;
  std::size_t line;  // the line where the record starts
};

// Reads every record: fields separated by commas, records by CRLF or LF,
// fields in double quotes may hold commas, line breaks and doubled quotes.
// A UTF-8 byte order mark at the start is skipped; blank lines are
// skipped. ParseError (with `source`) on an unterminated quote, text after
// a closing quote, a quote inside an unquoted field or invalid UTF-8.
std::vector<Record> read(std::istream& in, const std::string& source);

// The field as written in a record: quoted when it holds a comma, a
// quote, a line break or a leading or trailing blank.
std::string escape(std::string_view field);

}  // namespace tavrin::csv
