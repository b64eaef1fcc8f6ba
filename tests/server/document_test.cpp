// The tally exchange format, the demo generator and the host's local tables.

#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <limits>

#include "server/exchange/demo.h"
#include "server/exchange/json.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

size_t DeliveryRows(const TallyDocument& d) {
  std::map<std::pair<std::string, std::string>, size_t> requests;
  for (const RequestDoc& r : d.requests) ++requests[{r.product, r.region}];
  size_t n = 0;
  for (const QuoteDoc& q : d.quotations) n += requests[{q.product, q.region}];
  return n;
}

TEST(DemoTest, SameSeedSameDocumentThroughJsonAndBack) {
  TallyDocument demo = GenerateDemo();
  std::string text = DocumentToJson(demo).dump(1);
  EXPECT_EQ(DocumentToJson(GenerateDemo()).dump(1), text);
  DemoOptions other;
  other.seed = 7;
  EXPECT_NE(DocumentToJson(GenerateDemo(other)).dump(1), text);

  TallyDocument back = DocumentFromText(text);
  EXPECT_EQ(DocumentToJson(back).dump(1), text);
  EXPECT_EQ(back.quotations.size(), demo.quotations.size());
  EXPECT_EQ(back.requests[3].date, demo.requests[3].date);

  // What the demo promises: readable names, zero prices, minimum flags, rules,
  // competing negotiated products.
  EXPECT_EQ(demo.stockProducts[1].name, "Feijão Carioca");
  bool zero = false, minimum = false;
  for (const QuoteDoc& q : demo.quotations) {
    zero = zero || q.unitPrice == 0;
    minimum = minimum || q.minValueFlag == "R";
  }
  EXPECT_TRUE(zero);
  EXPECT_TRUE(minimum);
  EXPECT_FALSE(demo.rules.empty());
  EXPECT_GT(demo.negotiatedProducts.size(), demo.stockProducts.size());
}

TEST(DemoTest, ScalesToTheAskedNumberOfDeliveryRows) {
  for (size_t rows : {50000u, 500000u}) {
    size_t got = DeliveryRows(GenerateDemo(DemoOptions::ForDeliveryRows(rows)));
    EXPECT_GE(got, rows * 95 / 100) << rows;
    EXPECT_LE(got, rows * 110 / 100) << rows;
  }
}

