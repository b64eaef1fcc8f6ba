// Which commands the buyer can use where, and the keys of the grids.

#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

class ModesTest : public WorksheetTest {
 protected:
  ModesTest() { ScriptTally(); }
  TfrmPlanApurNegGrid& Open(int modulo) {
    host.moduloAtiv = modulo;
    TfrmPlanApurNegGrid& f = Launch();
    f.Activate();
    return f;
  }
  // Quotation page, on an item that has a chosen quotation.
  void OnChosenQuotation(TfrmPlanApurNegGrid& f, bool chosen) {
    f.mnuGeralClick(f.mnuGeral);
    for (f.cdsProdItem.First(); !f.cdsProdItem.Eof(); f.cdsProdItem.Next())
      if (f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) break;
    ASSERT_FALSE(f.cdsProdItem.Eof());
    if (!chosen) {
      ASSERT_TRUE(f.cdsApurNeg.Locate("IDITMSELAPUR", Value("N")));
    }
  }
};

TEST_F(ModesTest, TheDeliveryPageOpensOnceQuotationLinesAreLoaded) {
  Application().DestroyForms();
  server.ReplyFailure("GetApurNeg", "falhou");
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_FALSE(f.tshPadrao.Enabled());
  f.Get_Data();
  EXPECT_TRUE(f.tshPadrao.Enabled());
}

TEST_F(ModesTest, OnTheProductsGridTallyCommandsAreOff) {
  TfrmPlanApurNegGrid& f = Open(34);
  f.dbgProdEsto.SetFocus();
  f.Habilita_Geral();
  EXPECT_EQ(f.dtsAtivo, &f.dtsProduto);
  for (TButtonFlat* b : {&f.sbtTotais, &f.sbtGerarAF, &f.sbtPlanilha, &f.sbtApurar, &f.sbtSimulacao,
                         &f.sbtIncluir, &f.sbtExcluir, &f.sbtAlterar})
    EXPECT_FALSE(b->Enabled()) << b->Name;
  EXPECT_TRUE(f.sbtProcurar.Enabled());
  EXPECT_FALSE(f.mnuApurar.Enabled());
  EXPECT_TRUE(f.dbnPadrao.Enabled());
}

TEST_F(ModesTest, PurchasingChangesDeliveriesButNotQuotations) {
  TfrmPlanApurNegGrid& f = Open(4);
  OnChosenQuotation(f, true);
  f.dbgFornecedor.SetFocus();
  f.Habilita_Geral();
  EXPECT_EQ(f.dtsAtivo, &f.dtsApurNeg);
  EXPECT_FALSE(f.sbtAlterar.Enabled());
  EXPECT_FALSE(f.sbtSimulacao.Enabled());
  EXPECT_TRUE(f.sbtApurar.Enabled());
  EXPECT_TRUE(f.mnuApurar.Enabled());

  f.mnuPadraoClick(f.mnuPadrao);
  ASSERT_EQ(f.ActiveControl(), &f.dbgPadrao);
  ASSERT_FALSE(f.cdsItmApurPrec.IsEmpty());
  f.Habilita_Geral();
  EXPECT_TRUE(f.sbtAlterar.Enabled());
  EXPECT_TRUE(f.sbtIncluir.Enabled());
  EXPECT_TRUE(f.sbtExcluir.Enabled());
  EXPECT_FALSE(f.dbnPadrao.Enabled());
  EXPECT_EQ(f.dbgPadrao.FindColumn("NMFANTFORN")->ButtonStyle(), TColumnButtonStyle::cbsEllipsis);

  // Blocked AF generation stays off.
  f.sbtGerarAF.Tag = 99;
  f.Habilita_Geral();
  EXPECT_FALSE(f.sbtGerarAF.Enabled());
  EXPECT_FALSE(f.mnuGerarAF.Enabled());
}

