#pragma once
// The worksheet against the reference server objects in-process, on a demo
// tally in a SQLite file of its own, called with a session of the host's
// operator. The suites that drive the worksheet over real data derive from it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "server/exchange/demo.h"
#include "server/objects/server_objects.h"
#include "server/storage/sqlite/sqlite_storage.h"
#include "support/fake_database.h"
#include "support/fake_host.h"
#include "worksheet/form.h"

namespace apura::testing {

class ReferenceServerTest : public ::testing::Test {
 protected:
  ReferenceServerTest() {
    dir_ = std::filesystem::temp_directory_path() /
           ("apura-ws-it-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    storage_ = std::make_unique<server::SqliteStorage>((dir_ / "server.db").string());
    service_ = std::make_unique<server::TallyService>(*storage_);
    service_->Import(server::GenerateDemo(demo_));
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
  }
  ~ReferenceServerTest() override {
    Application().DestroyForms();
    frmPlanApurNegGrid = nullptr;
    SetDefaultTransportFactory(previous_);
    sessions_.reset();
    operators_.reset();
    service_.reset();
    storage_.reset();
    std::filesystem::remove_all(dir_);
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

}  // namespace apura::testing
