// Several servers on one PostgreSQL database: each keeps its own loaded tallies,
// yet a write through one is what the next read through another answers, and two
// effectuations of one tally at once order every delivery row once.

#include <chrono>
#include <set>
#include <thread>

#include "pg_cluster.h"
#include "rpc/call_deadline.h"
#include "server/storage/postgres/pg_storage.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

using namespace std::chrono_literals;

class SeveralServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    APURA_REQUIRE_PG_CLUSTER(cluster_);
    db_ = cluster_->CreateDatabase();
    storageA_ = std::make_unique<PgStorage>(db_);
    storageB_ = std::make_unique<PgStorage>(db_);
    a_ = std::make_unique<TallyService>(*storageA_);
    b_ = std::make_unique<TallyService>(*storageB_);
    TallyDocument d = SmallTally();
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    AddQuote(d, "N1", "C1", "F2", "M2", 12);
    a_->Import(d);
  }
  void TearDown() override {
    a_.reset();
    b_.reset();
    storageA_.reset();
    storageB_.reset();
    if (cluster_) cluster_->DropDatabase(db_);
  }
  static GeraAfRequest Effectuation() {
    return SmallTallyEffectuation("AF(s) efetivadas com sucesso.");
  }
  static size_t Selected(const TallyModel& m) {
    size_t n = 0;
    for (const Item& it : m.items) n += it.selected;
    return n;
  }

  PgCluster* cluster_ = nullptr;
  std::string db_;
  std::unique_ptr<PgStorage> storageA_, storageB_;
  std::unique_ptr<TallyService> a_, b_;
};

TEST_F(SeveralServersTest, AWriteThroughOneIsSeenByTheNextReadThroughTheOther) {
  // Both hold the tally loaded before any write.
  EXPECT_EQ(a_->Model("0001", "77")->quotes[0].VRPRECUNIAP, 10);
  EXPECT_EQ(Selected(*b_->Model("0001", "77")), 0u);

  a_->AtuaPrecEco("0001", "N1", "C1", "F1", "M1", "001", 11, "77");
  EXPECT_EQ(b_->Model("0001", "77")->quotes[0].VRPRECUNIAP, 11);

  b_->MelhorCotacao("0001", "77", "PRQ", "F");
  auto seenByA = a_->Model("0001", "77");
  EXPECT_EQ(Selected(*seenByA), 2u);
  EXPECT_EQ(seenByA->quotes[0].VRPRECUNIAP, 11);

  ValueArray out = a_->Gera_AF(Effectuation());
  EXPECT_EQ(out[1].ToText(), "AF(s) efetivadas com sucesso.");
  EXPECT_TRUE(b_->Model("0001", "77")->header.effectuated);
  b_->ExcluiAF("0101", "77");
  EXPECT_FALSE(a_->Model("0001", "77")->header.effectuated);
}

TEST_F(SeveralServersTest, TwoEffectuationsAtOnceThroughTwoServersOrderEachRowOnce) {
  a_->MelhorCotacao("0001", "77", "PRQ", "F");
  for (int round = 0; round < 3; ++round) {
    // Both calls arrive while a third writer holds the tally, so both are queued
    // when it lets go and race for the tally from there.
    auto hold = storageA_->OpenSession();
    hold->Begin(true);
    ASSERT_TRUE(hold->Tally("77"));
    ValueArray outA, outB;
    std::string failA, failB;
    auto effectuate = [](TallyService& s, ValueArray& out, std::string& fail) {
      rpc::CallDeadlineScope deadline(std::chrono::steady_clock::now() + 30s);
      try {
        out = s.Gera_AF(Effectuation());
      } catch (const std::exception& e) {
        fail = e.what();
      }
    };
    std::thread ta([&] { effectuate(*a_, outA, failA); });
    std::thread tb([&] { effectuate(*b_, outB, failB); });
    std::this_thread::sleep_for(300ms);
    hold->Commit();
    ta.join();
    tb.join();
    ASSERT_EQ(failA, "") << "round " << round;
    ASSERT_EQ(failB, "") << "round " << round;
    // One of them ordered the rows; the other found nothing left to order.
    // Both succeed, and the second one names the AFs that already hold its rows.
    EXPECT_EQ(outA[1].ToText(), "AF(s) efetivadas com sucesso.") << "round " << round;
    EXPECT_EQ(outB[1].ToText(), "AF(s) efetivadas com sucesso.") << "round " << round;
    const bool aSecond = outA[3].ToText().find("já constam") != std::string::npos;
    const bool bSecond = outB[3].ToText().find("já constam") != std::string::npos;
    EXPECT_NE(aSecond, bSecond) << "round " << round << ": " << outA[3].ToText() << " / "
                                << outB[3].ToText();

    std::vector<AfRecord> afs = storageB_->OpenSession()->Afs("77");
    EXPECT_EQ(afs.size(), 2u) << "round " << round;  // branches 0101 and 0102, supplier F1
    std::set<int64_t> rows;
    size_t lines = 0;
    for (const AfRecord& af : afs) {
      for (const AfLine& l : af.lines) rows.insert(l.item), ++lines;
    }
    EXPECT_EQ(rows.size(), lines) << "a row ordered twice in round " << round;
    EXPECT_EQ(lines, 2u);
    a_->ExcluiAF("0101", "77");
    EXPECT_TRUE(storageB_->OpenSession()->Afs("77").empty());
  }
}

