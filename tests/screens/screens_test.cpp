// The screens opened on a quotation line: what they ask the server, what
// they show, and that a refused price or a failed call leaves nothing behind.

#include <gtest/gtest.h>

#include "framework/format.h"
#include "screens/quotation_screens.h"
#include "support/fake_host.h"
#include "support/fake_server.h"

namespace apura::screens {
namespace {

using test::FakeHost;
using test::FakeServer;

DataPacket Cotacao(double price = 10) {
  const FieldType T = FieldType::String, F = FieldType::Float;
  PacketBuilder b({{"CDFORNITMAP", T, 21}, {"NMFANTFORN", T, 40},  {"CDPRODITMAP", T, 10},
                   {"CDARVPROD", T, 20},   {"NMPRODUTO", T, 50},   {"CDMARCITMAP", T, 5},
                   {"NMMARCA", T, 20},     {"NRCOLEITMAP", T, 10}, {"CDREGITMAP", T, 3},
                   {"SGUNIDADE", T, 10},   {"VRFATOCONV", F, 0},   {"VRPRECUNIAP", F, 0},
                   {"PRECOECON", F, 0},    {"PRECOECONPI", F, 0},  {"TXFRETEENC", F, 0},
                   {"NRPRAZOPGTO", F, 0},  {"TXIMPRECUP", F, 0},   {"IDLISTAPREC", T, 1},
                   {"QTMINAUTFOT", F, 0},  {"IDQTMINFORN", T, 1},  {"VRMINAUTFOR", F, 0},
                   {"IDVRMINFORN", T, 1}});
  b.Add({Value("F1"),        Value("Distribuidora Um"),
         Value("N1"),        Value("1.01.01"),
         Value("Arroz"),     Value("M1"),
         Value("Marca Um"),  Value("C1"),
         Value("001"),       Value("PCT"),
         Value(1.0),         Value(price),
         Value(price * 1.1), Value(price),
         Value(0.05),        Value(30.0),
         Value(0.0),         Value("S"),
         Value(5.0),         Value("R"),
         Value(100.0),       Value("N")});
  return b.Build();
}

DataPacket Entregas() {
  PacketBuilder b({{"CDFILIAP", FieldType::String, 4},
                   {"NMFILIAL", FieldType::String, 30},
                   {"DTENTRAPUT", FieldType::DateTime, 0},
                   {"QTSOLACOMP", FieldType::Float, 0},
                   {"QTACOMP", FieldType::Float, 0}});
  b.Add({Value("0101"), Value("Filial Centro"), Value(DateTime::FromDate(2026, 12, 5)), Value(10.0),
         Value(10.0)});
  b.Add({Value("0102"), Value("Filial Vila Nova"), Value(DateTime::FromDate(2026, 12, 5)),
         Value(20.0), Value(0.0)});
  return b.Build();
}

ValueArray Linha() {
  return {Value("0001"),    Value("C1"), Value("F1"),  Value("N1"),
          Value("1.01.01"), Value("M1"), Value("001"), Value("77")};
}

struct ScreensTest : ::testing::Test {
  ScreensTest() { CurrentFormat() = FormatSettings{}; }
  ~ScreensTest() override { Application().DestroyForms(); }
  FakeHost host;
  FakeServer server;
  static constexpr const char* kKey = "'0001', 'C1', 'F1', 'N1', 'M1', '001', '77'";
};

TEST_F(ScreensTest, NegotiationSimulatesThenRecordsTheTypedPriceAndCloses) {
  server.ReplyOk("GetCotacao", Value(Cotacao()));
  server.ReplyOk("SimulaPreco", Value(ValueArray{Value(8.8), Value(8.0)}));
  server.ReplyOk("GravaPreco", Value(ValueArray{Value(8.8), Value(8.0)}));
  host.AnswerModal([](TForm& form) {
    auto& f = dynamic_cast<TfrmNegociacao&>(form);
    EXPECT_EQ(f.lblCodTela.Caption(), "PRQ01802");
    EXPECT_EQ(f.lblFornecedor.Caption(), "Fornecedor: F1 - Distribuidora Um");
    EXPECT_NE(f.lblPrecos.Caption().find("Pr. Unitário: 10,00000"), std::string::npos)
        << f.lblPrecos.Caption();
    f.edtPrecoNeg.SetText("8,5");
    EXPECT_TRUE(GuardedCall([&f] { f.sbtSimular.Click(); }));
    EXPECT_NE(f.lblSimulacao.Caption().find("8,80000"), std::string::npos);
    EXPECT_TRUE(f.Visible());
    EXPECT_TRUE(GuardedCall([&f] { f.sbtConfirma.Click(); }));
    EXPECT_EQ(f.ModalResult(), mrOk);
    EXPECT_TRUE(f.Released());
  });
  AbreNegociacao(Linha());
  EXPECT_EQ(server.Methods(),
            (std::vector<std::string>{"GetCotacao", "SimulaPreco", "GravaPreco"}));
  EXPECT_EQ(server.LastCall("GetCotacao")->ArgsText(), kKey);
  EXPECT_EQ(server.LastCall("GravaPreco")->ArgsText(),
            "'0001', 'C1', 'F1', 'N1', 'M1', '001', 8,5, '77'");
  EXPECT_EQ(server.LastCall("GravaPreco")->object, "Prq01802.rdmNegociacao");
  EXPECT_EQ(server.Connects(), 3);
  EXPECT_EQ(server.Disconnects(), 3);
}

TEST_F(ScreensTest, ARefusedPriceAsksNothingOfTheServerAndAFailedOneKeepsTheScreen) {
  server.ReplyOk("GetCotacao", Value(Cotacao()));
  server.ReplyFailure("GravaPreco", "Preço unitário deve ser maior que zero.");
  host.AnswerModal([this](TForm& form) {
    auto& f = dynamic_cast<TfrmNegociacao&>(form);
    for (const char* bad : {"", "abc", "0", "-2"}) {
      f.edtPrecoNeg.SetText(bad);
      EXPECT_FALSE(GuardedCall([&f] { f.sbtConfirma.Click(); })) << bad;
    }
    EXPECT_EQ(server.CallCount("GravaPreco"), 0);
    EXPECT_EQ(host.LastMessage().text, "Preço negociado deve ser um número maior que zero.");
    f.edtPrecoNeg.SetText("7");
    EXPECT_FALSE(GuardedCall([&f] { f.sbtConfirma.Click(); }));
    EXPECT_EQ(host.LastMessage().text, "Preço unitário deve ser maior que zero.");
    EXPECT_FALSE(f.Released());
    f.sbtCancel.Click();
    EXPECT_EQ(f.ModalResult(), mrCancel);
  });
  AbreNegociacao(Linha());
  EXPECT_EQ(server.Connects(), server.Disconnects());
}

TEST_F(ScreensTest, AScreenThatCannotLoadItsLineIsNotLeftOpen) {
  EXPECT_THROW(AbreNegociacao({Value("0001")}), ConversionError);
  server.ReplyFailure("GetCotacao", "Cotação não encontrada.");
  EXPECT_THROW(AbreNegociacao(Linha()), EAbort);
  EXPECT_EQ(host.LastMessage().text, "Cotação não encontrada.");
  EXPECT_FALSE(host.Logged("ShowModal(frmNegociacao)"));
  Application().ProcessReleases();
  EXPECT_TRUE(Application().Forms().empty());
  EXPECT_EQ(server.Connects(), server.Disconnects());
}

TEST_F(ScreensTest, SpreadsheetShowsTheLineAndItsDeliveriesReadOnly) {
  server.ReplyOk("GetCotacao", Value(Cotacao()));
  server.ReplyOk("GetEntregas", Value(Entregas()));
  ValueArray params = Linha();
  params.insert(params.begin(), Value(false));
  host.AnswerModal([](TForm& form) {
    auto& f = dynamic_cast<TfrmInfPlanilha&>(form);
    EXPECT_EQ(f.lblCodTela.Caption(), "PRQ01803");
    EXPECT_FALSE(f.sbtConfirma.Visible());
    EXPECT_EQ(f.cdsEntregas.RecordCount(), 2);
    EXPECT_EQ(f.cdsEntregas.FieldByName("NMFILIAL").AsString(), "Filial Centro");
    EXPECT_NE(f.lblMinimos.Caption().find("5,000 (restritiva)"), std::string::npos)
        << f.lblMinimos.Caption();
    EXPECT_FALSE(f.dbgEntregas.Options() & dgEditing);
    f.sbtCancel.Click();
  });
  AbreInfPlanilha(params);
  EXPECT_EQ(server.LastCall("GetEntregas")->ArgsText(), kKey);
  EXPECT_EQ(server.LastCall("GetEntregas")->object, "Prq01803.rdmInfPlanilha");
  EXPECT_THROW(AbreInfPlanilha(Linha()), ConversionError);  // the leading flag is missing
}

}  // namespace
}  // namespace apura::screens
