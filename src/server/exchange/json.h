#pragma once
// A small JSON document model, reader and writer for the tally exchange format
// and the command-line client's output.

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace apura::server {

class Json {
 public:
  using Array = std::vector<Json>;
  using Object = std::vector<std::pair<std::string, Json>>;  // keeps member order

  Json() = default;
  Json(std::nullptr_t) {}
  Json(bool b) : v_(b) {}
  Json(int i) : v_(static_cast<double>(i)) {}
  Json(double d) : v_(d) {}
  Json(const char* s) : v_(std::string(s)) {}
  Json(std::string s) : v_(std::move(s)) {}
  Json(Array a) : v_(std::move(a)) {}
  Json(Object o) : v_(std::move(o)) {}

  bool IsNull() const { return v_.index() == 0; }
  bool IsBool() const { return v_.index() == 1; }
  bool IsNumber() const { return v_.index() == 2; }
  bool IsString() const { return v_.index() == 3; }
  bool IsArray() const { return v_.index() == 4; }
  bool IsObject() const { return v_.index() == 5; }

  bool AsBool() const { return std::get<bool>(v_); }
  double AsNumber() const { return std::get<double>(v_); }
  const std::string& AsString() const { return std::get<std::string>(v_); }
  const Array& AsArray() const { return std::get<Array>(v_); }
  Array& AsArray() { return std::get<Array>(v_); }
  const Object& AsObject() const { return std::get<Object>(v_); }
  Object& AsObject() { return std::get<Object>(v_); }

  // Member lookup; null when absent or when this is not an object.
  const Json* Find(std::string_view key) const;
  // Appends a member (objects only).
  Json& Set(std::string key, Json value);

  std::string Dump(int indent = 2) const;
  // Throws JsonError with line and column on malformed text.
  static Json Parse(std::string_view text);

 private:
  std::variant<std::monostate, bool, double, std::string, Array, Object> v_;
  void DumpTo(std::string& out, int indent, int level) const;
};

class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace apura::server
