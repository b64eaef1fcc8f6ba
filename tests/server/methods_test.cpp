// The read methods answer the worksheet's tables field for field; bad calls get
// failures that say what is wrong.

#include <cmath>
#include <fstream>

#include "contract/methods.h"
#include "server/services/packets.h"
#include "server/storage/sqlite/sqlite.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

// "NAME:S10" for text(10), "NAME:F" float, "NAME:D" date-time.
std::string Signature(const DataPacket& p) {
  std::string s;
  for (const FieldDef& f : p.fields()) {
    if (!s.empty()) s += ",";
    s += f.name + ":";
    s += f.type == FieldType::String     ? "S" + std::to_string(f.size)
         : f.type == FieldType::Float    ? "F"
         : f.type == FieldType::DateTime ? "D"
                                         : "?";
  }
  return s;
}

class MethodsTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    TallyDocument d = SmallTally();
    d.stockProducts.push_back({"E2", "1.02", "Feijão Carioca", "KG", 0});
    d.negotiatedProducts.push_back({"N2", "E2", "1.02.01", "Feijão Carioca Pacote 1 kg", "PCT", 1});
    d.requests.push_back({"N2", "002", "0201", DateTime::FromDate(2026, 12, 9), 7});
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    AddQuote(d, "N1", "C1", "F2", "M2", 12);
    AddQuote(d, "N2", "C1", "F3", "M1", 8, "002");
    service_->Import(d);
  }
};

TEST_F(MethodsTest, EveryPacketCarriesItsTableFields) {
  EXPECT_EQ(
      Signature(Call("GetParamCmp", {ByRef(Value("0001")), ByVal(Value("PRQ"))}, kPurchasingObject)
                    .AsPacket()),
      "IDTIPOAPUR:S1,IDBLOQUEAAF:S1,IDCONSPRSOL:S1,IDEXJUSTESCM:S1");
  EXPECT_EQ(Signature(Get("GetProduto")), "CDPRODUTO:S10,CDARVPROD:S20,NMPRODUTO:S50");
  EXPECT_EQ(Signature(Get("GetRegiao")), "CDREGITMAP:S3,NMREGIAO:S30,CDPRODESTO:S10");
  EXPECT_EQ(Signature(Get("GetProdItem")),
            "CDPRODESTO:S10,CDPRODITMAP:S10,CDARVPROD:S20,NMPRODUTO:S50,IDITMSELAPUR:S1,"
            "CDREGITMAP:S3,QTESTOSEGU:F,CALC_ESTO:F");
  EXPECT_EQ(Signature(Get("GetApurNeg")),
            "VRFATOCONV:F,PRODUNDIVFATCO:F,CDFORNITMAP:S21,NMFANTFORN:S40,NRSEQITMAP:S10,"
            "CDCENTITMAP:S4,NRCOLEITMAP:S10,CDMARCITMAP:S5,NMMARCA:S20,VRPRECUNIAP:F,PRECOECON:F,"
            "QTACOMP:F,IDITMSELAPUR:S1,CDREGITMAP:S3,CDPRODITMAP:S10,CDARVPROD:S20,PRECOECONPI:F,"
            "QTMINAUTFOT:F,IDQTMINFORN:S1,VRMINAUTFOR:F,IDVRMINFORN:S1,SGUNIDADE:S10");
  EXPECT_EQ(Signature(Get("GetPai_ItmApurPrec")),
            "CDFILIAP:S4,NMFILIAL:S30,DTENTRAPUT:D,QTSOLACOMP:F,CDCENTITMAP:S4,NRSEQITMAP:S10,"
            "CDPRODITMAP:S10,CDREGITMAP:S3");
  EXPECT_EQ(Signature(Get("GetItmApurPrec")),
            "NMFANTFORN:S40,NMMARCA:S20,QTACOMP:F,NRCOLEITMAP:S10,VRPRECUNIAP:F,VRPRECECOAP:F,"
            "IDITMSELAPUR:S1,CDCENTITMAP:S4,CDPRODITMAP:S10,NRSEQITMAP:S10,CDFILIAP:S4,"
            "QTSOLACOMP:F,CDFORNITMAP:S21,CDMARCITMAP:S5,CDREGITMAP:S3,DTENTRAPUT:D,"
            "IDMOTIVPRESC:S10,VRPRECONPIAP:F");
  EXPECT_EQ(Signature(Get("GetDados")),
            "NMFANTFORN:S40,NMMARCA:S20,CDCENTITMAP:S4,DTENTRAPUT:D,CDPRODITMAP:S10,"
            "CDPRODESTO:S10,NRCOLEITMAP:S10,NRSEQITMAP:S10,QTACOMP:F,CDFILIAP:S4,QTSOLACOMP:F,"
            "CDFORNITMAP:S21,CDMARCITMAP:S5,CDREGITMAP:S3,VRPRECUNIAP:F,VRPRECECOAP:F,"
            "IDITMSELAPUR:S1,VRPRECONPIAP:F,TXOBESCMANAP:S2000");
  EXPECT_EQ(Signature(Call("GetVd_EfetivaAF",
                           {ByRef(Value("COMP01")), ByVal(Value("0101")), ByRef(Value("0001")),
                            ByRef(Value("77")), ByRef(Value("OPER"))})
                          .AsPacket()),
            "NRSEQAPUR:S10");
}

