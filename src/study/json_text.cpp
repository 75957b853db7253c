#include "study/json_text.h"

#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

// Line and column (from 1, in characters) of byte `offset` of `text`.
std::pair<std::size_t, std::size_t> position(std::string_view text, std::size_t offset) {
  std::size_t line = 1, column = 1;
  for (std::size_t k = 0; k < offset && k < text.size(); ++k) {
    if (text[k] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  return {line, column};
}

// Offset of the first bracket that opens level kMaxJsonDepth + 1, outside
// strings; nothing when the text stays within the bound. Done before
// parsing, so that no deep tree is ever built, copied or destroyed.
std::optional<std::size_t> tooDeepAt(std::string_view text) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return k;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return std::nullopt;
}

struct DuplicateKey {
  std::string key;
};

using Json = nlohmann::json;

// The JSON library's tree builder, except that a failure keeps where it
// happened: the library reports a number beyond double's range (1e400) as
// an exception without a position, but hands the position to the builder.
class PositionedBuilder : public nlohmann::detail::json_sax_dom_callback_parser<Json> {
 public:
  using json_sax_dom_callback_parser::json_sax_dom_callback_parser;
  std::size_t failedAt = 0;  // 1-based position of the offending character

  template <class Exception>
  bool parse_error(std::size_t position, const std::string& token, const Exception& error) {
    // A syntax error stops at the offending character; a number out of
    // range has been read whole, so point at its first character.
    const bool number = std::is_same_v<Exception, nlohmann::detail::out_of_range>;
    failedAt = number && position >= token.size() ? position - token.size() + 1 : position;
    return json_sax_dom_callback_parser::parse_error(position, token, error);
  }
};

}  // namespace

nlohmann::json parseJsonText(std::string_view text, const std::string& source) {
  if (const std::optional<std::size_t> at = tooDeepAt(text)) {
    const auto [line, column] = position(text, *at);
    throw ParseError(source, line, column,
                     "not a valid study file: arrays and objects nest deeper than " + std::to_string(kMaxJsonDepth) +
                         " levels here");
  }
  // The keys seen so far in each open object, innermost last.
  std::vector<std::set<std::string, std::less<>>> keys;
  const Json::parser_callback_t refuseRepeatedKeys = [&keys](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) keys.emplace_back();
    if (event == Json::parse_event_t::object_end) keys.pop_back();
    if (event == Json::parse_event_t::key && !keys.back().insert(parsed.get<std::string>()).second)
      throw DuplicateKey{parsed.get<std::string>()};
    return true;
  };
  Json doc;
  PositionedBuilder builder(doc, refuseRepeatedKeys);
  try {
    Json::sax_parse(text.begin(), text.end(), &builder);
    return doc;
  } catch (const Json::exception& e) {
    const auto [line, column] = position(text, builder.failedAt == 0 ? 0 : builder.failedAt - 1);
    const std::string what = e.what();
    const std::size_t kind = what.find("] ");
    throw ParseError(source, line, column, "not a valid study file: " + what.substr(kind == std::string::npos ? 0 : kind + 2));
  } catch (const DuplicateKey& e) {
    throw ParseError(source, 0, 0, "not a valid study file: an object gives the key " + text::quoted(e.key) + " twice");
  }
}

}  // namespace tavrin
