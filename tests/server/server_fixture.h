#pragma once
// A server on a fresh SQLite file, or a fresh PostgreSQL database when the tests
// run with APURA_TEST_STORAGE=postgresql, reached through the in-process
// transport, and a small hand-made tally to shape per test.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "pg_cluster.h"
#include "server/exchange/tally_document.h"
#include "server/objects/server_objects.h"
#include "server/storage/open_storage.h"
#include "server/storage/sqlite/sqlite.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace apura::server::testing {

inline TallyDocument SmallTally(const std::string& number = "77",
                                const std::string& centre = "0001") {
  TallyDocument d;
  d.centre.code = centre;
  d.centre.name = "Central de Teste";
  d.centre.IDTIPOAPUR = "0";
  d.number = number;
  d.buyer = "COMP01";
  d.start = DateTime::FromDate(2026, 12, 1);
  d.end = DateTime::FromDate(2026, 12, 31);
  d.regions = {{"001", "Norte"}, {"002", "Sul"}};
  d.branches = {{"0101", "Filial Centro", "001"},
                {"0102", "Filial Vila Nova", "001"},
                {"0201", "Filial Sul", "002"}};
  d.suppliers = {{"F1", "Distribuidora Um"},
                 {"F2", "Comercial Dois"},
                 {"F3", "Atacado Três"},
                 {"F4", "Armazém Quatro"}};
  d.brands = {{"M1", "Marca Um"}, {"M2", "Marca Dois"}};
  d.stockProducts = {{"E1", "1.01", "Arroz Tipo 1", "KG", 0}};
  d.negotiatedProducts = {{"N1", "E1", "1.01.01", "Arroz Tipo 1 Pacote 1 kg", "PCT", 1}};
  d.requests = {{"N1", "001", "0101", DateTime::FromDate(2026, 12, 5), 10},
                {"N1", "001", "0102", DateTime::FromDate(2026, 12, 5), 20}};
  return d;
}

// Gera_AF of SmallTally's tally by its buyer from branch 0101, unblocked.
inline GeraAfRequest SmallTallyEffectuation(const std::string& success = "ok") {
  GeraAfRequest rq;
  rq.buyer = "COMP01";
  rq.processingDate = DateTime::FromDate(2026, 12, 10);
  rq.centre = "0001";
  rq.tally = "77";
  rq.branch = "0101";
  rq.blockAf = "N";
  rq.texts.success = success;
  return rq;
}

