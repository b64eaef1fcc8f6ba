// Logins, session tokens and the limits on what a caller may send.

#include <cmath>
#include <limits>

#include "framework/format.h"
#include "server/storage/sqlite/sqlite.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

class SessionTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    TallyDocument d = SmallTally();
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    service_->Import(d);
    TallyDocument other = SmallTally("88", "0002");
    AddQuote(other, "N1", "C1", "F1", "M1", 12);
    service_->Import(other);
  }
  Value Login(const std::string& code, const std::string& password) {
    return Envelope("Login", {ByVal(Value(code)), ByVal(Value(password))}, kSessionObject);
  }
  std::string Price(const std::string& tally = "77", const std::string& centre = "0001") {
    DataPacket p = Get("GetApurNeg", tally, centre);
    return FloatToText(Num(p, "VRPRECUNIAP", 0));
  }
};

TEST_F(SessionTest, LoginChecksTheArgon2idHashAndTheTokenOpensTheSession) {
  Operator op{"MARIA", "Maria Souza", {"0001"}, {"0101"}, {"PEME"}};
  operators_->Save(op, "correta");
  {
    auto s = storage_->OpenSession();
    std::optional<OperatorRow> row = s->FindOperator("MARIA");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->passwordHash.rfind("$argon2id$", 0), 0u) << "no plain password is kept";
  }
  for (auto [code, password] : {std::pair{"MARIA", "errada"},
                                {"MARIA", ""},
                                {"NINGUEM", "correta"},
                                {"maria", "correta"}}) {
    Value env = Login(code, password);
    ASSERT_FALSE(env.AsArray()[0].AsBoolean()) << code << "/" << password;
    EXPECT_EQ(env.AsArray()[1].ToText(), "Operador ou senha inválidos.");
  }
  Value env = Login("MARIA", "correta");
  ASSERT_TRUE(env.AsArray()[0].AsBoolean()) << env.AsArray()[1].ToText();
  const ValueArray& s = env.AsArray()[1].AsArray();
  EXPECT_EQ(s[0].ToText().size(), 64u);
  EXPECT_GT(s[1].AsDate().days, DateTime::FromDate(2026, 1, 1).days);
  EXPECT_EQ(s[2].ToText(), "Maria Souza");
  transport_->SetSessionToken(s[0].ToText());
  EXPECT_EQ(Get("GetApurNeg").RowCount(), 1u);
}

TEST_F(SessionTest, NoUnknownOrExpiredTokenIsServedAndChangesNothing) {
  const std::string before = Price();
  std::vector<CallArg> price{ByVal(Value("0001")), ByVal(Value("N1")), ByVal(Value("C1")),
                             ByVal(Value("F1")),   ByVal(Value("M1")), ByVal(Value("001")),
                             ByVal(Value(99.0)),   ByVal(Value("77"))};
  transport_->SetSessionToken("");
  EXPECT_EQ(Failure("AtuaPrecEco", price), "Sessão não informada: faça login.");
  EXPECT_EQ(Failure("GetParamCmp", {ByRef(Value("0001")), ByVal(Value("PRQ"))}, kPurchasingObject),
            "Sessão não informada: faça login.");
  transport_->SetSessionToken(std::string(64, 'a'));
  EXPECT_EQ(Failure("AtuaPrecEco", price), "Sessão desconhecida: faça login.");

  LoginAs(TestOperator());
  now_ += std::chrono::hours(2);  // the fixture's sessions last one hour
  EXPECT_EQ(Failure("AtuaPrecEco", price), "Sessão expirada: faça login de novo.");
  EXPECT_EQ(Failure("GetDados", {ByRef(Value("0001")), ByRef(Value("77"))}),
            "Sessão desconhecida: faça login.")
      << "an expired session is forgotten";
  LoginAs(TestOperator());
  EXPECT_EQ(Price(), before);
}

// Another server on the same database: what one server's login opened the
// other serves, a logout on one ends it on both, and changing the operator
// ends their sessions at once, so none outlives the rights it was opened with.
TEST_F(SessionTest, SessionsAreSharedByEveryServerOfTheDatabase) {
  std::unique_ptr<IStorage> otherStorage = OpenStorage(db_);
  OperatorDirectory otherOperators(*otherStorage, HashCost::Minimum);
  Sessions other(otherOperators, std::chrono::hours(1), [this] { return now_; });

  Operator maria{"MARIA", "Maria Souza", {"0001"}, {"*"}, {}};
  operators_->Save(maria, "correta");
  const Session mine = sessions_->Login("MARIA", "correta");
  EXPECT_EQ(other.Require(mine.token).op.centres, std::vector<std::string>{"0001"});
  {
    auto s = storage_->OpenSession();
    EXPECT_FALSE(s->FindSession(mine.token)) << "the table holds no token as it is";
  }
  other.Logout(mine.token);
  EXPECT_THROW(sessions_->Require(mine.token), ServerError);

  const Session again = other.Login("MARIA", "correta");
  EXPECT_EQ(sessions_->Require(again.token).op.code, "MARIA");
  maria.centres = {"0002"};
  operators_->Save(maria, "nova");
  for (Sessions* s : {sessions_.get(), &other}) {
    try {
      s->Require(again.token);
      ADD_FAILURE() << "a session outlived its operator's change";
    } catch (const ServerError& e) {
      EXPECT_EQ(e.code(), ErrorCode::Unauthenticated);
    }
  }
  EXPECT_EQ(other.Login("MARIA", "nova").op.centres, std::vector<std::string>{"0002"});
}

