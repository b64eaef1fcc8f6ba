// The tally tables are declared once: each storage creates them from the
// declaration, reports them as declared, and brings databases made by the
// build before up to it without losing a row.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "pg_cluster.h"
#include "server/storage/postgres/pg_storage.h"
#include "server/storage/schema.h"
#include "server/storage/sqlite/sqlite.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace apura::server {
namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

std::string Read(const std::string& name) {
  std::ifstream in(std::string(APURA_SERVER_TEST_DATA) + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_FALSE(text.str().empty()) << name;
  return text.str();
}

// Rows an earlier build stored: a tally with one AF line ordering delivery row 7.
constexpr const char* kEarlierRows =
    "INSERT INTO centro (CDCENTCMP, NMCENTCMP, IDTIPOAPUR, IDBLOQUEAAF, IDCONSPRSOL, "
    "IDEXJUSTESCM) VALUES ('0001', 'Central', 'P', 'N', 'N', 'N');"
    "INSERT INTO apuracao (NRSEQAPUR, CDCENTCMP, CDCOMPRADOR, DTINICIAL, DTFINAL, NRVERSAO) "
    "VALUES ('77', '0001', 'COMP01', 45000, 45010, 5);"
    "INSERT INTO autorizacao VALUES ('1', '77', '0001', '0101', '0101', 'F1', 'COMP01', 45001, "
    "10, 2, 'E', 'N', '', 'N');"
    "INSERT INTO autorizacao_item VALUES ('1', 1, 7, 'P1', 'M1', '001', 45002, 2, 5);";
constexpr const char* kSecondLineOfRow7 =
    "INSERT INTO autorizacao_item VALUES ('1', 2, 7, 'P1', 'M1', '001', 45002, 2, 5)";

class SchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("apura-schema-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(SchemaTest, EachDialectCreatesWhatIsDeclared) {
  // Every declared reference names a declared table, and every index a
  // declared table and columns.
  for (const schema::Table& t : schema::Tables()) {
    for (const schema::Column& c : t.columns) {
      if (!c.references.empty()) {
        EXPECT_NO_THROW(schema::TableNamed(c.references)) << c.name;
      }
    }
  }
  for (const schema::Index& i : schema::Indexes()) {
    const schema::Table& t = schema::TableNamed(i.table);
    for (std::string_view col : i.columns)
      EXPECT_TRUE(std::any_of(t.columns.begin(), t.columns.end(),
                              [&](const schema::Column& c) { return c.name == col; }))
          << i.name << " " << col;
  }
  SqliteStorage storage((dir_ / "new.db").string());
  EXPECT_EQ(
      Joined(schema::Differences(storage.DescribeSchema(), schema::Expected(schema::kSqlite))), "");
}

TEST_F(SchemaTest, AnEmbeddedDatabaseOfTheEarlierBuildIsBroughtUpToDate) {
  const std::string path = (dir_ / "earlier.db").string();
  {
    sql::Db db(path);
    db.Exec(Read("schema_sqlite_before.sql").c_str());
    // As the build before that made it, without the choice counter.
    db.Exec("ALTER TABLE apuracao DROP COLUMN NRVERSAOESCOLHA");
    db.Exec(kEarlierRows);
  }
  {
    SqliteStorage storage(path);
    EXPECT_EQ(
        Joined(schema::Differences(storage.DescribeSchema(), schema::Expected(schema::kSqlite))),
        "");
    auto s = storage.OpenSession();
    auto h = s->Tally("77");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->version, 5);
    EXPECT_EQ(h->choiceVersion, 0);
    auto afs = s->Afs("77");
    ASSERT_EQ(afs.size(), 1u);
    ASSERT_EQ(afs[0].lines.size(), 1u);
    EXPECT_EQ(afs[0].lines[0].item, 7);
  }
  // Opening again finds nothing to do, and the renamed index still orders a
  // delivery row once.
  SqliteStorage again(path);
  sql::Db db(path, false);
  EXPECT_THROW(db.Exec(kSecondLineOfRow7), std::exception);
}