TEST(DocumentTest, ErrorsNameTheOffendingEntry) {
  auto refusal = [](const std::function<void(Json&)>& spoil) {
    Json j = DocumentToJson(GenerateDemo());
    spoil(j);
    try {
      DocumentFromText(j.dump());
    } catch (const ServerError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(refusal([](Json& j) { j["quotations"][3]["supplier"] = "F999"; }),
            "quotations[3].supplier: unknown supplier \"F999\"");
  EXPECT_EQ(refusal([](Json& j) { j["requests"][0]["date"] = "2026-02-30"; }),
            "requests[0].date: \"2026-02-30\" is not a date");
  EXPECT_EQ(refusal([](Json& j) { j["requests"][1]["quantity"] = "dez"; }),
            "requests[1].quantity: must be a number");
  EXPECT_EQ(refusal([](Json& j) {
              j["suppliers"][0]["name"] = "Distribuidora de Alimentos e Bebidas do Vale";
            }),
            "suppliers[0].name: \"Distribuidora de Alimentos e Bebidas do Vale\" is longer than "
            "40 characters");
  EXPECT_EQ(refusal([](Json& j) { j["centre"]["IDTIPOAPUR"] = "12"; }),
            "centre.IDTIPOAPUR: must be one character, not \"12\"");
  EXPECT_EQ(refusal([](Json& j) { j.erase("branches"); }), "branches: missing");
  EXPECT_EQ(refusal([](Json& j) { j["requests"][0]["branch"] = "0103"; }),
            "requests[0].region: branch \"0103\" belongs to region \"003\"");
  // The kinds the reader tells apart: integers and fractions are both numbers,
  // a list where an object belongs is no entry.
  EXPECT_EQ(refusal([](Json& j) { j["quotations"][0]["paymentDays"] = 28.5; }), "accepted");
  EXPECT_EQ(refusal([](Json& j) { j["quotations"][0]["priceList"] = 1; }),
            "quotations[0].priceList: must be true or false");
  EXPECT_EQ(refusal([](Json& j) {
              j["regions"][1] = Json::array({"001", "Norte"});
            }),
            "regions[1]: must be an object");
  EXPECT_EQ(refusal([](Json& j) { j["brands"] = Json::object(); }), "brands: must be a list");
}

TEST(DocumentTest, NumbersBeyondTheirBoundsAreRefusedNamingTheEntry) {
  auto refusal = [](const std::function<void(TallyDocument&)>& spoil) {
    TallyDocument d = GenerateDemo();
    spoil(d);
    try {
      ValidateDocument(d);
    } catch (const ServerError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(refusal([](TallyDocument& d) { d.quotations[2].unitPrice = 1e308; }),
            "quotations[2].unitPrice: 1e+308 is above the most allowed, 1000000000");
  EXPECT_EQ(refusal([](TallyDocument& d) { d.quotations[2].unitPrice = -0.01; }),
            "quotations[2].unitPrice: -0.01 must not be less than 0");
  EXPECT_EQ(refusal([](TallyDocument& d) { d.requests[4].quantity = 1e308; }),
            "requests[4].quantity: 1e+308 is above the most allowed, 1000000000");
  EXPECT_EQ(refusal([&](TallyDocument& d) { d.requests[4].quantity = inf; }),
            "requests[4].quantity: must be a finite number");
  EXPECT_EQ(refusal([](TallyDocument& d) { d.requests[4].quantity = 0; }),
            "requests[4].quantity: 0 must be greater than 0");
  EXPECT_EQ(refusal([](TallyDocument& d) { d.negotiatedProducts[1].factor = 1e-300; }),
            "negotiatedProducts[1].factor: must be at least 1e-06");
  EXPECT_EQ(refusal([](TallyDocument& d) { d.quotations[0].minQuantity = 2e9; }),
            "quotations[0].minQuantity: 2000000000 is above the most allowed, 1000000000");
  EXPECT_EQ(refusal([](TallyDocument& d) { d.quotations[0].freightRate = 1e300; }),
            "quotations[0].freightRate: 1e+300 is above the most allowed, 10");
  EXPECT_EQ(refusal([&](TallyDocument& d) { d.centre.budget = -inf; }),
            "centre.budget: must be a finite number");
  // The bounds themselves are good entries.
  EXPECT_EQ(refusal([](TallyDocument& d) {
              d.quotations[2].unitPrice = 1e9;
              d.requests[4].quantity = 1e9;
            }),
            "accepted");
}

TEST(DocumentTest, MalformedJsonSaysWhere) {
  auto where = [](std::string_view text) {
    try {
      JsonText::Parse(text);
    } catch (const JsonError& e) {
      std::string what = e.what();
      return what.substr(0, what.find(','));
    }
    return std::string("accepted");
  };
  EXPECT_EQ(where("{\n  \"format\": \"apura-tally/1\",\n  \"centre\": {\"code\": 01}\n}"),
            "JSON line 3");
  EXPECT_EQ(where("{\"a\": 1}\n\n[2]"), "JSON line 3");  // text after the document
  EXPECT_EQ(where("[\"unterminated\n"), "JSON line 1");
  EXPECT_EQ(where("[1,\n\"\xff\"]"), "JSON line 2");  // no UTF-8
  EXPECT_EQ(where("{\"a\": [1, 2}"), "JSON line 1");
  EXPECT_EQ(where("[1,\n1e999]"), "JSON line 2");  // beyond a double

  JsonText parsed = JsonText::Parse(R"(["a\u00e7\u00facar", -1.5e2, true, null])");
  simdjson::dom::array a = parsed.root().get_array();
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(std::string_view(a.at(0).get_string()), "açúcar");
  EXPECT_EQ(double(a.at(1).get_double()), -150.0);
  EXPECT_TRUE(a.at(3).is_null());
}

TEST(DocumentTest, PrintedTextHasARowALineAndSurvivesBytesThatAreNoUtf8) {
  Json packet = Json::object();
  packet["fields"] = Json::array({Json{{"name", "A"}}, Json{{"name", "B"}}});
  packet["rows"] = Json::array({Json::array({1, "x"}), Json::array({2.5, nullptr})});
  const std::string text = DumpJson(packet, 2);
  std::vector<std::string> lines;
  for (size_t at = 0, next; at <= text.size(); at = next + 1) {
    next = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, next - at));
  }
  EXPECT_NE(std::find(lines.begin(), lines.end(), "    [1,\"x\"],"), lines.end()) << text;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "    [2.5,null]"), lines.end()) << text;
  // What is printed is JSON that reads back to what was printed.
  JsonText back = JsonText::Parse(text);
  EXPECT_EQ(double(back.root()["rows"].at(1).at(0).get_double()), 2.5);
  EXPECT_EQ(std::string_view(back.root()["fields"].at(1)["name"].get_string()), "B");

  EXPECT_EQ(DumpJson(Json::array({"ok", std::string("caf\xe9")}), 2),
            "[\"ok\",\"caf\xef\xbf\xbd\"]");
}

