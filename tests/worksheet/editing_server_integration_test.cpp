// Delivery editing and the unit-price edit against the reference server
// objects in-process, on the demo tally.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "server/demo.h"
#include "server/server_objects.h"
#include "server/sqlite_storage.h"
#include "support/fake_database.h"
#include "support/fake_host.h"
#include "worksheet/form.h"

namespace apura::testing {
namespace {

using worksheet::TfrmPlanApurNegGrid;

class EditingServerTest : public ::testing::Test {
 protected:
  EditingServerTest() {
    dir_ = std::filesystem::temp_directory_path() /
           ("apura-ed-it-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    storage_ = std::make_unique<server::SqliteStorage>((dir_ / "server.db").string());
    service_ = std::make_unique<server::TallyService>(*storage_);
    service_->Import(server::GenerateDemo(demo_));
    service_->MelhorCotacao(demo_.centre, demo_.tally, "PRQ", "F");
    operators_ = std::make_unique<server::OperatorDirectory>((dir_ / "server.db").string(),
                                                             server::HashCost::Minimum);
    sessions_ = std::make_unique<server::Sessions>(*operators_);
    server::RegisterServerObjects(registry_, *service_, *sessions_);
    // The worksheet calls as the host's operator, who is the demo's buyer here.
    server::Operator op = server::DemoBuyer(demo_);
    op.code = host.operador;
    token_ = sessions_->Open(op).token;
    previous_ = DefaultTransportFactory();
    SetDefaultTransportFactory([this](const TNetConnection&) {
      auto t = std::make_shared<server::InProcessTransport>(registry_);
      t->SetSessionToken(token_);
      return t;
    });
    db_->Answer("FROM AUTGRUPOP", PacketBuilder({{"IDAUTGRUPOP", FieldType::String, 4},
                                                 {"CDOPERADOR", FieldType::String, 12}})
                                      .Build());
    db_->Answer(
        "FROM REGIAO",
        PacketBuilder({{"NMREGIAO", FieldType::String, 30}}).Add({Value("Regi\u00e3o")}).Build());
    stCentCmp = demo_.centre;
    stCdComprador = demo_.buyer;
    stNmComprador = "Comprador";
    stDtInicial = "01/12/2026";
    stDtFinal = "31/12/2026";
    stNrSeq_Rows = demo_.tally;
    stIdQtFrac = "N";
    boStCriado = false;
    host.moduloAtiv = 34;
  }
  ~EditingServerTest() override {
    Application().DestroyForms();
    frmPlanApurNegGrid = nullptr;
    SetDefaultTransportFactory(previous_);
    service_.reset();
    storage_.reset();
    std::filesystem::remove_all(dir_);
  }

  // On "Cotação", on the first item with a chosen quotation, that line current.
  TfrmPlanApurNegGrid& OnChosenQuotation() {
    TfrmPlanApurNegGrid& f = CreateForm(frmPlanApurNegGrid);
    f.Activate();
    f.mnuGeralClick(f.mnuGeral);
    for (f.cdsProdItem.First(); !f.cdsProdItem.Eof(); f.cdsProdItem.Next())
      if (f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) break;
    EXPECT_FALSE(f.cdsProdItem.Eof());
    return f;
  }

  server::DemoOptions demo_;
  test::FakeHost host;
  std::shared_ptr<test::FakeDatabase> db_ = std::make_shared<test::FakeDatabase>();
  test::ScopedDatabase scoped_{db_};
  std::filesystem::path dir_;
  std::unique_ptr<server::SqliteStorage> storage_;
  std::unique_ptr<server::TallyService> service_;
  rpc::ServerRegistry registry_;
  std::unique_ptr<server::OperatorDirectory> operators_;
  std::unique_ptr<server::Sessions> sessions_;
  std::string token_;
  TransportFactory previous_;
};

TEST_F(EditingServerTest, AChangedPriceComesBackWithTheServersEconomicPrices) {
  TfrmPlanApurNegGrid& f = OnChosenQuotation();
  TClientDataSet& a = f.cdsApurNeg;
  const double price = a.FieldByName("VRPRECUNIAP").AsFloat();
  const double econ = a.FieldByName("PRECOECON").AsFloat();
  const double econPi = a.FieldByName("PRECOECONPI").AsFloat();
  ASSERT_GT(price, 0);
  const std::vector<Value> key = {
      a.FieldByName("CDFORNITMAP").AsValue(), a.FieldByName("CDMARCITMAP").AsValue(),
      a.FieldByName("NRCOLEITMAP").AsValue(), a.FieldByName("CDPRODITMAP").AsValue(),
      a.FieldByName("CDREGITMAP").AsValue()};
  f.sbtAlterar.Click();
  a.FieldByName("VRPRECUNIAP").SetAsFloat(price * 1.25);
  host.Answer(mrFirstCaption);
  EXPECT_TRUE(GuardedCall([&] { f.sbtConfirmar.Click(); }));
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  EXPECT_EQ(a.State(), TDataSetState::dsBrowse);

  // Every term of the economic prices multiplies the unit price.
  EXPECT_NEAR(a.FieldByName("PRECOECON").AsFloat(), econ * 1.25, 1e-9 * econ);
  EXPECT_NEAR(a.FieldByName("PRECOECONPI").AsFloat(), econPi * 1.25, 1e-9 * econPi);

  // The server keeps what it answered.
  TClientDataSet stored("stored");
  stored.SetData(service_->GetApurNeg(demo_.centre, demo_.tally));
  ASSERT_TRUE(stored.Locate("CDFORNITMAP;CDMARCITMAP;NRCOLEITMAP;CDPRODITMAP;CDREGITMAP", key));
  EXPECT_DOUBLE_EQ(stored.FieldByName("VRPRECUNIAP").AsFloat(), price * 1.25);
  EXPECT_DOUBLE_EQ(stored.FieldByName("PRECOECON").AsFloat(), a.FieldByName("PRECOECON").AsFloat());
  EXPECT_DOUBLE_EQ(stored.FieldByName("PRECOECONPI").AsFloat(),
                   a.FieldByName("PRECOECONPI").AsFloat());
}

TEST_F(EditingServerTest, ASecondSupplierForABranchAndDateOnTheDemoTally) {
  TfrmPlanApurNegGrid& f = OnChosenQuotation();
  f.mnuPadraoClick(f.mnuPadrao);
  ASSERT_EQ(f.ActiveControl(), &f.dbgPadrao);
  const int lines = f.cdsItmApurPrec.RecordCount();
  const size_t rows = f.cdsItmApurPrec.StorageRows();
  f.sbtIncluir.Click();
  ASSERT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsInsert);
  ASSERT_FALSE(f.cdsItmApurPrec.FieldByName("CDFORNITMAP").IsNull()) << "a free quotation exists";
  worksheet::ChaveCotacao c{f.cdsItmApurPrec.FieldByName("CDFORNITMAP").AsString(),
                            f.cdsItmApurPrec.FieldByName("CDMARCITMAP").AsString(),
                            f.cdsItmApurPrec.FieldByName("NRCOLEITMAP").AsString(),
                            f.cdsPai_ItmApurPrec.FieldByName("CDPRODITMAP").AsString(),
                            f.cdsPai_ItmApurPrec.FieldByName("CDREGITMAP").AsString()};
  f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(2);
  GuardedCall([&] { f.sbtConfirmar.Click(); });
  ASSERT_TRUE(host.exceptions.empty()) << host.exceptions.front();
  ASSERT_TRUE(host.messages.empty()) << host.messages.front().text;
  EXPECT_EQ(f.cdsItmApurPrec.RecordCount(), lines + 1);
  EXPECT_EQ(f.cdsItmApurPrec.StorageRows(), rows);
  EXPECT_EQ(f.cdsApurNeg.FieldByName("IDITMSELAPUR").AsString(), "S");
  EXPECT_EQ(f.cdsApurNeg.FieldByName("QTACOMP").AsFloat(), f.Soma_QtApurada(c));
  EXPECT_EQ(f.Soma_QtApurada(c), 2);
  EXPECT_GT(f.cdsDados.ChangeCount(), 0) << "the choice travels with the effectuation";
}

}  // namespace
}  // namespace apura::testing
