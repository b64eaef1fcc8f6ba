// Creation, activation, the message hook and closing of the worksheet.

#include "framework/format.h"
#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

class LifecycleTest : public WorksheetTest {
 protected:
  LifecycleTest() { ScriptTally(); }
};

TEST_F(LifecycleTest, AnEmptyPermissionListRestrictsNobody) {
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_TRUE(f.boPEME);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(db->Count("AUTGRUPOP.IDAUTGRUPOP = 'PEME'"), 1);
}

TEST_F(LifecycleTest, TheOperatorIsFoundWhateverTheLetterCase) {
  ScriptPermission({"OUTRO", "oper01"});
  host.operador = "OPER01";
  EXPECT_TRUE(Launch().boPEME);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(LifecycleTest, AnOperatorNotListedIsWarnedAndTheTallyStillOpens) {
  ScriptPermission({"OUTRO"});
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_FALSE(f.boPEME);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text,
            "Operador sem permiss\u00e3o para escolha manual de pre\u00e7o.");
  EXPECT_EQ(host.messages[0].kind, TMsgDlgType::mtWarning);
  EXPECT_EQ(host.messages[0].buttons, mbOK);
  EXPECT_TRUE(f.cdsItmApurPrec.Active());
}

TEST_F(LifecycleTest, PriceColumnsAndQuotationEditingFollowTheModule) {
  for (int modulo : {4, 34, 77, 5}) {
    SCOPED_TRACE(modulo);
    Application().DestroyForms();
    host.moduloAtiv = modulo;
    TfrmPlanApurNegGrid& f = Launch();
    f.Activate();
    const bool suprimentos = modulo == 34 || modulo == 77;
    EXPECT_EQ(f.dbgPadrao.FindColumn("VRPRECONPIAP")->Visible(), suprimentos);
    EXPECT_EQ(f.dbgFornecedor.FindColumn("PRECOECONPI")->Visible(), suprimentos);
    EXPECT_EQ(f.dbgFornecedor.HasOption(dgEditing), suprimentos);
    EXPECT_TRUE(f.dbgFornecedor.FindColumn("PRECOECON")->ReadOnly());
    f.Deactivate();
  }
}

TEST_F(LifecycleTest, OpensOnProductsWithTheHeaderFilledFromTheLaunch) {
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_EQ(f.pgcPadrao.ActivePage(), &f.tshProduto);
  EXPECT_TRUE(f.tshProduto.TabVisible());
  EXPECT_EQ(f.edtComprador.Text(), "Comprador Um");
  EXPECT_EQ(f.edtEnt_Ini.Text(), "09/03/2026");
  EXPECT_EQ(f.edtEnt_Fin.Text(), "20/03/2026");
  // 9 March 2026 is a Monday of week 11; the 20th a Friday of week 12.
  EXPECT_EQ(f.edtNmSem_Ini.Text(), "Seg");
  EXPECT_EQ(f.edtNum_Sem_Ini.Text(), "11");
  EXPECT_EQ(f.edtNmSem_Fin.Text(), "Sex");
  EXPECT_EQ(f.edtNum_Sem_Fin.Text(), "12");
  EXPECT_EQ(f.dtsAtivo, &f.dtsProduto);
  EXPECT_EQ(f.cdsProdutoCDARVPROD->EditMask(), "9.99.999.9999;0;_");
  EXPECT_EQ(f.cdsProdItemCDARVPROD->EditMask(), "9.99.999.9999;0;_");
  EXPECT_EQ(f.dbtNome.Text(), f.cdsProduto.FieldByName("NMPRODUTO").AsString());
}

TEST_F(LifecycleTest, AnInvalidPeriodKeepsTheDayAndWeekShown) {
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_THROW(f.edtEnt_Fin.SetText("31/02/2026"), ConversionError);
  EXPECT_EQ(f.edtNmSem_Fin.Text(), "Sex");
  EXPECT_EQ(f.edtNum_Sem_Fin.Text(), "12");
  f.edtEnt_Fin.SetText("03/01/2027");  // a Sunday
  EXPECT_EQ(f.edtNmSem_Fin.Text(), "Dom");
}

