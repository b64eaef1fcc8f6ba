// The report object: definitions read from the database, the shipped tally
// report's queries on a tallied tally, and the refusals that keep a
// definition from doing harm or from failing without saying which report.

#include <chrono>

#include "framework/report.h"
#include "rpc/call_deadline.h"
#include "framework/format.h"
#include "server/services/report_service.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

class ReportServerTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    CurrentFormat() = FormatSettings{};
    reports_ = std::make_unique<ReportService>(*storage_);
    RegisterReportObject(registry_, *reports_);
  }
  void TearDown() override {
    reports_.reset();
    ServerTest::TearDown();
  }
  void ImportTallied() {
    TallyDocument d = SmallTally();
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    AddQuote(d, "N1", "C1", "F2", "M2", 12);
    d.stockProducts.push_back({"E2", "1.02", "Feijão", "KG", 0});
    d.negotiatedProducts.push_back({"N2", "E2", "1.02.01", "Feijão Carioca 1 kg", "PCT", 1});
    d.requests.push_back({"N2", "001", "0101", DateTime::FromDate(2026, 12, 6), 5});
    AddQuote(d, "N2", "C1", "F2", "M1", 7.5);
    AddQuote(d, "N2", "C1", "F1", "M1", 8);
    service_->Import(d);
    Call("MelhorCotacao",
         {ByRef(Value("0001")), ByRef(Value("77")), ByRef(Value("PRQ")), ByRef(Value("F"))});
  }
  Value Run(const std::string& code, ValueArray names, ValueArray values) {
    return Envelope("ExecutaRelatorio",
                    {ByVal(code), ByVal(std::move(names)), ByVal(std::move(values))},
                    kReportServerObject);
  }
  static std::string Text(const Value& envelope) { return envelope.AsArray()[1].ToText(); }
  static bool Ok(const Value& envelope) { return envelope.AsArray()[0].AsBoolean(); }
  std::unique_ptr<ReportService> reports_;
};

TEST_F(ReportServerTest, TheTallyReportListsTheChosenQuotationsBySupplierWithTotals) {
  ImportTallied();
  const ReportDefinition def = ReportDefinition::FromPacket(
      Call("GetRelatorio", {ByVal("LIB050")}, kReportServerObject).AsPacket());
  EXPECT_EQ(def.params, (std::vector<std::string>{"P_NRAPURACAO", "P_CDCENTITMAP"}));

  Value env =
      Run("LIB050", {Value("P_CDCENTITMAP"), Value("P_NRAPURACAO")}, {Value("0001"), Value("77")});
  ASSERT_TRUE(Ok(env)) << Text(env);
  const ValueArray& results = env.AsArray()[1].AsArray();
  ASSERT_EQ(results.size(), 2u);
  const DataPacket& header = results[0].AsPacket();
  ASSERT_EQ(header.RowCount(), 1u);
  EXPECT_EQ(At(header, "NMCENTCMP", 0), "Central de Teste");
  const DataPacket& items = results[1].AsPacket();
  // N1 to F1 for both branches (10 and 20 at 10,00); N2 to F2 (5 at 7,50).
  ASSERT_EQ(items.RowCount(), 3u);
  EXPECT_EQ(At(items, "NMFANTFORN", 0), "Comercial Dois");
  EXPECT_EQ(At(items, "NMFANTFORN", 1), "Distribuidora Um");
  EXPECT_EQ(At(items, "NMFILIAL", 2), "Filial Vila Nova");
  EXPECT_DOUBLE_EQ(Num(items, "VRTOTAL", 0), 37.5);

  const ReportDocument doc = BuildReport(def, results);
  EXPECT_EQ(doc.header[0], "Apuração nº 77    Centro de compras: 0001 - Central de Teste");
  EXPECT_NE(doc.header[1].find("01/12/2026 a 31/12/2026"), std::string::npos) << doc.header[1];
  std::vector<std::string> totals;
  for (const ReportLine& l : doc.lines)
    if (l.kind != ReportLine::Kind::Detail && l.kind != ReportLine::Kind::GroupHeader)
      totals.push_back(l.text + "|" + l.cells[2] + "|" + l.cells[6]);
  // A supplier's lines are in several units (KG, PCT): their quantities are
  // not added up, their values are.
  EXPECT_EQ(totals, (std::vector<std::string>{"Total do fornecedor Comercial Dois||37,50",
                                              "Total do fornecedor Distribuidora Um||300,00",
                                              "Total geral da apuração||337,50"}));
}