TEST_F(SeveralServersTest, AnAddressThatReachesNoDatabaseIsNamed) {
  std::string address = cluster_->Address("no_such_database");
  try {
    PgStorage storage(address);
    FAIL() << "opened a database that does not exist";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find(address), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("no_such_database"), std::string::npos) << e.what();
  }
}

TEST_F(SeveralServersTest, ALostConnectionNeverShowsThePassword) {
  const std::string name = db_.substr(db_.find("@/") + 2, db_.find('?') - db_.find("@/") - 2);
  // Trust authentication ignores the password; only where it is printed matters.
  const std::string withPassword = "postgresql://apura:s3cr3t-uri@/" + name +
                                   "?host=" + db_.substr(db_.find("host=") + 5) +
                                   "&password=s3cr3t-param";
  PgStorage storage(withPassword);
  auto holding = storage.OpenSession();  // the pool's only connection stays taken
  PgExec(cluster_->Address("postgres"), "ALTER DATABASE " + name + " ALLOW_CONNECTIONS false");
  ::testing::internal::CaptureStderr();
  std::string text;
  try {
    storage.OpenSession()->Afs("77");
    ADD_FAILURE() << "connected to a database that takes no connections";
  } catch (const CodedError& e) {
    text = e.what();
    EXPECT_EQ(e.code(), ErrorCode::Busy);
  }
  const std::string log = ::testing::internal::GetCapturedStderr();
  PgExec(cluster_->Address("postgres"), "ALTER DATABASE " + name + " ALLOW_CONNECTIONS true");
  EXPECT_NE(text.find("sem conexão com o banco de dados"), std::string::npos) << text;
  EXPECT_EQ(text.find(name), std::string::npos) << text;
  EXPECT_NE(log.find("postgresql://apura:***@/" + name), std::string::npos) << log;
  EXPECT_NE(log.find("password=***"), std::string::npos) << log;
  EXPECT_EQ(log.find("s3cr3t"), std::string::npos) << log;
}

}  // namespace

TEST(ConnectionStringTest, PasswordsAreMaskedInEveryForm) {
  EXPECT_EQ(MaskConnectionString("postgresql://apura:pw@db:5432/apura"),
            "postgresql://apura:***@db:5432/apura");
  EXPECT_EQ(MaskConnectionString("postgres://apura@db/apura?password=pw&sslmode=require"),
            "postgres://apura@db/apura?password=***&sslmode=require");
  EXPECT_EQ(MaskConnectionString("host=db password='p w\\'' user=apura"),
            "host=db password=*** user=apura");
  EXPECT_EQ(MaskConnectionString("host=db password = pw"), "host=db password = ***");
  // A file name, or a database named like the key, stays as it is.
  EXPECT_EQ(MaskConnectionString("/srv/apura/password.sqlite"), "/srv/apura/password.sqlite");
  EXPECT_EQ(MaskConnectionString("postgresql://db/mypassword"), "postgresql://db/mypassword");
}

}  // namespace apura::server::testing
