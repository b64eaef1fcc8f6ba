// Reports: the definition as the server sends it, the document built from
// the queries' answers (groups, subtotals, grand total, formats) and pages.

#include <gtest/gtest.h>

#include "framework/format.h"
#include "framework/forms.h"
#include "framework/netconnection.h"
#include "framework/report.h"
#include "support/fake_host.h"
#include "support/fake_server.h"

using namespace apura;

namespace {

ReportDefinition Definition() {
  ReportDefinition d;
  d.code = "REL01";
  d.title = "Compras";
  d.params = {"P_NR"};
  d.queries = {"cab", "itens"};
  d.headerQuery = "cab";
  d.detailQuery = "itens";
  d.headerLines = {"Apuração {NR} de {DT:dd/mm/yyyy}"};
  d.groups = {{"FORN", "Fornecedor {FORN}", "Total {FORN}"}, {"PROD", "Produto {PROD}", ""}};
  d.columns = {{"Filial", "FIL", "", 1, ReportAlign::Left, false},
               {"Qtde.", "QT", "#,##0.000", 1, ReportAlign::Right, true},
               {"Valor", "VR", "#,##0.00", 1.5, ReportAlign::Right, true}};
  d.grandTotal = "Total geral";
  return d;
}

DataPacket Header() {
  PacketBuilder b({{"NR", FieldType::String, 10}, {"DT", FieldType::Float, 0}});
  b.Add({Value("1234"), Value(DateTime::FromDate(2026, 3, 9).days)});
  return b.Build();
}

DataPacket Items(
    const std::vector<std::tuple<const char*, const char*, const char*, double, double>>& rows) {
  PacketBuilder b({{"FORN", FieldType::String, 10},
                   {"PROD", FieldType::String, 10},
                   {"FIL", FieldType::String, 4},
                   {"QT", FieldType::Float, 0},
                   {"VR", FieldType::Float, 0}});
  for (auto& [f, p, fil, qt, vr] : rows)
    b.Add({Value(f), Value(p), Value(fil), Value(qt), Value(vr)});
  return b.Build();
}

std::vector<std::string> Lines(const ReportDocument& doc) {
  std::vector<std::string> out;
  for (const ReportLine& l : doc.lines) {
    std::string s = l.text;
    for (const std::string& c : l.cells) s += "|" + c;
    out.push_back(s);
  }
  return out;
}

struct ReportTest : ::testing::Test {
  ReportTest() { CurrentFormat() = FormatSettings{}; }
};

TEST_F(ReportTest, GroupsCarryTheirSubtotalsAndTheLastLineTheGrandTotal) {
  const ReportDocument doc =
      BuildReport(Definition(), {Value(Header()), Value(Items({{"A", "P1", "001", 10, 1000.5},
                                                               {"A", "P1", "002", 5, 20},
                                                               {"A", "P2", "001", 1, 1},
                                                               {"B", "P1", "001", 2, 4}}))});
  EXPECT_EQ(doc.header, std::vector<std::string>{"Apuração 1234 de 09/03/2026"});
  EXPECT_EQ(Lines(doc), (std::vector<std::string>{
                            "Fornecedor A",
                            "Produto P1",
                            "|001|10,000|1.000,50",
                            "|002|5,000|20,00",
                            "Produto P2",
                            "|001|1,000|1,00",
                            "Total A||16,000|1.021,50",
                            "Fornecedor B",
                            "Produto P1",
                            "|001|2,000|4,00",
                            "Total B||2,000|4,00",
                            "Total geral||18,000|1.025,50",
                        }));
}

TEST_F(ReportTest, AnInnerKeyRepeatedUnderANewOuterGroupStartsAGroup) {
  // Same product on both sides of a supplier change.
  const ReportDocument doc = BuildReport(
      Definition(),
      {Value(Header()), Value(Items({{"A", "P1", "001", 1, 1}, {"B", "P1", "001", 1, 1}}))});
  int productHeaders = 0;
  for (const ReportLine& l : doc.lines) productHeaders += l.text == "Produto P1";
  EXPECT_EQ(productHeaders, 2);
}

TEST_F(ReportTest, NoRowsGiveTheHeaderAndAZeroGrandTotal) {
  PacketBuilder empty({{"NR", FieldType::String, 10}, {"DT", FieldType::Float, 0}});
  const ReportDocument doc = BuildReport(Definition(), {Value(empty.Build()), Value(Items({}))});
  EXPECT_EQ(doc.header, std::vector<std::string>{"Apuração  de "});
  EXPECT_EQ(Lines(doc), std::vector<std::string>{"Total geral||0,000|0,00"});
  EXPECT_EQ(Paginate(doc, 40).size(), 1u);
}

TEST_F(ReportTest, AMissingFieldOrAnswerNamesTheReport) {
  ReportDefinition d = Definition();
  d.columns[1].field = "QTDE";
  try {
    BuildReport(d, {Value(Header()), Value(Items({{"A", "P1", "001", 1, 1}}))});
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("REL01"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("QTDE"), std::string::npos) << e.what();
  }
  EXPECT_THROW(BuildReport(Definition(), {Value(Header())}), std::runtime_error);
  EXPECT_THROW(BuildReport(Definition(), {Value(Header()), Value("texto")}), std::runtime_error);
}

TEST_F(ReportTest, TheDefinitionTravelsAsAPacketAndBack) {
  const ReportDefinition d = Definition();
  const ReportDefinition back = ReportDefinition::FromPacket(d.ToPacket());
  EXPECT_EQ(back.code, d.code);
  EXPECT_EQ(back.title, d.title);
  EXPECT_EQ(back.params, d.params);
  EXPECT_EQ(back.queries, d.queries);
  EXPECT_EQ(back.headerQuery, "cab");
  EXPECT_EQ(back.detailQuery, "itens");
  EXPECT_EQ(back.headerLines, d.headerLines);
  ASSERT_EQ(back.groups.size(), 2u);
  EXPECT_EQ(back.groups[0].footer, "Total {FORN}");
  ASSERT_EQ(back.columns.size(), 3u);
  EXPECT_EQ(back.columns[2].format, "#,##0.00");
  EXPECT_DOUBLE_EQ(back.columns[2].width, 1.5);
  EXPECT_EQ(back.columns[2].align, ReportAlign::Right);
  EXPECT_TRUE(back.columns[2].total);
  EXPECT_FALSE(back.columns[0].total);
  EXPECT_EQ(back.grandTotal, "Total geral");
  EXPECT_EQ(back.pageFooter, d.pageFooter);
}

TEST_F(ReportTest, ABrokenDefinitionIsRefusedSayingWhat) {
  ReportDefinition d = Definition();
  d.detailQuery = "outra";
  EXPECT_THROW(d.Check(), std::runtime_error);
  d = Definition();
  d.columns[0].width = 0;
  EXPECT_THROW(d.Check(), std::runtime_error);
  d = Definition();
  d.columns.clear();
  EXPECT_THROW(ReportDefinition::FromPacket(d.ToPacket()), std::runtime_error);
  PacketBuilder noItem({{"NOME", FieldType::String, 10}});
  EXPECT_THROW(ReportDefinition::FromPacket(noItem.Build()), std::runtime_error);
}

TEST_F(ReportTest, PagesNeverEndOnAGroupHeader) {
  const ReportDocument doc =
      BuildReport(Definition(), {Value(Header()), Value(Items({{"A", "P1", "001", 1, 1},
                                                               {"A", "P1", "002", 1, 1},
                                                               {"B", "P2", "001", 1, 1},
                                                               {"B", "P2", "002", 1, 1}}))});
  // Lines: header A, P1, 2 details, total A, header B, P2, 2 details, total B, grand total.
  ASSERT_EQ(doc.lines.size(), 11u);
  const auto pages = Paginate(doc, 7);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], std::make_pair(size_t{0}, size_t{5}));  // headers B and P2 go over
  EXPECT_EQ(pages[1], std::make_pair(size_t{5}, size_t{11}));
  size_t covered = 0;
  for (auto [a, b] : Paginate(doc, 3)) {
    EXPECT_EQ(a, covered);
    EXPECT_GT(b, a);
    EXPECT_NE(doc.lines[b - 1].kind == ReportLine::Kind::GroupHeader && b != doc.lines.size(),
              true);
    covered = b;
  }
  EXPECT_EQ(covered, doc.lines.size());
  EXPECT_EQ(doc.FooterText(2, 3), "Página 2 de 3");
}

