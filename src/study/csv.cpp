#include "study/csv.h"

#include <iterator>

#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin::csv {
namespace {

// Walks the text byte by byte, keeping the line and the character column.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool done() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }
  bool peekIs(char c) const { return !done() && text_[pos_] == c; }
  std::size_t line() const { return line_; }
  std::size_t column() const { return column_; }

  char take() {
    const char c = text_[pos_++];
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++column_;  // continuation bytes belong to the character before
    }
    return c;
  }
  void skipBom() {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t column_ = 1;
};

bool atRecordEnd(const Cursor& c) { return c.done() || c.peek() == '\n' || c.peek() == '\r'; }

// Consumes "\n" or "\r\n" (a lone "\r" ends a record too).
void takeLineBreak(Cursor& c) {
  if (c.peekIs('\r')) c.take();
  if (c.peekIs('\n')) c.take();
}

Field readQuoted(Cursor& c, const std::string& source) {
  Field field{{}, c.line(), c.column()};
  c.take();  // the opening quote
  for (;;) {
    if (c.done())
      throw ParseError(source, field.line, field.column, "the quoted field starting here has no closing quote");
    const char ch = c.take();
    if (ch != '"') {
      field.text += ch;
      continue;
    }
    if (c.peekIs('"')) {
      field.text += c.take();
      continue;
    }
    if (!c.done() && c.peek() != ',' && !atRecordEnd(c))
      throw ParseError(source, c.line(), c.column(),
                       "unexpected text after a closing quote; a quoted field ends at a comma or a line break");
    return field;
  }
}

Field readPlain(Cursor& c, const std::string& source) {
  Field field{{}, c.line(), c.column()};
  while (!c.done() && c.peek() != ',' && !atRecordEnd(c)) {
    if (c.peek() == '"')
      throw ParseError(source, c.line(), c.column(),
                       "a quote inside an unquoted field; quote the whole field and double the quote");
    field.text += c.take();
  }
  return field;
}

}  // namespace

std::vector<Record> read(std::istream& in, const std::string& source) {
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw ParseError(source, 0, 0, "the text could not be read");
  Cursor c(text);
  c.skipBom();
  std::vector<Record> records;
  while (!c.done()) {
    if (c.peek() == '\n' || c.peek() == '\r') {  // a blank line
      takeLineBreak(c);
      continue;
    }
    Record record{{}, c.line()};
    for (;;) {
      Field field = c.peekIs('"') ? readQuoted(c, source) : readPlain(c, source);
      if (!text::isValidUtf8(field.text))
        throw ParseError(source, field.line, field.column,
                         "the field is not valid UTF-8; the file may be in a legacy encoding such as Windows-1252: "
                         "save it from the spreadsheet as \"CSV UTF-8\" and enter it again");
      record.fields.push_back(std::move(field));
      if (!c.peekIs(',')) break;
      c.take();
    }
    takeLineBreak(c);
    records.push_back(std::move(record));
  }
  return records;
}

std::string escape(std::string_view field) {
  const bool needsQuotes = field.find_first_of(",\"\r\n") != std::string_view::npos ||
                           (!field.empty() && (field.front() == ' ' || field.back() == ' '));
  if (!needsQuotes) return std::string(field);
  std::string out = "\"";
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace tavrin::csv
