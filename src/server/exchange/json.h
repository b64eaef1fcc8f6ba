#pragma once
// JSON for the tally exchange format, report definitions and the command-line
// client's output. Reading goes through simdjson, which validates the whole text
// before anything is read from it; writing builds an nlohmann document, which
// keeps members in the order they were set.

#include <simdjson.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace apura::server {

using Json = nlohmann::ordered_json;

class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A parsed text. Its elements point into it and live as long as it does.
class JsonText {
 public:
  // Throws JsonError on malformed text, starting "JSON line L, column C: ", or
  // "JSON: " for the few texts only simdjson refuses (a 65-bit integer).
  static JsonText Parse(std::string_view text);
  // Without a copy, for text read with simdjson's padding.
  static JsonText ParsePadded(const simdjson::padded_string& text);

  simdjson::dom::element root() const { return root_; }

 private:
  JsonText() = default;
  // Held apart: moving a parser would move what root_ points into.
  std::unique_ptr<simdjson::dom::parser> parser_;
  simdjson::dom::element root_;
};

// Member lookup; false when absent or when `obj` is no object.
bool FindMember(simdjson::dom::element obj, std::string_view key, simdjson::dom::element& out);

// Text for people and their scripts: members and nested lists indented, a list
// of scalars on one line. Bytes that are no UTF-8 are written as U+FFFD instead
// of failing the whole output.
std::string DumpJson(const Json& json, int indent);

}  // namespace apura::server