TEST_F(ModesTest, AnUnchosenQuotationAllowsNoNewDeliveryLine) {
  TfrmPlanApurNegGrid& f = Open(34);
  OnChosenQuotation(f, false);
  f.mnuPadraoClick(f.mnuPadrao);
  ASSERT_FALSE(f.cdsItmApurPrec.IsEmpty()) << "the chosen supplier's lines are shown";
  f.Habilita_Geral();
  EXPECT_FALSE(f.sbtIncluir.Enabled());
  EXPECT_TRUE(f.sbtAlterar.Enabled());
  EXPECT_EQ(f.dbgPadrao.FindColumn("NMFANTFORN")->ButtonStyle(), TColumnButtonStyle::cbsNone);
}

TEST_F(ModesTest, LeavingForATotalsPanelTurnsRecordCommandsOff) {
  TfrmPlanApurNegGrid& f = Open(34);
  f.mnuGeralClick(f.mnuGeral);
  f.Habilita_Geral();
  ASSERT_TRUE(f.sbtApurar.Enabled());
  const bool af = f.sbtGerarAF.Enabled();
  f.panFiltro.SetVisible(true);
  f.panFiltro.SetFocus();
  EXPECT_EQ(f.dtsAtivo, nullptr);
  f.Habilita_Geral();
  for (TButtonFlat* b : {&f.sbtApurar, &f.sbtPlanilha, &f.sbtSimulacao, &f.sbtProcurar,
                         &f.sbtAlterar, &f.sbtCancelar})
    EXPECT_FALSE(b->Enabled()) << b->Name;
  EXPECT_EQ(f.sbtGerarAF.Enabled(), af);
}

TEST_F(ModesTest, EditingAPriceKeepsTheBuyerOnTheQuotations) {
  TfrmPlanApurNegGrid& f = Open(34);
  f.mnuGeralClick(f.mnuGeral);
  f.cdsApurNeg.Edit();
  EXPECT_FALSE(f.tshProduto.Enabled());
  EXPECT_FALSE(f.tshPadrao.Enabled());
  EXPECT_FALSE(f.dbgRegiao.Enabled());
  f.Habilita_Geral();
  EXPECT_FALSE(f.dbnPadrao.Enabled());
  EXPECT_TRUE(f.sbtConfirmar.Enabled());

  // Cancel asks the standard question; No keeps the edit.
  host.Answer(mrNo);
  f.sbtCancelar.Click();
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsEdit);
  host.Answer(mrYes);
  f.sbtCancelar.Click();
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(f.tshPadrao.Enabled());
  EXPECT_TRUE(f.dbgRegiao.Enabled());
}

TEST_F(ModesTest, EditingADeliveryLineKeepsTheBuyerOnIt) {
  TfrmPlanApurNegGrid& f = Open(34);
  OnChosenQuotation(f, true);
  f.mnuPadraoClick(f.mnuPadrao);
  f.sbtAlterar.Click();
  EXPECT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsEdit);
  EXPECT_EQ(f.dbgPadrao.SelectedField()->FieldName(), "QTACOMP");
  EXPECT_FALSE(f.dbgCot_Filial.Enabled());
  EXPECT_FALSE(f.tshGeral.Enabled());
  EXPECT_TRUE(f.mnuConfirmar.Enabled());
  f.sbtConfirmar.Click();
  EXPECT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(f.tshGeral.Enabled());
}

