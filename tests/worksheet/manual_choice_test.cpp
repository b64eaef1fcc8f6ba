// The buyer's choice by the space bar: what it writes where, what it refuses
// without a word, and that it leaves the worksheet as it found it otherwise.

#include "quote_tally_fixture.h"

namespace apura::testing {
namespace {

using ManualChoiceTest = QuoteTallyTest;

std::vector<std::string> Sels(const std::vector<QuoteTallyTest::Entrega>& es) {
  std::vector<std::string> out;
  for (const auto& e : es) out.push_back(e.filial + "=" + e.sel);
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(ManualChoiceTest, SpaceChoosesTheLineWithEveryDeliveryItCoversAndAgainDropsIt) {
  SemEscolhas();
  const Linha l{"I11", "NOR", 1};
  // Quantities and reasons the choice must overwrite.
  for (auto* rows : {&tally.dados, &tally.itm})
    for (Row& r : *rows)
      if (Text(r, "CDPRODITMAP") == "I11" && Text(r, "CDREGITMAP") == "NOR") {
        r["QTACOMP"] = Value(1.5);
        r["QTSOLACOMP"] = Value(Text(r, "CDFILIAP") == "F01" ? 4.0 : 10.0);
        if (rows == &tally.itm) r["IDMOTIVPRESC"] = Value("00002");
      }
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(l);
  Espaco();

  EXPECT_EQ(SelDaLinha(l), "S");
  EXPECT_EQ(SelDoItem("I11", "NOR"), "S");
  for (TClientDataSet* t : {&f.cdsDados, &f.cdsItmApurPrec}) {
    auto es = Entregas(*t, l);
    ASSERT_EQ(es.size(), 6u) << t->Name;
    for (const auto& e : es) {
      EXPECT_EQ(e.sel, "S") << t->Name << " " << e.filial;
      EXPECT_EQ(e.qt, e.sol) << t->Name << " " << e.filial;
      if (t == &f.cdsItmApurPrec) {
        EXPECT_EQ(e.motivo, "");
      }
    }
  }
  // The line's tallied quantity is what its chosen deliveries add up to.
  EXPECT_EQ(QtDaLinha(l), 2 * 4.0 + 4 * 10.0);
  // The other suppliers' deliveries of the item are untouched.
  for (const auto& e : Entregas(f.cdsDados, Linha{"I11", "NOR", 0})) EXPECT_EQ(e.sel, "N");
  EXPECT_EQ(Current(f.cdsApurNeg, "CDPRODITMAP;CDREGITMAP;CDFORNITMAP"), "I11|NOR|FORN02");
  EXPECT_FALSE(f.dbgFornecedor.HasOption(dgEditing));
  EXPECT_TRUE(f.cdsItmApurPrec.Filtered());
  EsperaNadaPendente();
  EXPECT_TRUE(host.messages.empty());

  Espaco();
  EXPECT_EQ(SelDaLinha(l), "N");
  EXPECT_EQ(SelDoItem("I11", "NOR"), "N");
  for (TClientDataSet* t : {&f.cdsDados, &f.cdsItmApurPrec})
    for (const auto& e : Entregas(*t, l)) {
      EXPECT_EQ(e.sel, "N");
      EXPECT_EQ(e.qt, e.sol);  // a drop leaves the full quantity written
    }
  EXPECT_EQ(QtDaLinha(l), 0);
  EsperaNadaPendente();
}

TEST_F(ManualChoiceTest, TheSpaceReachesTheChoiceThroughTheFormsKeys) {
  SemEscolhas();
  TfrmPlanApurNegGrid& f = Abre();
  const Linha l{"I12", "LES", 2};
  VaiPara(l);
  f.dbgFornecedor.SetFocus();
  int key = VK_SPACE;
  f.KeyDown(key, 0);
  EXPECT_EQ(SelDaLinha(l), "S");
  char32_t ch = U'-';
  f.KeyPress(ch);
  EXPECT_EQ(ch, 0u);
}

TEST_F(ManualChoiceTest, ALineWithoutUnitPriceIsNeitherChosenNorDropped) {
  SemEscolhas();
  const Linha l{"I21", "NOR", 0};
  EscolheNoModelo(l);
  for (Row& r : tally.apurNeg)
    if (Text(r, "CDPRODITMAP") == "I21" && Text(r, "CDREGITMAP") == "NOR") r["VRPRECUNIAP"] = 0.0;
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(l);
  Espaco();
  EXPECT_EQ(SelDaLinha(l), "S");
  VaiPara(Linha{"I21", "NOR", 1});
  Espaco();
  EXPECT_EQ(SelDaLinha(Linha{"I21", "NOR", 1}), "N");
  for (TClientDataSet* t : {&f.cdsDados, &f.cdsApurNeg, &f.cdsItmApurPrec, &f.cdsProdItem})
    EXPECT_EQ(t->ChangeCount(), 0) << t->Name;
  EsperaNadaPendente();
}

TEST_F(ManualChoiceTest, ASecondSupplierIsRefusedSilentlyUntilTheFirstIsDropped) {
  SemEscolhas();
  const Linha primeiro{"I31", "CEN", 0}, segundo{"I31", "CEN", 2};
  EscolheNoModelo(primeiro);
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(segundo);
  Espaco();
  EXPECT_EQ(SelDaLinha(segundo), "N");
  EXPECT_EQ(f.cdsDados.ChangeCount(), 0);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(Current(f.cdsApurNeg, "CDFORNITMAP"), "FORN03");
  EsperaNadaPendente();

  VaiPara(primeiro);
  Espaco();
  VaiPara(segundo);
  Espaco();
  EXPECT_EQ(SelDaLinha(primeiro), "N");
  EXPECT_EQ(SelDaLinha(segundo), "S");
  EXPECT_EQ(SelDoItem("I31", "CEN"), "S");
  EXPECT_EQ(Sels(Entregas(f.cdsDados, segundo)),
            (std::vector<std::string>{"F01=S", "F01=S", "F02=S", "F02=S", "F03=S", "F03=S"}));
  for (const auto& e : Entregas(f.cdsDados, primeiro)) EXPECT_EQ(e.sel, "N");
}

TEST_F(ManualChoiceTest, AnotherNegotiatedProductCompetesOnlyForBranchesStillFree) {
  // Every branch of the tally served: the other negotiated product is refused.
  {
    SemEscolhas();
    EscolheNoModelo(Linha{"I11", "NOR", 0});
    TfrmPlanApurNegGrid& f = Abre();
    const Linha l{"I12", "NOR", 2};
    VaiPara(l);
    Espaco();
    EXPECT_EQ(SelDaLinha(l), "N");
    EXPECT_EQ(f.cdsDados.ChangeCount(), 0);
    EsperaNadaPendente();
  }
  Application().DestroyForms();
  tally = GeneratedTally();
  // Only F01 served: the choice goes on, and only where the stock product
  // has no chosen delivery yet.
  SemEscolhas();
  EscolheNoModelo(Linha{"I11", "NOR", 0}, {"F01"});
  TfrmPlanApurNegGrid& f = Abre();
  const Linha l{"I12", "NOR", 2};
  VaiPara(l);
  Espaco();
  EXPECT_EQ(SelDaLinha(l), "S");
  EXPECT_EQ(SelDoItem("I12", "NOR"), "S");
  const std::vector<std::string> want = {"F01=N", "F01=N", "F02=S", "F02=S", "F03=S", "F03=S"};
  EXPECT_EQ(Sels(Entregas(f.cdsDados, l)), want);
  EXPECT_EQ(Sels(Entregas(f.cdsItmApurPrec, l)), want);
  EXPECT_EQ(QtDaLinha(l), 40);
  // The first product keeps its branch.
  EXPECT_EQ(Sels(Entregas(f.cdsDados, Linha{"I11", "NOR", 0})),
            (std::vector<std::string>{"F01=S", "F01=S", "F02=N", "F02=N", "F03=N", "F03=N"}));
  EsperaNadaPendente();
}

TEST_F(ManualChoiceTest, ConsolidatedProductsKnowNoCompetitionAndNoExcludedBranch) {
  SemEscolhas();
  Parametro("IDCONSPRSOL", "S");
  EscolheNoModelo(Linha{"I11", "NOR", 0});
  TfrmPlanApurNegGrid& f = Abre();
  const Linha l{"I12", "NOR", 2};
  VaiPara(l);
  Espaco();
  EXPECT_EQ(SelDaLinha(l), "S");
  for (const auto& e : Entregas(f.cdsDados, l)) EXPECT_EQ(e.sel, "S") << e.filial;
  EXPECT_EQ(SelDaLinha(Linha{"I11", "NOR", 0}), "S");
  EsperaNadaPendente();
}

TEST_F(ManualChoiceTest, AnErrorInsideTheChoiceStillGivesTheGridsBack) {
  SemEscolhas();
  TfrmPlanApurNegGrid& f = Abre();
  const Linha l{"I22", "LES", 1};
  VaiPara(l);
  f.cdsItmApurPrec.BeforePost = [](TClientDataSet&) {
    throw std::runtime_error("falha ao gravar a entrega");
  };
  EXPECT_THROW(Espaco(), std::runtime_error);
  EsperaNadaPendente();
  EXPECT_TRUE(f.cdsItmApurPrec.Filtered());
  // What was posted before the failure stays.
  EXPECT_EQ(SelDaLinha(l), "S");
  for (const auto& e : Entregas(f.cdsDados, l)) EXPECT_EQ(e.sel, "S");
  for (const auto& e : Entregas(f.cdsItmApurPrec, l)) EXPECT_EQ(e.sel, "N");

  // A failing quotation-line post leaves no edit open either.
  f.cdsItmApurPrec.BeforePost = nullptr;
  f.cdsApurNeg.BeforePost = [](TClientDataSet&) { throw std::runtime_error("recusado"); };
  EXPECT_THROW(Espaco(), std::runtime_error);
  EsperaNadaPendente();
  EXPECT_EQ(SelDaLinha(l), "S");
}

TEST_F(ManualChoiceTest, KeysOfTheQuotationGrid) {
  host.moduloAtiv = 34;
  SemEscolhas();
  TfrmPlanApurNegGrid& f = Abre();
  const Linha l{"I11", "CEN", 0};
  VaiPara(l);

  // Any other key opens the price for typing in the supplies modules only.
  Tecla('5');
  EXPECT_TRUE(f.dbgFornecedor.HasOption(dgEditing));
  host.moduloAtiv = 4;
  Tecla('5');
  EXPECT_FALSE(f.dbgFornecedor.HasOption(dgEditing));
  host.moduloAtiv = 34;

  // Space in another column only closes the editing.
  f.dbgFornecedor.SetOption(dgEditing, true);
  f.dbgFornecedor.SetSelectedField("NMFANTFORN");
  Espaco();
  EXPECT_FALSE(f.dbgFornecedor.HasOption(dgEditing));
  EXPECT_EQ(SelDaLinha(l), "N");

  // Space while the price is being typed is typing.
  f.dbgFornecedor.SetSelectedField("VRPRECUNIAP");
  f.cdsApurNeg.Edit();
  Espaco();
  EXPECT_TRUE(f.dbgFornecedor.HasOption(dgEditing));
  f.cdsApurNeg.Cancel();
  EXPECT_EQ(SelDaLinha(l), "N");

  // Alt+Page Up goes back to the negotiated products.
  f.dbgFornecedor.SetFocus();
  EXPECT_EQ(Tecla(VK_PRIOR, ssAlt), 0);
  EXPECT_EQ(f.ActiveControl(), &f.dbgProduto);
  EXPECT_EQ(Tecla(VK_PRIOR), VK_PRIOR);

  // A typed price never takes a sign or an exponent.
  for (char32_t c : {U'-', U'+', U'e', U'E'}) EXPECT_EQ(Caractere(c), 0u) << char(c);
  for (char32_t c : {U'5', U',', U'.'}) EXPECT_EQ(Caractere(c), c);
}

TEST_F(ManualChoiceTest, WithoutThePermissionNothingIsChosenOrTyped) {
  ScriptPermission({"OUTRO"});
  SemEscolhas();
  TfrmPlanApurNegGrid& f = Abre();
  EXPECT_FALSE(f.boPEME);
  const Linha l{"I11", "CEN", 0};
  VaiPara(l);
  Espaco();
  EXPECT_EQ(SelDaLinha(l), "N");
  EXPECT_EQ(f.cdsDados.ChangeCount(), 0);
  EXPECT_EQ(Caractere(U'5'), 0u);
}

TEST_F(ManualChoiceTest, DistinctRowsAreComparedAsTextWithoutLetterCase) {
  PacketBuilder b({{"CDFILIAP", FieldType::String, 4},
                   {"QT", FieldType::Float, 0},
                   {"OUTRO", FieldType::String, 2}});
  b.Add({Value("F1"), Value(1.0), Value("a")});
  b.Add({Value("f1"), Value(1.0), Value("b")});
  b.Add({Value("F2"), Value(1.0), Value("c")});
  b.Add({Value("F1"), Value(2.0), Value("d")});
  b.Add({Value("F9"), Value(1.0), Value("e")}).Status(RowStatus::Deleted);
  b.Add({Value(), Value(), Value("f")});
  const DataPacket in = b.Build();
  const DataPacket out = TfrmPlanApurNegGrid::DegRegistros({"QT", "CDFILIAP"}, in);
  ASSERT_EQ(out.fields().size(), 2u);
  EXPECT_EQ(out.fields()[0].name, "QT");
  EXPECT_EQ(out.fields()[0].type, FieldType::Float);
  EXPECT_EQ(out.fields()[1].size, 4);
  std::vector<std::string> rows;
  for (size_t r = 0; r < out.RowCount(); ++r)
    rows.push_back(out.Cell(0, r).ToText() + "/" + std::string(out.Text(1, r)));
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"/", "1/F1", "1/F2", "2/F1"}));

