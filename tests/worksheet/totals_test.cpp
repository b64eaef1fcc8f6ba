// The totals panels, worked out independently from the tally's rows as the
// tests set them, and what the panels enable and disable while shown.

#include <cmath>
#include <set>

#include "worksheet/markers.h"
#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

using worksheet::kTagAtualizacaoInterna;
using worksheet::kTagBloqueioAF;
using worksheet::kTagEdicaoInterna;
using worksheet::MarcadorTemporario;

class TotalsTest : public WorksheetTest {
 protected:
  TotalsTest() {
    // Quantities and prices that differ row by row, so every total is
    // distinguishable from its neighbours.
    int k = 0;
    for (Row& r : tally.apurNeg) {
      if (Text(r, "IDITMSELAPUR") == "S") r["QTACOMP"] = Value(10.0 + k % 9);
      ++k;
    }
    k = 0;
    for (Row& r : tally.itm) {
      r["QTACOMP"] = Value(1.0 + k % 7);
      r["VRPRECUNIAP"] = Value(0.5 + k % 5);
      ++k;
    }
  }

  TfrmPlanApurNegGrid& Open(int modulo = 4) {
    ScriptTally();
    host.moduloAtiv = modulo;
    TfrmPlanApurNegGrid& f = Launch();
    f.Activate();
    f.mnuGeralClick(f.mnuGeral);
    return f;
  }

  // Sums over the chosen model rows that pass `keep`.
  template <class Pred>
  static double Sum(const std::vector<Row>& rows, bool valor, Pred keep) {
    double s = 0;
    for (const Row& r : rows) {
      if (Text(r, "IDITMSELAPUR") != "S" || !keep(r)) continue;
      const double qt = r.at("QTACOMP").AsFloat();
      s += valor ? qt * r.at("VRPRECUNIAP").AsFloat() : qt;
    }
    return s;
  }
  template <class Pred>
  static double Distinct(const std::vector<Row>& rows, Pred keep) {
    std::set<std::pair<std::string, std::string>> pairs;
    for (const Row& r : rows)
      if (Text(r, "IDITMSELAPUR") == "S" && keep(r))
        pairs.insert({Text(r, "CDPRODITMAP"), Text(r, "CDMARCITMAP")});
    return static_cast<double>(pairs.size());
  }
  static auto Is(const char* field, std::string value) {
    return [field, value](const Row& r) { return Text(r, field) == value; };
  }
  template <class A, class B>
  static auto Both(A a, B b) {
    return [a, b](const Row& r) { return a(r) && b(r); };
  }
};

TEST_F(TotalsTest, QuotationPanelMatchesTheChosenRowsOfTheLineUnderTheCursor) {
  TfrmPlanApurNegGrid& f = Open();
  int checked = 0;
  for (f.cdsProdItem.First(); !f.cdsProdItem.Eof() && checked < 6; f.cdsProdItem.Next()) {
    for (f.cdsApurNeg.First(); !f.cdsApurNeg.Eof(); f.cdsApurNeg.Next()) {
      const std::string prod = Current(f.cdsApurNeg, "CDPRODITMAP");
      const std::string forn = Current(f.cdsApurNeg, "CDFORNITMAP");
      const std::string reg = Current(f.cdsApurNeg, "CDREGITMAP");
      // Toolbar and menu alternate: both must show the same panel.
      if (checked % 2) {
        f.sbtTotais.Click();
      } else {
        f.mnuTotaisClick(f.mnuTotais);
      }
      ASSERT_TRUE(f.panFiltro.Visible());
      const auto& a = tally.apurNeg;
      EXPECT_NEAR(f.nedVrTotReg.Number(), Sum(a, true, Is("CDREGITMAP", reg)), 1e-9);
      EXPECT_NEAR(f.nedVrForn.Number(), Sum(a, true, Is("CDFORNITMAP", forn)), 1e-9);
      EXPECT_NEAR(f.nedRegForn.Number(),
                  Sum(a, true, Both(Is("CDFORNITMAP", forn), Is("CDREGITMAP", reg))), 1e-9);
      EXPECT_NEAR(f.nedQtTotForn.Number(),
                  Sum(a, false, Both(Is("CDFORNITMAP", forn), Is("CDPRODITMAP", prod))), 1e-9);
      EXPECT_NEAR(f.nedVrTotFornProd.Number(),
                  Sum(a, true, Both(Is("CDFORNITMAP", forn), Is("CDPRODITMAP", prod))), 1e-9);
      EXPECT_NEAR(f.nedVrTotProdGer.Number(), Sum(a, true, Is("CDPRODITMAP", prod)), 1e-9);
      EXPECT_EQ(f.nedNumFornProd.Number(), Distinct(a, Is("CDFORNITMAP", forn)));
      EXPECT_EQ(f.nedNumRegProd.Number(), Distinct(a, Is("CDREGITMAP", reg)));
      if (checked % 2) {
        f.sbtTotais.Click();
      } else {
        f.mnuTotaisClick(f.mnuTotais);
      }
      ASSERT_FALSE(f.panFiltro.Visible());
      ++checked;
    }
  }
  EXPECT_GE(checked, 6);
}

