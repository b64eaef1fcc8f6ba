// Effectuation from the worksheet: the lock, the double-effectuation guard,
// the arguments sent, and every path through the server's outcome.

#include <algorithm>

#include "worksheet/markers.h"
#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

using worksheet::kTagBloqueioAF;

class AfGenerationTest : public WorksheetTest {
 protected:
  AfGenerationTest() {
    ScriptTally();
    Efetivada("");
  }

  // What GetVd_EfetivaAF answers: the tally number when it was effectuated.
  void Efetivada(const std::string& nrSeqApur) {
    PacketBuilder b({{"NRSEQAPUR", FieldType::String, 10}});
    b.Add({Value(nrSeqApur)});
    DataPacket p = b.Build();
    server.Handle("GetVd_EfetivaAF", [p](const test::RecordedCall&) { return ResultOk(Value(p)); });
  }

  static DataPacket Incons(int rows) {
    PacketBuilder b({{"NRAUTOFORN", FieldType::String, 10}, {"CDFORNECED", FieldType::String, 10}});
    for (int i = 0; i < rows; ++i) b.Add({Value(std::to_string(900 + i)), Value("FORN01")});
    return b.Build();
  }

  static Value Outcome(Value incons, std::string texto, bool falhou, std::string aviso,
                       std::string fatal) {
    return Value(ValueArray{std::move(incons), Value(std::move(texto)), Value(falhou),
                            Value(std::move(aviso)), Value(), Value(std::move(fatal))});
  }

  TfrmPlanApurNegGrid& Open(int modulo = 34) {
    host.moduloAtiv = modulo;
    TfrmPlanApurNegGrid& f = Launch();
    f.Activate();
    f.mnuGeralClick(f.mnuGeral);
    host.ClearRecords();
    server.ClearRecords();
    return f;
  }

  // Runs the command as the host runs a user event; answers whether it ran
  // to its end.
  bool Efetivar(TfrmPlanApurNegGrid& f) {
    return GuardedCall([&f] { f.sbtGerarAFClick(f.sbtGerarAF); });
  }

  // What the buyer saw and what the host was asked, in order.
  std::vector<std::string> Seen() const {
    std::vector<std::string> out;
    for (const std::string& e : host.log)
      if (e.rfind("MessageBox", 0) == 0 || e.rfind("ActiveShowAvi", 0) == 0 ||
          e == "DeactiveShowAvi" || e.rfind("LoadBPL", 0) == 0 || e.rfind("PostClose", 0) == 0 ||
          e.rfind("ShowException", 0) == 0)
        out.push_back(e);
    return out;
  }

  std::string Msg(TfrmPlanApurNegGrid& f, const char* key) { return f.msgPadrao.Msg(key); }

  // Every connection opened was closed again.
  void ExpectConnectionsClosed(TfrmPlanApurNegGrid& f) {
    EXPECT_FALSE(f.netCompras.Connected());
    EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
    EXPECT_EQ(f.ConnectionCount(f.netCompras), 0);
    EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
  }
};

