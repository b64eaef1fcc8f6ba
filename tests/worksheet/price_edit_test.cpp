// Correcting the unit price of a quotation line on "Cotação".

#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

class PriceEditTest : public WorksheetTest {
 protected:
  TfrmPlanApurNegGrid& Open(int modulo = 34) {
    ScriptTally();
    host.moduloAtiv = modulo;
    TfrmPlanApurNegGrid& f = Launch();
    f.Activate();
    f.mnuGeralClick(f.mnuGeral);
    EXPECT_EQ(f.ActiveControl(), &f.dbgFornecedor);
    host.ClearRecords();
    server.ClearRecords();
    price = f.cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat();
    econ = f.cdsApurNeg.FieldByName("PRECOECON").AsFloat();
    econPi = f.cdsApurNeg.FieldByName("PRECOECONPI").AsFloat();
    return f;
  }
  static bool Run(const std::function<void()>& gesture) { return GuardedCall(gesture); }
  // Everything the buyer was shown, messages and error reports.
  std::string Shown() const {
    std::string all;
    for (const auto& t : host.Texts()) all += t + "\n";
    for (const auto& t : host.exceptions) all += t + "\n";
    return all;
  }
  void Type(TfrmPlanApurNegGrid& f, double newPrice) {
    f.sbtAlterar.Click();
    ASSERT_EQ(f.cdsApurNeg.State(), TDataSetState::dsEdit);
    f.cdsApurNeg.FieldByName("VRPRECUNIAP").SetAsFloat(newPrice);
  }
  double price = 0, econ = 0, econPi = 0;
};

TEST_F(PriceEditTest, TheSamePriceRetypedAsksNothingAndCallsNobody) {
  TfrmPlanApurNegGrid& f = Open();
  Type(f, price);
  EXPECT_TRUE(Run([&] { f.sbtConfirmar.Click(); }));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(server.CallCount("AtuaPrecEco"), 0);
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
}

TEST_F(PriceEditTest, ANewPriceAnsweredNoKeepsTheEconomicPrices) {
  TfrmPlanApurNegGrid& f = Open();
  Type(f, price + 1);
  host.Answer(mrFirstCaption + 1);
  EXPECT_TRUE(Run([&] { f.sbtConfirmar.Click(); }));
  ASSERT_EQ(host.messages.size(), 1u);
  const test::ShownMessage& m = host.messages[0];
  EXPECT_EQ(m.source, test::ShownMessage::Source::MsgAlertEx);
  EXPECT_EQ(m.text, "Deseja atualizar as cotações conforme novo preço informado?");
  EXPECT_EQ(m.kind, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(m.captions, (std::vector<std::string>{"Sim", "Não"}));
  EXPECT_EQ(m.numbers, (std::vector<int>{2, 0, 0}));
  EXPECT_EQ(server.CallCount("AtuaPrecEco"), 0);
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat(), price + 1);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("PRECOECON").AsFloat(), econ);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("PRECOECONPI").AsFloat(), econPi);
}

TEST_F(PriceEditTest, ANewPriceAnsweredYesTakesTheServersEconomicPrices) {
  TfrmPlanApurNegGrid& f = Open();
  const std::string line = test::ArgText(ByVal(f.cdsApurNeg.FieldByName("CDCENTITMAP").AsString()));
  Type(f, price + 2.5);
  host.Answer(mrFirstCaption);
  server.ReplyOk("AtuaPrecEco", Value(ValueArray{Value(11.25), Value(9.5)}));
  EXPECT_TRUE(Run([&] { f.sbtConfirmar.Click(); }));
  ASSERT_EQ(server.CallCount("AtuaPrecEco"), 1);
  const test::RecordedCall& call = *server.LastCall("AtuaPrecEco");
  ASSERT_EQ(call.args.size(), 8u);
  EXPECT_EQ(call.Arg(6).AsFloat(), price + 2.5);
  for (size_t i : {0u, 1u, 2u, 3u, 4u, 5u, 7u})
    EXPECT_EQ(call.Arg(i).kind(), Value::Kind::Text) << i;
  EXPECT_EQ(test::ArgText(call.args[0]), line);
  EXPECT_EQ(call.Arg(1).ToText(), f.cdsApurNeg.FieldByName("CDPRODITMAP").AsString());
  EXPECT_EQ(call.Arg(7).ToText(), f.cdsApurNeg.FieldByName("NRSEQITMAP").AsString());
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("PRECOECON").AsFloat(), 11.25);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("PRECOECONPI").AsFloat(), 9.5);
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
  EXPECT_EQ(server.Connects("netPlanApurNegGrid"), server.Disconnects("netPlanApurNegGrid"));
  EXPECT_EQ(f.cdsDados.ChangeCount(), 0) << "the delivery rows keep their prices";
}