TEST_F(TotalsTest, NothingChosenShowsZeroInTheGivenFormats) {
  for (auto* rows : {&tally.apurNeg, &tally.itm, &tally.dados})
    for (Row& r : *rows) r["IDITMSELAPUR"] = Value("N");
  TfrmPlanApurNegGrid& f = Open();
  f.sbtTotais.Click();
  for (TNumberEdit* e : {&f.nedVrForn, &f.nedRegForn, &f.nedQtTotForn, &f.nedVrTotProdGer,
                         &f.nedVrTotFornProd, &f.nedVrTotReg})
    EXPECT_EQ(e->Text(), "0,00000") << e->Name;
  EXPECT_EQ(f.nedNumFornProd.Text(), "0");
  EXPECT_EQ(f.nedNumRegProd.Text(), "0");
  f.sbtTotais.Click();

  f.mnuPadraoClick(f.mnuPadrao);
  f.sbtTotais.Click();
  ASSERT_TRUE(f.panFilt_Entrega.Visible());
  for (TNumberEdit* e :
       {&f.nedVrTotFil_Ger, &f.nedVrTotFil_Prod, &f.nedQtTotFil_Prod, &f.edtVrTotReg})
    EXPECT_EQ(e->Text(), "0,00000") << e->Name;
}

// Product "12" with brand "3" and product "1" with brand "23" glue to the
// same text; they are two products.
TEST_F(TotalsTest, ProductCountsCompareProductAndBrandAsAPair) {
  for (Row& r : tally.apurNeg)
    if (Text(r, "CDFORNITMAP") == "FORN01") r["IDITMSELAPUR"] = Value("N");
  // FORN01 chosen for item I11 in two regions, with the same brand.
  std::vector<Row*> i11;
  for (Row& r : tally.apurNeg)
    if (Text(r, "CDFORNITMAP") == "FORN01" && Text(r, "CDPRODITMAP") == "I11") i11.push_back(&r);
  ASSERT_GE(i11.size(), 2u);
  for (Row* r : {i11[0], i11[1]}) {
    (*r)["IDITMSELAPUR"] = Value("S");
    (*r)["QTACOMP"] = Value(1000.0);
    (*r)["VRPRECUNIAP"] = Value(12.5);
  }
  Row glued1 = *i11[0], glued2 = *i11[0];
  glued1["CDPRODITMAP"] = Value("12");
  glued1["CDMARCITMAP"] = Value("3");
  glued2["CDPRODITMAP"] = Value("1");
  glued2["CDMARCITMAP"] = Value("23");
  tally.apurNeg.push_back(glued1);
  tally.apurNeg.push_back(glued2);

  auto count = [this](TfrmPlanApurNegGrid& f) {
    EXPECT_TRUE(f.cdsApurNeg.Locate("CDFORNITMAP", Value("FORN01")));
    return f.Monta_Totais('A');
  };
  {
    TfrmPlanApurNegGrid& f = Open();
    EXPECT_EQ(count(f), 3);  // I11 once, "12"+"3", "1"+"23"
    f.sbtTotais.Click();
    EXPECT_EQ(f.nedVrForn.Text(), "50.000,00000");  // four rows of 12.500
    EXPECT_EQ(f.nedNumFornProd.Text(), "3");
  }
  Application().DestroyForms();
  (*i11[1])["CDMARCITMAP"] = Value("M9");
  TfrmPlanApurNegGrid& f = Open();
  EXPECT_EQ(count(f), 4);  // another brand in the second region counts again
  // An unknown selector totals nothing.
  EXPECT_EQ(f.Monta_Totais('Z'), 0);
}