TEST_F(AfGenerationTest, SuccessShowsWarningInformationInconsistenciesThenHandsOver) {
  TfrmPlanApurNegGrid& f = Open();
  // A local choice, so closing would ask about it were the close not the
  // worksheet's own.
  ASSERT_TRUE(f.cdsDados.Locate("IDITMSELAPUR", Value("S")));
  f.cdsDados.Edit();
  f.cdsDados.FieldByName("TXOBESCMANAP").SetAsString("prazo");
  f.cdsDados.Post();
  server.ReplyOk("Gera_AF", Outcome(Value(Incons(2)), "AF(s) efetivadas com sucesso.", false,
                                    "Preço acima do último", ""));

  EXPECT_TRUE(Efetivar(f));
  EXPECT_EQ(Seen(), (std::vector<std::string>{
                        "ActiveShowAvi(1): Gerando AF(s)...",
                        "DeactiveShowAvi",
                        "MessageBox(warning): Preço acima do último",
                        "MessageBox(information): AF(s) efetivadas com sucesso.",
                        "MessageBox(confirmation): " + Msg(f, "AF_Incons"),
                        "PostClose(frmPlanApurNegGrid)",
                        "LoadBPL(PRQ05100)",
                    }));
  ASSERT_EQ(host.loadBPLCalls.size(), 1u);
  EXPECT_EQ(host.loadBPLCalls[0].second, (ValueArray{Value(tally.centCmp), Value("123")}));
  EXPECT_EQ(server.Methods(),
            (std::vector<std::string>{"GetParamCmp", "GetVd_EfetivaAF", "Gera_AF"}));

  // The sixteen arguments in their order.
  const test::RecordedCall* call = server.LastCall("Gera_AF");
  ASSERT_NE(call, nullptr);
  ASSERT_EQ(call->args.size(), 16u);
  EXPECT_EQ(call->Arg(0).AsPacket().RowCount(), 1u);
  EXPECT_TRUE(call->args[0].byRef);
  EXPECT_EQ(call->Arg(1).ToText(), "COMP01");
  EXPECT_EQ(call->Arg(2).AsDate().days, host.dataProc.days);
  EXPECT_EQ(call->Arg(3).ToText(), tally.centCmp);
  EXPECT_EQ(call->Arg(4).ToText(), "123");
  EXPECT_EQ(call->Arg(5).ToText(), host.filiProc);
  EXPECT_EQ(call->Arg(6).ToText(), "N");
  EXPECT_EQ(call->Arg(7).ToText(),
            "Não foi possível gerar arquivo de AF de produtos web.\r\nDiretório para arquivo de "
            "AF deve ser informado.");
  EXPECT_EQ(call->Arg(10).ToText(), "AF(s) efetivadas com sucesso.");
  EXPECT_EQ(call->Arg(13).ToText(), "Preço unitário (unidade de estoque) ");
  EXPECT_EQ(call->Arg(15).ToText(), "Fornecedor não é extra.");
  EXPECT_EQ(server.LastCall("GetVd_EfetivaAF")->ArgsText(),
            "&'COMP01', '001', &'" + tally.centCmp + "', &'123', &'OPER01'");

  // Connections: purchasing opened first and closed first.
  std::vector<std::string> net;
  for (const std::string& e : server.Events())
    if (e.rfind("connect", 0) == 0 || e.rfind("disconnect", 0) == 0) net.push_back(e);
  ASSERT_EQ(net.size(), 4u);
  EXPECT_EQ(net[0].rfind("connect netCompras", 0), 0u);
  EXPECT_EQ(net[1].rfind("connect netPlanApurNegGrid", 0), 0u);
  EXPECT_EQ(net[2], "disconnect netCompras");
  EXPECT_EQ(net[3], "disconnect netPlanApurNegGrid");
  ExpectConnectionsClosed(f);

  // Closing: the lock stays, no question about the unsent log.
  EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
  EXPECT_FALSE(f.sbtGerarAF.Enabled());
  EXPECT_FALSE(f.btnAnalisAF.Enabled());
  host.RunPostedCloses();
  Application().ProcessReleases();
  EXPECT_EQ(frmPlanApurNegGrid, nullptr);
  EXPECT_EQ(host.PendingAnswers(), 0u);
}

TEST_F(AfGenerationTest, AnUntouchedTallySendsANullChangePacket) {
  TfrmPlanApurNegGrid& f = Open();
  ASSERT_EQ(f.cdsDados.ChangeCount(), 0);
  server.ReplyOk("Gera_AF", Outcome(Value(), "ok", false, "", ""));
  EXPECT_TRUE(Efetivar(f));
  EXPECT_TRUE(server.LastCall("Gera_AF")->Arg(0).IsNull());
  // No inconsistent AFs: no such box.
  for (const std::string& s : Seen()) EXPECT_EQ(s.find("inconsistente"), std::string::npos) << s;
  EXPECT_TRUE(f.cdsDados.Filter().empty());
  EXPECT_FALSE(f.cdsDados.Filtered());
}

