#include "server/exchange/json.h"

#include <cstdint>

namespace apura::server {

namespace {

// simdjson says whether a text is JSON but not where it stops being; on a
// refusal nlohmann's parser, which counts lines, reads it again to say where.
class Locator : public nlohmann::json_sax<nlohmann::json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t byte, const std::string&,
                   const nlohmann::detail::exception& e) override {
    found = true;
    offset = byte;
    what = e.what();
    return false;
  }

  bool found = false;
  std::size_t offset = 0;  // one past the offending byte
  std::string what;
};

[[noreturn]] void Refuse(std::string_view text, simdjson::error_code code) {
  Locator where;
  nlohmann::json::sax_parse(text.begin(), text.end(), &where);
  if (!where.found) {
    // Valid to nlohmann but not to simdjson: a number beyond 64 bits, nesting
    // deeper than simdjson's limit.
    throw JsonError(std::string("JSON: ") + simdjson::error_message(code));
  }
  std::size_t line = 1, column = 1;
  const std::size_t end = where.offset > 0 ? where.offset - 1 : 0;
  for (std::size_t k = 0; k < end && k < text.size(); ++k) {
    if (text[k] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  // nlohmann's own text starts with its exception's name and, for syntax, a
  // position of its own; keep only the reason.
  std::string reason = where.what;
  if (reason.rfind("[json.exception.", 0) == 0) reason = reason.substr(reason.find("] ") + 2);
  if (reason.rfind("parse error", 0) == 0) reason = reason.substr(reason.find(": ") + 2);
  throw JsonError("JSON line " + std::to_string(line) + ", column " + std::to_string(column) +
                  ": " + reason);
}

}  // namespace

JsonText JsonText::ParsePadded(const simdjson::padded_string& text) {
  JsonText out;
  out.parser_ = std::make_unique<simdjson::dom::parser>();
  if (auto error = out.parser_->parse(text).get(out.root_)) Refuse(text, error);
  return out;
}

JsonText JsonText::Parse(std::string_view text) {
  return ParsePadded(simdjson::padded_string(text));
}

bool FindMember(simdjson::dom::element obj, std::string_view key, simdjson::dom::element& out) {
  simdjson::dom::object o;
  if (obj.get_object().get(o)) return false;
  return !o.at_key(key).get(out);
}

namespace {

std::string Compact(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A list of scalars stays on one line: it is a row of a table, and one row a
// line is what scripts grep.
bool Flat(const Json& json) {
  if (!json.is_structured() || json.empty()) return true;
  if (json.is_object()) return false;
  for (const Json& e : json) {
    if (e.is_structured()) return false;
  }
  return true;
}

void Print(std::string& out, const Json& json, int indent, int level) {
  if (Flat(json)) {
    out += Compact(json);
    return;
  }
  const std::string pad(static_cast<size_t>(indent * (level + 1)), ' ');
  out += json.is_array() ? '[' : '{';
  for (auto it = json.begin(); it != json.end(); ++it) {
    out += it == json.begin() ? "\n" : ",\n";
    out += pad;
    if (json.is_object()) out += Compact(it.key()) + ": ";
    Print(out, *it, indent, level + 1);
  }
  out += '\n';
  out.append(static_cast<size_t>(indent * level), ' ');
  out += json.is_array() ? ']' : '}';
}

}  // namespace

std::string DumpJson(const Json& json, int indent) {
  std::string out;
  Print(out, json, indent, 0);
  return out;
}

}  // namespace apura::server
