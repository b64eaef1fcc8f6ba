// After the best-quote tally the worksheet reloads quotation lines, product
// items and delivery rows separately; they must tell one story, and the same
// story whether the server answers from memory or from its database.

#include <map>
#include <set>

#include "server/exchange/demo.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

class TallyConsistencyTest : public ServerTest {
 protected:
  void Importa(const DemoOptions& o) {
    opts_ = o;
    service_->Import(GenerateDemo(o));
  }
  void Apura() {
    Call("MelhorCotacao", {ByRef(Value(opts_.centre)), ByRef(Value(opts_.tally)),
                           ByRef(Value("PRQ")), ByRef(Value("F"))});
  }
  DataPacket Le(const std::string& method) { return Get(method, opts_.tally, opts_.centre); }

  static std::string Chave(const DataPacket& p, size_t r) {
    return At(p, "CDPRODITMAP", r) + "|" + At(p, "CDREGITMAP", r) + "|" + At(p, "CDFORNITMAP", r) +
           "|" + At(p, "CDMARCITMAP", r) + "|" + At(p, "NRCOLEITMAP", r);
  }

  // The three views of the choice agree with the delivery rows.
  void EsperaCoerente() {
    const DataPacket dados = Le("GetDados"), itm = Le("GetItmApurPrec"), apur = Le("GetApurNeg"),
                     itens = Le("GetProdItem");
    std::map<std::string, double> qtEscolhida;
    std::set<std::string> itemEscolhido;
    std::map<std::string, std::string> entregaDados;
    for (size_t r = 0; r < dados.RowCount(); ++r) {
      const std::string entrega = Chave(dados, r) + "|" + At(dados, "CDFILIAP", r) + "|" +
                                  std::to_string(Num(dados, "DTENTRAPUT", r));
      entregaDados[entrega] =
          At(dados, "IDITMSELAPUR", r) + "/" + std::to_string(Num(dados, "QTACOMP", r));
      if (At(dados, "IDITMSELAPUR", r) != "S") continue;
      qtEscolhida[Chave(dados, r)] += Num(dados, "QTACOMP", r);
      itemEscolhido.insert(At(dados, "CDPRODITMAP", r) + "|" + At(dados, "CDREGITMAP", r));
    }
    ASSERT_FALSE(qtEscolhida.empty()) << "the tally chose nothing";

    // "por Entrega" shows the rows the delivery data holds.
    ASSERT_EQ(itm.RowCount(), dados.RowCount());
    for (size_t r = 0; r < itm.RowCount(); ++r) {
      const std::string entrega = Chave(itm, r) + "|" + At(itm, "CDFILIAP", r) + "|" +
                                  std::to_string(Num(itm, "DTENTRAPUT", r));
      EXPECT_EQ(At(itm, "IDITMSELAPUR", r) + "/" + std::to_string(Num(itm, "QTACOMP", r)),
                entregaDados[entrega])
          << entrega;
    }

    // "Cotação": a line is chosen with what its deliveries add up to, one a
    // product and region.
    std::map<std::string, int> linhasPorItem;
    for (size_t r = 0; r < apur.RowCount(); ++r) {
      const std::string k = Chave(apur, r);
      const bool escolhida = qtEscolhida.count(k) > 0;
      EXPECT_EQ(At(apur, "IDITMSELAPUR", r), escolhida ? "S" : "N") << k;
      EXPECT_DOUBLE_EQ(Num(apur, "QTACOMP", r), escolhida ? qtEscolhida[k] : 0) << k;
      if (escolhida) ++linhasPorItem[At(apur, "CDPRODITMAP", r) + "|" + At(apur, "CDREGITMAP", r)];
    }
    for (const auto& [item, n] : linhasPorItem) EXPECT_EQ(n, 1) << item;

    // "Produtos": an item is chosen while any of its deliveries is.
    for (size_t r = 0; r < itens.RowCount(); ++r) {
      const std::string k = At(itens, "CDPRODITMAP", r) + "|" + At(itens, "CDREGITMAP", r);
      EXPECT_EQ(At(itens, "IDITMSELAPUR", r), itemEscolhido.count(k) ? "S" : "N") << k;
    }
  }