TEST_F(MethodsTest, DeliveryRowsPairEveryQuotationWithItsRequests) {
  // N1 has 2 quotations x 2 requests in region 001; N2 one x one in 002.
  DataPacket items = Get("GetItmApurPrec");
  DataPacket dados = Get("GetDados");
  ASSERT_EQ(items.RowCount(), 5u);
  ASSERT_EQ(dados.RowCount(), 5u);
  auto f2 = RowsWhere(dados, "CDFORNITMAP", "F2");
  ASSERT_EQ(f2.size(), 2u);
  for (size_t r : f2) {
    EXPECT_EQ(At(dados, "NMFANTFORN", r), "Comercial Dois");
    EXPECT_EQ(At(dados, "CDPRODESTO", r), "E1");
    EXPECT_EQ(At(dados, "NRSEQITMAP", r), "77");
    EXPECT_EQ(At(dados, "IDITMSELAPUR", r), "N");
    EXPECT_EQ(Num(dados, "VRPRECUNIAP", r), 12);
    EXPECT_EQ(Num(dados, "QTACOMP", r), Num(dados, "QTSOLACOMP", r));
  }
  auto branch = RowsWhere(items, "CDFILIAP", "0201");
  ASSERT_EQ(branch.size(), 1u);
  EXPECT_EQ(Num(items, "DTENTRAPUT", branch[0]), DateTime::FromDate(2026, 12, 9).days);
  EXPECT_EQ(Num(items, "QTSOLACOMP", branch[0]), 7);

  DataPacket regions = Get("GetRegiao");
  ASSERT_EQ(regions.RowCount(), 2u);
  EXPECT_EQ(At(regions, "NMREGIAO", 1), "Sul");
  EXPECT_EQ(At(regions, "CDPRODESTO", 1), "E2");
  DataPacket requests = Get("GetPai_ItmApurPrec");
  ASSERT_EQ(requests.RowCount(), 3u);
  EXPECT_EQ(At(requests, "NMFILIAL", 1), "Filial Vila Nova");
}

// Every method the contract lists is served by its object under that name and
// takes the arguments the contract lists: one too many is refused naming the
// count the screens must send.
TEST_F(MethodsTest, EveryMethodOfTheContractIsServedWithItsArguments) {
  auto check = [&](const char* object, const char* method, size_t count) {
    std::vector<CallArg> args(count + 1, ByVal(Value("x")));
    EXPECT_EQ(Failure(method, args, object), std::string(method) + " espera " +
                                                 std::to_string(count) + " argumentos, recebeu " +
                                                 std::to_string(count + 1) + ".");
  };
  using namespace contract;
  for (const auto* m : {&kGetProduto, &kGetDados, &kGetRegiao, &kGetProdItem, &kGetApurNeg,
                        &kGetPai_ItmApurPrec, &kGetItmApurPrec, &kDelApuracao, &kExcluiAF})
    check(kWorksheetObject, m->name, m->args.size());
  check(kWorksheetObject, kMelhorCotacao.name, kMelhorCotacao.args.size());
  check(kWorksheetObject, kAtuaPrecEco.name, kAtuaPrecEco.args.size());
  check(kWorksheetObject, kAtualiza_PrecoEco.name, kAtualiza_PrecoEco.args.size());
  check(kWorksheetObject, kGetVd_EfetivaAF.name, kGetVd_EfetivaAF.args.size());
  check(kWorksheetObject, kGera_AF.name, kGera_AF.args.size());
  check(kPurchasingObject, kGetParamCmp.name, kGetParamCmp.args.size());
  check(kSessionObject, kLogin.name, kLogin.args.size());
  for (const auto* m : {&kGetAutoForne, &kGetItmAutoForne, &kGetAFIncons})
    check(kAfAnalysisObject, m->name, m->args.size());
  for (const auto* m : {&kGetCotacao, &kGetEntregas}) {
    check(kNegotiationObject, m->name, m->args.size());
    check(kSpreadsheetObject, m->name, m->args.size());
  }
  for (const auto* m : {&kSimulaPreco, &kGravaPreco})
    check(kNegotiationObject, m->name, m->args.size());
}