TEST_F(ReportServerTest, ParameterValuesAreBoundNotSplicedAndMissingOnesAreNamed) {
  ImportTallied();
  Value env = Run("LIB050", {Value("P_NRAPURACAO"), Value("P_CDCENTITMAP")},
                  {Value("77' OR '1'='1"), Value("0001")});
  ASSERT_TRUE(Ok(env)) << Text(env);
  EXPECT_EQ(env.AsArray()[1].AsArray()[1].AsPacket().RowCount(), 0u);

  env = Run("LIB050", {Value("P_NRAPURACAO")}, {Value("77")});
  ASSERT_FALSE(Ok(env));
  EXPECT_NE(Text(env).find("LIB050"), std::string::npos) << Text(env);
  EXPECT_NE(Text(env).find("P_CDCENTITMAP"), std::string::npos) << Text(env);

  env = Run("LIB050", {Value("P_NRAPURACAO")}, {});
  EXPECT_FALSE(Ok(env));
  EXPECT_NE(Text(env).find("1 nomes de parâmetro para 0 valores"), std::string::npos) << Text(env);
  env = Run("LIB999", {}, {});
  ASSERT_FALSE(Ok(env));
  EXPECT_NE(Text(env).find("Relatório LIB999 não cadastrado."), std::string::npos) << Text(env);
}

std::string Definition(const std::string& sql) {
  return R"({"code": "TST01", "title": "Teste", "params": ["P_NR"],
    "queries": [{"name": "itens", "role": "detail", "sql": ")" +
         sql + R"("}],
    "columns": [{"caption": "N", "field": "NRSEQAPUR"}]})";
}

TEST_F(ReportServerTest, ABrokenOrWritingQueryIsRefusedNamingTheReport) {
  ImportTallied();
  struct Case {
    std::string sql, expect;
  } cases[] = {
      {"SELECT NRSEQAPUR FROM apuracao_inexistente WHERE NRSEQAPUR = :P_NR",
       "apuracao_inexistente"},
      {"DELETE FROM apuracao WHERE NRSEQAPUR = :P_NR", "somente leitura"},
      {"SELECT NRSEQAPUR FROM apuracao WHERE NRSEQAPUR = :P_NR; DELETE FROM apuracao",
       "mais de um comando"},
      {"SELECT NRSEQAPUR FROM apuracao WHERE NRSEQAPUR = ?", "nome"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    reports_->Save(Definition(c.sql));
    Value env = Run("TST01", {Value("P_NR")}, {Value("77")});
    ASSERT_FALSE(Ok(env));
    EXPECT_NE(Text(env).find("Relatório TST01"), std::string::npos) << Text(env);
    EXPECT_NE(Text(env).find(c.expect), std::string::npos) << Text(env);
  }
  // Nothing was written.
  EXPECT_EQ(Get("GetApurNeg").RowCount(), 4u);
  // A report reads tallies only: not the operators' passwords or sessions, on
  // either database, and on SQLite no other file.
  std::vector<std::string> foreign = {"SELECT DSSENHA AS NRSEQAPUR FROM operador",
                                      "SELECT DSTOKEN AS NRSEQAPUR FROM sessao"};
  if (!TestsOnPostgres()) foreign.push_back("ATTACH DATABASE '/tmp/apura-attached.db' AS outro");
  for (const std::string& sql : foreign) {
    SCOPED_TRACE(sql);
    reports_->Save(Definition(sql));
    Value env = Run("TST01", {Value("P_NR")}, {Value("77")});
    EXPECT_FALSE(Ok(env));
    EXPECT_NE(Text(env).find("Relatório TST01"), std::string::npos) << Text(env);
  }
  EXPECT_FALSE(std::filesystem::exists("/tmp/apura-attached.db"));

  reports_->Save(Definition("SELECT NRSEQAPUR FROM apuracao WHERE NRSEQAPUR = :p_nr"));
  Value env = Run("TST01", {Value("P_NR")}, {Value("77")});
  ASSERT_TRUE(Ok(env)) << Text(env);
  EXPECT_EQ(env.AsArray()[1].AsArray()[0].AsPacket().RowCount(), 1u);
}

TEST_F(ReportServerTest, ARunawayQueryStopsAtTheCallersDeadlineAndTheNextReportRuns) {
  ImportTallied();
  reports_->Save(Definition(
      "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) "
      "SELECT COUNT(*) AS NRSEQAPUR FROM r WHERE n > 0 OR :P_NR = ''"));
  const auto start = std::chrono::steady_clock::now();
  {
    rpc::CallDeadlineScope deadline(rpc::DeadlineClock::now() + std::chrono::milliseconds(500));
    Value env = Run("TST01", {Value("P_NR")}, {Value("77")});
    ASSERT_FALSE(Ok(env));
    EXPECT_NE(Text(env).find("Relatório TST01"), std::string::npos) << Text(env);
  }
  // Stopped, not finished: it never would. The bound only keeps a hung query
  // from passing; the query itself ends at half a second.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  reports_->Save(Definition("SELECT NRSEQAPUR FROM apuracao WHERE NRSEQAPUR = :P_NR"));
  EXPECT_TRUE(Ok(Run("TST01", {Value("P_NR")}, {Value("77")})));
}

TEST_F(ReportServerTest, ADefinitionMissingAMemberIsRefusedWhenSaved) {
  struct Case {
    std::string text, expect;
  } cases[] = {
      {"{", "ilegível"},
      {R"({"title": "x"})", "code"},
      {R"({"code": "T2", "queries": [{"name": "q", "role": "detail"}], "columns": []})", "sql"},
      {R"({"code": "T2", "queries": [{"name": "q", "role": "detail", "sql": "SELECT 1"}]})",
       "coluna"},
      {R"({"code": "T2", "queries": [{"name": "q", "sql": "SELECT 1"}],
           "columns": [{"field": "A"}]})",
       "detalhe"},
      {R"({"code": "T2", "queries": [{"name": "q", "role": "detail", "sql": "SELECT 1"}],
           "columns": [{"field": "A", "width": "largo"}]})",
       "largura"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      reports_->Save(c.text);
      ADD_FAILURE() << "saved";
    } catch (const ServerError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos) << e.what();
    }
  }
}

