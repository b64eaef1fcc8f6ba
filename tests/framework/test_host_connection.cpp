#include <gtest/gtest.h>

#include "framework/errors.h"
#include "framework/netconnection.h"
#include "framework/packet.h"
#include "framework/query.h"
#include "support/fake_database.h"
#include "support/fake_host.h"
#include "support/fake_server.h"

using namespace apura;
using apura::test::FakeDatabase;
using apura::test::FakeHost;
using apura::test::FakeServer;
using apura::test::ScopedDatabase;

namespace {

struct HostConnection : ::testing::Test {
  FakeHost host;
  FakeServer server;
  TNetConnection net{nullptr, "netPlanApurNegGrid"};
  HostConnection() {
    net.ServerName = "Prq05001.rdmPlanApurNegGrid";
    net.ThrowException = false;
  }
};

TEST_F(HostConnection, BeforeConnectRunsFirstAndItsAddressIsTheOneUsed) {
  host.webURL = "apura-srv";
  host.webPort = 8211;
  std::vector<std::string> order;
  net.BeforeConnect = [&](TComponent& s) {
    order.push_back("before");
    EXPECT_FALSE(net.Connected());
    auto& c = static_cast<TNetConnection&>(s);
    c.Host = WebURL();
    c.Port = WebPort();
  };
  net.AfterConnect = [&](TComponent&) { order.push_back("after"); };
  net.SetConnected(true);
  EXPECT_TRUE(net.Connected());
  EXPECT_EQ(order, (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(server.Events(), std::vector<std::string>{"connect netPlanApurNegGrid apura-srv:8211"});
  net.SetConnected(true);  // already open: nothing again
  EXPECT_EQ(server.Connects(), 1);
  EXPECT_EQ(order.size(), 2u);
  net.SetConnected(false);
  net.SetConnected(false);
  EXPECT_FALSE(net.Connected());
  EXPECT_EQ(server.Disconnects("netPlanApurNegGrid"), 1);
}

TEST_F(HostConnection, CallSendsServerObjectMethodAndArgumentsWithTheirMarks) {
  server.ReplyOk("GetDados", Value(ValueArray{Value(1), Value("x")}));
  net.SetConnected(true);
  Value r = net.call("GetDados", {ByRef(Value("001")), ByRef(Value("")), ByVal(Value("PRQ")),
                                  ByVal(Value(12.5)), ByVal(Value())});
  ASSERT_EQ(server.Calls().size(), 1u);
  const auto& call = server.Calls()[0];
  EXPECT_EQ(call.object, "Prq05001.rdmPlanApurNegGrid");
  EXPECT_EQ(call.method, "GetDados");
  EXPECT_EQ(call.ArgsText(), "&'001', &'', 'PRQ', 12,5, null");
  Value payload = CheckResultServ(r, true, 0);
  EXPECT_EQ(payload.AsArray().size(), 2u);
}

TEST_F(HostConnection, UnscriptedMethodAnswersAFailureNamingIt) {
  net.SetConnected(true);
  Value r = net.call("GetRegiao", {});
  EXPECT_THROW(CheckResultServ(r, true, 0), EAbort);
  EXPECT_NE(host.LastMessage().text.find("Prq05001.rdmPlanApurNegGrid.GetRegiao"),
            std::string::npos);
}

TEST_F(HostConnection, ThrowExceptionRaisesTheServerFailureAtTheCall) {
  net.ThrowException = true;
  server.ReplyFailure("GetProduto", "tabela bloqueada");
  net.SetConnected(true);
  try {
    net.call("GetProduto", {});
    FAIL() << "no exception";
  } catch (const EServerFailure& e) {
    EXPECT_STREQ(e.what(), "tabela bloqueada");
  }
}

TEST_F(HostConnection, CallingWhileClosedOrUnreachableNamesWhatFailed) {
  try {
    net.call("GetProduto", {});
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    std::string what = e.what();
    EXPECT_NE(what.find("netPlanApurNegGrid"), std::string::npos) << what;
    EXPECT_NE(what.find("Prq05001.rdmPlanApurNegGrid"), std::string::npos) << what;
    EXPECT_NE(what.find("GetProduto"), std::string::npos) << what;
  }
  EXPECT_TRUE(server.Calls().empty());

  server.failConnect = true;
  net.Host = "10.0.0.9";
  net.Port = 211;
  try {
    net.SetConnected(true);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("10.0.0.9:211"), std::string::npos);
  }
  EXPECT_FALSE(net.Connected());
}

TEST(HostConnectionTransport, WithoutAnyTransportOpeningIsAClearError) {
  TNetConnection net(nullptr, "netCompras");
  net.ServerName = "Cmp.rdmCompras";
  try {
    net.SetConnected(true);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("netCompras"), std::string::npos);
  }
}

TEST(HostConnectionTransport, EachConnectionHasItsOwnEndpoint) {
  FakeServer server;
  TNetConnection a(nullptr, "netCompras"), b(nullptr, "netPlanApurNegGrid");
  a.SetConnected(true);
  b.SetConnected(true);
  a.SetConnected(false);
  EXPECT_FALSE(a.Connected());
  EXPECT_TRUE(b.Connected());
  EXPECT_EQ(server.Connects("netCompras"), 1);
  EXPECT_EQ(server.Disconnects("netPlanApurNegGrid"), 0);
}

// --- Local query -------------------------------------------------------------

DataPacket Operators(std::vector<std::string> codes) {
  PacketBuilder b({{"IDAUTGRUPOP", FieldType::String, 4}, {"CDOPERADOR", FieldType::String, 12}});
  for (auto& c : codes) b.Add({Value("PEME"), Value(c)});
  return b.Build();
}

TEST(HostQuery, ParametersComeFromTheTextAndTravelWithTheirValues) {
  auto db = std::make_shared<FakeDatabase>();
  ScopedDatabase scoped(db);
  PacketBuilder region({{"NMREGIAO", FieldType::String, 40}});
  db->Answer("FROM REGIAO", region.Add({Value("Sul")}).Build());

  TADOIBQuery q(nullptr, "qryPesqRegiao");
  q.SetSQL({"SELECT", "  NMREGIAO", "FROM", "  REGIAO", "WHERE", "  CDREGIAO = :P_CDREGIAO",
            "  AND NMREGIAO <> ':NAO_E_PARAM' AND CAST(X AS INT)::INT = :p_cdregiao"});
  ASSERT_EQ(q.Params().size(), 1u);  // quoted text, casts and a repeat are no new parameters
  EXPECT_EQ(q.Params()[0].name, "P_CDREGIAO");
  q.ParamByName("p_cdregiao").SetAsString("R01");
  q.Open();
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.FieldByName("NMREGIAO").AsString(), "Sul");
  ASSERT_EQ(db->Executed().size(), 1u);
  EXPECT_EQ(db->Executed()[0].Param("P_CDREGIAO"), "R01");
  EXPECT_EQ(db->Executed()[0].params[0].type, FieldType::String);

