// A whole launch of a generated tally: the calls the worksheet makes to open
// it, and the rows each grid shows as the buyer moves through it.

#include <algorithm>
#include <functional>

#include "framework/format.h"
#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

using Pred = std::function<bool(const Row&)>;

// The model's rows that pass, in the order of the given keys (case folded, as
// the worksheet's sort index), the model's order among equals.
std::vector<const Row*> Select(const std::vector<Row>& rows, const Pred& pred,
                               const std::vector<std::string>& keys = {}) {
  std::vector<const Row*> out;
  for (const Row& r : rows)
    if (pred(r)) out.push_back(&r);
  auto less = [&keys](const Row* a, const Row* b) {
    for (const auto& k : keys) {
      const Value& x = a->at(k);
      const Value& y = b->at(k);
      if (x.kind() == Value::Kind::Text) {
        std::string fx = FoldCase(x.ToText()), fy = FoldCase(y.ToText());
        if (fx != fy) return fx < fy;
      } else {
        double dx = x.kind() == Value::Kind::Date ? x.AsDate().days : x.AsFloat();
        double dy = y.kind() == Value::Kind::Date ? y.AsDate().days : y.AsFloat();
        if (dx != dy) return dx < dy;
      }
    }
    return false;
  };
  std::stable_sort(out.begin(), out.end(), less);
  return out;
}

Pred Eq(std::string field, std::string text) {
  return [field, text](const Row& r) { return Text(r, field) == text; };
}
Pred And(Pred a, Pred b) {
  return [a, b](const Row& r) { return a(r) && b(r); };
}

class LaunchTest : public WorksheetTest {
 protected:
  // What each grid must show for the current rows of its masters.
  std::vector<std::string> ExpectedRegions(const std::string& produto) {
    return Texts(Select(tally.regiao, Eq("CDPRODESTO", produto), {"CDREGITMAP"}),
                 "CDREGITMAP;NMREGIAO");
  }
  std::vector<std::string> ExpectedItems(const std::string& produto, const std::string& regiao) {
    return Texts(Select(tally.prodItem, And(Eq("CDPRODESTO", produto), Eq("CDREGITMAP", regiao)),
                        {"CDPRODITMAP"}),
                 "CDPRODITMAP;CDREGITMAP");
  }
  std::vector<std::string> ExpectedQuotes(const std::string& item, const std::string& regiao) {
    return Texts(Select(tally.apurNeg, And(Eq("CDPRODITMAP", item), Eq("CDREGITMAP", regiao)),
                        {"PRECOECON"}),
                 "CDFORNITMAP;PRECOECON");
  }
  std::vector<std::string> ExpectedBranches(const std::string& item, const std::string& regiao) {
    return Texts(Select(tally.pai, And(Eq("CDPRODITMAP", item), Eq("CDREGITMAP", regiao)),
                        {"CDFILIAP", "DTENTRAPUT"}),
                 "CDFILIAP;DTENTRAPUT");
  }
  std::vector<std::string> ExpectedDeliveries(const std::string& item, const std::string& regiao,
                                              const std::string& filial, const std::string& data) {
    return Texts(Select(tally.itm, And(And(Eq("IDITMSELAPUR", "S"),
                                           And(Eq("CDPRODITMAP", item), Eq("CDREGITMAP", regiao))),
                                       And(Eq("CDFILIAP", filial), Eq("DTENTRAPUT", data)))),
                 "CDFORNITMAP;CDFILIAP;DTENTRAPUT;IDMOTIVPRESC");
  }

