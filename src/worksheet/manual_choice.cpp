// The buyer's own choice of a quotation: the space bar on the unit price of
// a quotation line chooses it or drops it, and the choice is carried to every
// delivery it covers. Refusals are silent; the buyer sees the mark or not.

#include <array>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "worksheet/form.h"
#include "worksheet/justification.h"
#include "worksheet/markers.h"

namespace apura::worksheet {

namespace {

bool Editando(const TClientDataSet& t) {
  return t.State() == TDataSetState::dsEdit || t.State() == TDataSetState::dsInsert;
}

bool ModuloSuprimentos() {
  const int m = ModuloAtiv();
  return m == 34 || m == 77;
}

// "S" becomes "N"; anything else, an empty flag included, becomes "S".
std::string TrocaChecked(const std::string& flag) {
  return flag == "S" ? "N" : "S";
}

// The quotation line being chosen is found again by these three fields after
// other tables' cursors have moved (moving the product items re-filters the
// quotation lines).
void GuardaPosicao(TfrmPlanApurNegGrid& f) {
  f.stNRCOLEPRECO = f.cdsApurNeg.FieldByName("NRCOLEITMAP").AsString();
  f.stCDFORNECED = f.cdsApurNeg.FieldByName("CDFORNITMAP").AsString();
  f.stCDMARCA = f.cdsApurNeg.FieldByName("CDMARCITMAP").AsString();
}

void VoltaPosicao(TfrmPlanApurNegGrid& f) {
  f.cdsApurNeg.Locate("NRCOLEITMAP;CDFORNITMAP;CDMARCITMAP",
                      {Value(f.stNRCOLEPRECO), Value(f.stCDFORNECED), Value(f.stCDMARCA)}, {true});
}

bool NaPosicao(const TfrmPlanApurNegGrid& f) {
  return f.cdsApurNeg.FieldByName("NRCOLEITMAP").TextEquals(f.stNRCOLEPRECO) &&
         f.cdsApurNeg.FieldByName("CDFORNITMAP").TextEquals(f.stCDFORNECED) &&
         f.cdsApurNeg.FieldByName("CDMARCITMAP").TextEquals(f.stCDMARCA);
}

// A filter expression of the program's own on a table for a scope. On every
// path the expression goes again; an edit a failure left open is dropped
// rather than posted half done. `recordFilter` switches filtering back on
// afterwards, so the table's record filter rules the rows again.
class FiltroTemporario {
 public:
  FiltroTemporario(TClientDataSet& t, std::string expression, bool recordFilter = false)
      : t_(t), recordFilter_(recordFilter) {
    t_.SetFiltered(false);
    t_.SetFilter(std::move(expression));
    t_.SetFiltered(true);
  }
  ~FiltroTemporario() {
    try {
      if (Editando(t_)) t_.Cancel();
      // Off before the text goes: one pass over the rows instead of two.
      t_.SetFiltered(false);
      t_.SetFilter({});
      if (recordFilter_) t_.SetFiltered(true);
    } catch (...) {
      // Leaving the scope must not throw over the error that ended it; the
      // expression is gone already when only the re-filtering failed.
    }
  }
  FiltroTemporario(const FiltroTemporario&) = delete;
  FiltroTemporario& operator=(const FiltroTemporario&) = delete;

