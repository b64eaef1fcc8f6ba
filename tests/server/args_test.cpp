// Every method reads its arguments through one reader: the same wording for
// a wrong count, kind or bound whichever object refuses, naming the method,
// the argument's position and its name.

#include <gtest/gtest.h>

#include <cmath>

#include "framework/packet.h"
#include "server/errors.h"
#include "server/objects/args.h"

namespace apura::server {
namespace {

using args::Arg;

struct Everything {
  std::string code;
  double price = 0;
  DateTime date;
  args::Flag flag;
  args::PacketOrNull changes;
  std::vector<std::string> names;
};

Everything ReadAll(std::vector<Value> values) {
  std::vector<CallArg> a;
  for (Value& v : values) a.push_back(ByVal(std::move(v)));
  using R = Everything;
  return args::Read<R>("Metodo", a, Arg{"código", &R::code},
                       Arg{"preço", &R::price, args::Bounds{0, 1e9, true}}, Arg{"data", &R::date},
                       Arg{"IDBLOQUEAAF", &R::flag}, Arg{"alterações", &R::changes},
                       Arg{"nomes", &R::names});
}

std::string Refusal(std::vector<Value> values) {
  try {
    ReadAll(std::move(values));
  } catch (const ServerError& e) {
    EXPECT_EQ(e.code(), ErrorCode::InvalidArgument);
    return e.what();
  }
  return "accepted";
}

std::vector<Value> Good() {
  return {Value("0001"), Value(8.5), Value(DateTime{45000}),
          Value("S"),    Value(),    Value(ValueArray{Value("P_CDCENTITMAP"), Value()})};
}

std::vector<Value> With(size_t i, Value v) {
  std::vector<Value> values = Good();
  values[i] = std::move(v);
  return values;
}

TEST(ArgsTest, ARequestIsFilledInTheDeclaredOrder) {
  Everything e = ReadAll(Good());
  EXPECT_EQ(e.code, "0001");
  EXPECT_EQ(e.price, 8.5);
  EXPECT_EQ(e.date.days, 45000);
  EXPECT_EQ(e.flag.value, "S");
  EXPECT_TRUE(e.changes.value.IsNull());
  EXPECT_EQ(e.names, (std::vector<std::string>{"P_CDCENTITMAP", ""}));
  // Late-bound callers send codes as integers too, and null for empty; a
  // number may come as an integer.
  e = ReadAll(With(0, Value(int64_t{1234})));
  EXPECT_EQ(e.code, "1234");
  EXPECT_EQ(ReadAll(With(0, Value())).code, "");
  EXPECT_EQ(ReadAll(With(1, Value(int64_t{3}))).price, 3);
  EXPECT_EQ(ReadAll(With(5, Value())).names.size(), 0u);
}

TEST(ArgsTest, EachRefusalNamesTheMethodTheArgumentAndWhatWasExpected) {
  std::vector<Value> five = Good();
  five.pop_back();
  EXPECT_EQ(Refusal(five), "Metodo espera 6 argumentos, recebeu 5.");
  EXPECT_EQ(Refusal(With(0, Value(1.5))),
            "Metodo: o argumento 1 (código) deve ser um texto, não Float.");
  EXPECT_EQ(Refusal(With(1, Value("8,5"))),
            "Metodo: o argumento 2 (preço) deve ser um número, não Text.");
  EXPECT_EQ(Refusal(With(1, Value(0.0))),
            "Metodo: o argumento 2 (preço) deve estar entre 0 e 1000000000, não 0.");
  EXPECT_NE(Refusal(With(1, Value(1.79e308))).find("deve estar entre"), std::string::npos);
  EXPECT_NE(Refusal(With(1, Value(std::nan("")))).find("deve estar entre"), std::string::npos);
  EXPECT_EQ(Refusal(With(2, Value(1e300))), "Metodo: o argumento 3 (data) não é uma data válida.");
  EXPECT_EQ(Refusal(With(2, Value("2026-12-09"))),
            "Metodo: o argumento 3 (data) deve ser uma data, não Text.");
  EXPECT_EQ(Refusal(With(3, Value("X"))),
            "Metodo: IDBLOQUEAAF deve ser \"S\" ou \"N\", não \"X\".");
  EXPECT_EQ(Refusal(With(4, Value("pacote"))),
            "Metodo: o argumento 5 (alterações) deve ser um pacote de dados ou nulo, não Text.");
  EXPECT_EQ(Refusal(With(5, Value("P_CDCENTITMAP"))),
            "Metodo: o argumento 6 (nomes) deve ser uma lista, não Text.");
  EXPECT_EQ(Refusal(With(5, Value(ValueArray{Value(1.0)}))),
            "Metodo: nomes deve conter só textos.");
}

}  // namespace
}  // namespace apura::server