TEST_F(ReportServerTest, TheShippedDefinitionIsInstalledOnceAndAChangedOneStays) {
  std::string changed = ShippedReports().at("LIB050");
  const std::string from = "\"title\": \"";
  changed.replace(changed.find(from) + from.size(), 0, "Alterado ");
  reports_->Save(changed);
  reports_.reset();
  reports_ = std::make_unique<ReportService>(*storage_);
  const ReportDefinition def = ReportDefinition::FromPacket(reports_->GetRelatorio("LIB050"));
  EXPECT_EQ(def.title.rfind("Alterado ", 0), 0u) << def.title;
}

TEST_F(ReportServerTest, WithSessionsAReportNamesOnlyTheCallersCentresAndBranches) {
  RegisterReportObject(registry_, *reports_, sessions_.get());  // replaces the one without
  ImportTallied();
  reports_->Save(R"({"code": "TST02", "title": "Teste", "params": ["P_CDFILIAP"],
    "queries": [{"name": "itens", "role": "detail",
                 "sql": "SELECT CDFILIAP FROM solicitacao WHERE CDFILIAP = :P_CDFILIAP"}],
    "columns": [{"caption": "F", "field": "CDFILIAP"}]})");
  reports_->Save(R"({"code": "TST03", "title": "Teste", "params": ["P_NRAPURACAO"],
    "queries": [{"name": "itens", "role": "detail",
                 "sql": "SELECT NRSEQAPUR FROM apuracao WHERE NRSEQAPUR = :P_NRAPURACAO"}],
    "columns": [{"caption": "N", "field": "NRSEQAPUR"}]})");
  service_->Import(SmallTally("88", "0002"));
  LoginAs(Operator{"JOAO", "João", {"0001"}, {"0101"}, {}});

  Value env =
      Run("LIB050", {Value("P_NRAPURACAO"), Value("P_CDCENTITMAP")}, {Value("77"), Value("0002")});
  ASSERT_FALSE(Ok(env));
  EXPECT_EQ(Text(env), "ExecutaRelatorio: o operador JOAO não trabalha no centro de compras 0002.");
  // Neither a name in other letter case nor the same name twice gets past.
  env = Run("LIB050", {Value("p_cdcentitmap"), Value("P_NRAPURACAO"), Value("P_CDCENTITMAP")},
            {Value("0002"), Value("77"), Value("0001")});
  EXPECT_NE(Text(env).find("centro de compras 0002"), std::string::npos) << Text(env);
  env = Run("TST02", {Value("P_CDFILIAP")}, {Value("0102")});
  ASSERT_FALSE(Ok(env));
  EXPECT_EQ(Text(env), "ExecutaRelatorio: o operador JOAO não trabalha na filial 0102.");
  // A report that names only the tally: the tally's own centre is checked.
  env = Run("TST03", {Value("P_NRAPURACAO")}, {Value("88")});
  ASSERT_FALSE(Ok(env));
  EXPECT_EQ(Text(env), "ExecutaRelatorio: o operador JOAO não trabalha no centro de compras 0002.");

  env =
      Run("LIB050", {Value("P_NRAPURACAO"), Value("P_CDCENTITMAP")}, {Value("77"), Value("0001")});
  ASSERT_TRUE(Ok(env)) << Text(env);
  EXPECT_EQ(env.AsArray()[1].AsArray()[1].AsPacket().RowCount(), 3u);
  env = Run("TST02", {Value("P_CDFILIAP")}, {Value("0101")});
  ASSERT_TRUE(Ok(env)) << Text(env);
  EXPECT_GT(env.AsArray()[1].AsArray()[0].AsPacket().RowCount(), 0u);
  for (const char* tally : {"77", "99"}) {
    env = Run("TST03", {Value("P_NRAPURACAO")}, {Value(tally)});
    ASSERT_TRUE(Ok(env)) << Text(env);
    EXPECT_EQ(env.AsArray()[1].AsArray()[0].AsPacket().RowCount(), tally[0] == '7' ? 1u : 0u);
  }
  // The definition itself names no centre.
  Call("GetRelatorio", {ByVal("LIB050")}, kReportServerObject);
}

}  // namespace
}  // namespace apura::server::testing