inline QuoteDoc& AddQuote(TallyDocument& d, const std::string& product,
                          const std::string& collection, const std::string& supplier,
                          const std::string& brand, double price,
                          const std::string& region = "001") {
  QuoteDoc q;
  q.product = product;
  q.region = region;
  q.collection = collection;
  q.supplier = supplier;
  q.brand = brand;
  q.unitPrice = price;
  q.unit = "PCT";
  d.quotations.push_back(q);
  return d.quotations.back();
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("apura-server-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    if (TestsOnPostgres()) {
      PgCluster* cluster = nullptr;
      APURA_REQUIRE_PG_CLUSTER(cluster);
      db_ = cluster->CreateDatabase();
    } else {
      db_ = (dir_ / "server.db").string();
    }
    storage_ = OpenStorage(db_);
    service_ = std::make_unique<TallyService>(*storage_);
    operators_ = std::make_unique<OperatorDirectory>(*storage_, HashCost::Minimum);
    sessions_ =
        std::make_unique<Sessions>(*operators_, std::chrono::hours(1), [this] { return now_; });
    RegisterServerObjects(registry_, *service_, *sessions_);
    transport_ = std::make_unique<InProcessTransport>(registry_);
    transport_->Connect("127.0.0.1", 1);
    transport_->SetSessionToken(sessions_->Open(TestOperator()).token);
  }
  // Saves `op` with `password`, logs in through the session object and makes
  // the calls that follow in that session.
  void LoginAs(const Operator& op, const std::string& password = "s3nha") {
    operators_->Save(op, password);
    Value env = transport_->Invoke(kSessionObject, "Login",
                                   {ByVal(Value(op.code)), ByVal(Value(password))});
    ASSERT_TRUE(env.AsArray()[0].AsBoolean()) << env.AsArray()[1].ToText();
    transport_->SetSessionToken(env.AsArray()[1].AsArray()[0].ToText());
  }
  // The operator the tests call as: every centre and branch.
  static Operator TestOperator() { return Operator{"OPER", "Operador de Teste", {"*"}, {"*"}, {}}; }
  void TearDown() override {
    transport_.reset();
    sessions_.reset();
    operators_.reset();
    service_.reset();
    storage_.reset();
    if (TestsOnPostgres() && !db_.empty()) PgCluster::Get(nullptr)->DropDatabase(db_);
    std::filesystem::remove_all(dir_);
  }

  bool OnPostgres() const { return TestsOnPostgres(); }
  // Another connection pool on the same database, as a second server has.
  std::unique_ptr<IStorage> OpenAnotherStorage() { return OpenStorage(db_); }
  // A statement run on the database directly, past the server.
  void ExecRaw(const std::string& sqlText) {
    if (OnPostgres()) {
      PgExec(db_, sqlText);
    } else {
      sql::Db raw(db_);
      raw.Exec(sqlText.c_str());
    }
  }

  Value Envelope(const std::string& method, std::vector<CallArg> args,
                 const std::string& object = kWorksheetObject) {
    return transport_->Invoke(object, method, args);
  }
  // The payload; fails the test with the server's text on a failure.
  Value Call(const std::string& method, std::vector<CallArg> args,
             const std::string& object = kWorksheetObject) {
    Value env = Envelope(method, std::move(args), object);
    EXPECT_TRUE(env.AsArray()[0].AsBoolean()) << method << ": " << env.AsArray()[1].ToText();
    return env.AsArray()[1];
  }
  // The failure text; fails the test when the call succeeds.
  std::string Failure(const std::string& method, std::vector<CallArg> args,
                      const std::string& object = kWorksheetObject) {
    Value env = Envelope(method, std::move(args), object);
    EXPECT_FALSE(env.AsArray()[0].AsBoolean()) << method << " succeeded";
    return env.AsArray()[0].AsBoolean() ? "" : env.AsArray()[1].ToText();
  }
  DataPacket Get(const std::string& method, const std::string& tally = "77",
                 const std::string& centre = "0001") {
    return Call(method, {ByRef(Value(centre)), ByRef(Value(tally))}).AsPacket();
  }

  std::filesystem::path dir_;
  std::string db_;  // the SQLite file or the PostgreSQL address
  std::unique_ptr<IStorage> storage_;
  std::unique_ptr<TallyService> service_;
  std::unique_ptr<OperatorDirectory> operators_;
  std::unique_ptr<Sessions> sessions_;
  std::chrono::system_clock::time_point now_ = std::chrono::system_clock::now();
  rpc::ServerRegistry registry_;
  std::unique_ptr<InProcessTransport> transport_;
};

// The rows of a packet whose text field `field` is `value`.
inline std::vector<size_t> RowsWhere(const DataPacket& p, const char* field,
                                     std::string_view value) {
  std::vector<size_t> rows;
  int c = p.FieldIndex(field);
  for (size_t r = 0; r < p.RowCount(); ++r) {
    if (p.Text(static_cast<size_t>(c), r) == value) rows.push_back(r);
  }
  return rows;
}

inline std::string At(const DataPacket& p, const char* field, size_t row) {
  return std::string(p.Text(static_cast<size_t>(p.FieldIndex(field)), row));
}
inline double Num(const DataPacket& p, const char* field, size_t row) {
  return p.Number(static_cast<size_t>(p.FieldIndex(field)), row);
}

}  // namespace apura::server::testing