TEST_F(SessionTest, ACentreTheOperatorDoesNotWorkInIsRefused) {
  const std::string before = Price("88", "0002");
  LoginAs(Operator{"JOAO", "João", {"0001"}, {"*"}, {}});
  EXPECT_EQ(Get("GetDados").RowCount(), 2u);
  for (const char* m : {"GetDados", "GetProduto", "GetItmApurPrec", "DelApuracao"}) {
    EXPECT_EQ(Failure(m, {ByRef(Value("0002")), ByRef(Value("88"))}),
              std::string(m) + ": o operador JOAO não trabalha no centro de compras 0002.");
  }
  EXPECT_NE(Failure("MelhorCotacao", {ByRef(Value("0002")), ByRef(Value("88")), ByRef(Value("PRQ")),
                                      ByRef(Value("F"))})
                .find("centro de compras 0002"),
            std::string::npos);
  EXPECT_NE(Failure("AtuaPrecEco", {ByVal(Value("0002")), ByVal(Value("N1")), ByVal(Value("C1")),
                                    ByVal(Value("F1")), ByVal(Value("M1")), ByVal(Value("001")),
                                    ByVal(Value(1.0)), ByVal(Value("88"))})
                .find("centro de compras 0002"),
            std::string::npos);
  EXPECT_NE(Failure("GetParamCmp", {ByRef(Value("0002")), ByVal(Value("PRQ"))}, kPurchasingObject)
                .find("centro de compras 0002"),
            std::string::npos);
  LoginAs(TestOperator());
  EXPECT_EQ(Price("88", "0002"), before);
  EXPECT_TRUE(RowsWhere(Get("GetDados", "88", "0002"), "IDITMSELAPUR", "S").empty());
}

TEST_F(SessionTest, FailedLoginsWaitLongerAndLongerThenLockTheOperator) {
  operators_->Save(Operator{"MARIA", "Maria", {"0001"}, {"*"}, {}}, "correta");
  auto refusal = [&](const std::string& password) {
    Value env = Login("MARIA", password);
    return env.AsArray()[0].AsBoolean() ? std::string("logged in") : env.AsArray()[1].ToText();
  };
  ::testing::internal::CaptureStderr();
  // A few typing errors cost nothing; then each failure doubles the wait.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(refusal("errada"), "Operador ou senha inválidos.");
  EXPECT_EQ(refusal("correta"), "Muitas tentativas de login sem sucesso; tente de novo em 1 s.");
  now_ += std::chrono::seconds(1);
  EXPECT_EQ(refusal("errada"), "Operador ou senha inválidos.");
  EXPECT_EQ(refusal("correta"), "Muitas tentativas de login sem sucesso; tente de novo em 2 s.");
  now_ += std::chrono::seconds(2);
  EXPECT_EQ(refusal("correta"), "logged in");
  // Ten failures in a row lock the operator, the right password included.
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(refusal("errada"), "Operador ou senha inválidos.") << i;
    now_ += std::chrono::seconds(60);
  }
  EXPECT_EQ(refusal("correta"),
            "Operador bloqueado por excesso de tentativas de login; tente de novo em 14 min.");
  now_ += std::chrono::minutes(14);
  EXPECT_EQ(refusal("correta"), "logged in");
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("login MARIA from this process: wrong operator or password; the operator is "
                     "locked for a while"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("login MARIA from this process: refused, too many failures"),
            std::string::npos);
  EXPECT_NE(log.find("login MARIA from this process: ok"), std::string::npos);
  EXPECT_EQ(log.find("correta"), std::string::npos) << "a password reached the log";
  EXPECT_EQ(log.find("errada"), std::string::npos) << "a password reached the log";
}

TEST_F(SessionTest, OneAddressGuessingManyOperatorsWaitsToo) {
  operators_->Save(Operator{"MARIA", "Maria", {"0001"}, {"*"}, {}}, "correta");
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 11; ++i) {
    EXPECT_THROW(sessions_->Login("OP" + std::to_string(i), "x", "10.0.0.9"), ServerError);
  }
  try {
    sessions_->Login("MARIA", "correta", "10.0.0.9");
    ADD_FAILURE() << "an address guessing operators was not held back";
  } catch (const ServerError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Muitas tentativas de login sem sucesso deste endereço; tente de novo em 1 s.");
  }
  EXPECT_EQ(sessions_->Login("MARIA", "correta", "10.0.0.8").op.code, "MARIA");
  // A code made of control characters is logged escaped and cut short.
  EXPECT_THROW(sessions_->Login(std::string("\n") + std::string(100, 'A'), "x", "10.0.0.7"),
               ServerError);
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("login \\x0a" + std::string(39, 'A') + "... from 10.0.0.7"), std::string::npos)
      << log;
}

