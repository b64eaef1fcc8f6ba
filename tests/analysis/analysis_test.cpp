// The AF analysis screen on what an effectuation stored: the AFs, the items of
// the AF under the cursor and the inconsistent ones, and its launch values.

#include <gtest/gtest.h>

#include "analysis/entry.h"
#include "analysis/form.h"
#include "server/server_fixture.h"
#include "support/fake_host.h"

namespace apura::testing {
namespace {

using analysis::TfrmAnaliseAF;

class AnalysisTest : public server::testing::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    server::TallyDocument d = server::testing::SmallTally();
    server::testing::AddQuote(d, "N1", "C1", "F1", "M1", 10);
    server::QuoteDoc& q = server::testing::AddQuote(d, "N1", "C1", "F2", "M2", 11);
    q.minValue = 1000;
    q.minValueFlag = "R";
    service_->Import(d);
    token_ = sessions_->Open(TestOperator()).token;
    previous_ = DefaultTransportFactory();
    SetDefaultTransportFactory([this](const TNetConnection&) {
      auto t = std::make_shared<server::InProcessTransport>(registry_);
      t->SetSessionToken(token_);
      return t;
    });
  }
  std::string token_;
  void TearDown() override {
    Application().DestroyForms();
    SetDefaultTransportFactory(previous_);
    ServerTest::TearDown();
  }

  // F1 to both branches, F2 (kept aside: below its minimum) to 0102.
  void Effectuate() {
    TClientDataSet dados("cdsDados");
    dados.SetData(Get("GetDados"));
    for (auto [supplier, branch] : {std::pair{"F1", "0101"}, {"F1", "0102"}, {"F2", "0102"}}) {
      ASSERT_TRUE(dados.Locate("CDFORNITMAP;CDFILIAP", {Value(supplier), Value(branch)}));
      dados.Edit();
      dados.FieldByName("IDITMSELAPUR").SetAsString("S");
      dados.FieldByName("QTACOMP").SetAsFloat(dados.FieldByName("QTSOLACOMP").AsFloat());
      dados.Post();
    }
    // F2 and F1 share branch 0102 in one AF per supplier; F2 is inconsistent.
    std::vector<CallArg> a{ByRef(Value(dados.Delta())),
                           ByRef(Value("COMP01")),
                           ByVal(Value(DateTime::FromDate(2026, 12, 8))),
                           ByRef(Value("0001")),
                           ByRef(Value("77")),
                           ByVal(Value("0101")),
                           ByVal(Value("N"))};
    for (int i = 0; i < 9; ++i) a.push_back(ByVal(Value("texto")));
    ASSERT_FALSE(Call("Gera_AF", a).AsArray()[2].AsBoolean());
  }

  test::FakeHost host;
  TransportFactory previous_;
};

TEST_F(AnalysisTest, ListsTheAfsAndTheItemsOfTheOneUnderTheCursor) {
  Effectuate();
  IniProc(Value(ValueArray{Value("0001"), Value("77")}));
  ASSERT_NE(frmAnaliseAF, nullptr);
  TfrmAnaliseAF& f = *frmAnaliseAF;
  EXPECT_EQ(f.Caption(), "Análise de Autorização de Fornecimento");
  EXPECT_EQ(f.edtApuracao.Text(), "77");
  EXPECT_TRUE(host.Logged("ShowForm(frmAnaliseAF)"));
  EXPECT_FALSE(f.netAnaliseAF.Connected());

  std::vector<server::AfRecord> stored = storage_->OpenSession()->Afs("77");
  ASSERT_EQ(f.cdsAutoForne.RecordCount(), static_cast<int>(stored.size()));
  for (f.cdsAutoForne.First(); !f.cdsAutoForne.Eof(); f.cdsAutoForne.Next()) {
    const std::string af = f.cdsAutoForne.FieldByName("NRAUTOFORN").AsString();
    const server::AfRecord* rec = nullptr;
    for (const auto& r : stored)
      if (r.number == af) rec = &r;
    ASSERT_NE(rec, nullptr) << af;
    EXPECT_EQ(f.cdsAutoForne.FieldByName("CDFORNECED").AsString(), rec->supplier);
    EXPECT_EQ(f.cdsAutoForne.FieldByName("VRTOTALAF").AsFloat(), rec->total);
    // Only this AF's items show.
    ASSERT_EQ(f.cdsItmAutoForne.RecordCount(), static_cast<int>(rec->lines.size())) << af;
    for (f.cdsItmAutoForne.First(); !f.cdsItmAutoForne.Eof(); f.cdsItmAutoForne.Next())
      EXPECT_EQ(f.cdsItmAutoForne.FieldByName("NRAUTOFORN").AsString(), af);
  }
  ASSERT_EQ(f.cdsAFIncons.RecordCount(), 1);
  EXPECT_EQ(f.cdsAFIncons.FieldByName("CDFORNECED").AsString(), "F2");
  EXPECT_EQ(f.tshIncons.Caption(), "AF's &Inconsistentes/Fora do Limite");
  f.dtsPadraoStateChange(f.dtsPadrao);
  EXPECT_FALSE(f.sbtIncluir.Enabled());
  EXPECT_FALSE(f.sbtExcluir.Enabled());
}

TEST_F(AnalysisTest, LaunchValuesAreCheckedBeforeAnythingOpens) {
  for (Value bad : {Value("0001"), Value(ValueArray{Value("0001")}),
                    Value(ValueArray{Value(""), Value("77")})}) {
    EXPECT_THROW(IniProc(bad), ConversionError);
    EXPECT_EQ(frmAnaliseAF, nullptr);
  }
  try {
    IniProc(Value(ValueArray{Value("0001")}));
  } catch (const ConversionError& e) {
    EXPECT_NE(std::string(e.what()).find("apuração"), std::string::npos) << e.what();
  }
}

TEST_F(AnalysisTest, AServerFailureIsReportedAndTheConnectionClosed) {
  EXPECT_FALSE(GuardedCall([] { IniProc(Value(ValueArray{Value("0001"), Value("99")})); }));
  ASSERT_FALSE(host.messages.empty());
  EXPECT_NE(host.messages.back().text.find("99 não encontrada"), std::string::npos);
  ASSERT_NE(frmAnaliseAF, nullptr);
  EXPECT_FALSE(frmAnaliseAF->netAnaliseAF.Connected());
  // A tally with no AF yet opens empty.
  IniProc(Value(ValueArray{Value("0001"), Value("77")}));
  EXPECT_TRUE(frmAnaliseAF->cdsAutoForne.IsEmpty());
  EXPECT_TRUE(frmAnaliseAF->cdsItmAutoForne.IsEmpty());
}

}  // namespace
}  // namespace apura::testing
