// The buyer's gestures against the reference server objects in-process, on the
// demo tally: the server's choice, a choice by hand with its justification,
// delivery editing and the unit-price edit, seen on every page.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "reference_server_fixture.h"
#include "worksheet/justification.h"

namespace apura::testing {
namespace {

using worksheet::TfrmObservJust;
using worksheet::TfrmPlanApurNegGrid;

class TallyServerIntegrationTest : public ReferenceServerTest {
 protected:
  static std::string Chave(const TClientDataSet& t) {
    return t.FieldByName("CDPRODITMAP").AsString() + "|" + t.FieldByName("CDREGITMAP").AsString() +
           "|" + t.FieldByName("CDFORNITMAP").AsString() + "|" +
           t.FieldByName("CDMARCITMAP").AsString() + "|" + t.FieldByName("NRCOLEITMAP").AsString();
  }
  // Moves to a product whose region has one negotiated item with a chosen
  // quotation line and another priced line.
  bool ItemComEscolha(TfrmPlanApurNegGrid& f) {
    for (f.cdsProduto.First(); !f.cdsProduto.Eof(); f.cdsProduto.Next()) {
      if (f.cdsProdItem.RecordCount() != 1 || f.cdsApurNeg.RecordCount() < 2) continue;
      if (f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) return true;
    }
    return false;
  }
};

TEST_F(TallyServerIntegrationTest, ServerTallyThenAChoiceByHandShowOnEveryPage) {
  TfrmPlanApurNegGrid& f = CreateForm(frmPlanApurNegGrid);
  f.Activate();
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  host.Answer(mrYes, "Confirma");
  ASSERT_TRUE(GuardedCall([&] { f.sbtApurar.Click(); }));
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  ASSERT_EQ(f.pgcPadrao.ActivePage(), &f.tshGeral);
  ASSERT_TRUE(f.cdsAuxApur.Active());
  // The quotation lines of the product in view, from the top.
  EXPECT_EQ(f.cdsApurNeg.RecNo(), 1);
  ASSERT_GT(f.cdsApurNeg.RecordCount(), 1);

  ASSERT_TRUE(ItemComEscolha(f)) << "no item of the demo has a server choice to replace";
  const std::string servidor = Chave(f.cdsApurNeg);
  EXPECT_GT(f.cdsApurNeg.FieldByName("QTACOMP").AsFloat(), 0);
  EXPECT_EQ(f.cdsProdItem.FieldByName("IDITMSELAPUR").AsString(), "S");

  // The buyer drops the server's choice...
  f.dbgFornecedor.SetSelectedField("VRPRECUNIAP");
  auto espaco = [&] {
    int k = VK_SPACE;
    f.dbgFornecedorKeyDown(f.dbgFornecedor, k, 0);
  };
  espaco();
  EXPECT_EQ(f.cdsApurNeg.FieldByName("IDITMSELAPUR").AsString(), "N");
  EXPECT_EQ(f.cdsApurNeg.FieldByName("QTACOMP").AsFloat(), 0);
  EXPECT_EQ(f.cdsProdItem.FieldByName("IDITMSELAPUR").AsString(), "N");

  // ...and chooses another priced line, saying why.
  for (f.cdsApurNeg.First(); !f.cdsApurNeg.Eof(); f.cdsApurNeg.Next())
    if (Chave(f.cdsApurNeg) != servidor && f.cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat() > 0)
      break;
  ASSERT_FALSE(f.cdsApurNeg.Eof());
  const std::string escolhida = Chave(f.cdsApurNeg);
  host.AnswerModal([](TForm& d) {
    auto& j = dynamic_cast<TfrmObservJust&>(d);
    j.memObserv.SetText("Entrega mais r\u00e1pida");
    j.sbtConfirma.Click();
  });
  espaco();
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  EXPECT_EQ(host.PendingAnswers(), 0u);
  EXPECT_EQ(Chave(f.cdsApurNeg), escolhida);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("IDITMSELAPUR").AsString(), "S");
  const double apurada = f.cdsApurNeg.FieldByName("QTACOMP").AsFloat();
  EXPECT_GT(apurada, 0);
  EXPECT_EQ(f.cdsProdItem.FieldByName("IDITMSELAPUR").AsString(), "S");

  // "por Entrega" shows the new supplier on every branch request line.
  f.mnuPadraoClick(f.mnuPadrao);
  ASSERT_EQ(f.pgcPadrao.ActivePage(), &f.tshPadrao);
  ASSERT_FALSE(f.cdsPai_ItmApurPrec.IsEmpty());
  double entregue = 0;
  int linhas = 0;
  for (f.cdsPai_ItmApurPrec.First(); !f.cdsPai_ItmApurPrec.Eof(); f.cdsPai_ItmApurPrec.Next())
    for (f.cdsItmApurPrec.First(); !f.cdsItmApurPrec.Eof(); f.cdsItmApurPrec.Next()) {
      EXPECT_EQ(Chave(f.cdsItmApurPrec), escolhida);
      EXPECT_EQ(f.cdsItmApurPrec.FieldByName("IDMOTIVPRESC").AsString(), "");
      entregue += f.cdsItmApurPrec.FieldByName("QTACOMP").AsFloat();
      ++linhas;
    }
  EXPECT_GT(linhas, 0);
  EXPECT_DOUBLE_EQ(entregue, apurada);

