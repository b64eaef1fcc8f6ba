// The tally exchange format, the demo generator and the host's local tables.

#include <sqlite3.h>

#include <fstream>

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
  std::string text = DocumentToJson(demo).Dump(1);
  EXPECT_EQ(DocumentToJson(GenerateDemo()).Dump(1), text);
  DemoOptions other;
  other.seed = 7;
  EXPECT_NE(DocumentToJson(GenerateDemo(other)).Dump(1), text);

  TallyDocument back = DocumentFromJson(Json::Parse(text));
  EXPECT_EQ(DocumentToJson(back).Dump(1), text);
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
      DocumentFromJson(j);
    } catch (const ServerError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  auto member = [](Json& obj, const char* key) -> Json& {
    for (auto& [k, v] : obj.AsObject()) {
      if (k == key) return v;
    }
    throw std::logic_error(key);
  };
  EXPECT_EQ(refusal([&](Json& j) {
              member(member(j, "quotations").AsArray()[3], "supplier") = Json("F999");
            }),
            "quotations[3].supplier: unknown supplier \"F999\"");
  EXPECT_EQ(refusal([&](Json& j) {
              member(member(j, "requests").AsArray()[0], "date") = Json("2026-02-30");
            }),
            "requests[0].date: \"2026-02-30\" is not a date");
  EXPECT_EQ(refusal([&](Json& j) {
              member(member(j, "requests").AsArray()[1], "quantity") = Json("dez");
            }),
            "requests[1].quantity: must be a number");
  EXPECT_EQ(refusal([&](Json& j) {
              member(member(j, "suppliers").AsArray()[0], "name") =
                  Json("Distribuidora de Alimentos e Bebidas do Vale");
            }),
            "suppliers[0].name: \"Distribuidora de Alimentos e Bebidas do Vale\" is longer than "
            "40 characters");
  EXPECT_EQ(refusal([&](Json& j) { member(member(j, "centre"), "IDTIPOAPUR") = Json("12"); }),
            "centre.IDTIPOAPUR: must be one character, not \"12\"");
  EXPECT_EQ(
      refusal([&](Json& j) {
        auto& o = j.AsObject();
        o.erase(std::find_if(o.begin(), o.end(), [](auto& m) { return m.first == "branches"; }));
      }),
      "branches: missing");
  EXPECT_EQ(refusal([&](Json& j) {
              member(member(j, "requests").AsArray()[0], "branch") = Json("0103");
            }),
            "requests[0].region: branch \"0103\" belongs to region \"003\"");
}

TEST(DocumentTest, MalformedJsonSaysWhere) {
  try {
    Json::Parse("{\n  \"format\": \"apura-tally/1\",\n  \"centre\": {\"code\": 01}\n}");
    FAIL();
  } catch (const JsonError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("JSON line 3, column ", 0), 0u) << e.what();
  }
  EXPECT_EQ(Json::Parse(R"(["a\u00e7\u00facar", -1.5e2, true, null])").Dump(0),
            "[\"açúcar\", -150, true, null]");
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
