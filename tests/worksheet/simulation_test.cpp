// Price simulation: the screen gets the current line, the server recomputes
// the line current when it returns, and the reload puts the cursors back by
// key even when the new prices reorder the lines.

#include <algorithm>

#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

class SimulationTest : public WorksheetTest {
 protected:
  SimulationTest() {
    ScriptTally();
    server.Handle("Atualiza_PrecoEco", [](const test::RecordedCall&) { return ResultOk(Value()); });
  }
  bool Simula() {
    TfrmPlanApurNegGrid& f = form();
    return GuardedCall([&f] { f.sbtSimulacaoClick(f.sbtSimulacao); });
  }
  // The connection's opens and closes and the calls made, in order.
  std::vector<std::string> Traffic() const {
    std::vector<std::string> out;
    for (const std::string& e : server.Events()) {
      if (e.rfind("connect", 0) == 0) out.push_back("open");
      if (e.rfind("disconnect", 0) == 0) out.push_back("close");
      if (e.rfind("call", 0) == 0) {
        const size_t open = e.find('('), dot = e.rfind('.', open);
        out.push_back(e.substr(dot + 1, open - dot - 1));
      }
    }
    return out;
  }
  static constexpr const char* kLine = "NRCOLEITMAP;CDFORNITMAP;CDMARCITMAP";
};

TEST_F(SimulationTest, TheScreenGetsTheLineAndTheServerTheLineCurrentWhenItReturns) {
  TfrmPlanApurNegGrid& f = Launch();
  f.cdsApurNeg.SetRecNo(2);
  const std::string before = Current(f.cdsApurNeg, kLine);
  const std::string produto = Current(f.cdsProdItem, "CDPRODITMAP");
  const ValueArray expected = {Value(stCentCmp),
                               Value(f.cdsApurNeg.FieldByName("NRCOLEITMAP").AsString()),
                               Value(f.cdsApurNeg.FieldByName("CDFORNITMAP").AsString()),
                               Value(f.cdsApurNeg.FieldByName("CDPRODITMAP").AsString()),
                               Value(f.cdsApurNeg.FieldByName("CDARVPROD").AsString()),
                               Value(f.cdsApurNeg.FieldByName("CDMARCITMAP").AsString()),
                               Value(f.cdsApurNeg.FieldByName("CDREGITMAP").AsString()),
                               Value(std::string("123"))};
  std::string afterScreen;
  host.onLoadBPL = [&](const std::string&, const ValueArray&) {
    // The other screen leaves the cursor on another line.
    f.cdsApurNeg.First();
    afterScreen = test::ValueText(Value(f.cdsApurNeg.FieldByName("CDFORNITMAP").AsString()));
  };
  server.ClearRecords();
  ASSERT_TRUE(Simula());

  ASSERT_EQ(host.loadBPLCalls.size(), 1u);
  EXPECT_EQ(host.loadBPLCalls[0].first, "PRQ01802");
  const ValueArray& got = host.loadBPLCalls[0].second;
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].kind(), Value::Kind::Text);
    EXPECT_EQ(got[i].ToText(), expected[i].ToText());
  }

  const test::RecordedCall* call = server.LastCall("Atualiza_PrecoEco");
  ASSERT_NE(call, nullptr);
  ASSERT_EQ(call->args.size(), 7u);
  EXPECT_EQ(test::ArgText(call->args[3]), afterScreen);  // the supplier of the line moved to
  EXPECT_FALSE(call->args[0].byRef);

  EXPECT_EQ(Traffic(),
            (std::vector<std::string>{"open", "Atualiza_PrecoEco", "close", "open", "GetProdItem",
                                      "close", "open", "GetApurNeg", "close"}));
  EXPECT_EQ(Current(f.cdsProdItem, "CDPRODITMAP"), produto);
  EXPECT_EQ(Current(f.cdsApurNeg, kLine), before);
  EXPECT_EQ(f.cdsApurNeg.IndexName(), "IndOrder");
  EXPECT_EQ(f.cdsProdItem.IndexName(), "IndOrder");
}

