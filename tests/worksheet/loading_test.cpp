// Loading is lazy and ordered: a failure stops it at its step, and the next
// load picks up where it stopped.

#include "contract/packets.h"
#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

class LoadingTest : public WorksheetTest {
 protected:
  std::vector<bool> Loaded() {
    TfrmPlanApurNegGrid& f = form();
    return {f.cdsParaSupri.Active(),  f.cdsDados.Active(),   f.cdsRegiao.Active(),
            f.cdsProdItem.Active(),   f.cdsApurNeg.Active(), f.cdsPai_ItmApurPrec.Active(),
            f.cdsItmApurPrec.Active()};
  }
};

TEST_F(LoadingTest, AFailedStepLeavesItAndLaterTablesForTheNextLoad) {
  // Both delivery tables come in the first answer; the second takes it last.
  const char* steps[] = {"GetDados_ItmApurPrec", "GetRegiao", "GetProdItem", "GetApurNeg",
                         "GetPai_ItmApurPrec"};
  for (size_t k = 0; k < std::size(steps); ++k) {
    SCOPED_TRACE(steps[k]);
    Application().DestroyForms();
    server.ClearRecords();
    host.ClearRecords();
    server.ReplyFailure(steps[k], std::string("Falha em ") + steps[k]);
    ScriptTally();
    TfrmPlanApurNegGrid& f = Launch();

    // The server's text is shown; the creation goes on silently.
    EXPECT_TRUE(host.exceptions.empty());
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.LastMessage().text, std::string("Falha em ") + steps[k]);
    std::vector<bool> expected(7, false);
    for (size_t i = 0; i < k + 2; ++i) expected[i] = i < k + 1;
    EXPECT_EQ(Loaded(), expected);
    EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
    EXPECT_FALSE(f.netPlanApurNegGrid.Connected());

    // The next load reads only what is missing.
    server.ClearRecords();
    f.Get_Data();
    EXPECT_EQ(Loaded(), std::vector<bool>(7, true));
    // With the rows the worksheet edits already read, the shown ones are
    // read alone.
    std::vector<std::string> again(steps + k, std::end(steps));
    if (k > 0) again.push_back("GetItmApurPrec");
    EXPECT_EQ(server.Methods(), again);
  }
}

TEST_F(LoadingTest, ParametersFailingAtCreationStopItBeforeTheTallyIsOpened) {
  server.ReplyFailure("GetParamCmp", "Centro sem par\u00e2metros");
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_EQ(server.Methods(), std::vector<std::string>{"GetParamCmp"});
  EXPECT_FALSE(f.cdsParaSupri.Active());
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"Centro sem par\u00e2metros"});
  // Loading later reads them first.
  server.ClearRecords();
  f.Get_Data();
  EXPECT_EQ(server.Methods().front(), "GetParamCmp");
  EXPECT_TRUE(f.cdsParaSupri.Active());
}

TEST_F(LoadingTest, APacketWithoutAFieldFailsNamingIt) {
  ScriptTally();
  server.Reply("GetApurNeg",
               ResultOk(Value(GeneratedTally::Packet(worksheet::WorksheetTables::ApurNegFields(),
                                                     tally.apurNeg, "PRECOECONPI"))));
  TfrmPlanApurNegGrid& f = Launch();
  ASSERT_EQ(host.exceptions.size(), 1u);
  EXPECT_NE(host.exceptions[0].find("PRECOECONPI"), std::string::npos) << host.exceptions[0];
  EXPECT_FALSE(f.cdsApurNeg.Active());
  EXPECT_FALSE(f.cdsPai_ItmApurPrec.Active());
}