  q.Open();  // already open: not run again
  EXPECT_EQ(db->Executed().size(), 1u);
  q.Close();
  EXPECT_FALSE(q.Active());
  q.ParamByName("P_CDREGIAO").SetAsString("R02");
  q.Open();
  EXPECT_EQ(db->Executed().back().Param("P_CDREGIAO"), "R02");

  try {
    q.ParamByName("P_OUTRO");
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("P_OUTRO"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("qryPesqRegiao"), std::string::npos);
  }
}

TEST(HostQuery, PersistentFieldsReadRowsAndAMissingColumnIsNamed) {
  auto db = std::make_shared<FakeDatabase>();
  ScopedDatabase scoped(db);
  db->Answer("FROM AUTGRUPOP", Operators({"ana", "JOAO"}));

  TADOIBQuery q(nullptr, "qryAutGrupOp");
  q.AddStringField("CDOPERADOR", 12);
  q.SetSQL({"SELECT", "   AUTGRUPOP.IDAUTGRUPOP, OPERGRUPOP.CDOPERADOR", "FROM", "   AUTGRUPOP,",
            "   OPERGRUPOP", " "});
  EXPECT_TRUE(q.Params().empty());
  q.Open();
  std::vector<std::string> codes;
  for (q.First(); !q.Eof(); q.Next()) codes.push_back(q.FieldByName("CDOPERADOR").AsString());
  EXPECT_EQ(codes, (std::vector<std::string>{"ana", "JOAO"}));
  q.Close();

  PacketBuilder wrong({{"IDAUTGRUPOP", FieldType::String, 4}});
  db->Answer("FROM AUTGRUPOP", wrong.Add({Value("PEME")}).Build());
  try {
    q.Open();
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("CDOPERADOR"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("qryAutGrupOp"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(q.Active());
}

TEST(HostQuery, DatabaseFailuresAndMissingConnectionNameTheQuery) {
  auto db = std::make_shared<FakeDatabase>();
  db->Fail("FROM REGIAO", "no such table: REGIAO");
  TADOIBQuery q(nullptr, "qryPesqRegiao");
  q.SetSQL({"SELECT NMREGIAO FROM REGIAO"});
  try {
    q.Open();
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("no database connection"), std::string::npos);
  }
  q.SetConnection(db);
  try {
    q.Open();
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Query qryPesqRegiao: no such table: REGIAO");
  }
  EXPECT_FALSE(q.Active());
}

TEST(HostQuery, ChangingTheTextKeepsValuesOfParametersThatStay) {
  TADOIBQuery q(nullptr, "qry");
  q.SetSQL({"SELECT * FROM T WHERE A = :A"});
  q.ParamByName("A").SetAsInteger(7);
  q.AddSQL("AND B = :B");
  ASSERT_EQ(q.Params().size(), 2u);
  EXPECT_EQ(q.ParamByName("A").AsValue(), Value(7));
  EXPECT_TRUE(q.ParamByName("B").IsNull());
  EXPECT_EQ(q.Params()[0].type, FieldType::Integer);
}

}  // namespace