TEST_F(ReportTest, TheClientReadsTheDefinitionAndRunsTheQueriesOnTheServer) {
  test::FakeHost host;
  test::FakeServer server;
  TNetConnection net{nullptr, "netRelatorio"};
  net.ServerName = kReportServerObject;
  net.ThrowException = false;
  server.ReplyOk("GetRelatorio", Value(Definition().ToPacket()));
  server.ReplyOk("ExecutaRelatorio",
                 Value(ValueArray{Value(Header()), Value(Items({{"A", "P1", "001", 3, 6}}))}));
  TReportParams params;
  params.Items = {{"P_NR", "1234"}};
  ReportClient client(net);
  const ReportDocument doc = client.Build("REL01", params);
  EXPECT_EQ(doc.lines.back().cells[2], "6,00");
  EXPECT_EQ(server.Methods(), (std::vector<std::string>{"GetRelatorio", "ExecutaRelatorio"}));
  EXPECT_EQ(server.LastCall("ExecutaRelatorio")->ArgsText(), "'REL01', ['P_NR'], ['1234']");
  EXPECT_FALSE(net.Connected());
  EXPECT_EQ(server.Connects(), 2);

  // A server failure comes back as an error with the server's text, closed.
  server.ReplyFailure("GetRelatorio", "Relatório REL02 não cadastrado.");
  try {
    client.Definition("REL02");
    FAIL() << "no error";
  } catch (const EServerFailure& e) {
    EXPECT_STREQ(e.what(), "Relatório REL02 não cadastrado.");
  }
  EXPECT_FALSE(net.Connected());
}

}  // namespace