TEST_F(LoadingTest, QuotationLinesAreOrderedByThePriceTheTallyTypeNames) {
  struct Case {
    const char* tipo;
    const char* field;
  };
  for (const Case& c : {Case{"1", "PRECOECON"}, Case{"2", "PRECOECONPI"}, Case{"3", "VRPRECUNIAP"},
                        Case{"", "VRPRECUNIAP"}}) {
    SCOPED_TRACE(c.tipo);
    Application().DestroyForms();
    server.ClearRecords();
    tally = GeneratedTally({.idTipoApur = c.tipo});
    ScriptTally();
    TfrmPlanApurNegGrid& f = Launch();
    ASSERT_EQ(f.cdsApurNeg.IndexName(), "IndOrder");
    ASSERT_EQ(f.cdsApurNeg.IndexDefs().size(), 1u);
    EXPECT_EQ(f.cdsApurNeg.IndexDefs()[0].fields, c.field);
    EXPECT_TRUE(f.cdsApurNeg.IndexDefs()[0].caseInsensitive);
    const int idx = f.cdsApurNeg.FieldByName(c.field).Index();
    ASSERT_GT(f.cdsApurNeg.RecordCount(), 1);
    for (int i = 1; i < f.cdsApurNeg.RecordCount(); ++i)
      EXPECT_LE(f.cdsApurNeg.CellValue(i - 1, idx).AsFloat(),
                f.cdsApurNeg.CellValue(i, idx).AsFloat());
  }
}

TEST_F(LoadingTest, NoParameterRowOrdersByUnitPrice) {
  tally.paraSupri.clear();
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_EQ(f.cdsApurNeg.IndexDefs().at(0).fields, "VRPRECUNIAP");
}

TEST_F(LoadingTest, ClosingOneTableReloadsItAloneInTheCurrentOrder) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  server.ClearRecords();
  // The parameters changed on the server meanwhile and were read again.
  f.cdsParaSupri.Edit();
  f.cdsParaSupri.FieldByName("IDTIPOAPUR").SetAsString("2");
  f.cdsParaSupri.Post();
  f.cdsApurNeg.Close();
  f.Get_Data();
  EXPECT_EQ(server.Methods(), std::vector<std::string>{"GetApurNeg"});
  EXPECT_EQ(f.cdsApurNeg.IndexDefs().at(0).fields, "PRECOECONPI");
  EXPECT_EQ(f.cdsApurNeg.IndexName(), "IndOrder");
  // Other tables are neither read nor re-sorted.
  EXPECT_EQ(f.cdsRegiao.IndexDefs().at(0).fields, "CDREGITMAP");
  EXPECT_EQ(f.cdsPai_ItmApurPrec.IndexDefs().at(0).fields, "CDFILIAP;DTENTRAPUT");
  EXPECT_EQ(f.cdsProdItem.IndexDefs().at(0).fields, "CDPRODITMAP");
}

TEST_F(LoadingTest, AnEmptyProductListLoadsNothingUntilThePageChanges) {
  tally.produto.clear();
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_EQ(server.Methods(),
            (std::vector<std::string>{"GetParamCmp", "DelApuracao", "GetProduto"}));
  EXPECT_FALSE(f.cdsDados.Active());
  f.mnuGeralClick(f.mnuGeral);
  EXPECT_EQ(f.pgcPadrao.ActivePage(), &f.tshGeral);
  EXPECT_TRUE(f.mnuGeral.Checked());
  EXPECT_TRUE(f.cdsItmApurPrec.Active());
  // No product is current, so no negotiated item is.
  EXPECT_TRUE(f.cdsProdItem.IsEmpty());
}

TEST_F(LoadingTest, MontaApurReleasesTheTallyOnScreenAndOpensTheNewOne) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  server.ClearRecords();
  worksheet::MontaApur("124");
  EXPECT_EQ(server.Methods(), (std::vector<std::string>{"DelApuracao", "GetProduto"}));
  EXPECT_EQ(server.Calls()[0].ArgsText(), "&'0001', &'123'");
  EXPECT_EQ(server.Calls()[1].ArgsText(), "&'0001', &'124'");
  EXPECT_EQ(f.stPrxApurPreco, "124");
}