TEST_F(ModesTest, OnlyTheQuantityOfADeliveryLineIsTyped) {
  TfrmPlanApurNegGrid& f = Open(34);
  OnChosenQuotation(f, true);
  f.mnuPadraoClick(f.mnuPadrao);
  f.dbgPadrao.SetSelectedField("NMFANTFORN");
  int key = VK_DELETE;
  EXPECT_THROW(f.KeyDown(key, 0), EAbort);
  EXPECT_EQ(key, 0);
  char32_t ch = U'a';
  f.KeyPress(ch);
  EXPECT_EQ(ch, 0u);

  f.dbgPadrao.SetSelectedField("QTACOMP");
  key = VK_BACK;
  f.KeyDown(key, 0);
  EXPECT_EQ(key, VK_BACK);
  for (char32_t sign : {U'-', U'+', U'e', U'E'}) {
    ch = sign;
    f.KeyPress(ch);
    EXPECT_EQ(ch, U' ');
  }
  ch = U'7';
  f.KeyPress(ch);
  EXPECT_EQ(ch, U'7');
  key = VK_F12;
  f.KeyDown(key, 0);
  EXPECT_EQ(key, 0);

  // Entering the reason column opens its editor, so its button is ready.
  f.dbgPadrao.SetSelectedField("IDMOTIVPRESC");
  if (f.dbgPadrao.OnColEnter) f.dbgPadrao.OnColEnter(f.dbgPadrao);
  EXPECT_TRUE(f.dbgPadrao.EditorMode());
}

TEST_F(ModesTest, AltPageKeysMoveBetweenGrids) {
  TfrmPlanApurNegGrid& f = Open(34);
  f.mnuGeralClick(f.mnuGeral);
  f.dbgRegiao.SetFocus();
  int key = VK_NEXT;
  f.KeyDown(key, ssAlt);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(f.ActiveControl(), &f.dbgProduto);
  key = VK_NEXT;
  f.KeyDown(key, ssAlt);
  EXPECT_EQ(f.ActiveControl(), &f.dbgFornecedor);
  f.dbgProduto.SetFocus();
  key = VK_PRIOR;
  f.KeyDown(key, ssAlt);
  EXPECT_EQ(f.ActiveControl(), &f.dbgRegiao);

  f.mnuPadraoClick(f.mnuPadrao);
  key = VK_PRIOR;
  f.KeyDown(key, ssAlt);
  EXPECT_EQ(f.ActiveControl(), &f.dbgCot_Filial);
  EXPECT_EQ(f.dtsAtivo, &f.dtsPai_ItmApurPrec);
  key = VK_DELETE;
  f.KeyDown(key, ssCtrl);
  EXPECT_EQ(key, 0);
  key = VK_NEXT;
  f.KeyDown(key, ssAlt);
  EXPECT_EQ(f.ActiveControl(), &f.dbgPadrao);
}

TEST_F(ModesTest, LeavingDeliveriesAfterAChangeRefreshesQuotationsBriefly) {
  TfrmPlanApurNegGrid& f = Open(34);
  OnChosenQuotation(f, true);
  f.cdsApurNeg.Last();
  const std::string line = Current(f.cdsApurNeg, "NRCOLEITMAP;CDFORNITMAP;CDMARCITMAP");
  f.mnuPadraoClick(f.mnuPadrao);
  f.cdsApurNeg.Tag = 99;
  std::vector<std::string> seen;
  int token = f.panAnimacao.Subscribe([&](TComponent&, std::string_view p) {
    if (p == "Visible") seen.push_back(f.panAnimacao.Visible() ? f.lblInsert.Caption() : "-");
  });
  f.pgcPadrao.SelectPageByUser(f.tshGeral);
  f.panAnimacao.Unsubscribe(token);
  EXPECT_EQ(seen, (std::vector<std::string>{"Atualizando produtos apurados.", "-"}));
  EXPECT_EQ(f.cdsApurNeg.Tag, 0);
  EXPECT_FALSE(f.amnTempo.Active());
  EXPECT_EQ(Current(f.cdsApurNeg, "NRCOLEITMAP;CDFORNITMAP;CDMARCITMAP"), line);

  // Without a change nothing is shown.
  f.mnuPadraoClick(f.mnuPadrao);
  seen.clear();
  token = f.panAnimacao.Subscribe([&](TComponent&, std::string_view p) {
    if (p == "Visible") seen.push_back("x");
  });
  f.pgcPadrao.SelectPageByUser(f.tshGeral);
  f.panAnimacao.Unsubscribe(token);
  EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace apura::testing
