// The best quotations from the server: asked first, then the call, the reload
// of exactly what the tally changes, the snapshot and its single warning.

#include "quote_tally_fixture.h"

namespace apura::testing {
namespace {

constexpr const char* kAviso =
    "Existe(m) pre\u00e7o(s) econ\u00f4mico zerado na escolha da melhor "
    "cota\u00e7\u00e3o.";

class ServerTallyTest : public QuoteTallyTest {
 protected:
  // The server's answer to the next reload of the quotation lines.
  void ProximasCotacoes(const std::vector<Row>& rows) {
    server.ReplyOk("GetApurNeg", Value(GeneratedTally::Packet(
                                     worksheet::WorksheetTables::ApurNegFields(), rows)));
  }
  bool Apura() {
    return GuardedCall([this] { form().sbtApurar.Click(); });
  }
  std::vector<std::string> Avisos() const {
    std::vector<std::string> out;
    for (const auto& m : host.messages)
      if (m.text == kAviso) out.push_back(m.text);
    return out;
  }
};

TEST_F(ServerTallyTest, ConfirmedTallyCallsTheServerAndReloadsOnlyWhatItChanges) {
  TfrmPlanApurNegGrid& f = Abre();
  // Cursors the reload must keep.
  f.mnuProdutoClick(f.mnuProduto);
  f.cdsProduto.Locate("CDPRODUTO", Value("P03"));
  f.cdsRegiao.Locate("CDREGITMAP", Value("NOR"));
  const int64_t produto = f.cdsProduto.Bookmark(), regiao = f.cdsRegiao.Bookmark();

  // What the server chose: the third supplier everywhere.
  std::vector<Row> escolhidas = tally.apurNeg;
  for (Row& r : escolhidas)
    r["IDITMSELAPUR"] = Value(Text(r, "CDFORNITMAP") == "FORN03" ? "S" : "N");
  ProximasCotacoes(escolhidas);
  server.ClearRecords();
  host.Answer(mrYes,
              "Todas as cota\u00e7\u00f5es selecionadas ser\u00e3o desmarcadas. Confirma "
              "opera\u00e7\u00e3o?");
  EXPECT_TRUE(Apura());

  EXPECT_EQ(host.messages.at(0).kind, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(host.messages.at(0).buttons, mbYesNo);
  EXPECT_EQ(server.Methods(),
            (std::vector<std::string>{"MelhorCotacao", "GetDados_ItmApurPrec", "GetProdItem",
                                      "GetApurNeg", "GetPai_ItmApurPrec"}));
  EXPECT_EQ(server.LastCall("MelhorCotacao")->ArgsText(),
            "&'" + tally.centCmp + "', &'" + f.stPrxApurPreco + "', &'CMP', &'F'");
  EXPECT_EQ(host.aviShown, (std::vector<std::pair<int, std::string>>{
                               {1, "Apurando as Melhores Cota\u00e7\u00f5es no Servidor..."}}));
  EXPECT_FALSE(host.aviActive);
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);

  // Moved to the quotation page as if the buyer had.
  EXPECT_EQ(f.pgcPadrao.ActivePage(), &f.tshGeral);
  EXPECT_TRUE(f.mnuGeral.Checked());
  EXPECT_EQ(f.cdsProduto.Bookmark(), produto);
  EXPECT_EQ(f.cdsRegiao.Bookmark(), regiao);
  // The lists show the server's choice for the item in view.
  ASSERT_FALSE(f.cdsApurNeg.IsEmpty());
  for (const std::string& linha :
       Visible(f.cdsApurNeg, "CDPRODITMAP;CDREGITMAP;CDFORNITMAP;IDITMSELAPUR")) {
    EXPECT_EQ(linha.substr(0, 3), Current(f.cdsProdItem, "CDPRODITMAP")) << linha;
    EXPECT_EQ(linha.substr(4, 3), "NOR") << linha;
    EXPECT_EQ(linha.back(), linha.find("FORN03") != std::string::npos ? 'S' : 'N') << linha;
  }

  // The snapshot holds every quotation line as the server left it.
  ASSERT_TRUE(f.cdsAuxApur.Active());
  EXPECT_EQ(f.cdsAuxApur.RecordCount(), int(escolhidas.size()));
  EXPECT_EQ(Visible(f.cdsAuxApur, "CDPRODITMAP;CDREGITMAP;CDFORNITMAP;IDITMSELAPUR").size(),
            escolhidas.size());
  EXPECT_TRUE(Avisos().empty());
}

TEST_F(ServerTallyTest, ADeclinedConfirmationChangesNothingButTheLastTallysWarningStands) {
  TfrmPlanApurNegGrid& f = Abre();
  f.mnuProdutoClick(f.mnuProduto);
  server.ClearRecords();
  host.Answer(mrNo);
  EXPECT_TRUE(Apura());
  EXPECT_TRUE(server.Methods().empty());
  EXPECT_EQ(f.pgcPadrao.ActivePage(), &f.tshProduto);
  EXPECT_FALSE(f.cdsAuxApur.Active());
  EXPECT_TRUE(Avisos().empty());  // no server tally yet: nothing to warn about

  // A tally that chose a line without economic price...
  std::vector<Row> escolhidas = tally.apurNeg;
  escolhidas.at(0)["IDITMSELAPUR"] = Value("S");
  escolhidas.at(0)["PRECOECON"] = Value(0.0);
  ProximasCotacoes(escolhidas);
  host.Answer(mrYes);
  EXPECT_TRUE(Apura());
  EXPECT_EQ(Avisos().size(), 1u);
  EXPECT_EQ(host.LastMessage().kind, TMsgDlgType::mtWarning);
  EXPECT_EQ(host.LastMessage().buttons, mbOK);

  // ...is still what a declined one warns about.
  const int snapshot = f.cdsAuxApur.RecordCount();
  f.mnuProdutoClick(f.mnuProduto);
  host.ClearRecords();
  server.ClearRecords();
  host.Answer(mrNo);
  EXPECT_TRUE(Apura());
  EXPECT_TRUE(server.Methods().empty());
  EXPECT_EQ(f.pgcPadrao.ActivePage(), &f.tshProduto);
  EXPECT_EQ(Avisos().size(), 1u);
  EXPECT_EQ(f.cdsAuxApur.RecordCount(), snapshot);
}

TEST_F(ServerTallyTest, OneWarningForManyZeroOrNegativeEconomicPricesAndNoneForUnchosen) {
  struct Caso {
    const char* nome;
    std::vector<double> escolhidas;  // economic prices of chosen lines
    double naoEscolhida;
    size_t avisos;
  };
  const Caso casos[] = {{"several zero", {0, 0, 0}, 5, 1},
                        {"one negative", {3, -0.5}, 5, 1},
                        {"unchosen zero", {3, 4}, 0, 0}};
  TfrmPlanApurNegGrid& f = Abre();
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nome);
    std::vector<Row> rows = tally.apurNeg;
    for (Row& r : rows) {
      r["IDITMSELAPUR"] = Value("N");
      r["PRECOECON"] = Value(c.naoEscolhida);
    }
    for (size_t i = 0; i < c.escolhidas.size(); ++i) {
      rows.at(i * 3)["IDITMSELAPUR"] = Value("S");
      rows.at(i * 3)["PRECOECON"] = Value(c.escolhidas[i]);
    }
    ProximasCotacoes(rows);
    host.ClearRecords();
    host.Answer(mrYes);
    EXPECT_TRUE(Apura());
    EXPECT_EQ(Avisos().size(), c.avisos);
  }
  (void)f;
}