TEST_F(AfGenerationTest, NothingChosenReleasesTheLockAndCallsNoServer) {
  for (Row& r : tally.dados) r["IDITMSELAPUR"] = Value("N");
  ScriptTally();
  TfrmPlanApurNegGrid& f = Open();
  f.cdsDados.SetFilter("[CDFILIAP] = 'F01'");
  EXPECT_FALSE(Efetivar(f));
  EXPECT_EQ(Seen(), (std::vector<std::string>{"MessageBox(error): " + Msg(f, "N_dadosAF")}));
  EXPECT_TRUE(server.Calls().empty());
  EXPECT_EQ(f.sbtGerarAF.Tag, 0);
  EXPECT_TRUE(f.sbtGerarAF.Enabled());
  EXPECT_TRUE(f.mnuGerarAF.Enabled());
  EXPECT_FALSE(f.btnAnalisAF.Enabled());
  EXPECT_FALSE(f.cdsDados.Filtered());
  EXPECT_TRUE(f.cdsDados.Filter().empty());
}

TEST_F(AfGenerationTest, AnEffectuatedTallyIsRefusedAndStaysBlocked) {
  Efetivada("123");
  TfrmPlanApurNegGrid& f = Open();
  EXPECT_FALSE(Efetivar(f));
  EXPECT_EQ(Seen(),
            (std::vector<std::string>{"ActiveShowAvi(1): Gerando AF(s)...", "DeactiveShowAvi",
                                      "MessageBox(error): " + Msg(f, "Erro_EfetivaAF")}));
  EXPECT_EQ(server.CallCount("Gera_AF"), 0);
  ExpectConnectionsClosed(f);
  EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
  f.Habilita_Geral();
  EXPECT_FALSE(f.sbtGerarAF.Enabled());
  EXPECT_FALSE(f.mnuGerarAF.Enabled());
  EXPECT_FALSE(f.Released());
}

TEST_F(AfGenerationTest, TheReeffectuationFlagLetsAnEffectuatedTallyGoAgain) {
  Efetivada("123");
  stIdQtFrac = std::string("S");
  TfrmPlanApurNegGrid& f = Open();
  server.ReplyOk("Gera_AF", Outcome(Value(Incons(0)), "ok", false, "", ""));
  EXPECT_TRUE(Efetivar(f));
  EXPECT_EQ(server.CallCount("Gera_AF"), 1);
  EXPECT_EQ(host.loadBPLCalls.size(), 1u);
}

TEST_F(AfGenerationTest, AFatalReportWinsAndTheAfsAreDeletedAgain) {
  TfrmPlanApurNegGrid& f = Open();
  // Indexes 0 to 3 hold what would fail or show: none is looked at.
  server.ReplyOk("Gera_AF", Value(ValueArray{Value("not a packet"), Value("sucesso"), Value(true),
                                             Value("aviso"), Value(), Value("Diretório falhou")}));
  server.ReplyOk("ExcluiAF");
  EXPECT_FALSE(Efetivar(f));
  EXPECT_EQ(Seen(), (std::vector<std::string>{
                        "ActiveShowAvi(1): Gerando AF(s)...", "DeactiveShowAvi",
                        "MessageBox(error): Diretório falhou",
                        "ActiveShowAvi(1): Excluindo AF's no servidor...", "DeactiveShowAvi"}));
  ASSERT_NE(server.LastCall("ExcluiAF"), nullptr);
  EXPECT_EQ(server.LastCall("ExcluiAF")->ArgsText(), "'001', &'123'");
  ExpectConnectionsClosed(f);
  EXPECT_EQ(f.sbtGerarAF.Tag, 0);
  EXPECT_TRUE(f.sbtGerarAF.Enabled());
  EXPECT_TRUE(f.Released());
  EXPECT_TRUE(host.loadBPLCalls.empty());
  EXPECT_TRUE(host.exceptions.empty());
}