TEST_F(SimulationTest, TheCursorFollowsTheLineWhenTheNewPriceReordersTheList) {
  TfrmPlanApurNegGrid& f = Launch();
  f.cdsApurNeg.Last();
  const std::string line = Current(f.cdsApurNeg, kLine);
  const std::string forn = f.cdsApurNeg.FieldByName("CDFORNITMAP").AsString();
  const std::string item = f.cdsApurNeg.FieldByName("CDPRODITMAP").AsString();
  const std::string reg = f.cdsApurNeg.FieldByName("CDREGITMAP").AsString();
  // The negotiated price makes the last line the cheapest.
  server.Handle("GetApurNeg", [&](const test::RecordedCall&) {
    for (Row& r : tally.apurNeg)
      if (Text(r, "CDFORNITMAP") == forn && Text(r, "CDPRODITMAP") == item &&
          Text(r, "CDREGITMAP") == reg)
        r["PRECOECON"] = 0.5;
    return ResultOk(Value(tally.ApurNegPacket()));
  });
  ASSERT_TRUE(Simula());
  EXPECT_EQ(f.cdsApurNeg.RecNo(), 1);
  EXPECT_EQ(Current(f.cdsApurNeg, kLine), line);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("PRECOECON").AsFloat(), 0.5);
}

TEST_F(SimulationTest, AFailingCallStopsThereWithTheConnectionClosed) {
  for (const char* method : {"Atualiza_PrecoEco", "GetProdItem", "GetApurNeg"}) {
    SCOPED_TRACE(method);
    Application().DestroyForms();
    TfrmPlanApurNegGrid& f = Launch();
    f.cdsApurNeg.Last();
    const std::vector<std::string> rows = Visible(f.cdsApurNeg, "CDFORNITMAP;PRECOECON");
    server.ClearRecords();
    host.ClearRecords();
    server.ReplyFailure(method, std::string("Falha em ") + method);
    EXPECT_FALSE(Simula());
    EXPECT_EQ(host.Texts(), std::vector<std::string>{std::string("Falha em ") + method});
    const std::vector<std::string> methods = server.Methods();
    EXPECT_EQ(methods.back(), method);
    EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
    EXPECT_FALSE(f.netPlanApurNegGrid.Connected());
    EXPECT_EQ(server.Connects(), server.Disconnects());
    // A failed reload is no data: the lines on screen stay, in their order.
    EXPECT_EQ(Visible(f.cdsApurNeg, "CDFORNITMAP;PRECOECON"), rows);
    EXPECT_EQ(f.cdsApurNeg.IndexName(), "IndOrder");
  }
}

TEST_F(SimulationTest, AnEmptyQuotationTableSendsEmptyTexts) {
  tally.apurNeg.clear();
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  ASSERT_TRUE(f.cdsApurNeg.IsEmpty());
  ASSERT_TRUE(Simula());
  ASSERT_EQ(host.loadBPLCalls.size(), 1u);
  const ValueArray& got = host.loadBPLCalls[0].second;
  ASSERT_EQ(got.size(), 8u);
  for (size_t i = 1; i <= 6; ++i) EXPECT_EQ(got[i].ToText(), "") << i;
  const test::RecordedCall* call = server.LastCall("Atualiza_PrecoEco");
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->ArgsText(), "'', '', '', '', '', '', ''");
}

TEST_F(SimulationTest, ReloadedQuotationLinesAreSortedByTheTallyType) {
  for (const char* tipo : {"2", "3"}) {
    SCOPED_TRACE(tipo);
    Application().DestroyForms();
    tally.paraSupri[0]["IDTIPOAPUR"] = std::string(tipo);
    ScriptTally();
    server.Handle("Atualiza_PrecoEco", [](const test::RecordedCall&) { return ResultOk(Value()); });
    TfrmPlanApurNegGrid& f = Launch();
    ASSERT_TRUE(Simula());
    const char* field = std::string(tipo) == "2" ? "PRECOECONPI" : "VRPRECUNIAP";
    std::vector<double> prices;
    for (const std::string& t : Visible(f.cdsApurNeg, field)) prices.push_back(std::stod(t));
    ASSERT_GT(prices.size(), 1u);
    EXPECT_TRUE(std::is_sorted(prices.begin(), prices.end()));
  }
}

}  // namespace
}  // namespace apura::testing