TEST_F(LoadingTest, BusyAnimationIsHiddenAlsoWhenTheReleaseFails) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  server.ReplyFailure("DelApuracao", "Apura\u00e7\u00e3o bloqueada");
  host.ClearRecords();
  EXPECT_THROW(f.Deleta_Apuracao(), EAbort);
  EXPECT_EQ(host.aviShown.size(), 1u);
  EXPECT_EQ(host.aviHidden, 1);
  EXPECT_FALSE(host.aviActive);
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"Apura\u00e7\u00e3o bloqueada"});
}

TEST_F(LoadingTest, MontaApurWithoutAWorksheetIsAnError) {
  EXPECT_THROW(worksheet::MontaApur("1"), std::logic_error);
}

TEST_F(LoadingTest, DeliveryPageNamesTheRegionOfTheQuotationLine) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  const std::string regiao = f.cdsApurNeg.FieldByName("CDREGITMAP").AsString();
  regionNames[regiao] = "Regi\u00e3o conhecida";
  f.mnuPadraoClick(f.mnuPadrao);
  EXPECT_EQ(db->Executed().back().Param("P_CDREGIAO"), regiao);
  EXPECT_TRUE(f.panRegiao.Visible());
  EXPECT_EQ(f.cdsRegiao.FieldByName("NMREGIAO").AsString(), "Regi\u00e3o conhecida");
  EXPECT_EQ(f.cdsRegiao.FieldByName("CDREGITMAP").AsString(), regiao);

  // A region the local database does not know: panel hidden, name emptied.
  regionNames.clear();
  f.mnuGeralClick(f.mnuGeral);
  f.mnuPadraoClick(f.mnuPadrao);
  EXPECT_FALSE(f.panRegiao.Visible());
  EXPECT_EQ(f.cdsRegiao.FieldByName("NMREGIAO").AsString(), "");
}

// The tables the server's packets fill carry the packets' fields, in their
// order, types and sizes, as the contract lists them; the worksheet's layouts
// add only what the screen shows.
TEST(PacketContractTest, EachTableTheServerFillsHasItsPacketsFields) {
  auto signature = [](auto fields) {
    std::string out;
    for (const auto& f : fields) {
      if constexpr (std::is_same_v<std::decay_t<decltype(f)>, contract::PacketField>) {
        out += std::string(f.name) + ":" +
               (f.kind == contract::FieldKind::Text     ? "S" + std::to_string(f.size)
                : f.kind == contract::FieldKind::Number ? std::string("F")
                                                        : std::string("D"));
      } else {
        out += std::string(f.name) + ":" +
               (f.type == FieldType::String     ? "S" + std::to_string(f.size)
                : f.type == FieldType::Float    ? std::string("F")
                : f.type == FieldType::DateTime ? std::string("D")
                                                : std::string("?"));
      }
      out += ",";
    }
    return out;
  };
  using T = worksheet::WorksheetTables;
  EXPECT_EQ(signature(T::ProdutoFields()), signature(std::span(contract::kProdutoPacket)));
  EXPECT_EQ(signature(T::RegiaoFields()), signature(std::span(contract::kRegiaoPacket)));
  EXPECT_EQ(signature(T::ProdItemFields()), signature(std::span(contract::kProdItemPacket)));
  EXPECT_EQ(signature(T::ApurNegFields()), signature(std::span(contract::kApurNegPacket)));
  EXPECT_EQ(signature(T::Pai_ItmApurPrecFields()),
            signature(std::span(contract::kPai_ItmApurPrecPacket)));
  EXPECT_EQ(signature(T::ItmApurPrecFields()), signature(std::span(contract::kItmApurPrecPacket)));
  EXPECT_EQ(signature(T::DadosFields()), signature(std::span(contract::kDadosPacket)));
  EXPECT_EQ(signature(T::ParaSupriFields()), signature(std::span(contract::kParaSupriPacket)));
  EXPECT_EQ(signature(T::Vd_EfetivaAFFields()),
            signature(std::span(contract::kVd_EfetivaAFPacket)));
}

}  // namespace
}  // namespace apura::testing
