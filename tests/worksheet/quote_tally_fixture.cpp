#include "quote_tally_fixture.h"

#include <algorithm>
#include <cmath>

namespace apura::testing {

std::string Linha::CDFORNITMAP() const {
  return "FORN0" + std::to_string(fornecedor + 1);
}
std::string Linha::CDMARCITMAP() const {
  std::string m = "M";
  m += std::to_string(fornecedor + 1);
  return m;
}
std::string Linha::NRCOLEITMAP() const {
  return std::to_string(7000 + fornecedor);
}

namespace {

bool DaLinha(const Row& r, const Linha& l) {
  return Text(r, "CDPRODITMAP") == l.item && Text(r, "CDREGITMAP") == l.regiao &&
         Text(r, "CDFORNITMAP") == l.CDFORNITMAP();
}

}  // namespace

void QuoteTallyTest::SemEscolhas() {
  for (Row& r : tally.apurNeg) {
    r["IDITMSELAPUR"] = Value("N");
    r["QTACOMP"] = Value(0.0);
  }
  for (Row& r : tally.prodItem) r["IDITMSELAPUR"] = Value("N");
  // The extra late deliveries belong to the line the generator chose.
  auto late = [](const Row& r) {
    const double d = r.at("DTENTRAPUT").AsDate().days;
    return d != std::floor(d);
  };
  std::erase_if(tally.itm, late);
  std::erase_if(tally.dados, late);
  for (auto* rows : {&tally.itm, &tally.dados})
    for (Row& r : *rows) r["IDITMSELAPUR"] = Value("N");
}

void QuoteTallyTest::EscolheNoModelo(const Linha& l, const std::vector<std::string>& filiais) {
  auto naLista = [&](const Row& r) {
    return filiais.empty() ||
           std::find(filiais.begin(), filiais.end(), Text(r, "CDFILIAP")) != filiais.end();
  };
  double total = 0;
  for (auto* rows : {&tally.itm, &tally.dados})
    for (Row& r : *rows)
      if (DaLinha(r, l) && naLista(r)) {
        r["IDITMSELAPUR"] = Value("S");
        r["QTACOMP"] = r["QTSOLACOMP"];
        if (rows == &tally.dados) total += r["QTSOLACOMP"].AsFloat();
      }
  for (Row& r : tally.apurNeg)
    if (DaLinha(r, l)) {
      r["IDITMSELAPUR"] = Value("S");
      r["QTACOMP"] = Value(total);
    }
  for (Row& r : tally.prodItem)
    if (Text(r, "CDPRODITMAP") == l.item && Text(r, "CDREGITMAP") == l.regiao)
      r["IDITMSELAPUR"] = Value("S");
}

void QuoteTallyTest::Parametro(const std::string& campo, const std::string& valor) {
  tally.paraSupri.at(0)[campo] = Value(valor);
}

TfrmPlanApurNegGrid& QuoteTallyTest::Abre() {
  ScriptTally();
  server.Handle("MelhorCotacao", [](const test::RecordedCall&) { return ResultOk(Value()); });
  TfrmPlanApurNegGrid& f = Launch();
  f.Activate();
  f.mnuGeralClick(f.mnuGeral);
  f.dbgFornecedor.SetSelectedField("VRPRECUNIAP");
  host.ClearRecords();
  return f;
}

std::string QuoteTallyTest::CDPRODESTO(const std::string& item) const {
  for (const Row& r : tally.prodItem)
    if (Text(r, "CDPRODITMAP") == item) return Text(r, "CDPRODESTO");
  ADD_FAILURE() << "no item " << item;
  return {};
}

void QuoteTallyTest::VaiPara(const Linha& l) {
  TfrmPlanApurNegGrid& f = form();
  EXPECT_TRUE(f.cdsProduto.Locate("CDPRODUTO", Value(CDPRODESTO(l.item))));
  EXPECT_TRUE(f.cdsRegiao.Locate("CDREGITMAP", Value(l.regiao))) << l.regiao;
  EXPECT_TRUE(f.cdsProdItem.Locate("CDPRODITMAP", Value(l.item))) << l.item;
  EXPECT_TRUE(f.cdsApurNeg.Locate("CDFORNITMAP", Value(l.CDFORNITMAP())));
  EXPECT_EQ(Current(f.cdsApurNeg, "CDPRODITMAP;CDREGITMAP;CDFORNITMAP"),
            l.item + "|" + l.regiao + "|" + l.CDFORNITMAP());
}

int QuoteTallyTest::Espaco() {
  return Tecla(VK_SPACE);
}

int QuoteTallyTest::Tecla(int key, TShiftState shift) {
  TfrmPlanApurNegGrid& f = form();
  f.dbgFornecedorKeyDown(f.dbgFornecedor, key, shift);
  return key;
}

char32_t QuoteTallyTest::Caractere(char32_t ch) {
  TfrmPlanApurNegGrid& f = form();
  f.dbgFornecedorKeyPress(f.dbgFornecedor, ch);
  return ch;
}

std::vector<QuoteTallyTest::Entrega> QuoteTallyTest::Entregas(TClientDataSet& t, const Linha& l) {
  const DataPacket p = t.Data();
  auto col = [&](const char* n) { return p.FieldIndex(n); };
  const int prod = col("CDPRODITMAP"), reg = col("CDREGITMAP"), forn = col("CDFORNITMAP"),
            fil = col("CDFILIAP"), sel = col("IDITMSELAPUR"), qt = col("QTACOMP"),
            sol = col("QTSOLACOMP"), mot = col("IDMOTIVPRESC"), just = col("TXOBESCMANAP");
  std::vector<Entrega> out;
  for (size_t r = 0; r < p.RowCount(); ++r) {
    if (p.Text(size_t(prod), r) != l.item || p.Text(size_t(reg), r) != l.regiao ||
        p.Text(size_t(forn), r) != l.CDFORNITMAP())
      continue;
    Entrega e;
    e.filial = std::string(p.Text(size_t(fil), r));
    e.sel = std::string(p.Text(size_t(sel), r));
    e.qt = p.Number(size_t(qt), r);
    e.sol = p.Number(size_t(sol), r);
    if (mot >= 0) e.motivo = std::string(p.Text(size_t(mot), r));
    if (just >= 0) e.just = std::string(p.Text(size_t(just), r));
    out.push_back(std::move(e));
  }
  return out;
}

std::string QuoteTallyTest::SelDaLinha(const Linha& l) {
  const DataPacket p = form().cdsApurNeg.Data();
  for (size_t r = 0; r < p.RowCount(); ++r)
    if (p.Text(size_t(p.FieldIndex("CDPRODITMAP")), r) == l.item &&
        p.Text(size_t(p.FieldIndex("CDREGITMAP")), r) == l.regiao &&
        p.Text(size_t(p.FieldIndex("CDFORNITMAP")), r) == l.CDFORNITMAP())
      return std::string(p.Text(size_t(p.FieldIndex("IDITMSELAPUR")), r));
  ADD_FAILURE() << "no line " << l.item << "/" << l.regiao << "/" << l.CDFORNITMAP();
  return {};
}

double QuoteTallyTest::QtDaLinha(const Linha& l) {
  const DataPacket p = form().cdsApurNeg.Data();
  for (size_t r = 0; r < p.RowCount(); ++r)
    if (p.Text(size_t(p.FieldIndex("CDPRODITMAP")), r) == l.item &&
        p.Text(size_t(p.FieldIndex("CDREGITMAP")), r) == l.regiao &&
        p.Text(size_t(p.FieldIndex("CDFORNITMAP")), r) == l.CDFORNITMAP())
      return p.Number(size_t(p.FieldIndex("QTACOMP")), r);
  ADD_FAILURE() << "no line";
  return -1;
}

std::string QuoteTallyTest::SelDoItem(const std::string& item, const std::string& regiao) {
  const DataPacket p = form().cdsProdItem.Data();
  for (size_t r = 0; r < p.RowCount(); ++r)
    if (p.Text(size_t(p.FieldIndex("CDPRODITMAP")), r) == item &&
        p.Text(size_t(p.FieldIndex("CDREGITMAP")), r) == regiao)
      return std::string(p.Text(size_t(p.FieldIndex("IDITMSELAPUR")), r));
  ADD_FAILURE() << "no item " << item << "/" << regiao;
  return {};
}

void QuoteTallyTest::EsperaNadaPendente() {
  TfrmPlanApurNegGrid& f = form();
  for (TClientDataSet* t : {&f.cdsProduto, &f.cdsRegiao, &f.cdsProdItem, &f.cdsApurNeg,
                            &f.cdsPai_ItmApurPrec, &f.cdsItmApurPrec}) {
    EXPECT_FALSE(t->ControlsDisabled()) << t->Name;
    EXPECT_EQ(t->State(), TDataSetState::dsBrowse) << t->Name;
  }
  EXPECT_EQ(f.dbgFornecedor.Tag, 0);
  EXPECT_EQ(f.cdsItmApurPrec.Tag, 0);
  EXPECT_EQ(f.cdsDados.Filter(), "");
  EXPECT_FALSE(f.cdsDados.Filtered());
  EXPECT_EQ(f.cdsItmApurPrec.Filter(), "");
  EXPECT_EQ(f.cdsApurNeg.Filter(), "");
}

}  // namespace apura::testing