  // The justification travels with the delivery data's changes.
  const DataPacket delta = f.cdsDados.Delta();
  const int just = delta.FieldIndex("TXOBESCMANAP");
  int justificadas = 0;
  for (size_t r = 0; r < delta.RowCount(); ++r)
    if (delta.Text(size_t(just), r) == "Entrega mais r\u00e1pida") ++justificadas;
  EXPECT_GT(justificadas, 0);
  EXPECT_TRUE(host.exceptions.empty());
}

// Delivery editing and the unit-price edit, on the demo tally already tallied,
// in a supplies module where prices may be corrected.
class EditingServerTest : public TallyServerIntegrationTest {
 protected:
  EditingServerTest() {
    service_->MelhorCotacao(demo_.centre, demo_.tally, "PRQ", "F");
    host.moduloAtiv = 34;
  }

  // On "Cotação", on the first item with a chosen quotation, that line current.
  TfrmPlanApurNegGrid& OnChosenQuotation() {
    TfrmPlanApurNegGrid& f = CreateForm(frmPlanApurNegGrid);
    f.Activate();
    f.mnuGeralClick(f.mnuGeral);
    for (f.cdsProdItem.First(); !f.cdsProdItem.Eof(); f.cdsProdItem.Next())
      if (f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) break;
    EXPECT_FALSE(f.cdsProdItem.Eof());
    return f;
  }
};

TEST_F(EditingServerTest, AChangedPriceComesBackWithTheServersEconomicPrices) {
  TfrmPlanApurNegGrid& f = OnChosenQuotation();
  TClientDataSet& a = f.cdsApurNeg;
  const double price = a.FieldByName("VRPRECUNIAP").AsFloat();
  const double econ = a.FieldByName("PRECOECON").AsFloat();
  const double econPi = a.FieldByName("PRECOECONPI").AsFloat();
  ASSERT_GT(price, 0);
  const std::vector<Value> key = {
      a.FieldByName("CDFORNITMAP").AsValue(), a.FieldByName("CDMARCITMAP").AsValue(),
      a.FieldByName("NRCOLEITMAP").AsValue(), a.FieldByName("CDPRODITMAP").AsValue(),
      a.FieldByName("CDREGITMAP").AsValue()};
  f.sbtAlterar.Click();
  a.FieldByName("VRPRECUNIAP").SetAsFloat(price * 1.25);
  host.Answer(mrFirstCaption);
  EXPECT_TRUE(GuardedCall([&] { f.sbtConfirmar.Click(); }));
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  EXPECT_EQ(a.State(), TDataSetState::dsBrowse);

  // Every term of the economic prices multiplies the unit price.
  EXPECT_NEAR(a.FieldByName("PRECOECON").AsFloat(), econ * 1.25, 1e-9 * econ);
  EXPECT_NEAR(a.FieldByName("PRECOECONPI").AsFloat(), econPi * 1.25, 1e-9 * econPi);

  // The server keeps what it answered.
  TClientDataSet stored("stored");
  stored.SetData(service_->GetApurNeg(demo_.centre, demo_.tally));
  ASSERT_TRUE(stored.Locate("CDFORNITMAP;CDMARCITMAP;NRCOLEITMAP;CDPRODITMAP;CDREGITMAP", key));
  EXPECT_DOUBLE_EQ(stored.FieldByName("VRPRECUNIAP").AsFloat(), price * 1.25);
  EXPECT_DOUBLE_EQ(stored.FieldByName("PRECOECON").AsFloat(), a.FieldByName("PRECOECON").AsFloat());
  EXPECT_DOUBLE_EQ(stored.FieldByName("PRECOECONPI").AsFloat(),
                   a.FieldByName("PRECOECONPI").AsFloat());
}

TEST_F(EditingServerTest, ASecondSupplierForABranchAndDateOnTheDemoTally) {
  TfrmPlanApurNegGrid& f = OnChosenQuotation();
  f.mnuPadraoClick(f.mnuPadrao);
  ASSERT_EQ(f.ActiveControl(), &f.dbgPadrao);
  const int lines = f.cdsItmApurPrec.RecordCount();
  const size_t rows = f.cdsItmApurPrec.StorageRows();
  f.sbtIncluir.Click();
  ASSERT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsInsert);
  ASSERT_FALSE(f.cdsItmApurPrec.FieldByName("CDFORNITMAP").IsNull()) << "a free quotation exists";
  worksheet::ChaveCotacao c{f.cdsItmApurPrec.FieldByName("CDFORNITMAP").AsString(),
                            f.cdsItmApurPrec.FieldByName("CDMARCITMAP").AsString(),
                            f.cdsItmApurPrec.FieldByName("NRCOLEITMAP").AsString(),
                            f.cdsPai_ItmApurPrec.FieldByName("CDPRODITMAP").AsString(),
                            f.cdsPai_ItmApurPrec.FieldByName("CDREGITMAP").AsString()};
  f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(2);
  GuardedCall([&] { f.sbtConfirmar.Click(); });
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  ASSERT_TRUE(host.messages.empty()) << host.messages.front().text;
  EXPECT_EQ(f.cdsItmApurPrec.RecordCount(), lines + 1);
  EXPECT_EQ(f.cdsItmApurPrec.StorageRows(), rows);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("IDITMSELAPUR").AsString(), "S");
  EXPECT_EQ(f.cdsApurNeg.FieldByName("QTACOMP").AsFloat(), f.Soma_QtApurada(c));
  EXPECT_EQ(f.Soma_QtApurada(c), 2);
  EXPECT_GT(f.cdsDados.ChangeCount(), 0) << "the choice travels with the effectuation";
}
}  // namespace
}  // namespace apura::testing
