// The worksheet against the reference server objects in-process, on the demo
// tally: every packet the server answers must fit the worksheet's tables, and
// the lists must follow the selection on real data.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "reference_server_fixture.h"

namespace apura::testing {
namespace {

using worksheet::TfrmPlanApurNegGrid;

class ServerIntegrationTest : public ReferenceServerTest {
 protected:
  // The best quotations chosen, as after the buyer's first tally.
  ServerIntegrationTest() { service_->MelhorCotacao(demo_.centre, demo_.tally, "PRQ", "F"); }
};

// Every visible row of `detail` has the master's current value in `field`.
void ExpectFollows(TClientDataSet& detail, const std::string& field, TClientDataSet& master,
                   const std::string& masterField) {
  const std::string want = master.FieldByName(masterField).AsString();
  const int idx = detail.FieldByName(field).Index();
  for (int p = 0; p < detail.RecordCount(); ++p)
    EXPECT_EQ(detail.CellValue(p, idx).ToText(), want) << detail.Name << "." << field;
}

TEST_F(ServerIntegrationTest, TheDemoTallyOpensAndItsListsFollowTheSelection) {
  TfrmPlanApurNegGrid& f = CreateForm(frmPlanApurNegGrid);
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  ASSERT_TRUE(host.messages.empty()) << host.messages.front().text;
  for (TClientDataSet* t :
       {&f.cdsParaSupri, &f.cdsDados, &f.cdsProduto, &f.cdsRegiao, &f.cdsProdItem, &f.cdsApurNeg,
        &f.cdsPai_ItmApurPrec, &f.cdsItmApurPrec})
    EXPECT_TRUE(t->Active()) << t->Name;
  EXPECT_EQ(f.cdsProduto.RecordCount(), demo_.stockProducts);

  int deliveries = 0;
  f.mnuGeralClick(f.mnuGeral);
  for (f.cdsProduto.First(); !f.cdsProduto.Eof(); f.cdsProduto.Next()) {
    if (f.cdsParaSupriIDCONSPRSOL->AsString() != "S")
      ExpectFollows(f.cdsRegiao, "CDPRODESTO", f.cdsProduto, "CDPRODUTO");
    ASSERT_FALSE(f.cdsRegiao.IsEmpty());
    ExpectFollows(f.cdsProdItem, "CDREGITMAP", f.cdsRegiao, "CDREGITMAP");
    ExpectFollows(f.cdsApurNeg, "CDPRODITMAP", f.cdsProdItem, "CDPRODITMAP");
    ExpectFollows(f.cdsApurNeg, "CDREGITMAP", f.cdsRegiao, "CDREGITMAP");
    if (!f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) continue;
    f.mnuPadraoClick(f.mnuPadrao);
    ExpectFollows(f.cdsPai_ItmApurPrec, "CDPRODITMAP", f.cdsApurNeg, "CDPRODITMAP");
    for (f.cdsPai_ItmApurPrec.First(); !f.cdsPai_ItmApurPrec.Eof(); f.cdsPai_ItmApurPrec.Next()) {
      ExpectFollows(f.cdsItmApurPrec, "CDFILIAP", f.cdsPai_ItmApurPrec, "CDFILIAP");
      deliveries += f.cdsItmApurPrec.RecordCount();
    }
    EXPECT_TRUE(f.panRegiao.Visible());
    f.mnuGeralClick(f.mnuGeral);
  }
  EXPECT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  EXPECT_GT(deliveries, 0) << "no chosen quotation on the demo tally reached a delivery line";
}

TEST_F(ServerIntegrationTest, EffectuationOrdersTheChoicesOnceAndHandsOverToTheAnalysis) {
  TfrmPlanApurNegGrid& f = CreateForm(frmPlanApurNegGrid);
  boStCriado = true;
  f.Activate();
  f.mnuGeralClick(f.mnuGeral);
  bool chosen = false;
  for (f.cdsProdItem.First(); !chosen && !f.cdsProdItem.Eof(); f.cdsProdItem.Next())
    chosen = f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"));
  ASSERT_TRUE(chosen);
  // The totals panel on real data: the chosen line's supplier has a value.
  f.sbtTotais.Click();
  EXPECT_GT(f.nedVrForn.Number(), 0);
  EXPECT_GE(f.nedVrForn.Number(), f.nedRegForn.Number());
  EXPECT_GE(f.nedNumFornProd.Number(), 1);
  f.sbtTotais.Click();

  EXPECT_TRUE(GuardedCall([&f] { f.sbtGerarAFClick(f.sbtGerarAF); }));
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  ASSERT_EQ(host.loadBPLCalls.size(), 1u);
  EXPECT_EQ(host.loadBPLCalls[0].first, "PRQ05100");
  EXPECT_EQ(host.loadBPLCalls[0].second, (ValueArray{Value(demo_.centre), Value(demo_.tally)}));
  bool informed = false;
  for (const auto& m : host.messages)
    informed = informed || m.text == "AF(s) efetivadas com sucesso.";
  EXPECT_TRUE(informed);

  std::vector<server::AfRecord> afs = storage_->OpenSession()->Afs(demo_.tally);
  ASSERT_FALSE(afs.empty());
  std::set<int64_t> rows;
  size_t lines = 0;
  for (const auto& af : afs)
    for (const auto& l : af.lines) {
      rows.insert(l.item);
      ++lines;
    }
  EXPECT_EQ(rows.size(), lines);
  host.RunPostedCloses();
  Application().ProcessReleases();
  ASSERT_EQ(frmPlanApurNegGrid, nullptr);

  // A second worksheet on the same tally is refused.
  host.messages.clear();
  boStCriado = false;
  TfrmPlanApurNegGrid& g = CreateForm(frmPlanApurNegGrid);
  boStCriado = true;
  g.Activate();
  EXPECT_FALSE(GuardedCall([&g] { g.sbtGerarAFClick(g.sbtGerarAF); }));
  ASSERT_FALSE(host.messages.empty());
  EXPECT_EQ(host.messages.back().text, g.msgPadrao.Msg("Erro_EfetivaAF"));
  EXPECT_EQ(storage_->OpenSession()->Afs(demo_.tally).size(), afs.size());
}

}  // namespace
}  // namespace apura::testing