TEST_F(PriceEditTest, ThePricePerConversionUnitFollowsACorrectedPrice) {
  for (int answer : {mrFirstCaption, mrFirstCaption + 1}) {
    Application().DestroyForms();
    TfrmPlanApurNegGrid& f = Open();
    // A line sold by the box of ten, as loaded from the server.
    f.dbgFornecedor.Tag = 1;
    f.cdsApurNeg.Edit();
    f.cdsApurNeg.FieldByName("VRFATOCONV").SetAsFloat(10);
    f.cdsApurNeg.FieldByName("PRODUNDIVFATCO").SetAsFloat(price / 10);
    f.cdsApurNeg.Post();
    f.dbgFornecedor.Tag = 0;
    host.ClearRecords();

    Type(f, 79.5);
    host.Answer(answer);
    server.ReplyOk("AtuaPrecEco", Value(ValueArray{Value(81.0), Value(80.0)}));
    EXPECT_TRUE(Run([&] { f.sbtConfirmar.Click(); }));
    EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
    EXPECT_DOUBLE_EQ(f.cdsApurNeg.FieldByName("PRODUNDIVFATCO").AsFloat(), 7.95) << answer;

    // Without a factor the unit price is its own price per conversion unit.
    f.dbgFornecedor.Tag = 1;
    f.cdsApurNeg.Edit();
    f.cdsApurNeg.FieldByName("VRFATOCONV").SetAsFloat(0);
    f.cdsApurNeg.Post();
    f.dbgFornecedor.Tag = 0;
    Type(f, 12.5);
    host.Answer(answer);
    server.ReplyOk("AtuaPrecEco", Value(ValueArray{Value(13.0), Value(12.0)}));
    EXPECT_TRUE(Run([&] { f.sbtConfirmar.Click(); }));
    EXPECT_DOUBLE_EQ(f.cdsApurNeg.FieldByName("PRODUNDIVFATCO").AsFloat(), 12.5) << answer;
  }
}

TEST_F(PriceEditTest, AServerFailureOrABadAnswerKeepsTheEditAndClosesTheConnection) {
  TfrmPlanApurNegGrid& f = Open();
  Type(f, price + 1);
  host.Answer(mrFirstCaption);
  server.ReplyFailure("AtuaPrecEco", "Cotação não encontrada.");
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
  EXPECT_NE(Shown().find("Cotação não encontrada."), std::string::npos) << Shown();
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsEdit);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat(), price + 1);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("PRECOECON").AsFloat(), econ);
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);

  host.ClearRecords();
  host.Answer(mrFirstCaption);
  server.ReplyOk("AtuaPrecEco", Value(ValueArray{Value(3.0)}));
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
  EXPECT_NE(Shown().find("AtuaPrecEco"), std::string::npos) << Shown();
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsEdit);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("PRECOECON").AsFloat(), econ);
  EXPECT_EQ(f.ConnectionCount(f.netPlanApurNegGrid), 0);
}

TEST_F(PriceEditTest, NoPriceOrOneBelowZeroIsRefusedOnThePriceColumn) {
  TfrmPlanApurNegGrid& f = Open();
  for (double wrong : {0.0, -4.0}) {
    Type(f, wrong);
    f.dbgFornecedor.SetSelectedField("NMFANTFORN");
    host.ClearRecords();
    EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
    ASSERT_EQ(host.messages.size(), 1u) << wrong;
    EXPECT_EQ(host.messages[0].text, "Preço unitário deve ser informado.");
    EXPECT_EQ(f.dbgFornecedor.SelectedField()->FieldName(), "VRPRECUNIAP");
    EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsEdit);
  }
  EXPECT_EQ(server.CallCount("AtuaPrecEco"), 0);
}

TEST_F(PriceEditTest, PurchasingCannotEditQuotationLinesButTheProgramCan) {
  TfrmPlanApurNegGrid& f = Open(4);
  EXPECT_FALSE(Run([&] { f.cdsApurNeg.Edit(); }));
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(host.messages.empty());

  // An internal edit of the tallied quantity passes and asks nothing.
  f.dbgFornecedor.Tag = 1;
  f.cdsApurNeg.Edit();
  ASSERT_EQ(f.cdsApurNeg.State(), TDataSetState::dsEdit);
  f.cdsApurNeg.FieldByName("QTACOMP").SetAsFloat(3);
  EXPECT_TRUE(Run([&] { f.cdsApurNeg.Post(); }));
  f.dbgFornecedor.Tag = 0;
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(f.cdsApurNeg.FieldByName("QTACOMP").AsFloat(), 3);
}

TEST_F(PriceEditTest, NoModuleAddsAQuotationLine) {
  for (int modulo : {4, 34, 77}) {
    Application().DestroyForms();
    TfrmPlanApurNegGrid& f = Open(modulo);
    const size_t rows = f.cdsApurNeg.StorageRows();
    f.dbgFornecedor.Tag = 1;
    EXPECT_FALSE(Run([&] { f.cdsApurNeg.Insert(); })) << modulo;
    f.dbgFornecedor.Tag = 0;
    EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(f.cdsApurNeg.StorageRows(), rows);
  }
}

}  // namespace
}  // namespace apura::testing
