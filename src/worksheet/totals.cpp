// The totals panels: chosen values and quantities of the supplier, product,
// region and branch under the cursors, worked out over the worksheet's own
// current rows, choices not yet sent included.

#include "framework/names.h"
#include "worksheet/form.h"
#include "worksheet/markers.h"

namespace apura::worksheet {

namespace {

constexpr const char* kValor = "#,##0.00000";
constexpr const char* kContagem = "0";

bool ModuloSuprimentos() {
  const int m = ModuloAtiv();
  return m == 34 || m == 77;
}

std::string Texto(const TClientDataSet& table, const char* field) {
  return table.Active() && !table.IsEmpty() ? table.FieldByName(field).AsString() : std::string();
}

}  // namespace

void TfrmPlanApurNegGrid::SetupTotais() {
  // The grids of "Cotação" live in the scroll boxes; the totals panel comes
  // last, under them.
  dbgRegiao.SetParent(&scbRegiao);
  dbgProduto.SetParent(&scbGeral);
  dbgFornecedor.SetParent(&scbGeral);
  panFiltro.SetParent(nullptr);
  panFiltro.SetParent(&tshGeral);
  panFilt_Entrega.SetParent(nullptr);
  panFilt_Entrega.SetParent(&tshPadrao);

  grbVrForn.SetCaption("Valor Total Apurado do Fornecedor");
  lblVrForn.SetCaption("Geral");
  lblRegForn.SetCaption("na Região");
  grbQtTotForn.SetCaption("Qtde. Total Apurada do Produto");
  lblQtTotForn.SetCaption("por Fornecedor");
  grbVrTotProd.SetCaption("Valor Total Apurado do Produto");
  lblVrTotProdGer.SetCaption("Geral");
  lblVrTotFornProd.SetCaption("por Fornecedor");
  grbNumProd.SetCaption("Nº de Produtos Apurados");
  lblNumFornProd.SetCaption("por Fornecedor");
  lblNumRegProd.SetCaption("por Região");
  grbVrTotReg.SetCaption("Valor Total Apurado ");
  lblVrTotReg.SetCaption("da Região");

  grbVrTotFil.SetCaption("Valor Total  da Filial");
  lblVrTotFil_Ger.SetCaption("Geral");
  lblVrTotFil_Prod.SetCaption("por Produto");
  grbQtTotFil.SetCaption("Qtde. Total da Filial");
  lblQtTotFil_Prod.SetCaption("por Produto");
  grbVrTotRegEnt.SetCaption("Valor Total da Região");

  for (TNumberEdit* e :
       {&nedVrForn, &nedRegForn, &nedQtTotForn, &nedVrTotProdGer, &nedVrTotFornProd, &nedVrTotReg,
        &nedVrTotFil_Ger, &nedVrTotFil_Prod, &nedQtTotFil_Prod, &edtVrTotReg}) {
    e->SetDisplayFormat(kValor);
    e->SetReadOnly(true);
  }
  for (TNumberEdit* e : {&nedNumFornProd, &nedNumRegProd}) {
    e->SetDisplayFormat(kContagem);
    e->SetReadOnly(true);
  }
}

void TfrmPlanApurNegGrid::sbtTotaisClick(TComponent&) {
  sbtTotais.SetDown(sbtTotais.Down());

  auto comandoAF = [this](bool mostrando) {
    const int tag = mostrando ? kTagBloqueioAF : 0;
    mnuGerarAF.Tag = tag;
    sbtGerarAF.Tag = tag;
    mnuGerarAF.SetEnabled(!mostrando);
    sbtGerarAF.SetEnabled(!mostrando);
  };

  if (pgcPadrao.ActivePage() == &tshGeral) {
    panFiltro.SetVisible(!panFiltro.Visible());
    Repaint();
    const bool mostrando = panFiltro.Visible();
    // The focus leaves the grids before they are disabled, so it does not
    // wander onto a neighbouring grid (and its handlers) on the way.
    if (mostrando && panFiltro.CanFocus()) panFiltro.SetFocus();
    tshPadrao.SetEnabled(!mostrando);
    tshProduto.SetEnabled(!mostrando);
    mnuPadrao.SetEnabled(!mostrando);
    scbGeral.SetEnabled(!mostrando);
    scbRegiao.SetEnabled(!mostrando);
    comandoAF(mostrando);
    if (mostrando)
      Totais_Apurados(true);
    else if (ActiveControl() == &panFiltro && dbgFornecedor.CanFocus())
      dbgFornecedor.SetFocus();
    dtsAtivo = mostrando && ModuloSuprimentos() ? nullptr : &dtsApurNeg;
  } else if (pgcPadrao.ActivePage() == &tshPadrao) {
    panFilt_Entrega.SetVisible(!panFilt_Entrega.Visible());
    Repaint();
    const bool mostrando = panFilt_Entrega.Visible();
    if (mostrando && panFilt_Entrega.CanFocus()) panFilt_Entrega.SetFocus();
    tshProduto.SetEnabled(!mostrando);
    tshGeral.SetEnabled(!mostrando);
    mnuGeral.SetEnabled(!mostrando);
    dbgCot_Filial.SetEnabled(!mostrando);
    dbgPadrao.SetEnabled(!mostrando);
    comandoAF(mostrando);
    if (mostrando)
      Totais_Apurados(false);
    else if (dbgCot_Filial.CanFocus())
      dbgCot_Filial.SetFocus();
    dtsAtivo = mostrando ? nullptr : &dtsPadrao;
  }
}

void TfrmPlanApurNegGrid::mnuTotaisClick(TComponent&) {
  // The handler, not the button's click: a grouped button's click toggles
  // its pressed look already, and the inversion below would undo it.
  sbtTotaisClick(sbtTotais);
  sbtTotais.SetDown(!sbtTotais.Down());
}

void TfrmPlanApurNegGrid::Totais_Apurados(bool boGeral) {
  struct Lote {
    TfrmPlanApurNegGrid& f;
    explicit Lote(TfrmPlanApurNegGrid& form) : f(form) {
      f.boTotaisEmLote = true;
      f.boAuxApurNegCopiada = f.boAuxItmApurPrecCopiada = false;
    }
    ~Lote() { f.boTotaisEmLote = f.boAuxApurNegCopiada = f.boAuxItmApurPrecCopiada = false; }
  } lote(*this);
  if (boGeral) {
    nedVrTotReg.SetNumber(Monta_Totais('3'));
    nedVrForn.SetNumber(Monta_Totais('4'));
    nedRegForn.SetNumber(Monta_Totais('5'));
    nedQtTotForn.SetNumber(Monta_Totais('1'));
    nedVrTotFornProd.SetNumber(Monta_Totais('6'));
    nedVrTotProdGer.SetNumber(Monta_Totais('7'));
    nedNumFornProd.SetNumber(Monta_Totais('A'));
    nedNumRegProd.SetNumber(Monta_Totais('B'));
  } else {
    edtVrTotReg.SetNumber(Monta_Totais('3'));
    nedVrTotFil_Ger.SetNumber(Monta_Totais('8'));
    nedVrTotFil_Prod.SetNumber(Monta_Totais('9'));
    nedQtTotFil_Prod.SetNumber(Monta_Totais('2'));
  }
}

double TfrmPlanApurNegGrid::Monta_Totais(char chTipo) {
  const std::string produto = Texto(cdsApurNeg, "CDPRODITMAP");
  const std::string fornecedor = Texto(cdsApurNeg, "CDFORNITMAP");
  const std::string regiao = Texto(cdsApurNeg, "CDREGITMAP");
  const std::string filial = Texto(cdsPai_ItmApurPrec, "CDFILIAP");
  // Values go into the filter as quoted literals, so a code holding a quote
  // filters on itself instead of breaking the expression.
  auto q = [](const std::string& v) { return QuotedStr(v); };
  const std::string sel = "[IDITMSELAPUR] = 'S' and ";

  enum class Soma { Quantidade, Valor, Distintos };
  bool entrega = false;
  Soma soma = Soma::Valor;
  std::string filtro;
  switch (chTipo) {
    case '1':
      soma = Soma::Quantidade;
      filtro = sel + "[CDPRODITMAP]= " + q(produto) + " and [CDFORNITMAP] = " + q(fornecedor);
      break;
    case '2':
      entrega = true;
      soma = Soma::Quantidade;
      filtro = sel + "[CDPRODITMAP]= " + q(produto) + " and [CDFILIAP] = " + q(filial);
      break;
    case '3':
      filtro = sel + "[CDREGITMAP]= " + q(regiao);
      break;
    case '4':
      filtro = sel + "[CDFORNITMAP]= " + q(fornecedor);
      break;
    case '5':
      filtro = sel + "[CDFORNITMAP]= " + q(fornecedor) + " and [CDREGITMAP] = " + q(regiao);
      break;
    case '6':
      filtro = sel + "[CDFORNITMAP]= " + q(fornecedor) + " and [CDPRODITMAP] = " + q(produto);
      break;
    case '7':
      filtro = sel + "[CDPRODITMAP] = " + q(produto);
      break;
    case '8':
      entrega = true;
      filtro = sel + "[CDFILIAP] = " + q(filial);
      break;
    case '9':
      entrega = true;
      filtro = sel + "[CDPRODITMAP]= " + q(produto) + " and [CDFILIAP] = " + q(filial);
      break;
    case 'A':
      soma = Soma::Distintos;
      filtro = sel + "[CDFORNITMAP] = " + q(fornecedor);
      break;
    case 'B':
      soma = Soma::Distintos;
      filtro = sel + "[CDREGITMAP] = " + q(regiao);
      break;
    default:
      return 0;
  }

  TClientDataSet& origem = entrega ? cdsItmApurPrec : cdsApurNeg;
  TClientDataSet& aux = entrega ? cdsAuxItmApurPrec : cdsAuxApurNeg;
  if (!origem.Active()) return 0;

  double resultado = 0;
  bool& copiada = entrega ? boAuxItmApurPrecCopiada : boAuxApurNegCopiada;
  if (!boTotaisEmLote || !copiada) {
    aux.SetFiltered(false);
    aux.SetData(origem.Data());
    copiada = boTotaisEmLote;
  }
  // The text before the switch, so the rows are filtered once, by it.
  aux.SetFilter(filtro);
  aux.SetFiltered(true);

  if (soma == Soma::Distintos) {
    bool temIndice = false;
    for (const IndexDef& d : aux.IndexDefs()) temIndice = temIndice || SameName(d.name, "IndDist");
    if (!temIndice) aux.AddIndex("IndDist", "CDPRODITMAP;CDMARCITMAP", true);
    aux.SetIndexName("IndDist");
    // The pair is compared field by field: glued into one text, product "12"
    // with brand "3" would pass for product "1" with brand "23".
    const TField& prod = aux.FieldByName("CDPRODITMAP");
    const TField& marca = aux.FieldByName("CDMARCITMAP");
    std::string ultProd, ultMarca;
    bool primeiro = true;
    for (aux.First(); !aux.Eof(); aux.Next()) {
      std::string p = FoldCase(prod.AsString()), m = FoldCase(marca.AsString());
      if (primeiro || p != ultProd || m != ultMarca) {
        resultado += 1;
        ultProd = std::move(p);
        ultMarca = std::move(m);
        primeiro = false;
      }
    }
    aux.SetIndexName("");
    return resultado;
  }

  const TField& qt = aux.FieldByName("QTACOMP");
  const TField& preco = aux.FieldByName("VRPRECUNIAP");
  for (aux.First(); !aux.Eof(); aux.Next()) {
    if (soma == Soma::Quantidade)
      resultado += qt.AsFloat();
    else
      resultado += qt.AsFloat() * preco.AsFloat();
  }
  return resultado;
}

}  // namespace apura::worksheet
