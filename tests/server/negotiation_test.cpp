// The objects of the negotiation and spreadsheet screens: a simulated price
// changes nothing, a recorded one is what the worksheet reads next.

#include <cmath>

#include "server/objects/negotiation_service.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

class NegotiationTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    TallyDocument d = SmallTally();
    d.centre.monthlyRate = 0.02;
    QuoteDoc& q = AddQuote(d, "N1", "C1", "F1", "M1", 10);
    q.freightRate = 0.05;
    q.paymentDays = 30;
    q.taxRate = 0.1;
    AddQuote(d, "N1", "C1", "F2", "M2", 11);
    service_->Import(d);
  }
  static std::vector<CallArg> Key(const char* supplier = "F1", const char* brand = "M1") {
    return {ByVal("0001"), ByVal("C1"),  ByVal(supplier), ByVal("N1"),
            ByVal(brand),  ByVal("001"), ByVal("77")};
  }
  static std::vector<CallArg> Priced(Value price) {
    std::vector<CallArg> a = Key();
    a.insert(a.begin() + 6, ByVal(std::move(price)));
    return a;
  }
  double Econ(const char* supplier) {
    DataPacket lines = Get("GetApurNeg");
    for (size_t r : RowsWhere(lines, "CDFORNITMAP", supplier)) return Num(lines, "PRECOECON", r);
    return -1;
  }
};

TEST_F(NegotiationTest, SimulatingChangesNothingRecordingIsWhatTheWorksheetReads) {
  const double before = Econ("F1");
  const ValueArray sim = Call("SimulaPreco", Priced(Value(8.0)), kNegotiationObject).AsArray();
  ASSERT_EQ(sim.size(), 2u);
  // 8 * 1.05 / 1.02, and 10% less for the PI price.
  EXPECT_NEAR(sim[0].AsFloat(), 8 * 1.05 / 1.02, 1e-9);
  EXPECT_NEAR(sim[1].AsFloat(), 8 * 1.05 / 1.02 * 0.9, 1e-9);
  EXPECT_DOUBLE_EQ(Econ("F1"), before);

  const ValueArray rec = Call("GravaPreco", Priced(Value(8.0)), kNegotiationObject).AsArray();
  EXPECT_DOUBLE_EQ(rec[0].AsFloat(), sim[0].AsFloat());
  EXPECT_DOUBLE_EQ(Econ("F1"), sim[0].AsFloat());
  const DataPacket line = Call("GetCotacao", Key(), kSpreadsheetObject).AsPacket();
  ASSERT_EQ(line.RowCount(), 1u);
  EXPECT_DOUBLE_EQ(Num(line, "VRPRECUNIAP", 0), 8.0);
  EXPECT_EQ(At(line, "NMFANTFORN", 0), "Distribuidora Um");
  EXPECT_EQ(At(line, "CDARVPROD", 0), "1.01.01");
}

TEST_F(NegotiationTest, APriceThatIsNoPositiveNumberIsRefusedAndNothingStored) {
  for (Value bad : {Value(0.0), Value(-1.0), Value("8"), Value(std::nan("")), Value(1.79e308)}) {
    EXPECT_FALSE(Failure("GravaPreco", Priced(bad), kNegotiationObject).empty());
    // Simulating has the same bounds: a price past them would answer infinities.
    EXPECT_FALSE(Failure("SimulaPreco", Priced(bad), kNegotiationObject).empty());
  }
  EXPECT_DOUBLE_EQ(Num(Call("GetCotacao", Key(), kNegotiationObject).AsPacket(), "VRPRECUNIAP", 0),
                   10.0);
  EXPECT_NE(Failure("GetCotacao", Key("F9"), kNegotiationObject).find("fornecedor F9"),
            std::string::npos);
  EXPECT_NE(Failure("GetCotacao", {ByVal("0001")}, kSpreadsheetObject).find("7 argumentos"),
            std::string::npos);
  // The spreadsheet screen only reads.
  EXPECT_NE(Failure("GravaPreco", Priced(Value(8.0)), kSpreadsheetObject).find("GravaPreco"),
            std::string::npos);
}

TEST_F(NegotiationTest, DeliveriesListTheRequestsWithWhatTheLineCovers) {
  Call("MelhorCotacao",
       {ByRef(Value("0001")), ByRef(Value("77")), ByRef(Value("PRQ")), ByRef(Value("F"))});
  const DataPacket mine = Call("GetEntregas", Key(), kSpreadsheetObject).AsPacket();
  ASSERT_EQ(mine.RowCount(), 2u);
  EXPECT_EQ(At(mine, "NMFILIAL", 0), "Filial Centro");
  EXPECT_DOUBLE_EQ(Num(mine, "QTSOLACOMP", 1), 20);
  EXPECT_DOUBLE_EQ(Num(mine, "QTACOMP", 0) + Num(mine, "QTACOMP", 1), 30);  // F1 won
  const DataPacket other = Call("GetEntregas", Key("F2", "M2"), kSpreadsheetObject).AsPacket();
  EXPECT_DOUBLE_EQ(Num(other, "QTACOMP", 0) + Num(other, "QTACOMP", 1), 0);
}

TEST_F(NegotiationTest, AnotherCentresLineIsNeitherReadNorPriced) {
  TallyDocument foreign = SmallTally("88", "0002");
  AddQuote(foreign, "N1", "C1", "F1", "M1", 12);
  service_->Import(foreign);
  std::vector<CallArg> theirs = Key();
  theirs[0] = ByVal("0002");
  theirs[6] = ByVal("88");
  std::vector<CallArg> theirsPriced = theirs;
  theirsPriced.insert(theirsPriced.begin() + 6, ByVal(Value(8.0)));

  LoginAs(Operator{"JOAO", "João", {"0001"}, {"*"}, {}});
  const std::string refused = ": o operador JOAO não trabalha no centro de compras 0002.";
  for (const char* object : {kNegotiationObject, kSpreadsheetObject}) {
    EXPECT_EQ(Failure("GetCotacao", theirs, object), "GetCotacao" + refused);
    EXPECT_EQ(Failure("GetEntregas", theirs, object), "GetEntregas" + refused);
  }
  EXPECT_EQ(Failure("SimulaPreco", theirsPriced, kNegotiationObject), "SimulaPreco" + refused);
  EXPECT_EQ(Failure("GravaPreco", theirsPriced, kNegotiationObject), "GravaPreco" + refused);

  // Within the session's centre every method answers.
  EXPECT_EQ(Call("GetEntregas", Key(), kSpreadsheetObject).AsPacket().RowCount(), 2u);
  Call("SimulaPreco", Priced(Value(8.0)), kNegotiationObject);
  Call("GravaPreco", Priced(Value(9.0)), kNegotiationObject);
  EXPECT_DOUBLE_EQ(Num(Call("GetCotacao", Key(), kNegotiationObject).AsPacket(), "VRPRECUNIAP", 0),
                   9.0);

  LoginAs(TestOperator());
  EXPECT_DOUBLE_EQ(Num(Call("GetCotacao", theirs, kNegotiationObject).AsPacket(), "VRPRECUNIAP", 0),
                   12.0)
      << "the refused price was not stored";
}

}  // namespace
}  // namespace apura::server::testing