// The embedded storage writes rows by statements of many rows: AFs and lines
// on either side of a statement's last row, and a last statement only part
// full, read back exactly as given.
TEST_F(SchemaTest, ManyAfLinesAreStoredAsGiven) {
  const std::string path = (dir_ / "afs.db").string();
  SqliteStorage storage(path, /*create=*/true);
  // Appended, not "x" + to_string: GCC 12 warns (-Wrestrict) on that inlined.
  auto code = [](const char* prefix, int64_t n) {
    std::string s = prefix;
    s += std::to_string(n);
    return s;
  };
  {
    // The tally the AFs belong to, without an AF.
    std::string rows = kEarlierRows;
    sql::Db(path, false).Exec(rows.substr(0, rows.find("INSERT INTO autorizacao")).c_str());
  }
  std::vector<AfRecord> afs(3);
  int64_t item = 100;
  for (size_t a = 0; a < afs.size(); ++a) {
    AfRecord& af = afs[a];
    af.tally = "77";
    af.centre = "0001";
    af.destBranch = code("01", static_cast<int64_t>(a));
    af.launchBranch = "0101";
    af.supplier = code("F", static_cast<int64_t>(a));
    af.buyer = "COMP01";
    af.date = 45001 + static_cast<double>(a);
    af.status = a == 1 ? "I" : "E";
    af.inconsistent = a == 1;
    af.error = a == 1 ? "Valor da AF abaixo do mínimo" : "";
    af.web = a == 2;
    for (size_t l = 0; l < 1 + 311 * a; ++l) {
      af.lines.push_back({item, code("P", item % 97), code("M", static_cast<int64_t>(l % 3)),
                          code("00", static_cast<int64_t>(a)), 45002.5 + static_cast<double>(l),
                          0.25 * static_cast<double>(l + 1), 1.5 + static_cast<double>(item)});
      af.total += af.lines.back().quantity * af.lines.back().unitPrice;
      af.quantity += af.lines.back().quantity;
      ++item;
    }
  }
  auto s = storage.OpenSession();
  s->Begin(true);
  s->InsertAfs(afs);
  s->Commit();

  std::vector<AfRecord> back = s->Afs("77");
  ASSERT_EQ(back.size(), afs.size());
  for (size_t a = 0; a < afs.size(); ++a) {
    const AfRecord& want = afs[a];
    const AfRecord& got = back[a];
    SCOPED_TRACE(want.number);
    EXPECT_EQ(got.number, want.number);
    EXPECT_EQ(got.destBranch, want.destBranch);
    EXPECT_EQ(got.supplier, want.supplier);
    EXPECT_EQ(got.date, want.date);
    EXPECT_DOUBLE_EQ(got.total, want.total);
    EXPECT_EQ(got.status, want.status);
    EXPECT_EQ(got.inconsistent, want.inconsistent);
    EXPECT_EQ(got.error, want.error);
    EXPECT_EQ(got.web, want.web);
    ASSERT_EQ(got.lines.size(), want.lines.size());
    for (size_t l = 0; l < want.lines.size(); ++l) {
      const AfLine& w = want.lines[l];
      const AfLine& g = got.lines[l];
      ASSERT_EQ(std::tie(g.item, g.product, g.brand, g.collection, g.date, g.quantity, g.unitPrice),
                std::tie(w.item, w.product, w.brand, w.collection, w.date, w.quantity, w.unitPrice))
          << "line " << l;
    }
  }
}

class PgSchemaTest : public SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    APURA_REQUIRE_PG_CLUSTER(cluster_);
  }
  testing::PgCluster* cluster_ = nullptr;
};

// The two storages' live schemas, as the databases report them, are the same
// tables, columns, keys' nullability and indexes; only the spelling of types
// differs.
TEST_F(PgSchemaTest, BothStoragesReportTheSameSchema) {
  const std::string db = cluster_->CreateDatabase();
  schema::LiveSchema pg = PgStorage(db).DescribeSchema();
  EXPECT_EQ(Joined(schema::Differences(pg, schema::Expected(schema::kPostgres))), "");
  schema::LiveSchema lite = SqliteStorage((dir_ / "lite.db").string()).DescribeSchema();
  EXPECT_EQ(Joined(schema::Differences(schema::Portable(lite), schema::Portable(pg))), "");
  cluster_->DropDatabase(db);
}

TEST_F(PgSchemaTest, ADatabaseOfTheEarlierBuildIsBroughtUpToDate) {
  const std::string db = cluster_->CreateDatabase();
  testing::PgExec(db, Read("schema_postgres_before.sql"));
  testing::PgExec(db, "ALTER TABLE apuracao DROP COLUMN NRVERSAOESCOLHA");
  testing::PgExec(db, kEarlierRows);
  {
    PgStorage storage(db);
    EXPECT_EQ(
        Joined(schema::Differences(storage.DescribeSchema(), schema::Expected(schema::kPostgres))),
        "");
    auto s = storage.OpenSession();
    auto h = s->Tally("77");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->version, 5);
    EXPECT_EQ(h->choiceVersion, 0);
    ASSERT_EQ(s->Afs("77").size(), 1u);
  }
  EXPECT_THROW(testing::PgExec(db, kSecondLineOfRow7), std::exception);
  cluster_->DropDatabase(db);
}

// What tells two dialects apart is only the spelling of types: a column
// missing on one side, or an index on other columns, is a difference.
TEST(SchemaDifferencesTest, NameWhatDiffers) {
  schema::LiveSchema a = schema::Expected(schema::kSqlite);
  schema::LiveSchema b = schema::Expected(schema::kPostgres);
  EXPECT_NE(Joined(schema::Differences(a, b)), "");
  EXPECT_EQ(Joined(schema::Differences(schema::Portable(a), schema::Portable(b))), "");
  b.tables["apuracao"].pop_back();
  b.indexes["autorizacao_tally"].columns = {"cdcentcmp"};
  b.indexes.erase("regra_escolha_tally");
  std::string d = Joined(schema::Differences(schema::Portable(a), schema::Portable(b)));
  EXPECT_NE(d.find("apuracao column 9: nrversaoescolha integer not null / (none)"),
            std::string::npos)
      << d;
  EXPECT_NE(d.find("index autorizacao_tally"), std::string::npos) << d;
  EXPECT_NE(d.find("index regra_escolha_tally only in the first"), std::string::npos) << d;
}

}  // namespace
}  // namespace apura::server