TEST_F(LifecycleTest, AnInvalidLaunchDateStopsCreationWithAnError) {
  stDtInicial = "2026-03-09";
  TfrmPlanApurNegGrid& f = Launch();
  ASSERT_EQ(host.exceptions.size(), 1u);
  EXPECT_NE(host.exceptions[0].find("2026-03-09"), std::string::npos);
  // Everything after the header was skipped, the form exists all the same.
  EXPECT_FALSE(f.cdsParaSupri.Active());
  EXPECT_TRUE(server.Calls().empty());
}

TEST_F(LifecycleTest, ScreenOf480LinesMaximises) {
  host.screenHeight = 480;
  TfrmPlanApurNegGrid& f = Launch();
  f.Activate();
  EXPECT_EQ(f.WindowState(), TWindowState::wsMaximized);
  Application().DestroyForms();
  host.screenHeight = 481;
  TfrmPlanApurNegGrid& g = Launch();
  g.Activate();
  EXPECT_EQ(g.WindowState(), TWindowState::wsNormal);
}

TEST_F(LifecycleTest, KeepConnectedOpensBothConnectionsOutsideTheCounts) {
  host.keepConnected = true;
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_EQ(server.Events().at(0).rfind("connect netPlanApurNegGrid", 0), 0u);
  EXPECT_EQ(server.Events().at(1).rfind("connect netCompras", 0), 0u);
  // The counts still close a connection when its last use ends.
  EXPECT_EQ(f.ConnectionCount(f.netCompras), 0);
  EXPECT_FALSE(f.netCompras.Connected());
}

TEST_F(LifecycleTest, ThePeriodKeyTypesACommaInNumberColumnsOnly) {
  TfrmPlanApurNegGrid& f = Launch();
  f.Activate();
  ASSERT_TRUE(host.HasMessageHook());
  f.mnuGeralClick(f.mnuGeral);
  ASSERT_EQ(f.ActiveControl(), &f.dbgFornecedor);
  f.dbgFornecedor.SetSelectedField("VRPRECUNIAP");
  for (int key : {VK_OEM_PERIOD, VK_DECIMAL}) {
    HostMessage m{HostMessage::Kind::KeyDown, key};
    host.SendMessage(m);
    EXPECT_EQ(m.key, VK_OEM_COMMA);
  }
  HostMessage other{HostMessage::Kind::KeyDown, 'A'};
  host.SendMessage(other);
  EXPECT_EQ(other.key, 'A');

  f.dbgFornecedor.SetSelectedField("NMFANTFORN");
  HostMessage text{HostMessage::Kind::KeyDown, VK_DECIMAL};
  host.SendMessage(text);
  EXPECT_EQ(text.key, VK_DECIMAL);

  // With a period as decimal separator nothing is translated.
  f.dbgFornecedor.SetSelectedField("VRPRECUNIAP");
  CurrentFormat().decimalSeparator = '.';
  HostMessage point{HostMessage::Kind::KeyDown, VK_OEM_PERIOD};
  host.SendMessage(point);
  EXPECT_EQ(point.key, VK_OEM_PERIOD);
  CurrentFormat().decimalSeparator = ',';

  // Another window active: the hook is gone; back again: it translates again.
  f.Deactivate();
  EXPECT_FALSE(host.HasMessageHook());
  f.Activate();
  HostMessage again{HostMessage::Kind::KeyDown, VK_OEM_PERIOD};
  host.SendMessage(again);
  EXPECT_EQ(again.key, VK_OEM_COMMA);
}

TEST_F(LifecycleTest, ThePeriodKeyOfABoundEditFollowsItsField) {
  TfrmPlanApurNegGrid& f = Launch();
  f.Activate();
  f.mnuPadraoClick(f.mnuPadrao);
  // The region name box edits a text field.
  f.SetActiveControl(&f.edtNmRegiao);
  HostMessage m{HostMessage::Kind::KeyDown, VK_OEM_PERIOD};
  host.SendMessage(m);
  EXPECT_EQ(m.key, VK_OEM_PERIOD);
}