// A code holding a quote filters on itself instead of breaking the filter.
TEST_F(TotalsTest, ACodeWithAQuoteIsTotalledLikeAnyOther) {
  for (auto* rows : {&tally.apurNeg, &tally.itm, &tally.dados})
    for (Row& r : *rows)
      if (Text(r, "CDFORNITMAP") == "FORN01") r["CDFORNITMAP"] = Value("FO'RN01");
  TfrmPlanApurNegGrid& f = Open();
  ASSERT_TRUE(f.cdsApurNeg.Locate("CDFORNITMAP", Value("FO'RN01")));
  EXPECT_NEAR(f.Monta_Totais('4'), Sum(tally.apurNeg, true, Is("CDFORNITMAP", "FO'RN01")), 1e-9);
  EXPECT_GT(f.Monta_Totais('4'), 0);
  EXPECT_EQ(f.Monta_Totais('A'), Distinct(tally.apurNeg, Is("CDFORNITMAP", "FO'RN01")));
}

TEST_F(TotalsTest, DeliveryPanelTakesTheBranchInViewAndTheProductOfTheQuotationLine) {
  TfrmPlanApurNegGrid& f = Open();
  ASSERT_TRUE(f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S")));
  const std::string prod = Current(f.cdsApurNeg, "CDPRODITMAP");
  const std::string reg = Current(f.cdsApurNeg, "CDREGITMAP");
  f.mnuPadraoClick(f.mnuPadrao);
  ASSERT_GE(f.cdsPai_ItmApurPrec.RecordCount(), 2);
  f.cdsPai_ItmApurPrec.Last();
  const std::string fil = Current(f.cdsPai_ItmApurPrec, "CDFILIAP");
  ASSERT_EQ(Current(f.cdsApurNeg, "CDPRODITMAP"), prod);

  f.sbtTotais.Click();
  ASSERT_TRUE(f.panFilt_Entrega.Visible());
  EXPECT_TRUE(f.sbtTotais.Down());
  const auto& d = tally.itm;
  const double geral = Sum(d, true, Is("CDFILIAP", fil));
  const double produto = Sum(d, true, Both(Is("CDFILIAP", fil), Is("CDPRODITMAP", prod)));
  EXPECT_NEAR(f.nedVrTotFil_Ger.Number(), geral, 1e-9);
  EXPECT_NEAR(f.nedVrTotFil_Prod.Number(), produto, 1e-9);
  EXPECT_GT(geral, produto) << "the branch has other products' deliveries";
  EXPECT_NEAR(f.nedQtTotFil_Prod.Number(),
              Sum(d, false, Both(Is("CDFILIAP", fil), Is("CDPRODITMAP", prod))), 1e-9);
  EXPECT_NEAR(f.edtVrTotReg.Number(), Sum(tally.apurNeg, true, Is("CDREGITMAP", reg)), 1e-9);

  // While shown nothing moves the cursors the totals depend on.
  EXPECT_FALSE(f.tshProduto.Enabled());
  EXPECT_FALSE(f.tshGeral.Enabled());
  EXPECT_FALSE(f.mnuGeral.Enabled());
  EXPECT_FALSE(f.dbgCot_Filial.Enabled());
  EXPECT_FALSE(f.dbgPadrao.Enabled());
  EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
  EXPECT_FALSE(f.sbtGerarAF.Enabled());
  EXPECT_EQ(f.dtsAtivo, nullptr);
  f.Habilita_Geral();
  EXPECT_FALSE(f.mnuGerarAF.Enabled());

  f.mnuTotaisClick(f.mnuTotais);
  EXPECT_FALSE(f.panFilt_Entrega.Visible());
  EXPECT_FALSE(f.sbtTotais.Down());
  EXPECT_TRUE(f.tshGeral.Enabled());
  EXPECT_TRUE(f.dbgPadrao.Enabled());
  EXPECT_EQ(f.sbtGerarAF.Tag, 0);
  EXPECT_TRUE(f.sbtGerarAF.Enabled());
  EXPECT_EQ(f.ActiveControl(), &f.dbgCot_Filial);
  EXPECT_EQ(f.dtsAtivo, &f.dtsPadrao);
}

TEST_F(TotalsTest, LocalChoicesNotYetSentAreCounted) {
  TfrmPlanApurNegGrid& f = Open();
  ASSERT_TRUE(f.cdsApurNeg.Locate("IDITMSELAPUR", Value("N")));
  const std::string forn = Current(f.cdsApurNeg, "CDFORNITMAP");
  const double price = f.cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat();
  const double before = Sum(tally.apurNeg, true, Is("CDFORNITMAP", forn));
  {
    MarcadorTemporario m(f.dbgFornecedor.Tag, kTagEdicaoInterna);
    f.cdsApurNeg.Edit();
    f.cdsApurNeg.FieldByName("IDITMSELAPUR").SetAsString("S");
    f.cdsApurNeg.FieldByName("QTACOMP").SetAsFloat(7);
    f.cdsApurNeg.Post();
  }
  f.sbtTotais.Click();
  EXPECT_NEAR(f.nedVrForn.Number(), before + 7 * price, 1e-9);
  f.sbtTotais.Click();

  f.mnuPadraoClick(f.mnuPadrao);
  const std::string fil = Current(f.cdsPai_ItmApurPrec, "CDFILIAP");
  const double geral = Sum(tally.itm, true, Is("CDFILIAP", fil));
  ASSERT_FALSE(f.cdsItmApurPrec.IsEmpty());
  const bool chosen = Current(f.cdsItmApurPrec, "IDITMSELAPUR") == "S";
  const double old = chosen ? f.cdsItmApurPrec.FieldByName("QTACOMP").AsFloat() *
                                  f.cdsItmApurPrec.FieldByName("VRPRECUNIAP").AsFloat()
                            : 0;
  const double p = f.cdsItmApurPrec.FieldByName("VRPRECUNIAP").AsFloat();
  {
    MarcadorTemporario m(f.cdsItmApurPrec.Tag, kTagAtualizacaoInterna);
    f.cdsItmApurPrec.Edit();
    f.cdsItmApurPrec.FieldByName("IDITMSELAPUR").SetAsString("S");
    f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(3);
    f.cdsItmApurPrec.Post();
  }
  f.sbtTotais.Click();
  EXPECT_NEAR(f.nedVrTotFil_Ger.Number(), geral - old + 3 * p, 1e-9);
}

TEST_F(TotalsTest, QuotationPanelBlocksNavigationAndTheAfCommand) {
  TfrmPlanApurNegGrid& f = Open(4);
  f.dbgFornecedor.SetFocus();
  f.Habilita_Geral();
  f.sbtTotais.Click();
  EXPECT_TRUE(f.panFiltro.Visible());
  EXPECT_EQ(f.ActiveControl(), &f.panFiltro) << "the focus left the grids being disabled";
  EXPECT_TRUE(f.sbtTotais.Down());
  for (TControl* c : {static_cast<TControl*>(&f.tshPadrao), static_cast<TControl*>(&f.tshProduto),
                      static_cast<TControl*>(&f.scbGeral), static_cast<TControl*>(&f.scbRegiao)})
    EXPECT_FALSE(c->Enabled()) << c->Name;
  EXPECT_FALSE(f.mnuPadrao.Enabled());
  EXPECT_FALSE(f.dbgFornecedor.CanFocus()) << "the grids sit in the disabled scroll boxes";
  EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
  EXPECT_EQ(f.mnuGerarAF.Tag, kTagBloqueioAF);
  EXPECT_FALSE(f.sbtGerarAF.Enabled());
  // Purchasing keeps the quotation lines as the data link in focus.
  EXPECT_EQ(f.dtsAtivo, &f.dtsApurNeg);
  f.Habilita_Geral();
  EXPECT_FALSE(f.sbtGerarAF.Enabled());
  EXPECT_FALSE(f.mnuGerarAF.Enabled());

  f.sbtTotais.Click();
  EXPECT_FALSE(f.panFiltro.Visible());
  EXPECT_FALSE(f.sbtTotais.Down());
  EXPECT_TRUE(f.tshPadrao.Enabled());
  EXPECT_TRUE(f.scbGeral.Enabled());
  EXPECT_TRUE(f.dbgFornecedor.CanFocus());
  EXPECT_EQ(f.ActiveControl(), &f.dbgFornecedor);
  EXPECT_EQ(f.sbtGerarAF.Tag, 0);
  EXPECT_TRUE(f.sbtGerarAF.Enabled());
  EXPECT_TRUE(f.mnuGerarAF.Enabled());
}

TEST_F(TotalsTest, SuppliesModulesLeaveNoDataLinkInFocusWhileShown) {
  for (int modulo : {34, 77}) {
    Application().DestroyForms();
    TfrmPlanApurNegGrid& f = Open(modulo);
    f.mnuTotaisClick(f.mnuTotais);
    EXPECT_TRUE(f.panFiltro.Visible());
    EXPECT_TRUE(f.sbtTotais.Down());
    EXPECT_EQ(f.dtsAtivo, nullptr) << modulo;
    f.mnuTotaisClick(f.mnuTotais);
    EXPECT_FALSE(f.sbtTotais.Down());
    EXPECT_EQ(f.dtsAtivo, &f.dtsApurNeg) << modulo;
  }
}

TEST_F(TotalsTest, OnTheProductsPageOnlyThePressedStateChanges) {
  TfrmPlanApurNegGrid& f = Open();
  f.mnuProdutoClick(f.mnuProduto);
  TDataSource* ativo = f.dtsAtivo;
  const bool geral = f.tshGeral.Enabled(), padrao = f.tshPadrao.Enabled();
  f.sbtTotais.Click();
  EXPECT_TRUE(f.sbtTotais.Down());
  EXPECT_FALSE(f.panFiltro.Visible());
  EXPECT_FALSE(f.panFilt_Entrega.Visible());
  EXPECT_EQ(f.tshGeral.Enabled(), geral);
  EXPECT_EQ(f.tshPadrao.Enabled(), padrao);
  EXPECT_EQ(f.sbtGerarAF.Tag, 0);
  EXPECT_EQ(f.dtsAtivo, ativo);
  f.mnuTotaisClick(f.mnuTotais);
  EXPECT_FALSE(f.sbtTotais.Down());
}

TEST_F(TotalsTest, PanelsCarryTheirCaptionsAndFormats) {
  TfrmPlanApurNegGrid& f = Open();
  EXPECT_FALSE(f.panFiltro.Visible());
  EXPECT_FALSE(f.panFilt_Entrega.Visible());
  EXPECT_EQ(f.grbVrTotReg.Caption(), "Valor Total Apurado ");
  EXPECT_EQ(f.grbVrTotFil.Caption(), "Valor Total  da Filial");
  EXPECT_EQ(f.grbNumProd.Caption(), "Nº de Produtos Apurados");
  EXPECT_EQ(f.lblRegForn.Caption(), "na Região");
  EXPECT_EQ(f.nedVrForn.Parent(), &f.grbVrForn);
  EXPECT_EQ(f.edtVrTotReg.Parent(), &f.grbVrTotRegEnt);
  EXPECT_EQ(f.dbgFornecedor.Parent(), &f.scbGeral);
  EXPECT_EQ(f.dbgRegiao.Parent(), &f.scbRegiao);
  EXPECT_EQ(f.tshGeral.Controls().back(), &f.panFiltro);
  f.nedQtTotForn.SetNumber(1234567.5);
  EXPECT_EQ(f.nedQtTotForn.Text(), "1.234.567,50000");
  f.nedNumRegProd.SetNumber(1234);
  EXPECT_EQ(f.nedNumRegProd.Text(), "1234");
}

}  // namespace
}  // namespace apura::testing
