#pragma once
// Every method's arguments, read in one place. A method declares each of its
// arguments once, in the caller's order (the name the failure texts use, the
// member of its request struct it fills, bounds for a number), and gets the
// request struct back; the count, type and bound errors are worded here only:
//
//   struct Key { std::string centre, tally; };
//   Key k = args::Read<Key>("GetDados", a, args::Arg{"centro", &Key::centre},
//                           args::Arg{"apuração", &Key::tally});
//
// Texts take a null as the empty text and an integer as its digits (late-bound
// callers send codes either way); numbers take integers; dates take a date or
// a day count that is a calendar date.

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "contract/methods.h"
#include "framework/transport.h"
#include "framework/value.h"

namespace apura::server::args {

// A one-character flag: "S" or "N", nothing else.
struct Flag {
  std::string value;
};

// A data packet, or null for none.
struct PacketOrNull {
  Value value;
};

// Inclusive bounds of a number; `aboveMin` excludes the minimum itself.
struct Bounds {
  double min, max;
  bool aboveMin = false;
};

template <class R, class M>
struct Arg {
  const char* name;
  M R::*member;
  std::optional<Bounds> bounds = {};
};
// Spelled out for compilers without deduction for aggregates.
template <class R, class M>
Arg(const char*, M R::*) -> Arg<R, M>;
template <class R, class M>
Arg(const char*, M R::*, Bounds) -> Arg<R, M>;

class Reader {
 public:
  Reader(const char* method, const std::vector<CallArg>& args) : method_(method), args_(args) {}
  void Count(size_t n) const;
  void Read(size_t i, const char* name, std::string& out) const;
  void Read(size_t i, const char* name, double& out, const std::optional<Bounds>& b) const;
  void Read(size_t i, const char* name, DateTime& out) const;
  void Read(size_t i, const char* name, Flag& out) const;
  void Read(size_t i, const char* name, PacketOrNull& out) const;
  void Read(size_t i, const char* name, std::vector<std::string>& out) const;

 private:
  [[noreturn]] void WrongKind(size_t i, const char* name, const char* expected) const;
  const char* method_;
  const std::vector<CallArg>& args_;
};

template <class R, class... M>
R Read(const char* method, const std::vector<CallArg>& a, const Arg<R, M>&... declared) {
  Reader reader(method, a);
  reader.Count(sizeof...(declared));
  R out{};
  size_t i = 0;
  auto one = [&](const auto& d) {
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(out.*d.member)>, double>)
      reader.Read(i, d.name, out.*d.member, d.bounds);
    else
      reader.Read(i, d.name, out.*d.member);
    ++i;
  };
  (one(declared), ...);
  return out;
}

// A method's arguments as the contract lists them (their names and order),
// read into the members given in that order, one per argument.
template <class R, size_t N, class... M>
R Read(const contract::Method<N>& method, const std::vector<CallArg>& a, M R::*... members) {
  static_assert(sizeof...(M) == N, "one member for each argument the contract lists");
  Reader reader(method.name, a);
  reader.Count(N);
  R out{};
  size_t i = 0;
  auto one = [&](auto member) {
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(out.*member)>, double>)
      reader.Read(i, method.args[i], out.*member, std::nullopt);
    else
      reader.Read(i, method.args[i], out.*member);
    ++i;
  };
  (one(members), ...);
  return out;
}

}  // namespace apura::server::args