 private:
  TClientDataSet& t_;
  bool recordFilter_;
};

// Branches where no delivery row of the whole tally is chosen yet.
bool HaFilialLivre(TfrmPlanApurNegGrid& f) {
  const DataPacket dados = f.cdsDados.Data();
  const DataPacket filiais = TfrmPlanApurNegGrid::DegRegistros({"CDFILIAP"}, dados);
  // One pass over the rows instead of one filter per branch.
  const int fil = dados.FieldIndex("CDFILIAP");
  const int sel = dados.FieldIndex("IDITMSELAPUR");
  const auto& status = dados.status();
  std::unordered_set<std::string> comEscolha;
  for (size_t r = 0; r < dados.RowCount(); ++r) {
    if (!status.empty() && status[r] == RowStatus::Deleted) continue;
    if (dados.Text(size_t(sel), r) == "S") comEscolha.emplace(dados.Text(size_t(fil), r));
  }
  for (size_t r = 0; r < filiais.RowCount(); ++r)
    if (!comEscolha.count(std::string(filiais.Text(0, r)))) return true;
  return false;
}

// Every row the table shows takes the flag and its full requested quantity.
void MarcaEntregas(TClientDataSet& t, const std::string& flag, bool interna) {
  TField& sel = t.FieldByName("IDITMSELAPUR");
  TField& qt = t.FieldByName("QTACOMP");
  TField& sol = t.FieldByName("QTSOLACOMP");
  TField* motivo = interna ? &t.FieldByName("IDMOTIVPRESC") : nullptr;
  for (t.First(); !t.Eof(); t.Next()) {
    // The delivery-line rules stand aside for the program's own posts.
    std::optional<MarcadorTemporario> marca;
    if (interna) marca.emplace(t.Tag, kTagAtualizacaoInterna);
    t.Edit();
    sel.SetAsString(flag);
    qt.SetValue(sol.AsValue());
    if (motivo) motivo->SetAsString("");  // a manual choice has no reason code
    t.Post();
  }
}

void Escolhe(TfrmPlanApurNegGrid& f) {
  TClientDataSet& apur = f.cdsApurNeg;
  if (!apur.Active() || apur.IsEmpty()) return;
  // A line without a unit price is neither chosen nor dropped.
  if (apur.FieldByName("VRPRECUNIAP").AsFloat() == 0) return;

  const bool consolida = f.cdsParaSupriIDCONSPRSOL->AsString() == "S";
  const std::string stProduto = f.cdsProdItem.FieldByName("CDPRODITMAP").AsString();
  std::string stIdSelApur = f.cdsProdItem.FieldByName("IDITMSELAPUR").AsString();
  GuardaPosicao(f);
  bool boContinua = true;

  // Another negotiated product of the same stock product chosen in this region.
  if (!consolida) {
    TClientDataSet& item = f.cdsProdItem;
    const TField& sel = item.FieldByName("IDITMSELAPUR");
    const TField& prod = item.FieldByName("CDPRODITMAP");
    for (item.First(); !item.Eof() && boContinua; item.Next())
      if (sel.TextEquals("S") && !prod.TextEquals(stProduto) && stIdSelApur == "N")
        boContinua = false;
    item.Locate("CDPRODITMAP", Value(stProduto), {true});
  }
  VoltaPosicao(f);
  // It may still compete for branches nothing serves yet.
  if (!boContinua) boContinua = HaFilialLivre(f);

  // One chosen quotation line a product and region; dropping is never refused.
  if (boContinua) {
    GuardaPosicao(f);
    stIdSelApur = apur.FieldByName("IDITMSELAPUR").AsString();
    const TField& sel = apur.FieldByName("IDITMSELAPUR");
    for (apur.First(); !apur.Eof() && boContinua; apur.Next())
      if (sel.TextEquals("S") && !NaPosicao(f) && stIdSelApur == "N") boContinua = false;
    VoltaPosicao(f);
  }
  if (!boContinua) return;

  std::string novo;
  {
    MarcadorTemporario edicao(f.dbgFornecedor.Tag, kTagEdicaoInterna);
    apur.Edit();
    try {
      TField& sel = apur.FieldByName("IDITMSELAPUR");
      novo = TrocaChecked(sel.AsString());
      sel.SetAsString(novo);
      apur.Post();
    } catch (...) {
      if (Editando(apur)) apur.Cancel();
      throw;
    }
  }
  const ChaveCotacao chave{
      apur.FieldByName("CDFORNITMAP").AsString(), apur.FieldByName("CDMARCITMAP").AsString(),
      apur.FieldByName("NRCOLEITMAP").AsString(), apur.FieldByName("CDPRODITMAP").AsString(),
      apur.FieldByName("CDREGITMAP").AsString()};

  // Branches where the stock product in view is already served by another
  // choice keep that choice. Its chosen rows are found by a filter on the
  // delivery data rather than by a copy of all of it: the same branches, at a
  // fraction of the cost on a large tally.
  std::string stFiltroFilial;
  if (!consolida && novo == "S") {
    std::set<std::string> filiais;
    {
      FiltroTemporario filtro(f.cdsDados,
                              "[IDITMSELAPUR] = 'S' and [CDPRODESTO] = " +
                                  QuotedStr(f.cdsProduto.FieldByName("CDPRODUTO").AsString()));
      const TField& fil = f.cdsDados.FieldByName("CDFILIAP");
      for (f.cdsDados.First(); !f.cdsDados.Eof(); f.cdsDados.Next()) filiais.insert(fil.AsString());
    }
    for (const std::string& fil : filiais) stFiltroFilial += QuotedStr(fil) + ",";
  }
  std::string exclusao;
  if (!stFiltroFilial.empty()) {
    stFiltroFilial.pop_back();
    exclusao = " and NOT([CDFILIAP] IN (" + stFiltroFilial + "))";
  }

  {
    FiltroTemporario filtro(f.cdsDados, "[CDPRODITMAP] = " + QuotedStr(chave.CDPRODITMAP) +
                                            " and [CDMARCITMAP] = " + QuotedStr(chave.CDMARCITMAP) +
                                            " and [CDFORNITMAP] = " + QuotedStr(chave.CDFORNITMAP) +
                                            " and [CDREGITMAP]  = " + QuotedStr(chave.CDREGITMAP) +
                                            " and [NRCOLEITMAP] = " + QuotedStr(chave.NRCOLEITMAP) +
                                            exclusao);
    MarcaEntregas(f.cdsDados, novo, false);
  }

  // The product item is chosen while any of its deliveries in the region is.
  GuardaPosicao(f);
  if (f.cdsProdItem.Locate("CDPRODITMAP;CDREGITMAP",
                           {Value(chave.CDPRODITMAP), Value(chave.CDREGITMAP)}, {true})) {
    FiltroTemporario filtro(f.cdsDados, "[CDPRODITMAP]  = " + QuotedStr(chave.CDPRODITMAP) +
                                            " AND [CDREGITMAP]   = " + QuotedStr(chave.CDREGITMAP) +
                                            " AND [IDITMSELAPUR] = 'S'");
    const bool nenhuma = f.cdsDados.IsEmpty();
    f.cdsProdItem.Edit();
    f.cdsProdItem.FieldByName("IDITMSELAPUR").SetAsString(nenhuma ? "N" : "S");
    f.cdsProdItem.Post();
  }
  VoltaPosicao(f);

  {
    FiltroTemporario filtro(f.cdsItmApurPrec,
                            "[CDPRODITMAP]= " + QuotedStr(chave.CDPRODITMAP) +
                                " and [CDMARCITMAP]= " + QuotedStr(chave.CDMARCITMAP) +
                                " and [CDFORNITMAP]= " + QuotedStr(chave.CDFORNITMAP) +
                                " and [CDREGITMAP]=  " + QuotedStr(chave.CDREGITMAP) +
                                " and [NRCOLEITMAP]= " + QuotedStr(chave.NRCOLEITMAP) + exclusao,
                            true);
    MarcaEntregas(f.cdsItmApurPrec, novo, true);
  }

  // The line's tallied quantity is what its chosen deliveries now add up to.
  f.Atualiza_QtApurada(chave);
}

}  // namespace

void TfrmPlanApurNegGrid::dbgFornecedorKeyDown(TComponent&, int& Key, TShiftState Shift) {
  if (Key == VK_SPACE && !Editando(cdsApurNeg)) {
    // The space chooses; it never opens the price for typing.
    dbgFornecedor.SetOption(dgEditing, false);
    const TField* campo = dbgFornecedor.SelectedField();
    if (campo && campo->FieldName() == "VRPRECUNIAP" && boPEME) {
      Apurar_Cotacao();
      Informa_Justif();
    }
  } else {
    dbgFornecedor.SetOption(dgEditing, ModuloSuprimentos());
  }
  if (Key == VK_PRIOR && (Shift & ssAlt)) {
    Key = 0;
    if (dbgProduto.CanFocus()) dbgProduto.SetFocus();
  }
  Repaint();
}

void TfrmPlanApurNegGrid::dbgFornecedorKeyPress(TComponent&, char32_t& Key) {
  // A price takes neither a sign nor an exponent; without the permission
  // nothing can be typed at all.
  if (Key == U'-' || Key == U'e' || Key == U'E' || Key == U'+' || !boPEME) Key = 0;
}

void TfrmPlanApurNegGrid::Apurar_Cotacao() {
  const std::array<TClientDataSet*, 6> tabelas = {
      &cdsProduto, &cdsRegiao, &cdsProdItem, &cdsApurNeg, &cdsPai_ItmApurPrec, &cdsItmApurPrec};
  for (TClientDataSet* t : tabelas) t->DisableControls();
  // The grids must come back however the choice ended.
  auto fim = [&] {
    for (TClientDataSet* t : tabelas) t->EnableControls();
    if (pgcPadrao.ActivePage() == &tshGeral && dbgFornecedor.CanFocus()) dbgFornecedor.SetFocus();
  };
  try {
    Escolhe(*this);
  } catch (...) {
    try {
      fim();
    } catch (...) {
      // The error that ended the choice is the one to report.
    }
    throw;
  }
  fim();
}

void TfrmPlanApurNegGrid::Informa_Justif() {
  if (cdsParaSupriIDEXJUSTESCM->AsString() != "S") return;
  if (cdsApurNeg.FieldByName("IDITMSELAPUR").AsString() != "S") return;
  CriaObservJust();
  // Left without a justification: the choice goes again.
  if (boSemJust) Apurar_Cotacao();
}

DataPacket TfrmPlanApurNegGrid::DegRegistros(const std::vector<std::string>& arCampos,
                                             const DataPacket& oleData) {
  std::vector<size_t> origem;
  std::vector<FieldDef> defs;
  for (const std::string& nome : arCampos) {
    const int i = oleData.FieldIndex(nome);
    if (i < 0) throw EDatabaseError("DegRegistros: Field '" + nome + "' not found");
    origem.push_back(size_t(i));
    FieldDef d = oleData.fields()[size_t(i)];
    d.name = nome;
    defs.push_back(std::move(d));
  }

  // Each value is compared by a number standing for its text folded to one
  // letter case: a text column's dictionary is folded once, not every row,
  // so the walk stays one cheap pass however many rows there are.
  std::vector<std::unordered_map<std::string, int32_t>> ids(origem.size());
  auto id = [&ids](size_t k, std::string folded) {
    auto [it, novo] = ids[k].emplace(std::move(folded), int32_t(ids[k].size()));
    (void)novo;
    return it->second;
  };
  std::vector<std::vector<int32_t>> porCodigo(origem.size());
  std::vector<int32_t> nulo(origem.size());
  for (size_t k = 0; k < origem.size(); ++k) {
    nulo[k] = id(k, {});  // an empty cell reads as empty text
    if (defs[k].type != FieldType::String) continue;
    const ColumnData& c = oleData.column(origem[k]);
    porCodigo[k].resize(c.DictSize());
    for (size_t code = 0; code < c.DictSize(); ++code)
      porCodigo[k][code] = id(k, FoldCase(c.DictEntry(int32_t(code))));
  }

  PacketBuilder out(defs);
  std::unordered_set<std::string> vistos;
  const auto& status = oleData.status();
  std::string chave;
  for (size_t r = 0; r < oleData.RowCount(); ++r) {
    // A deleted row is no row of the table the packet stands for.
    if (!status.empty() && status[r] == RowStatus::Deleted) continue;
    chave.clear();
    for (size_t k = 0; k < origem.size(); ++k) {
      int32_t v;
      if (defs[k].type == FieldType::String) {
        const int32_t code = oleData.column(origem[k]).codes[r];
        v = code < 0 ? nulo[k] : porCodigo[k][size_t(code)];
      } else {
        v = oleData.IsNull(origem[k], r) ? nulo[k]
                                         : id(k, FoldCase(oleData.Cell(origem[k], r).ToText()));
      }
      chave.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    if (!vistos.insert(chave).second) continue;
    std::vector<Value> valores;
    valores.reserve(origem.size());
    for (size_t c : origem) valores.push_back(oleData.Cell(c, r));
    out.Add(std::move(valores));
  }
  return out.Build();
}

}  // namespace apura::worksheet
