// Spreadsheet information: an unsaved unit price is offered for posting first;
// the screen gets the line's key behind a leading flag.

#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

class SpreadsheetTest : public WorksheetTest {
 protected:
  SpreadsheetTest() { ScriptTally(); }
  TfrmPlanApurNegGrid& LaunchOnQuotations() {
    TfrmPlanApurNegGrid& f = Launch();
    f.pgcPadrao.SetActivePage(&f.tshGeral);
    f.cdsApurNeg.SetRecNo(2);
    return f;
  }
  bool Planilha() {
    TfrmPlanApurNegGrid& f = form();
    return GuardedCall([&f] { f.sbtPlanilhaClick(f.sbtPlanilha); });
  }
  // The unit-price rules have tests of their own; here only the order in
  // which a pending edit is posted matters.
  bool customPost = false;
  void EditaPreco(double price) {
    form().cdsApurNeg.BeforeEdit = nullptr;
    form().cdsApurNeg.AfterEdit = nullptr;
    if (!customPost) form().cdsApurNeg.BeforePost = nullptr;
    form().cdsApurNeg.Edit();
    form().cdsApurNeg.FieldByName("VRPRECUNIAP").SetAsFloat(price);
  }
};

TEST_F(SpreadsheetTest, WithNoPendingChangeTheScreenOpensAtOnceWithTheLinesKey) {
  TfrmPlanApurNegGrid& f = LaunchOnQuotations();
  const ValueArray simulation = f.Chave_Cotacao_Tela();
  ASSERT_TRUE(Planilha());
  EXPECT_TRUE(host.messages.empty());
  ASSERT_EQ(host.loadBPLCalls.size(), 1u);
  EXPECT_EQ(host.loadBPLCalls[0].first, "PRQ01803");
  const ValueArray& got = host.loadBPLCalls[0].second;
  ASSERT_EQ(got.size(), 9u);
  EXPECT_EQ(got[0].kind(), Value::Kind::Boolean);
  EXPECT_FALSE(got[0].AsBoolean());
  const char* fields[] = {"NRCOLEITMAP", "CDFORNITMAP", "CDPRODITMAP",
                          "CDARVPROD",   "CDMARCITMAP", "CDREGITMAP"};
  EXPECT_EQ(got[1].ToText(), stCentCmp);
  for (size_t i = 0; i < std::size(fields); ++i)
    EXPECT_EQ(got[i + 2].ToText(), f.cdsApurNeg.FieldByName(fields[i]).AsString()) << fields[i];
  EXPECT_EQ(got[8].ToText(), "123");
  for (size_t i = 1; i < 9; ++i) EXPECT_EQ(got[i].ToText(), simulation[i - 1].ToText()) << i;
}

TEST_F(SpreadsheetTest, YesPostsThePriceBeforeTheScreenNoLeavesItPending) {
  TfrmPlanApurNegGrid& f = LaunchOnQuotations();
  EditaPreco(8.25);
  host.Answer(mrYes, "Confirma altera\u00e7\u00e3o do pre\u00e7o unit\u00e1rio?");
  TDataSetState atScreen = TDataSetState::dsInactive;
  host.onLoadBPL = [&](const std::string&, const ValueArray&) { atScreen = f.cdsApurNeg.State(); };
  ASSERT_TRUE(Planilha());
  EXPECT_EQ(host.LastMessage().kind, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(host.LastMessage().buttons, mbYesNo);
  EXPECT_EQ(atScreen, TDataSetState::dsBrowse);
  EXPECT_DOUBLE_EQ(f.cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat(), 8.25);

  EditaPreco(9.5);
  host.Answer(mrNo, "Conf");
  ASSERT_TRUE(Planilha());
  EXPECT_EQ(atScreen, TDataSetState::dsEdit);
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsEdit);
  EXPECT_EQ(host.loadBPLCalls.size(), 2u);
}

TEST_F(SpreadsheetTest, ARefusedPriceStopsBeforeTheScreenOpens) {
  TfrmPlanApurNegGrid& f = LaunchOnQuotations();
  customPost = true;
  f.cdsApurNeg.BeforePost = [](TClientDataSet&) {
    MensErro("Pre\u00e7o unit\u00e1rio deve ser informado.", true);
  };
  EditaPreco(0);
  host.Answer(mrYes);
  EXPECT_FALSE(Planilha());
  EXPECT_TRUE(host.loadBPLCalls.empty());
  EXPECT_EQ(host.LastMessage().text, "Pre\u00e7o unit\u00e1rio deve ser informado.");
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsEdit);
}

TEST_F(SpreadsheetTest, AnEmptyQuotationTableGivesEmptyTexts) {
  tally.apurNeg.clear();
  ScriptTally();
  LaunchOnQuotations();
  ASSERT_TRUE(Planilha());
  ASSERT_EQ(host.loadBPLCalls.size(), 1u);
  const ValueArray& got = host.loadBPLCalls[0].second;
  ASSERT_EQ(got.size(), 9u);
  for (size_t i = 2; i <= 7; ++i) EXPECT_EQ(got[i].ToText(), "") << i;
  EXPECT_EQ(got[1].ToText(), stCentCmp);
}

}  // namespace
}  // namespace apura::testing