TEST_F(ServerTallyTest, APendingPriceIsPostedBeforeTheQuestion) {
  TfrmPlanApurNegGrid& f = Abre();
  size_t perguntasAntes = 99;
  f.cdsApurNeg.AfterPost = [&](TClientDataSet&) { perguntasAntes = host.messages.size(); };
  // The unit-price rules have tests of their own; here only the order in
  // which a pending edit is posted matters.
  f.cdsApurNeg.BeforeEdit = nullptr;
  f.cdsApurNeg.AfterEdit = nullptr;
  f.cdsApurNeg.BeforePost = nullptr;
  f.cdsApurNeg.Edit();
  host.Answer(mrNo);
  EXPECT_TRUE(Apura());
  EXPECT_EQ(perguntasAntes, 0u);
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
}

TEST_F(ServerTallyTest, TheSystemCodeFollowsTheActiveModule) {
  TfrmPlanApurNegGrid& f = Abre();
  for (auto [modulo, codigo] : std::vector<std::pair<int, std::string>>{
           {34, "PRQ"}, {77, "PRQ"}, {4, "CMP"}, {5, ""}, {0, ""}}) {
    host.moduloAtiv = modulo;
    host.Answer(mrYes);
    EXPECT_TRUE(Apura());
    EXPECT_EQ(server.LastCall("MelhorCotacao")->Arg(2).ToText(), codigo) << modulo;
  }
  (void)f;
}

TEST_F(ServerTallyTest, AServerFailureReloadsNothingAndLeavesNoSnapshotOrWarning) {
  TfrmPlanApurNegGrid& f = Abre();
  server.ClearRecords();
  server.ReplyFailure("MelhorCotacao", "Apura\u00e7\u00e3o bloqueada por outro usu\u00e1rio.");
  host.Answer(mrYes);
  EXPECT_FALSE(Apura());
  EXPECT_EQ(server.Methods(), std::vector<std::string>{"MelhorCotacao"});
  for (TClientDataSet* t :
       {&f.cdsProdItem, &f.cdsApurNeg, &f.cdsPai_ItmApurPrec, &f.cdsItmApurPrec, &f.cdsDados})
    EXPECT_TRUE(t->Active()) << t->Name;
  EXPECT_FALSE(f.cdsAuxApur.Active());
  EXPECT_EQ(host.LastMessage().text, "Apura\u00e7\u00e3o bloqueada por outro usu\u00e1rio.");
  EXPECT_TRUE(Avisos().empty());
  EXPECT_FALSE(host.aviActive);
  EXPECT_EQ(host.aviHidden, 1);
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
  EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
}

TEST_F(ServerTallyTest, TheMenuEntryRunsTheSameCommand) {
  TfrmPlanApurNegGrid& f = Abre();
  ASSERT_TRUE(f.mnuApurar.OnClick);
  server.ClearRecords();
  host.Answer(mrYes);
  EXPECT_TRUE(GuardedCall([&] { f.mnuApurar.Click(); }));
  EXPECT_EQ(server.CallCount("MelhorCotacao"), 1);
  EXPECT_TRUE(f.cdsAuxApur.Active());
}

}  // namespace
}  // namespace apura::testing
