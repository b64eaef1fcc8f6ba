#include "server/objects/args.h"

#include <cmath>

#include "framework/format.h"
#include "server/errors.h"

namespace apura::server::args {

namespace {

// A text the caller sent, short enough to quote back.
std::string Shown(const std::string& text) {
  return text.size() <= 40 ? text : text.substr(0, 40) + "…";
}

}  // namespace

void Reader::Count(size_t n) const {
  if (args_.size() != n)
    throw ServerError(std::string(method_) + " espera " + std::to_string(n) +
                      " argumentos, recebeu " + std::to_string(args_.size()) + ".");
}

void Reader::WrongKind(size_t i, const char* name, const char* expected) const {
  throw ServerError(std::string(method_) + ": o argumento " + std::to_string(i + 1) + " (" + name +
                    ") deve ser " + expected + ", não " + KindName(args_[i].value.kind()) + ".");
}

void Reader::Read(size_t i, const char* name, std::string& out) const {
  const Value& v = args_[i].value;
  switch (v.kind()) {
    case Value::Kind::Null:
      out.clear();
      return;
    case Value::Kind::Text:
      out = v.ToText();
      return;
    case Value::Kind::Integer:
      out = std::to_string(v.AsInteger());
      return;
    default:
      WrongKind(i, name, "um texto");
  }
}

void Reader::Read(size_t i, const char* name, double& out, const std::optional<Bounds>& b) const {
  const Value& v = args_[i].value;
  if (v.kind() != Value::Kind::Float && v.kind() != Value::Kind::Integer)
    WrongKind(i, name, "um número");
  out = v.AsFloat();
  if (!b) return;
  const bool below = b->aboveMin ? !(out > b->min) : !(out >= b->min);
  if (below || !(out <= b->max))
    throw ServerError(std::string(method_) + ": o argumento " + std::to_string(i + 1) + " (" +
                      name + ") deve estar entre " + FloatToText(b->min) + " e " +
                      FloatToText(b->max) + ", não " + FloatToText(out) + ".");
}

void Reader::Read(size_t i, const char* name, DateTime& out) const {
  const Value& v = args_[i].value;
  if (v.kind() == Value::Kind::Date)
    out = v.AsDate();
  else if (v.kind() == Value::Kind::Float)
    out = DateTime{v.AsFloat()};
  else
    WrongKind(i, name, "uma data");
  // Off the wire any double arrives; one that is no calendar date would only
  // fail later, in storage, without naming the argument.
  try {
    out.DateOnly();
  } catch (const std::exception&) {
    throw ServerError(std::string(method_) + ": o argumento " + std::to_string(i + 1) + " (" +
                      name + ") não é uma data válida.");
  }
}

void Reader::Read(size_t i, const char* name, Flag& out) const {
  Read(i, name, out.value);
  if (out.value != "S" && out.value != "N")
    throw ServerError(std::string(method_) + ": " + name + " deve ser \"S\" ou \"N\", não \"" +
                      Shown(out.value) + "\".");
}

void Reader::Read(size_t i, const char* name, PacketOrNull& out) const {
  const Value& v = args_[i].value;
  if (!v.IsNull() && v.kind() != Value::Kind::Packet)
    WrongKind(i, name, "um pacote de dados ou nulo");
  out.value = v;
}

void Reader::Read(size_t i, const char* name, std::vector<std::string>& out) const {
  const Value& v = args_[i].value;
  out.clear();
  if (v.IsNull()) return;
  if (v.kind() != Value::Kind::Array) WrongKind(i, name, "uma lista");
  for (const Value& e : v.AsArray()) {
    if (e.kind() != Value::Kind::Text && !e.IsNull())
      throw ServerError(std::string(method_) + ": " + name + " deve conter só textos.");
    out.push_back(e.IsNull() ? std::string() : e.ToText());
  }
}

}  // namespace apura::server::args