  DemoOptions opts_;
};

TEST_F(TallyConsistencyTest, QuotationLinesItemsAndDeliveriesAgreeAfterTheTally) {
  for (const char* consolida : {"N", "S"}) {
    SCOPED_TRACE(consolida);
    DemoOptions o;
    o.stockProducts = 6;
    o.tally = consolida[0] == 'N' ? "501" : "502";
    o.centre = consolida[0] == 'N' ? "0001" : "0002";
    TallyDocument d = GenerateDemo(o);
    d.centre.IDCONSPRSOL = consolida;
    opts_ = o;
    service_->Import(d);
    Apura();
    EsperaCoerente();
  }
}

TEST_F(TallyConsistencyTest, TheStoredTallyAnswersWhatTheServerAnsweredFromMemory) {
  DemoOptions o;
  o.stockProducts = 5;
  Importa(o);
  Apura();
  const DataPacket antes[] = {Le("GetApurNeg"), Le("GetProdItem"), Le("GetDados"),
                              Le("GetItmApurPrec")};
  // A server started afresh on the same database.
  auto fresh = std::make_unique<TallyService>(*storage_);
  RegisterServerObjects(registry_, *fresh, *sessions_);  // replaces the objects by name
  service_ = std::move(fresh);
  const DataPacket depois[] = {Le("GetApurNeg"), Le("GetProdItem"), Le("GetDados"),
                               Le("GetItmApurPrec")};
  for (size_t t = 0; t < std::size(antes); ++t) {
    ASSERT_EQ(antes[t].RowCount(), depois[t].RowCount()) << t;
    ASSERT_EQ(antes[t].fields(), depois[t].fields()) << t;
    for (size_t c = 0; c < antes[t].fields().size(); ++c)
      for (size_t r = 0; r < antes[t].RowCount(); ++r)
        ASSERT_EQ(antes[t].Cell(c, r).ToText(), depois[t].Cell(c, r).ToText())
            << antes[t].fields()[c].name << " row " << r;
  }
  EsperaCoerente();

  // A second tally on the same data chooses the same.
  Apura();
  const DataPacket again = Le("GetApurNeg");
  for (size_t r = 0; r < again.RowCount(); ++r)
    EXPECT_EQ(At(again, "IDITMSELAPUR", r), At(antes[0], "IDITMSELAPUR", r)) << r;
}

TEST_F(TallyConsistencyTest, TheJointDeliveryAnswerIsBothDeliveryPacketsInOne) {
  DemoOptions o;
  o.stockProducts = 4;
  Importa(o);
  for (bool tallied : {false, true}) {
    SCOPED_TRACE(tallied ? "tallied" : "as imported");
    if (tallied) Apura();
    const DataPacket both = Le("GetDados_ItmApurPrec");
    for (const char* method : {"GetDados", "GetItmApurPrec"}) {
      SCOPED_TRACE(method);
      const DataPacket one = Le(method);
      ASSERT_EQ(both.RowCount(), one.RowCount());
      for (size_t c = 0; c < one.fields().size(); ++c) {
        const int k = both.FieldIndex(one.fields()[c].name);
        ASSERT_GE(k, 0) << one.fields()[c].name;
        EXPECT_EQ(both.fields()[size_t(k)], one.fields()[c]);
        for (size_t r = 0; r < one.RowCount(); ++r)
          ASSERT_EQ(both.Cell(size_t(k), r).ToText(), one.Cell(c, r).ToText())
              << one.fields()[c].name << " row " << r;
      }
    }
  }
}

}  // namespace
}  // namespace apura::server::testing
