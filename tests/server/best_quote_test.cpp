// MelhorCotacao on hand-made tallies: who wins, what gets marked, and why.

#include "server_fixture.h"

namespace apura::server::testing {
namespace {

class BestQuoteTest : public ServerTest {
 protected:
  void Tally(const std::string& number = "77", const std::string& centre = "0001") {
    Call("MelhorCotacao",
         {ByRef(Value(centre)), ByRef(Value(number)), ByRef(Value("PRQ")), ByRef(Value("F"))});
  }
  // Supplier and brand of the chosen quotation lines of a product, "F1/M2 F3/M1".
  std::string Chosen(const std::string& product, const std::string& number = "77",
                     const std::string& centre = "0001") {
    DataPacket lines = Get("GetApurNeg", number, centre);
    std::string out;
    for (size_t r : RowsWhere(lines, "IDITMSELAPUR", "S")) {
      if (At(lines, "CDPRODITMAP", r) != product) continue;
      if (!out.empty()) out += " ";
      out += At(lines, "NRCOLEITMAP", r) + "/" + At(lines, "CDFORNITMAP", r) + "/" +
             At(lines, "CDMARCITMAP", r);
    }
    return out;
  }
};

TEST_F(BestQuoteTest, CheapestPricedLineWinsAndTiesGoByCollectionSupplierBrand) {
  TallyDocument d = SmallTally();
  AddQuote(d, "N1", "C2", "F1", "M1", 9.5);
  AddQuote(d, "N1", "C1", "F1", "M1", 0);  // unanswered: never chosen
  AddQuote(d, "N1", "C1", "F3", "M1", 10);
  AddQuote(d, "N1", "C1", "F2", "M2", 9.5);
  AddQuote(d, "N1", "C1", "F2", "M1", 9.5);
  service_->Import(d);
  Tally();
  EXPECT_EQ(Chosen("N1"), "C1/F2/M1");

  DataPacket lines = Get("GetApurNeg");
  size_t chosen = RowsWhere(lines, "IDITMSELAPUR", "S").at(0);
  EXPECT_EQ(Num(lines, "QTACOMP", chosen), 30);  // both branches' requests
  DataPacket items = Get("GetItmApurPrec");
  auto selected = RowsWhere(items, "IDITMSELAPUR", "S");
  ASSERT_EQ(selected.size(), 2u);
  for (size_t r : selected) {
    EXPECT_EQ(At(items, "CDFORNITMAP", r), "F2");
    EXPECT_EQ(Num(items, "QTACOMP", r), Num(items, "QTSOLACOMP", r));
    EXPECT_EQ(At(items, "IDMOTIVPRESC", r), "00002");  // quotation outside a price list
  }
  EXPECT_EQ(RowsWhere(Get("GetDados"), "IDITMSELAPUR", "S").size(), 2u);
  EXPECT_EQ(At(Get("GetProdItem"), "IDITMSELAPUR", 0), "S");
}

TEST_F(BestQuoteTest, EachTallyTypeRanksByItsPrice) {
  // Unit price, economic price (with freight) and PI price (net of tax) each
  // name a different winner.
  const char* types[] = {"0", "1", "2"};
  const char* winners[] = {"C1/F1/M1", "C1/F2/M1", "C1/F3/M1"};
  for (int t = 0; t < 3; ++t) {
    std::string number = std::to_string(80 + t), centre = "000" + std::to_string(t + 1);
    TallyDocument d = SmallTally(number, centre);
    d.centre.IDTIPOAPUR = types[t];
    QuoteDoc& a = AddQuote(d, "N1", "C1", "F1", "M1", 10);  // econ 12, PI 6
    a.freightRate = 0.2;
    a.taxRate = 0.5;
    AddQuote(d, "N1", "C1", "F2", "M1", 11);                  // econ 11, PI 11
    QuoteDoc& c = AddQuote(d, "N1", "C1", "F3", "M1", 10.5);  // econ 11.55, PI 4.62
    c.freightRate = 0.1;
    c.taxRate = 0.6;
    service_->Import(d);
    Tally(number, centre);
    EXPECT_EQ(Chosen("N1", number, centre), winners[t]) << "IDTIPOAPUR " << types[t];
  }
}

TEST_F(BestQuoteTest, NegotiatedProductsOfOneStockProductCompetePerStockUnit) {
  for (const char* consider : {"N", "S"}) {
    std::string number = consider[0] == 'N' ? "90" : "91";
    std::string centre = consider[0] == 'N' ? "0001" : "0002";
    TallyDocument d = SmallTally(number, centre);
    d.centre.IDCONSPRSOL = consider;
    d.negotiatedProducts.push_back({"N2", "E1", "1.01.02", "Arroz Tipo 1 Fardo 10 kg", "FD", 10});
    d.requests.push_back({"N2", "001", "0101", DateTime::FromDate(2026, 12, 5), 1});
    d.requests.push_back({"N2", "001", "0102", DateTime::FromDate(2026, 12, 5), 2});
    AddQuote(d, "N1", "C1", "F1", "M1", 5);   // 5.00 a kilo
    AddQuote(d, "N2", "C1", "F2", "M1", 45);  // 4.50 a kilo: the cheaper stock unit
    AddQuote(d, "N2", "C1", "F3", "M1", 47);
    service_->Import(d);
    Tally(number, centre);
    if (consider[0] == 'N') {
      EXPECT_EQ(Chosen("N1", number, centre), "");
      EXPECT_EQ(Chosen("N2", number, centre), "C1/F2/M1");
      DataPacket items = Get("GetProdItem", number, centre);
      EXPECT_EQ(At(items, "IDITMSELAPUR", RowsWhere(items, "CDPRODITMAP", "N1").at(0)), "N");
      EXPECT_EQ(At(items, "IDITMSELAPUR", RowsWhere(items, "CDPRODITMAP", "N2").at(0)), "S");
    } else {
      EXPECT_EQ(Chosen("N1", number, centre), "C1/F1/M1");
      EXPECT_EQ(Chosen("N2", number, centre), "C1/F2/M1");
    }
  }
}

TEST_F(BestQuoteTest, PreferredProductAndRulesDecideAndLeaveTheirReason) {
  TallyDocument d = SmallTally();
  d.negotiatedProducts[0].preferred = true;
  d.negotiatedProducts.push_back({"N2", "E1", "1.01.02", "Arroz Tipo 1 Fardo 10 kg", "FD", 10});
  d.requests.push_back({"N2", "001", "0101", DateTime::FromDate(2026, 12, 5), 1});
  AddQuote(d, "N1", "C1", "F1", "M1", 5);
  AddQuote(d, "N1", "C1", "F3", "M2", 6).priceList = true;
  AddQuote(d, "N2", "C1", "F2", "M1", 40);   // cheaper a kilo, but N1 is preferred
  d.rules.push_back({"N1", "F3", "", "O"});  // F3 is obligatory for N1
  d.rules.push_back({"N1", "", "M2", "P"});
  service_->Import(d);
  Tally();
  EXPECT_EQ(Chosen("N1"), "C1/F3/M2");
  EXPECT_EQ(Chosen("N2"), "");
  DataPacket items = Get("GetItmApurPrec");
  auto selected = RowsWhere(items, "IDITMSELAPUR", "S");
  ASSERT_EQ(selected.size(), 2u);
  // Preferred product, obligatory supplier, preferential brand, price list.
  EXPECT_EQ(At(items, "IDMOTIVPRESC", selected[0]), "10421");
}

TEST_F(BestQuoteTest, EarlierSelectionsAreClearedFirst) {
  TallyDocument d = SmallTally();
  AddQuote(d, "N1", "C1", "F1", "M1", 5);
  AddQuote(d, "N1", "C1", "F2", "M1", 6);
  AddQuote(d, "N1", "C1", "F3", "M1", 7);
  service_->Import(d);
  // The buyer had chosen the dearer line by hand.
  auto model = service_->Model("0001", "77");
  std::vector<ItemUpdate> manual;
  for (const Item& it : model->items) {
    if (model->quotes[it.quote].CDFORNITMAP == "F2") {
      manual.push_back({it.id, true, 1, "", "escolha do comprador"});
    } else if (model->quotes[it.quote].CDFORNITMAP == "F3") {
      // Left out with a quantity and reason of its own: cleared all the same.
      manual.push_back({it.id, false, 0.5, "P", ""});
    }
  }
  {
    auto s = storage_->OpenSession();
    Transaction tx(*s, true);
    s->UpdateItems(manual);
    s->BumpVersion("77", Change::Choices);
    tx.Commit();
  }
  EXPECT_EQ(Chosen("N1"), "C1/F2/M1");
  Tally();
  EXPECT_EQ(Chosen("N1"), "C1/F1/M1");
  DataPacket dados = Get("GetDados");
  for (size_t r : RowsWhere(dados, "CDFORNITMAP", "F2")) {
    EXPECT_EQ(At(dados, "IDITMSELAPUR", r), "N");
    EXPECT_EQ(Num(dados, "QTACOMP", r), Num(dados, "QTSOLACOMP", r));
  }
  // What is stored, read by a server that kept nothing: the justification
  // typed for a row stays with it, chosen or not.
  auto other = OpenAnotherStorage();
  auto stored = TallyService(*other).Model("0001", "77");
  size_t chosen = 0;
  for (const Item& it : stored->items) {
    const bool cheaper = stored->quotes[it.quote].CDFORNITMAP == "F1";
    EXPECT_EQ(it.selected, cheaper);
    EXPECT_EQ(it.QTACOMP, stored->requests[it.request].QTSOLACOMP);
    const bool byHand = stored->quotes[it.quote].CDFORNITMAP == "F2";
    EXPECT_EQ(it.TXOBESCMANAP, byHand ? "escolha do comprador" : "");
    if (!cheaper) {
      EXPECT_EQ(it.IDMOTIVPRESC, "");
    }
    chosen += it.selected;
  }
  EXPECT_GT(chosen, 0u);
  // Chosen again as it was: the same stored state, one version on.
  const int64_t version = stored->header.version;
  Tally();
  auto again = TallyService(*OpenAnotherStorage()).Model("0001", "77");
  EXPECT_EQ(again->header.version, version + 1);
  for (size_t i = 0; i < again->items.size(); ++i) {
    EXPECT_EQ(again->items[i].selected, stored->items[i].selected);
    EXPECT_EQ(again->items[i].IDMOTIVPRESC, stored->items[i].IDMOTIVPRESC);
  }
}

}  // namespace
}  // namespace apura::server::testing
