// Usage-counted connections and the argument lists of every server method.

#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

class ConnectionTest : public WorksheetTest {
 protected:
  ConnectionTest() {
    ScriptTally();
    Launch();
    server.ClearRecords();
  }
};

TEST_F(ConnectionTest, NestedUsersOpenOnceAndCloseOnceWhenTheOuterEnds) {
  TfrmPlanApurNegGrid& f = form();
  host.webURL = "apura.example";
  host.webPort = 9090;
  f.ConnectServer(f.netPlanApurNegGrid, true);
  f.ConnectServer(f.netPlanApurNegGrid, true);
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 2);
  // The address is read from the host at the moment of connecting.
  EXPECT_EQ(f.netPlanApurNegGrid.Host, "apura.example");
  EXPECT_EQ(f.netPlanApurNegGrid.Port, 9090);
  f.ConnectServer(f.netPlanApurNegGrid, false);
  EXPECT_TRUE(f.netPlanApurNegGrid.Connected());
  f.ConnectServer(f.netPlanApurNegGrid, false);
  EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
  EXPECT_EQ(server.Connects("netPlanApurNegGrid"), 1);
  EXPECT_EQ(server.Disconnects("netPlanApurNegGrid"), 1);
  EXPECT_EQ(server.Connects("netCompras"), 0);

  // Releasing at 0 stays at 0 and closes again.
  f.ConnectServer(f.netPlanApurNegGrid, false);
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
  EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
  // One line a connection, in the order first used.
  EXPECT_EQ(f.stlConnection, (std::vector<std::string>{"netCompras=0", "netPlanApurNegGrid=0"}));
}

TEST_F(ConnectionTest, ACallInsideAnotherUseKeepsTheConnectionOpen) {
  TfrmPlanApurNegGrid& f = form();
  f.ConnectServer(f.netPlanApurNegGrid, true);
  f.Srv_GetRegiao();
  f.Srv_GetDados();
  EXPECT_TRUE(f.netPlanApurNegGrid.Connected());
  f.ConnectServer(f.netPlanApurNegGrid, false);
  EXPECT_EQ(server.Connects("netPlanApurNegGrid"), 1);
  EXPECT_EQ(server.Disconnects("netPlanApurNegGrid"), 1);
}

TEST_F(ConnectionTest, AFailedCallStillReleasesItsUse) {
  TfrmPlanApurNegGrid& f = form();
  server.ReplyFailure("GetRegiao", "Sem regi\u00f5es");
  EXPECT_THROW(f.Srv_GetRegiao(), EAbort);
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
  EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
  EXPECT_EQ(host.Texts().back(), "Sem regi\u00f5es");
}

TEST_F(ConnectionTest, AnUnreachableServerCountsNoUse) {
  TfrmPlanApurNegGrid& f = form();
  server.failConnect = true;
  host.webURL = "nowhere.example";
  try {
    f.Srv_GetRegiao();
    FAIL() << "the call went through";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("nowhere.example"), std::string::npos) << e.what();
  }
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
  server.failConnect = false;
  f.Srv_GetRegiao();
  EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
}

TEST_F(ConnectionTest, ACountThatIsNotANumberIsAConversionError) {
  TfrmPlanApurNegGrid& f = form();
  f.stlConnection = {"netPlanApurNegGrid=x1"};
  EXPECT_THROW(f.ConnectServer(f.netPlanApurNegGrid, true), ConversionError);
  EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
}