TEST_F(MethodsTest, BadCallsAreRefusedWithTheReason) {
  EXPECT_NE(Failure("GetDados", {ByRef(Value("0001")), ByRef(Value("999"))}).find("999"),
            std::string::npos);
  EXPECT_NE(Failure("GetDados", {ByRef(Value("0002")), ByRef(Value("77"))}).find("0002"),
            std::string::npos);
  EXPECT_NE(Failure("GetDados", {ByRef(Value("0001"))}).find("2 argumentos"), std::string::npos);
  EXPECT_NE(Failure("GetDados", {ByRef(Value("0001")), ByRef(Value(2.5))}).find("argumento 2"),
            std::string::npos);
  EXPECT_NE(Failure("GetParamCmp", {ByRef(Value("9999")), ByVal(Value("PRQ"))}, kPurchasingObject)
                .find("9999"),
            std::string::npos);
  EXPECT_NE(Failure("MelhorCotacao", {ByRef(Value("0001")), ByRef(Value("77")), ByRef(Value("PRQ")),
                                      ByRef(Value("X"))})
                .find("\"X\""),
            std::string::npos);
  // Before the first load the worksheet releases an empty tally.
  EXPECT_TRUE(Call("DelApuracao", {ByRef(Value("0001")), ByRef(Value(""))}).IsNull());
}

TEST_F(MethodsTest, EconomicPricesFollowTheDocumentedFormula) {
  TallyDocument d = SmallTally("88", "0002");
  d.centre.monthlyRate = 0.01;
  d.negotiatedProducts[0].factor = 12;
  QuoteDoc& q = AddQuote(d, "N1", "C1", "F1", "M1", 100);
  q.freightRate = 0.05;
  q.paymentDays = 30;
  q.taxRate = 0.18;
  service_->Import(d);

  // 120 / 12 * 1.05 / 1.01 ^ (30 / 30), then net of 18 % tax.
  double econ = 120.0 / 12 * 1.05 / 1.01, econPi = econ * 0.82;
  Value answer = Call("AtuaPrecEco", {ByVal(Value("0002")), ByVal(Value("N1")), ByVal(Value("C1")),
                                      ByVal(Value("F1")), ByVal(Value("M1")), ByVal(Value("001")),
                                      ByVal(Value(120.0)), ByVal(Value("88"))});
  ASSERT_EQ(answer.AsArray().size(), 2u);
  EXPECT_NEAR(answer.AsArray()[0].AsFloat(), econ, 1e-12);
  EXPECT_NEAR(answer.AsArray()[1].AsFloat(), econPi, 1e-12);
  DataPacket lines = Get("GetApurNeg", "88", "0002");
  EXPECT_EQ(Num(lines, "VRPRECUNIAP", 0), 120);
  EXPECT_NEAR(Num(lines, "PRECOECON", 0), econ, 1e-12);
  EXPECT_NEAR(Num(lines, "PRODUNDIVFATCO", 0), 10, 1e-12);
  // The delivery rows read their prices from the quotation line.
  EXPECT_NEAR(Num(Get("GetDados", "88", "0002"), "VRPRECONPIAP", 0), econPi, 1e-12);

  // Recomputed from what is stored, whatever the stored economic price says.
  ExecRaw("UPDATE cotacao SET PRECOECON = 0, PRECOECONPI = 0");
  std::vector<CallArg> keys{ByVal(Value("0002")), ByVal(Value("N1")), ByVal(Value("C1")),
                            ByVal(Value("F1")),   ByVal(Value("M1")), ByVal(Value("001")),
                            ByVal(Value("88"))};
  Call("Atualiza_PrecoEco", keys);
  EXPECT_NEAR(Num(Get("GetApurNeg", "88", "0002"), "PRECOECONPI", 0), econPi, 1e-12);

  std::vector<CallArg> bad = keys;
  bad[3] = ByVal(Value("F9"));
  EXPECT_NE(Failure("Atualiza_PrecoEco", bad).find("F9"), std::string::npos);
  // An empty quotation list sends empty keys: nothing to do.
  std::vector<CallArg> empty(7, ByVal(Value("")));
  empty[0] = ByVal(Value("0002"));
  empty[6] = ByVal(Value("88"));
  Call("Atualiza_PrecoEco", empty);
  EXPECT_NE(Failure("AtuaPrecEco", {ByVal(Value("0002")), ByVal(Value("N1")), ByVal(Value("C1")),
                                    ByVal(Value("F1")), ByVal(Value("M1")), ByVal(Value("001")),
                                    ByVal(Value(0.0)), ByVal(Value("88"))})
                .find("maior que zero"),
            std::string::npos);
}