class ImportTest : public ServerTest {};

TEST_F(ImportTest, ImportedTallyServesAndCannotBeImportedTwice) {
  std::string path = (dir_ / "tally.json").string();
  WriteDocumentFile(GenerateDemo(), path);
  service_->Import(ReadDocumentFile(path));
  EXPECT_EQ(Get("GetProduto", "1234").RowCount(), 12u);
  EXPECT_GT(Get("GetItmApurPrec", "1234").RowCount(), 500u);
  try {
    service_->Import(ReadDocumentFile(path));
    FAIL();
  } catch (const ServerError& e) {
    EXPECT_NE(std::string(e.what()).find("1234"), std::string::npos);
  }
  // A name that is no UTF-8 cannot go into the exchange format: refused, and
  // no truncated file is left where the document should be.
  TallyDocument odd = GenerateDemo();
  odd.suppliers[0].name = "Distribuidora \xe9";
  std::string oddPath = (dir_ / "odd.json").string();
  EXPECT_THROW(WriteDocumentFile(odd, oddPath), ServerError);
  EXPECT_FALSE(std::filesystem::exists(oddPath));

  std::ofstream(dir_ / "broken.json") << "{ \"format\": ";
  try {
    ReadDocumentFile((dir_ / "broken.json").string());
    FAIL();
  } catch (const ServerError& e) {
    EXPECT_NE(std::string(e.what()).find("broken.json: JSON line 1"), std::string::npos)
        << e.what();
  }
}

TEST_F(ImportTest, LocalDatabaseHoldsRegionsAndTheManualChoiceAuthorisation) {
  std::string path = (dir_ / "local.db").string();
  SeedLocalDatabase(path);
  SeedLocalDatabase(path);  // seeding again changes nothing
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  auto rows = [&](const char* sql) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (sqlite3_step(st) == SQLITE_ROW) {
      out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
    return out;
  };
  EXPECT_EQ(rows("SELECT NMREGIAO FROM REGIAO WHERE CDREGIAO = '002'"),
            std::vector<std::string>{"Sul"});
  // The worksheet's own permission query.
  EXPECT_EQ(rows("SELECT OPERGRUPOP.CDOPERADOR FROM AUTGRUPOP, OPERGRUPOP "
                 "WHERE AUTGRUPOP.IDAUTGRUPOP = 'PEME' AND "
                 "AUTGRUPOP.CDGRUPOPER = OPERGRUPOP.CDGRUPOPER ORDER BY 1"),
            (std::vector<std::string>{"ADMIN", "COMP01"}));
  sqlite3_close(db);
}

}  // namespace
}  // namespace apura::server::testing