TEST_F(ConnectionTest, EveryServerMethodGetsItsArgumentsInOrder) {
  TfrmPlanApurNegGrid& f = form();
  host.filiProc = "007";
  host.operador = "OPER09";
  host.dataProc = DateTime::FromDate(2026, 12, 7);
  for (const char* m : {"MelhorCotacao", "Atualiza_PrecoEco", "ExcluiAF"}) server.ReplyOk(m);
  server.ReplyOk("AtuaPrecEco", Value(ValueArray{Value(1.5), Value(2.5)}));
  server.ReplyOk("GetVd_EfetivaAF",
                 Value(PacketBuilder({{"NRSEQAPUR", FieldType::String, 10}}).Build()));
  server.ReplyOk("Gera_AF", Value(ValueArray{}));
  server.ReplyOk("Gera_AF", Value(ValueArray{}));

  ASSERT_TRUE(f.cdsApurNeg.Locate("CDFORNITMAP", Value("FORN02")));
  const std::string item = f.cdsApurNeg.FieldByName("CDPRODITMAP").AsString();
  const std::string regiao = f.cdsApurNeg.FieldByName("CDREGITMAP").AsString();
  const std::string price = f.cdsApurNeg.FieldByName("VRPRECUNIAP").AsString();

  f.Srv_GetProduto();
  f.Srv_DelApuracao();
  f.Srv_GetParamCmp();
  f.Srv_GetDados();
  f.Srv_GetRegiao();
  f.Srv_GetProdItem();
  f.Srv_GetApurNeg();
  f.Srv_GetPai_ItmApurPrec();
  f.Srv_GetItmApurPrec();
  f.Srv_MelhorCotacao("1");
  f.Srv_Atualiza_PrecoEco();
  Value eco = f.Srv_AtuaPrecEco();
  f.Srv_GetVd_EfetivaAF();
  f.Srv_Gera_AF();
  f.Srv_ExcluiAF();
  EXPECT_EQ(eco.AsArray().at(1).AsFloat(), 2.5);

  // Gera_AF carries the delivery choices once there are some.
  f.cdsDados.First();
  f.cdsDados.Edit();
  f.cdsDados.FieldByName("QTACOMP").SetAsFloat(3);
  f.cdsDados.Post();
  f.Srv_Gera_AF();

  const std::string tally = "&'0001', &'123'";
  const std::string line = "'0001', '" + item + "', '7001', 'FORN02', 'M2', '" + regiao + "'";
  const std::string texts =
      "'N\u00e3o foi poss\u00edvel gerar arquivo de AF de produtos web.\r\nDiret\u00f3rio para "
      "arquivo de AF deve ser informado.', "
      "'N\u00e3o foi poss\u00edvel gerar arquivo de AF de produtos web.\r\nDiret\u00f3rio "
      "parametrizado para arquivo de AF n\u00e3o existe.', "
      "'N\u00e3o foi poss\u00edvel gerar todas as AF's porque foi ultrapassado o or\u00e7amento "
      "de fluxo de caixa.', "
      "'AF(s) efetivadas com sucesso.', "
      "'N\u00e3o foi poss\u00edvel gerar as AF's porque foi ultrapassado o or\u00e7amento de "
      "fluxo de caixa.', "
      "'N\u00e3o foi poss\u00edvel gerar AF's inconsistentes.', "
      "'Pre\u00e7o unit\u00e1rio (unidade de estoque) ', "
      "' maior que o \u00faltimo pre\u00e7o utilizado (unidade de estoque) ', "
      "'Fornecedor n\u00e3o \u00e9 extra.'";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"GetProduto", tally},
      {"DelApuracao", tally},
      {"GetParamCmp", "&'0001', 'PRQ'"},
      {"GetDados", tally},
      {"GetRegiao", tally},
      {"GetProdItem", tally},
      {"GetApurNeg", tally},
      {"GetPai_ItmApurPrec", tally},
      {"GetItmApurPrec", tally},
      {"MelhorCotacao", tally + ", &'CMP', &'1'"},
      {"Atualiza_PrecoEco", line + ", '101'"},
      {"AtuaPrecEco", line + ", " + price + ", '101'"},
      {"GetVd_EfetivaAF", "&'COMP01', '007', &'0001', &'123', &'OPER09'"},
      {"Gera_AF", "&null, &'COMP01', 07/12/2026, &'0001', &'123', '007', 'N', " + texts},
      {"ExcluiAF", "'007', &'123'"},
      {"Gera_AF", "&<packet 1 rows>, &'COMP01', 07/12/2026, &'0001', &'123', '007', 'N', " + texts},
  };
  const auto& calls = server.Calls();
  ASSERT_EQ(calls.size(), expected.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(expected[i].first);
    EXPECT_EQ(calls[i].method, expected[i].first);
    EXPECT_EQ(calls[i].ArgsText(), expected[i].second);
    EXPECT_EQ(calls[i].object, i == 2 ? "Cmp.rdmCompras" : "Prq05001.rdmPlanApurNegGrid");
  }
  // The unit price travels as a number, the processing date as a date.
  EXPECT_EQ(calls[11].args[6].value.kind(), Value::Kind::Float);
  EXPECT_EQ(calls[13].args[2].value.kind(), Value::Kind::Date);
  EXPECT_EQ(host.dataProcBranches.back(), "007");
}

TEST_F(ConnectionTest, TheSystemCodeFollowsTheActiveModule) {
  TfrmPlanApurNegGrid& f = form();
  for (auto [modulo, codigo] :
       std::vector<std::pair<int, std::string>>{{4, "CMP"}, {34, "PRQ"}, {77, "PRQ"}, {5, ""}}) {
    host.moduloAtiv = modulo;
    server.ReplyOk("MelhorCotacao");
    f.Srv_MelhorCotacao("2");
    EXPECT_EQ(server.LastCall("MelhorCotacao")->ArgsText(),
              "&'0001', &'123', &'" + codigo + "', &'2'");
  }
}

}  // namespace
}  // namespace apura::testing