TEST_F(LifecycleTest, ClosingWithUnsentChoicesAsksFirst) {
  TfrmPlanApurNegGrid& f = Launch();
  f.cdsDados.First();
  f.cdsDados.Edit();
  TField& sel = f.cdsDados.FieldByName("IDITMSELAPUR");
  sel.SetAsString(sel.AsString() == "S" ? "N" : "S");
  f.cdsDados.Post();
  ASSERT_EQ(f.cdsDados.ChangeCount(), 1);

  host.Answer(mrNo, "Existem escolhas n\u00e3o efetivadas nesta apura\u00e7\u00e3o.");
  f.Close();
  Application().ProcessReleases();
  ASSERT_TRUE(Application().Owns(f));
  EXPECT_TRUE(boStCriado);
  EXPECT_EQ(f.cdsDados.ChangeCount(), 1);
  EXPECT_EQ(host.LastMessage().kind, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(host.LastMessage().buttons, mbYesNo);

  f.ConnectServer(f.netPlanApurNegGrid, true);
  host.Answer(mrYes);
  f.Close();
  EXPECT_FALSE(boStCriado);
  EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
  EXPECT_GT(host.processMessagesCount, 0);
  Application().ProcessReleases();
  EXPECT_EQ(frmPlanApurNegGrid, nullptr);
}

TEST_F(LifecycleTest, AChoiceDroppedAgainIsNothingToLoseButALineBeingTypedIs) {
  TfrmPlanApurNegGrid& f = Launch();
  f.cdsDados.First();
  TField& sel = f.cdsDados.FieldByName("IDITMSELAPUR");
  const std::string was = sel.AsString();
  for (const std::string& v : {std::string(was == "S" ? "N" : "S"), was}) {
    f.cdsDados.Edit();
    sel.SetAsString(v);
    f.cdsDados.Post();
  }
  ASSERT_GT(f.cdsDados.ChangeCount(), 0);
  f.Close();
  EXPECT_TRUE(host.messages.empty());
  EXPECT_FALSE(boStCriado);
  Application().ProcessReleases();

  // A quantity typed on "por Entrega" and not yet confirmed.
  TfrmPlanApurNegGrid& g = Launch();
  g.mnuPadraoClick(g.mnuPadrao);
  ASSERT_FALSE(g.cdsItmApurPrec.IsEmpty());
  g.cdsItmApurPrec.Edit();
  g.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(7);
  host.Answer(mrNo, "Existem escolhas n\u00e3o efetivadas nesta apura\u00e7\u00e3o.");
  g.Close();
  Application().ProcessReleases();
  ASSERT_TRUE(Application().Owns(g));
  EXPECT_EQ(g.cdsItmApurPrec.State(), TDataSetState::dsEdit);
  EXPECT_EQ(g.cdsItmApurPrec.FieldByName("QTACOMP").AsFloat(), 7);
  host.Answer(mrYes);
  g.Close();
  EXPECT_FALSE(boStCriado);
}

TEST_F(LifecycleTest, ClosingWithoutChoicesOrOnItsOwnAsksNothing) {
  TfrmPlanApurNegGrid& f = Launch();
  f.Close();
  EXPECT_TRUE(host.messages.empty());
  EXPECT_FALSE(boStCriado);
  Application().ProcessReleases();

  TfrmPlanApurNegGrid& g = Launch();
  g.cdsDados.First();
  g.cdsDados.Edit();
  g.cdsDados.FieldByName("QTACOMP").SetAsFloat(g.cdsDados.FieldByName("QTACOMP").AsFloat() + 1);
  g.cdsDados.Post();
  g.Fecha_SemConfirmar();
  EXPECT_TRUE(host.messages.empty());
  EXPECT_FALSE(boStCriado);
}

}  // namespace
}  // namespace apura::testing