TEST_F(AfGenerationTest, AFailedDeletionAfterAFatalReportLeavesTheWorksheetOpenAndBlocked) {
  TfrmPlanApurNegGrid& f = Open();
  server.ReplyOk("Gera_AF", Outcome(Value(), "", false, "", "Diretório falhou"));
  server.ReplyFailure("ExcluiAF", "Apuração 123 não encontrada.");
  EXPECT_FALSE(Efetivar(f));
  EXPECT_EQ(Seen().back(), "DeactiveShowAvi");
  EXPECT_FALSE(f.Released());
  EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
  ExpectConnectionsClosed(f);
}

TEST_F(AfGenerationTest, AFailureFlagShowsTheTextAndCloses) {
  TfrmPlanApurNegGrid& f = Open();
  f.cdsDados.Edit();
  f.cdsDados.FieldByName("TXOBESCMANAP").SetAsString("x");
  f.cdsDados.Post();
  server.ReplyOk("Gera_AF", Outcome(Value(Incons(1)), "Orçamento estourado", true, "", ""));
  EXPECT_FALSE(Efetivar(f));
  const std::vector<std::string> seen = Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), "MessageBox(error): Orçamento estourado");
  EXPECT_EQ(f.sbtGerarAF.Tag, 0);
  EXPECT_TRUE(f.mnuGerarAF.Enabled());
  EXPECT_TRUE(f.Released()) << "closed without asking about the unsent choices";
  EXPECT_TRUE(host.loadBPLCalls.empty());
  EXPECT_EQ(host.PendingCloses(), 0u);
}

TEST_F(AfGenerationTest, NoOutcomeTextMeansNoAfAndTheLockStays) {
  TfrmPlanApurNegGrid& f = Open();
  server.ReplyOk("Gera_AF", Outcome(Value(Incons(1)), "  ", false, "", ""));
  EXPECT_FALSE(Efetivar(f));
  EXPECT_EQ(Seen().back(), "MessageBox(error): " + Msg(f, "AF_NGerada"));
  EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
  EXPECT_FALSE(f.sbtGerarAF.Enabled());
  EXPECT_FALSE(f.Released());
  EXPECT_TRUE(host.loadBPLCalls.empty());
}

// The answer may be lost after the server committed; asked once more, the
// server answers with the AFs that exist. A failure it reported is not asked
// again, and neither is a second lost answer.
TEST_F(AfGenerationTest, ALostAnswerIsAskedForOnceMore) {
  const Value success = Outcome(Value(Incons(0)), "AF(s) efetivadas com sucesso.", false,
                                "1 linha(s) de entrega escolhida(s) já constam de AF(s)", "");
  int lost = 1;
  server.Handle("Gera_AF", [&](const test::RecordedCall&) {
    if (lost-- > 0) throw std::runtime_error("cannot reach the application server (Gera_AF)");
    return ResultOk(success);
  });
  {
    TfrmPlanApurNegGrid& f = Open();
    EXPECT_TRUE(Efetivar(f));
    ASSERT_EQ(server.CallCount("Gera_AF"), 2);
    std::vector<std::string> args;
    for (const test::RecordedCall& c : server.Calls())
      if (c.method == "Gera_AF") args.push_back(c.ArgsText());
    EXPECT_EQ(args[0], args[1]);
    std::vector<std::string> seen = Seen();
    EXPECT_NE(std::find(seen.begin(), seen.end(),
                        "MessageBox(information): AF(s) efetivadas com sucesso."),
              seen.end());
    EXPECT_TRUE(host.exceptions.empty());
  }
  {
    Application().DestroyForms();
    lost = 2;
    TfrmPlanApurNegGrid& f = Open();
    EXPECT_FALSE(Efetivar(f));
    EXPECT_EQ(server.CallCount("Gera_AF"), 2);
    ASSERT_EQ(host.exceptions.size(), 1u);
    EXPECT_NE(host.exceptions[0].find("cannot reach"), std::string::npos) << host.exceptions[0];
    EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
    ExpectConnectionsClosed(f);
  }
  {
    Application().DestroyForms();
    TfrmPlanApurNegGrid& f = Open();
    server.ReplyFailure("Gera_AF", "Tempo esgotado esperando a vez de gravar.");
    EXPECT_FALSE(Efetivar(f));
    EXPECT_EQ(server.CallCount("Gera_AF"), 1);
    ExpectConnectionsClosed(f);
  }
}