// Two server processes over one database file: the second one's write is seen by
// the first one's next read, although the first holds the tally loaded.
TEST_F(MethodsTest, ALoadedTallyFollowsWritesOfAnotherServer) {
  EXPECT_EQ(RowsWhere(Get("GetItmApurPrec"), "IDITMSELAPUR", "S").size(), 0u);
  auto otherStorage = OpenAnotherStorage();
  TallyService other(*otherStorage);
  other.MelhorCotacao("0001", "77", "PRQ", "F");
  EXPECT_EQ(RowsWhere(Get("GetItmApurPrec"), "IDITMSELAPUR", "S").size(), 3u);
}

// After a write the server keeps the model it derived instead of reading the
// tally back; it must answer exactly what a fresh read of storage gives.
TEST_F(MethodsTest, ModelKeptAfterAWriteMatchesStorage) {
  auto same = [&](const char* method) {
    auto freshStorage = OpenAnotherStorage();
    TallyService fresh(*freshStorage);
    auto pick = [&](TallyService& s) {
      auto m = s.Model("0001", "77");
      std::string name = method;
      return name == "GetItmApurPrec" ? ItmApurPrecPacket(*m)
             : name == "GetDados"     ? DadosPacket(*m)
             : name == "GetApurNeg"   ? ApurNegPacket(*m)
                                      : ProdItemPacket(*m);
    };
    DataPacket kept = pick(*service_), read = pick(fresh);
    ASSERT_EQ(kept.RowCount(), read.RowCount()) << method;
    for (size_t c = 0; c < kept.fields().size(); ++c) {
      for (size_t r = 0; r < kept.RowCount(); ++r) {
        EXPECT_TRUE(kept.Cell(c, r) == read.Cell(c, r))
            << method << " " << kept.fields()[c].name << " row " << r;
      }
    }
  };
  Get("GetItmApurPrec");  // loaded before the writes
  Call("MelhorCotacao",
       {ByRef(Value("0001")), ByRef(Value("77")), ByRef(Value("PRQ")), ByRef(Value("F"))});
  Call("AtuaPrecEco",
       {ByVal(Value("0001")), ByVal(Value("N1")), ByVal(Value("C1")), ByVal(Value("F2")),
        ByVal(Value("M2")), ByVal(Value("001")), ByVal(Value(9.0)), ByVal(Value("77"))});
  for (const char* m : {"GetItmApurPrec", "GetDados", "GetApurNeg", "GetProdItem"}) same(m);
  EXPECT_EQ(Num(Get("GetApurNeg"), "VRPRECUNIAP", 1), 9);
}

TEST_F(MethodsTest, AFileThatIsNoDatabaseIsNamed) {
  auto path = dir_ / "notes.txt";
  {
    std::ofstream out(path);
    for (int i = 0; i < 20; ++i) out << "this is no database, only some notes\n";
  }
  try {
    SqliteStorage storage(path.string());
    FAIL() << "opened a text file as the database";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace apura::server::testing
