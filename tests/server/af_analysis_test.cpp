// The AF analysis screen's server object: the AFs of a tally, their items and
// the inconsistent ones, answered from what effectuation stored.

#include "server/objects/af_analysis.h"
#include "framework/dataset/dataset.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

class AfAnalysisTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    TallyDocument d = SmallTally();
    d.requests.push_back({"N1", "001", "0102", DateTime::FromDate(2026, 12, 20), 4});
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    QuoteDoc& q = AddQuote(d, "N1", "C1", "F2", "M2", 11);
    q.minValue = 1000;  // F2's AFs are kept aside
    q.minValueFlag = "R";
    service_->Import(d);
  }

  void Effectuate() {
    TClientDataSet dados("cdsDados");
    dados.SetData(Get("GetDados"));
    auto choose = [&](const char* supplier, const char* branch, DateTime date) {
      ASSERT_TRUE(dados.Locate("CDFORNITMAP;CDFILIAP;DTENTRAPUT",
                               {Value(supplier), Value(branch), Value(date)}));
      dados.Edit();
      dados.FieldByName("IDITMSELAPUR").SetAsString("S");
      dados.FieldByName("QTACOMP").SetAsFloat(dados.FieldByName("QTSOLACOMP").AsFloat());
      dados.Post();
    };
    choose("F1", "0101", DateTime::FromDate(2026, 12, 5));
    choose("F1", "0102", DateTime::FromDate(2026, 12, 5));
    choose("F1", "0102", DateTime::FromDate(2026, 12, 20));
    choose("F2", "0101", DateTime::FromDate(2026, 12, 5));
    std::vector<CallArg> a{ByRef(Value(dados.Delta())),
                           ByRef(Value("COMP01")),
                           ByVal(Value(DateTime::FromDate(2026, 12, 8))),
                           ByRef(Value("0001")),
                           ByRef(Value("77")),
                           ByVal(Value("0101")),
                           ByVal(Value("N"))};
    for (int i = 0; i < 9; ++i) a.push_back(ByVal(Value("texto " + std::to_string(i))));
    ValueArray out = Call("Gera_AF", a).AsArray();
    ASSERT_FALSE(out[2].AsBoolean()) << out[1].ToText();
  }

  DataPacket Analysis(const char* method, const std::string& centre = "0001") {
    return Call(method, {ByRef(Value(centre)), ByRef(Value("77"))}, kAfAnalysisObject).AsPacket();
  }
};

TEST_F(AfAnalysisTest, ListsTheTallysAfsTheirItemsAndTheInconsistentOnes) {
  EXPECT_EQ(Analysis("GetAutoForne").RowCount(), 0u);
  Effectuate();

  DataPacket afs = Analysis("GetAutoForne");
  ASSERT_EQ(afs.RowCount(), 3u);  // F1 to 0101, F1 to 0102, F2 to 0101 (inconsistent)
  double total = 0;
  int inconsistent = 0;
  for (size_t r = 0; r < afs.RowCount(); ++r) {
    total += Num(afs, "VRTOTALAF", r);
    if (At(afs, "IDSITUATUAAF", r) == "I") {
      ++inconsistent;
      EXPECT_EQ(At(afs, "DSSITUATUAAF", r), "Inconsistente");
      EXPECT_EQ(At(afs, "NMFANTFORN", r), "Comercial Dois");
    } else {
      EXPECT_EQ(At(afs, "DSSITUATUAAF", r), "Efetivada");
    }
    EXPECT_EQ(afs.Number(static_cast<size_t>(afs.FieldIndex("DTAUTOFORN")), r),
              DateTime::FromDate(2026, 12, 8).days);
  }
  EXPECT_EQ(inconsistent, 1);
  EXPECT_EQ(total, 10 * 10 + (20 + 4) * 10 + 10 * 11);

  DataPacket items = Analysis("GetItmAutoForne");
  ASSERT_EQ(items.RowCount(), 4u);
  std::map<std::string, double> perAf;
  for (size_t r = 0; r < items.RowCount(); ++r) {
    perAf[At(items, "NRAUTOFORN", r)] += Num(items, "VRTOTITEM", r);
    EXPECT_EQ(At(items, "NMPRODUTO", r), "Arroz Tipo 1 Pacote 1 kg");
  }
  for (size_t r = 0; r < afs.RowCount(); ++r)
    EXPECT_EQ(perAf[At(afs, "NRAUTOFORN", r)], Num(afs, "VRTOTALAF", r));

  DataPacket incons = Analysis("GetAFIncons");
  ASSERT_EQ(incons.RowCount(), 1u);
  EXPECT_EQ(At(incons, "CDFORNECED", 0), "F2");
  EXPECT_NE(At(incons, "DSINCONS", 0).find("mínimo"), std::string::npos);
}

TEST_F(AfAnalysisTest, ArgumentsAreCheckedAndNamed) {
  EXPECT_NE(Failure("GetAutoForne", {ByRef(Value("0002")), ByRef(Value("77"))}, kAfAnalysisObject)
                .find("não pertence ao centro de compras 0002"),
            std::string::npos);
  EXPECT_NE(
      Failure("GetItmAutoForne", {ByRef(Value("0001")), ByRef(Value("99"))}, kAfAnalysisObject)
          .find("99 não encontrada"),
      std::string::npos);
  EXPECT_NE(Failure("GetAFIncons", {ByRef(Value("0001"))}, kAfAnalysisObject).find("2 argumentos"),
            std::string::npos);
  EXPECT_NE(Failure("GetAutoForne", {ByRef(Value(1.5)), ByRef(Value("77"))}, kAfAnalysisObject)
                .find("(centro)"),
            std::string::npos);
  EXPECT_NE(Failure("GetAutoForne", {ByRef(Value("")), ByRef(Value("77"))}, kAfAnalysisObject)
                .find("Centro de compras"),
            std::string::npos);
}

TEST_F(AfAnalysisTest, OnlyTheSessionsCentresAreAnalysed) {
  TallyDocument foreign = SmallTally("88", "0002");
  AddQuote(foreign, "N1", "C1", "F1", "M1", 10);
  service_->Import(foreign);
  Effectuate();
  LoginAs(Operator{"JOAO", "João", {"0001"}, {"*"}, {}});
  for (const char* m : {"GetAutoForne", "GetItmAutoForne", "GetAFIncons"}) {
    EXPECT_EQ(Failure(m, {ByRef(Value("0002")), ByRef(Value("88"))}, kAfAnalysisObject),
              std::string(m) + ": o operador JOAO não trabalha no centro de compras 0002.");
    // A tally of another centre named with the caller's centre is still not served.
    EXPECT_NE(Failure(m, {ByRef(Value("0001")), ByRef(Value("88"))}, kAfAnalysisObject)
                  .find("não pertence ao centro de compras 0001"),
              std::string::npos);
  }
  EXPECT_EQ(Analysis("GetAutoForne").RowCount(), 3u);
  EXPECT_EQ(Analysis("GetItmAutoForne").RowCount(), 4u);
  EXPECT_EQ(Analysis("GetAFIncons").RowCount(), 1u);
}

}  // namespace
}  // namespace apura::server::testing