  try {
    TfrmPlanApurNegGrid::DegRegistros({"CDFILIAP", "CDPRODESTO"}, in);
    ADD_FAILURE() << "a missing field was accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("CDPRODESTO"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace apura::testing

namespace apura::testing {
namespace {

TEST_F(ManualChoiceTest, KeysWithAQuoteReachTheirDeliveriesAndNothingElse) {
  SemEscolhas();
  // A collection number with a quote in it, as typed at the supplier's.
  for (auto* rows : {&tally.apurNeg, &tally.itm, &tally.dados})
    for (Row& r : *rows)
      if (Text(r, "CDFORNITMAP") == "FORN02") r["NRCOLEITMAP"] = Value("70'01");
  TfrmPlanApurNegGrid& f = Abre();
  const Linha l{"I11", "SUL", 1};
  VaiPara(l);
  Espaco();
  EXPECT_EQ(SelDaLinha(l), "S");
  EXPECT_EQ(Sels(Entregas(f.cdsDados, l)),
            (std::vector<std::string>{"F01=S", "F01=S", "F02=S", "F02=S", "F03=S", "F03=S"}));
  for (const auto& e : Entregas(f.cdsItmApurPrec, l)) EXPECT_EQ(e.sel, "S");
  EXPECT_EQ(QtDaLinha(l), 60);
  EsperaNadaPendente();
}

}  // namespace
}  // namespace apura::testing
