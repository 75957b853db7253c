// Errors of the study layer. Every refused call throws one of these; the
// message names the offending item and says what is allowed. A refused
// call leaves the object it was called on unchanged.
//
// `field()` is the path of the input the error is about, as data, so a
// front end marks the field without reading the message: "factors[1].low",
// "responses[0].name", "goals[2].high", "constraints[0]", "region.Time",
// "factors" (their count), "search.points", "robustness.seed"; empty when
// the error is about no single field.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

#include "tavrin/api.h"

namespace tavrin {

class TAVRIN_LAYER_API Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what, std::string field = {})
      : std::runtime_error(what), field_(std::move(field)) {}
  const std::string& field() const noexcept { return field_; }

 private:
  std::string field_;
};

// A value outside what is allowed: a bad name, range, count or option.
class TAVRIN_LAYER_API InvalidArgument : public Error {
 public:
  using Error::Error;
};

// A factor, response or run that the study does not have.
class TAVRIN_LAYER_API UnknownName : public Error {
 public:
  using Error::Error;
};

// The operation needs something the study lacks yet, such as a fit that
// needs every result entered; the message lists what is missing.
class TAVRIN_LAYER_API StateError : public Error {
 public:
  using Error::Error;
};

// A file that cannot be opened, read or written; `path()` names it.
class TAVRIN_LAYER_API FileError : public Error {
 public:
  FileError(std::string path, const std::string& what) : Error(what), path_(std::move(path)) {}
  const std::string& path() const noexcept { return path_; }
  // True when the file does not exist (as opposed to unreadable or unwritable).
  bool notFound() const noexcept { return notFound_; }
  FileError& markNotFound() noexcept {
    notFound_ = true;
    return *this;
  }

 private:
  std::string path_;
  bool notFound_ = false;
};

// A file that another writer changed since it was read: saving over it
// would lose that writer's work. Reload it, or save under another name.
class TAVRIN_LAYER_API FileChanged : public FileError {
 public:
  using FileError::FileError;
};

// Malformed input text (CSV, study file). Line and column count from 1;
// 0 means the position does not apply (an empty file, a missing column).
class TAVRIN_LAYER_API ParseError : public Error {
 public:
  ParseError(std::string source, std::size_t line, std::size_t column, const std::string& what)
      : Error(format(source, line, column, what)), source_(std::move(source)), line_(line), column_(column) {}
  const std::string& source() const noexcept { return source_; }
  std::size_t line() const noexcept { return line_; }
  std::size_t column() const noexcept { return column_; }

 private:
  static std::string format(const std::string& source, std::size_t line, std::size_t column,
                            const std::string& what) {
    // Appended piece by piece: GCC 12 reports `":" + std::to_string(...)`
    // as an overlapping copy (a -Wrestrict false positive).
    std::string text = source;
    if (line > 0) {
      text += ':';
      text += std::to_string(line);
    }
    if (column > 0) {
      text += ':';
      text += std::to_string(column);
    }
    text += ": ";
    text += what;
    return text;
  }

  std::string source_;
  std::size_t line_;
  std::size_t column_;
};

}  // namespace tavrin