  // The grids of the "Cotação" page follow the current product and region.
  void CheckQuotationPage() {
    TfrmPlanApurNegGrid& f = form();
    const std::string produto = f.cdsProduto.FieldByName("CDPRODUTO").AsString();
    ASSERT_EQ(Visible(f.cdsRegiao, "CDREGITMAP;NMREGIAO"), ExpectedRegions(produto));
    const std::string regiao = f.cdsRegiao.FieldByName("CDREGITMAP").AsString();
    ASSERT_EQ(Visible(f.cdsProdItem, "CDPRODITMAP;CDREGITMAP"), ExpectedItems(produto, regiao));
    const std::string item = f.cdsProdItem.FieldByName("CDPRODITMAP").AsString();
    ASSERT_EQ(Visible(f.cdsApurNeg, "CDFORNITMAP;PRECOECON"), ExpectedQuotes(item, regiao));
  }
  void CheckDeliveryPage() {
    TfrmPlanApurNegGrid& f = form();
    const std::string item = f.cdsApurNeg.FieldByName("CDPRODITMAP").AsString();
    const std::string regiao = f.cdsApurNeg.FieldByName("CDREGITMAP").AsString();
    ASSERT_EQ(Visible(f.cdsPai_ItmApurPrec, "CDFILIAP;DTENTRAPUT"), ExpectedBranches(item, regiao));
    const std::string filial = f.cdsPai_ItmApurPrec.FieldByName("CDFILIAP").AsString();
    const std::string data = Current(f.cdsPai_ItmApurPrec, "DTENTRAPUT");
    ASSERT_EQ(Visible(f.cdsItmApurPrec, "CDFORNITMAP;CDFILIAP;DTENTRAPUT;IDMOTIVPRESC"),
              ExpectedDeliveries(item, regiao, filial, data));
  }
};

TEST_F(LaunchTest, OpeningCallsTheServerInItsOrderWithTheLaunchSettings) {
  ScriptTally();
  Launch();
  EXPECT_TRUE(host.exceptions.empty());
  EXPECT_EQ(
      server.Methods(),
      (std::vector<std::string>{"GetParamCmp", "DelApuracao", "GetProduto", "GetDados_ItmApurPrec",
                                "GetRegiao", "GetProdItem", "GetApurNeg", "GetPai_ItmApurPrec"}));
  const auto& calls = server.Calls();
  EXPECT_EQ(calls[0].connection, "netCompras");
  EXPECT_EQ(calls[0].object, "Cmp.rdmCompras");
  EXPECT_EQ(calls[0].ArgsText(), "&'0001', 'PRQ'");
  // The tally held so far is released first: at the first opening, none.
  EXPECT_EQ(calls[1].ArgsText(), "&'0001', &''");
  for (size_t i = 1; i < calls.size(); ++i) {
    SCOPED_TRACE(calls[i].method);
    EXPECT_EQ(calls[i].connection, "netPlanApurNegGrid");
    EXPECT_EQ(calls[i].object, "Prq05001.rdmPlanApurNegGrid");
    if (i >= 2) {
      EXPECT_EQ(calls[i].ArgsText(), "&'0001', &'123'");
    }
  }
  // Each call opens and releases its connection; the busy text frames the release.
  EXPECT_EQ(server.Connects("netPlanApurNegGrid"), 7);
  EXPECT_EQ(server.Disconnects("netPlanApurNegGrid"), 7);
  EXPECT_EQ(host.aviShown, (std::vector<std::pair<int, std::string>>{
                               {1, "Concluindo efetiva\u00e7\u00e3o de AF no servidor..."}}));
  EXPECT_FALSE(host.aviActive);
  EXPECT_EQ(form().stPrxApurPreco, "123");
  EXPECT_EQ(form().cdsApurNeg.IndexName(), "IndOrder");
}