TEST_F(AfGenerationTest, ServerFailuresAndBadOutcomesKeepTheLockAndCloseTheConnections) {
  {
    TfrmPlanApurNegGrid& f = Open();
    server.ReplyFailure("GetParamCmp", "Centro de compras 0001 não encontrado.");
    EXPECT_FALSE(Efetivar(f));
    EXPECT_EQ(server.CallCount("Gera_AF"), 0);
    EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
    EXPECT_FALSE(host.aviActive);
    ExpectConnectionsClosed(f);
  }
  // The inconsistent AFs cannot be read: the table is released, nothing more.
  for (Value bad : {Outcome(Value("not a packet"), "ok", false, "", ""),
                    Value(ValueArray{Value(), Value("ok"), Value(false)}), Value("ok")}) {
    Application().DestroyForms();
    TfrmPlanApurNegGrid& f = Open();
    server.ReplyOk("Gera_AF", bad);
    EXPECT_FALSE(Efetivar(f));
    ASSERT_EQ(host.exceptions.size(), 1u) << test::ValueText(bad);
    EXPECT_NE(host.exceptions[0].find("Gera_AF"), std::string::npos) << host.exceptions[0];
    EXPECT_EQ(f.sbtGerarAF.Tag, kTagBloqueioAF);
    EXPECT_TRUE(host.loadBPLCalls.empty());
    EXPECT_FALSE(host.aviActive);
    ExpectConnectionsClosed(f);
  }
}

TEST_F(AfGenerationTest, APendingPriceEditIsPostedFirstButAnInsertIsNot) {
  {
    TfrmPlanApurNegGrid& f = Open();
    server.ReplyOk("Gera_AF", Outcome(Value(), "ok", false, "", ""));
    // The unit-price rules have tests of their own; here only the order in
    // which a pending edit is posted matters.
    f.cdsApurNeg.BeforeEdit = nullptr;
    f.cdsApurNeg.AfterEdit = nullptr;
    f.cdsApurNeg.BeforePost = nullptr;
    f.cdsApurNeg.Edit();
    EXPECT_TRUE(Efetivar(f));
    EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
  }
  Application().DestroyForms();
  TfrmPlanApurNegGrid& f = Open();
  server.ReplyOk("Gera_AF", Outcome(Value(), "ok", false, "", ""));
  f.cdsApurNeg.BeforeInsert = nullptr;  // the worksheet refuses inserts of its own
  f.cdsApurNeg.Insert();
  EXPECT_TRUE(Efetivar(f));
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsInsert);
}

TEST_F(AfGenerationTest, TheAnalysisButtonOpensTheScreenAndCloses) {
  TfrmPlanApurNegGrid& f = Open();
  EXPECT_FALSE(f.btnAnalisAF.Enabled());
  f.btnAnalisAFClick(f.btnAnalisAF);
  ASSERT_EQ(host.loadBPLCalls.size(), 1u);
  EXPECT_EQ(host.loadBPLCalls[0].first, "PRQ05100");
  EXPECT_EQ(host.loadBPLCalls[0].second, (ValueArray{Value(tally.centCmp), Value("123")}));
  EXPECT_TRUE(f.Released());
}

}  // namespace
}  // namespace apura::testing