TEST_F(SessionTest, AForeignTallyIsNotLetGoUnderTheCallersCentre) {
  LoginAs(Operator{"JOAO", "João", {"0001"}, {"*"}, {}});
  EXPECT_EQ(Failure("DelApuracao", {ByRef(Value("0001")), ByRef(Value("88"))}),
            "DelApuracao: o operador JOAO não trabalha no centro de compras 0002.");
  Call("DelApuracao", {ByRef(Value("0001")), ByRef(Value("77"))});
  // A tally that does not exist has nothing to let go.
  Call("DelApuracao", {ByRef(Value("0001")), ByRef(Value("404"))});
}

TEST_F(SessionTest, ADatabaseFailureReachesTheCallerAsAnIdWithoutItsStatement) {
  ExecRaw("ALTER TABLE cotacao RENAME TO cotacao_antiga");
  ::testing::internal::CaptureStderr();
  const std::string text =
      Failure("AtuaPrecEco",
              {ByVal(Value("0001")), ByVal(Value("N1")), ByVal(Value("C1")), ByVal(Value("F1")),
               ByVal(Value("M1")), ByVal(Value("001")), ByVal(Value(11.0)), ByVal(Value("77"))});
  const std::string log = ::testing::internal::GetCapturedStderr();
  for (const char* inside : {"cotacao", "UPDATE", "SELECT", "SQL", "postgresql", "server.db"})
    EXPECT_EQ(text.find(inside), std::string::npos) << inside << " in: " << text;
  const size_t at = text.find("ocorrência ");
  ASSERT_NE(at, std::string::npos) << text;
  const std::string id = text.substr(at + 12, text.find(';', at) - at - 12);
  EXPECT_NE(log.find("database failure " + id + ": "), std::string::npos) << log;
  EXPECT_NE(log.find("cotacao"), std::string::npos) << log;
}

TEST_F(SessionTest, OversizedAndNulTextsComeBackShortAndWhole) {
  const std::string huge(10 << 20, 'x');
  Value env = Envelope("GetDados", {ByRef(Value("0001")), ByRef(Value(huge))});
  ASSERT_FALSE(env.AsArray()[0].AsBoolean());
  std::string text = env.AsArray()[1].ToText();
  EXPECT_LT(text.size(), 200u);
  EXPECT_NE(text.find("argumento 2 tem 10485760 bytes"), std::string::npos) << text;
  // An array argument hides no large text either.
  env = Envelope("GetDados", {ByRef(Value(ValueArray{Value(huge)})), ByRef(Value("77"))});
  EXPECT_LT(env.AsArray()[1].ToText().size(), 200u);
  // Just under the limit, the text reaches the method; its failure is cut.
  const std::string big(rpc::kMaxTextArgumentBytes, 'y');
  text = Failure("GetDados", {ByRef(Value("0001")), ByRef(Value(big))});
  EXPECT_LE(text.size(), rpc::kMaxFailureTextBytes + 60);
  EXPECT_NE(text.find("bytes a mais omitidos"), std::string::npos);

  text = Failure("GetDados", {ByRef(Value("0001")), ByRef(Value(std::string("7\0fim", 5)))});
  EXPECT_NE(text.find("7\\0fim"), std::string::npos) << text;
  EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST_F(SessionTest, PricesMustBeFiniteAndWithinBounds) {
  const std::string before = Price();
  for (double p : {1e308, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN(), kMaxUnitPrice * 1.5, -1.0, 0.0}) {
    std::string text =
        Failure("AtuaPrecEco",
                {ByVal(Value("0001")), ByVal(Value("N1")), ByVal(Value("C1")), ByVal(Value("F1")),
                 ByVal(Value("M1")), ByVal(Value("001")), ByVal(Value(p)), ByVal(Value("77"))});
    EXPECT_NE(text.find("Preço unitário"), std::string::npos) << p << ": " << text;
    EXPECT_LT(text.size(), 120u) << text;
  }
  EXPECT_EQ(Price(), before);
  Call("AtuaPrecEco",
       {ByVal(Value("0001")), ByVal(Value("N1")), ByVal(Value("C1")), ByVal(Value("F1")),
        ByVal(Value("M1")), ByVal(Value("001")), ByVal(Value(kMaxUnitPrice)), ByVal(Value("77"))});
}

}  // namespace
}  // namespace apura::server::testing