TEST_F(LaunchTest, GridsFollowProductRegionQuotationAndBranch) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();

  ASSERT_EQ(Visible(f.cdsProduto, "CDPRODUTO"), (std::vector<std::string>{"P01", "P02", "P03"}));
  EXPECT_EQ(Current(f.cdsProduto, "CDPRODUTO"), "P01");
  CheckQuotationPage();

  // Another product: regions narrow to it, the first region's items follow.
  f.cdsProduto.Next();
  EXPECT_EQ(Current(f.cdsProduto, "CDPRODUTO"), "P02");
  CheckQuotationPage();
  EXPECT_EQ(server.Calls().size(), 8u) << "moving the product must not reload";

  // Another region of that product.
  f.cdsRegiao.Next();
  ASSERT_FALSE(f.cdsRegiao.Eof());
  CheckQuotationPage();

  // Another negotiated item of the region.
  f.cdsProdItem.Next();
  ASSERT_FALSE(f.cdsProdItem.Eof());
  CheckQuotationPage();

  // Stand on the chosen quotation line and show the delivery page.
  ASSERT_TRUE(f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S")))
      << "the generated tally chooses a quotation of this item";
  const std::string chosen = Current(f.cdsApurNeg, "CDFORNITMAP");
  ASSERT_TRUE(f.tshPadrao.Enabled());
  f.pgcPadrao.SelectPageByUser(f.tshPadrao);
  ASSERT_EQ(f.pgcPadrao.ActivePage(), &f.tshPadrao);
  EXPECT_TRUE(f.mnuPadrao.Checked());
  EXPECT_FALSE(f.mnuProduto.Checked());
  EXPECT_EQ(Current(f.cdsApurNeg, "CDFORNITMAP"), chosen);
  CheckDeliveryPage();
  EXPECT_EQ(f.cdsItmApurPrec.RecordCount(), 1);

  // Another branch request line: only that branch and date's chosen lines.
  f.cdsPai_ItmApurPrec.Next();
  CheckDeliveryPage();
  f.cdsPai_ItmApurPrec.Next();
  CheckDeliveryPage();
  EXPECT_EQ(server.Calls().size(), 8u);
}

TEST_F(LaunchTest, LinesDeliveredAtAnotherTimeOfTheSameDayAreNotShown) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  f.pgcPadrao.SelectPageByUser(f.tshGeral);
  // Walk every quotation line of every product and branch request line.
  int shown = 0;
  for (f.cdsProduto.First(); !f.cdsProduto.Eof(); f.cdsProduto.Next()) {
    for (f.cdsRegiao.First(); !f.cdsRegiao.Eof(); f.cdsRegiao.Next()) {
      for (f.cdsProdItem.First(); !f.cdsProdItem.Eof(); f.cdsProdItem.Next()) {
        if (!f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) continue;
        worksheet::Refiltra(f.cdsPai_ItmApurPrec);
        for (f.cdsPai_ItmApurPrec.First(); !f.cdsPai_ItmApurPrec.Eof();
             f.cdsPai_ItmApurPrec.Next()) {
          for (const auto& row : Visible(f.cdsItmApurPrec, "IDMOTIVPRESC;IDITMSELAPUR")) {
            EXPECT_EQ(row, "|S");
            ++shown;
          }
        }
      }
    }
  }
  EXPECT_GT(shown, 0);
}

TEST_F(LaunchTest, ConsolidatedProductsShowEveryRegionAndOpenOnQuotations) {
  tally = GeneratedTally({.idConsPrSol = "S"});
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_EQ(f.pgcPadrao.ActivePage(), &f.tshGeral);
  EXPECT_FALSE(f.tshProduto.TabVisible());
  EXPECT_EQ(f.cdsRegiao.RecordCount(), static_cast<int>(tally.regiao.size()));
  f.cdsProduto.Last();
  EXPECT_EQ(f.cdsRegiao.RecordCount(), static_cast<int>(tally.regiao.size()));
  // Items of every stock product in the current region.
  const std::string regiao = Current(f.cdsRegiao, "CDREGITMAP");
  EXPECT_EQ(Visible(f.cdsProdItem, "CDPRODITMAP;CDREGITMAP"),
            Texts(Select(tally.prodItem, Eq("CDREGITMAP", regiao), {"CDPRODITMAP"}),
                  "CDPRODITMAP;CDREGITMAP"));
}

TEST_F(LaunchTest, AnExpressionOfTheCallerDecidesAloneWhichRowsAreSeen) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  // A code with a quote in it goes through the quoting helper intact.
  f.cdsApurNeg.SetFilter("[CDFORNITMAP] = " + QuotedStr("FORN02") +
                         " and [NMMARCA] = " + QuotedStr(GeneratedTally::Marca(1)));
  f.cdsApurNeg.SetFiltered(false);
  f.cdsApurNeg.SetFiltered(true);
  EXPECT_EQ(f.cdsApurNeg.RecordCount(),
            static_cast<int>(Select(tally.apurNeg, Eq("CDFORNITMAP", "FORN02")).size()));
  f.cdsApurNeg.SetFilter("");
  worksheet::Refiltra(f.cdsApurNeg);
  CheckQuotationPage();
}

}  // namespace
}  // namespace apura::testing
