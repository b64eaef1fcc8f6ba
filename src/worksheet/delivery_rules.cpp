// The delivery lines of "por Entrega". A delivery line is never really added
// or removed: every tally price item already exists in cdsItmApurPrec and, as
// a twin, in cdsDados; a line is a row whose selected flag is "S". Inserting
// selects a twin and cancels the new row, changing the quotation of a line
// releases its twin and selects the new one's, deleting clears the flag and
// cancels the deletion. Alongside, the quotation line's flag and tallied
// quantity and the product's flag follow the chosen twins in cdsDados.

#include <string>
#include <utility>
#include <vector>

#include "worksheet/form.h"
#include "worksheet/markers.h"

namespace apura::worksheet {

namespace {

constexpr const char* kChaveEntrega =
    "CDFORNITMAP;CDFILIAP;NRCOLEITMAP;CDMARCITMAP;CDPRODITMAP;DTENTRAPUT;CDCENTITMAP";
constexpr const char* kChaveCotacao = "CDFORNITMAP;CDREGITMAP;NRCOLEITMAP;CDMARCITMAP;CDPRODITMAP";
constexpr const char* kChavePosicao = "NRCOLEITMAP;CDFORNITMAP;CDMARCITMAP";
constexpr LocateOptions kSemCaixa{true};

bool Editando(const TClientDataSet& t) {
  return t.State() == TDataSetState::dsEdit || t.State() == TDataSetState::dsInsert;
}

// The values of the key's fields, as the row has them now or had them when
// its edit began.
std::vector<Value> Valores(const TClientDataSet& t, std::string_view campos, bool antigos) {
  std::vector<Value> out;
  size_t inicio = 0;
  while (inicio <= campos.size()) {
    size_t fim = campos.find(';', inicio);
    if (fim == std::string_view::npos) fim = campos.size();
    const TField& f = t.FieldByName(campos.substr(inicio, fim - inicio));
    out.push_back(antigos ? f.OldValue() : f.AsValue());
    inicio = fim + 1;
  }
  return out;
}

std::string Texto(const Value& v) {
  return v.IsNull() ? std::string() : v.ToText();
}

ChaveCotacao Chave(const TClientDataSet& t, bool antigos) {
  auto campo = [&](const char* nome) {
    const TField& f = t.FieldByName(nome);
    return antigos ? Texto(f.OldValue()) : f.AsString();
  };
  return {campo("CDFORNITMAP"), campo("CDMARCITMAP"), campo("NRCOLEITMAP"), campo("CDPRODITMAP"),
          campo("CDREGITMAP")};
}

std::vector<Value> ValoresCotacao(const ChaveCotacao& c) {
  return {Value(c.CDFORNITMAP), Value(c.CDREGITMAP), Value(c.NRCOLEITMAP), Value(c.CDMARCITMAP),
          Value(c.CDPRODITMAP)};
}

// Whether any delivery of the quotation is still chosen in cdsDados.
bool TemEntregaEscolhida(const TClientDataSet& dados, const ChaveCotacao& c) {
  const TField& fForn = dados.FieldByName("CDFORNITMAP");
  const TField& fMarc = dados.FieldByName("CDMARCITMAP");
  const TField& fCole = dados.FieldByName("NRCOLEITMAP");
  const TField& fProd = dados.FieldByName("CDPRODITMAP");
  const TField& fRegi = dados.FieldByName("CDREGITMAP");
  const TField& fSel = dados.FieldByName("IDITMSELAPUR");
  bool escolhida = false;
  ParaCadaEntregaDaCotacao(dados, c, [&] {
    escolhida = fSel.TextEquals("S") && fForn.TextEquals(c.CDFORNITMAP) &&
                fMarc.TextEquals(c.CDMARCITMAP) && fCole.TextEquals(c.NRCOLEITMAP) &&
                fProd.TextEquals(c.CDPRODITMAP) && fRegi.TextEquals(c.CDREGITMAP);
    return !escolhida;
  });
  return escolhida;
}

// What the rules wrote to the other tables, so that a failure half-way puts
// every row back and the buyer is left with the line as typed and nothing
// changed behind it.
class Diario {
 public:
  explicit Diario(TfrmPlanApurNegGrid& form) : form_(form) {}

  // Edits the current row, writes the values and posts; a refused post
  // leaves the table in browse state.
  void Grava(TClientDataSet& t, const std::vector<std::pair<const char*, Value>>& valores) {
    Entrada e{&t, t.Bookmark(), {}};
    for (const auto& [campo, valor] : valores)
      e.antes.emplace_back(campo, t.FieldByName(campo).AsValue());
    const bool cotacao = &t == &form_.cdsApurNeg;
    // The views see the row once it is written, not the edit: a state change
    // of the quotation lines would otherwise lock the page the buyer is on.
    auto edita = [&] {
      t.DisableControls();
      try {
        t.Edit();
        for (const auto& [campo, valor] : valores) t.FieldByName(campo).SetValue(valor);
        t.Post();
      } catch (...) {
        if (Editando(t)) t.Cancel();
        t.EnableControls();
        throw;
      }
      t.EnableControls();
    };
    if (cotacao) {
      MarcadorTemporario edicao(form_.dbgFornecedor.Tag, kTagEdicaoInterna);
      edita();
    } else {
      edita();
    }
    entradas_.push_back(std::move(e));
  }

  // Puts the rows back, newest first. A row that cannot be put back is
  // skipped: the error that brought us here is the one the buyer must see.
  void Desfaz() noexcept {
    MarcadorTemporario edicao(form_.dbgFornecedor.Tag, kTagEdicaoInterna);
    for (auto it = entradas_.rbegin(); it != entradas_.rend(); ++it) {
      TClientDataSet& t = *it->tabela;
      const bool filtrada = t.Filtered();
      try {
        if (Editando(t)) t.Cancel();
        if (!t.GotoBookmark(it->bookmark)) {
          t.SetFiltered(false);
          if (!t.GotoBookmark(it->bookmark)) {
            t.SetFiltered(filtrada);
            continue;
          }
        }
        t.Edit();
        for (const auto& [campo, valor] : it->antes) t.FieldByName(campo).SetValue(valor);
        t.Post();
      } catch (...) {
        try {
          if (Editando(t)) t.Cancel();
        } catch (...) {
        }
      }
      try {
        if (t.Filtered() != filtrada) t.SetFiltered(filtrada);
      } catch (...) {
      }
    }
    entradas_.clear();
  }

 private:
  struct Entrada {
    TClientDataSet* tabela;
    int64_t bookmark;
    std::vector<std::pair<const char*, Value>> antes;
  };
  TfrmPlanApurNegGrid& form_;
  std::vector<Entrada> entradas_;
};

void GuardaPosicao(TfrmPlanApurNegGrid& f) {
  f.stNRCOLEPRECO = f.cdsApurNeg.FieldByName("NRCOLEITMAP").AsString();
  f.stCDFORNECED = f.cdsApurNeg.FieldByName("CDFORNITMAP").AsString();
  f.stCDMARCA = f.cdsApurNeg.FieldByName("CDMARCITMAP").AsString();
}

void RestauraPosicao(TfrmPlanApurNegGrid& f) {
  f.cdsApurNeg.Locate(kChavePosicao,
                      {Value(f.stNRCOLEPRECO), Value(f.stCDFORNECED), Value(f.stCDMARCA)},
                      kSemCaixa);
}

// Gives the delivery row of a key the flag and quantity of its twin in
// cdsDados, as an internal update; answers its bookmark, -1 when either row
// is missing. The record filter is off meanwhile, so an unchosen row is found.
int64_t SincronizaEntrega(TfrmPlanApurNegGrid& f, const std::vector<Value>& chave) {
  TClientDataSet& itm = f.cdsItmApurPrec;
  // The views see the rows once filtered again, not the whole tally between.
  itm.DisableControls();
  int64_t linha = -1;
  try {
    try {
      itm.SetFiltered(false);
      if (itm.Locate(kChaveEntrega, chave, kSemCaixa) &&
          f.cdsDados.Locate(kChaveEntrega, chave, kSemCaixa)) {
        itm.Tag = kTagAtualizacaoInterna;
        itm.Edit();
        itm.FieldByName("IDITMSELAPUR")
            .SetAsString(f.cdsDados.FieldByName("IDITMSELAPUR").AsString());
        itm.FieldByName("QTACOMP").SetValue(f.cdsDados.FieldByName("QTACOMP").AsValue());
        itm.Post();
        linha = itm.Bookmark();
      }
    } catch (...) {
      // Cleared first: with the marker set the cancel would re-select a twin.
      itm.Tag = 0;
      if (Editando(itm)) itm.Cancel();
      itm.SetFiltered(true);
      throw;
    }
    itm.Tag = 0;
    itm.SetFiltered(true);
  } catch (...) {
    // The views come back whatever failed; the failure is the one to report,
    // not a view's complaint about it.
    try {
      itm.EnableControls();
    } catch (...) {
    }
    throw;
  }
  itm.EnableControls();
  return linha;
}

// The quotation line's flag and tallied quantity as its chosen deliveries in
// cdsDados make them. `escolhida` forces the flag; without it the flag says
// whether any delivery is still chosen. Leaves the cursor on the line.
void AcertaCotacao(TfrmPlanApurNegGrid& f, Diario& diario, const ChaveCotacao& c,
                   const std::string& escolhida) {
  if (!f.cdsApurNeg.Active() || !f.cdsApurNeg.Locate(kChaveCotacao, ValoresCotacao(c), kSemCaixa))
    return;
  // Constructed, not assigned from the literal: GCC 12 at -O3 reports a false
  // overlap in the inlined one-character copy (-Werror=restrict).
  const std::string flag =
      !escolhida.empty() ? escolhida : std::string(TemEntregaEscolhida(f.cdsDados, c) ? "S" : "N");
  diario.Grava(f.cdsApurNeg,
               {{"IDITMSELAPUR", Value(flag)}, {"QTACOMP", Value(f.Soma_QtApurada(c))}});
}

}  // namespace

void TfrmPlanApurNegGrid::Vd_PorEntrega(const std::string& stPasso) {
  try {
    const TField& qt = cdsItmApurPrec.FieldByName("QTACOMP");
    if (stPasso == "1" && EmptyString(cdsItmApurPrec.FieldByName("CDFORNITMAP").AsString()))
      MensErro(msgPadrao.Msg("Forn_Vazio"), true);
    if (stPasso == "2" && EmptyString(qt.AsString())) MensErro(msgPadrao.Msg("Quant_Vazia"), true);
    // Below zero too: pasted or programmatic input can carry a sign even
    // though the grid's keys refuse one.
    if (stPasso == "3" && !(qt.AsFloat() > 0)) MensErro(msgPadrao.Msg("Quant_Zero"), true);
  } catch (...) {
    const char* coluna = stPasso == "1" ? "NMFANTFORN" : "QTACOMP";
    if (dbgPadrao.FindColumn(coluna)) dbgPadrao.SetSelectedIndex(IndiceCol(dbgPadrao, coluna));
    throw;
  }
}

void TfrmPlanApurNegGrid::cdsItmApurPrecAfterInsert(TClientDataSet&) {
  const TField* campo = dbgPadrao.SelectedField();
  if ((!campo || campo->FieldName() != "QTACOMP") && dbgPadrao.FindColumn("NMFANTFORN"))
    dbgPadrao.SetSelectedField("NMFANTFORN");
  Monta_PesqForn();
  // Without a free quotation the line stays empty and its post is refused
  // for want of a supplier.
  if (!cdsPesqForn.IsEmpty()) Copia_PesqForn();
}

void TfrmPlanApurNegGrid::cdsItmApurPrecBeforePost(TClientDataSet&) {
  TClientDataSet& itm = cdsItmApurPrec;
  if (itm.Tag == kTagAtualizacaoInterna) return;
  Vd_PorEntrega("1");
  Vd_PorEntrega("2");
  Vd_PorEntrega("3");

  // The line belongs to the branch request line under the cursor.
  for (const char* campo :
       {"CDCENTITMAP", "NRSEQITMAP", "CDFILIAP", "DTENTRAPUT", "CDPRODITMAP", "CDREGITMAP"})
    itm.FieldByName(campo).SetValue(cdsPai_ItmApurPrec.FieldByName(campo).AsValue());
  itm.FieldByName("QTSOLACOMP").SetAsFloat(cdsPai_ItmApurPrec.FieldByName("QTSOLACOMP").AsFloat());

  const bool inserindo = itm.State() == TDataSetState::dsInsert;
  const double quantidade = itm.FieldByName("QTACOMP").AsFloat();
  const ChaveCotacao nova = Chave(itm, false);
  const std::vector<Value> antiga =
      inserindo ? std::vector<Value>{} : Valores(itm, kChaveEntrega, true);
  Diario diario(*this);
  try {
    if (cdsDados.Locate(kChaveEntrega, Valores(itm, kChaveEntrega, false), kSemCaixa))
      diario.Grava(cdsDados, {{"IDITMSELAPUR", Value("S")}, {"QTACOMP", Value(quantidade)}});

    // A new collection number is another quotation as much as a new supplier
    // or brand: its old twin is released too, or the branch and date would be
    // ordered twice.
    auto igual = [&](const char* campo) {
      const TField& f = itm.FieldByName(campo);
      return f.AsString() == Texto(f.OldValue());
    };
    if (!inserindo && igual("CDFORNITMAP") && igual("CDMARCITMAP") && igual("NRCOLEITMAP")) {
      // Only the quantity changed: the quotation line's tallied quantity follows.
      GuardaPosicao(*this);
      AcertaCotacao(*this, diario, nova, "S");
      RestauraPosicao(*this);
      return;
    }

    if (!inserindo && cdsDados.Locate(kChaveEntrega, antiga, kSemCaixa)) {
      diario.Grava(cdsDados, {{"IDITMSELAPUR", Value("N")},
                              {"QTACOMP", Value(cdsDados.FieldByName("QTSOLACOMP").AsFloat())}});
      // The old quotation line stays chosen while other branches or dates
      // still take it.
      AcertaCotacao(*this, diario, Chave(itm, true), {});
    }

    AcertaCotacao(*this, diario, nova, "S");
    GuardaPosicao(*this);
    if (cdsProdItem.Locate("CDPRODITMAP", Value(nova.CDPRODITMAP), kSemCaixa))
      diario.Grava(cdsProdItem, {{"IDITMSELAPUR", Value("S")}});
    RestauraPosicao(*this);
  } catch (...) {
    diario.Desfaz();
    throw;
  }

  // The new or changed row is never written: a delivery row keeps the key of
  // its twin for good, so every twin keeps exactly one row here. The cancel
  // selects the new twin's row; a changed line's own row shows its release.
  itm.Tag = kTagAtualizacaoInterna;
  itm.Cancel();
  if (!inserindo) {
    const int64_t linhaNova = itm.Bookmark();
    SincronizaEntrega(*this, antiga);
    itm.GotoBookmark(linhaNova);
  }
  Abort();
}

void TfrmPlanApurNegGrid::cdsItmApurPrecAfterCancel(TClientDataSet&) {
  TClientDataSet& itm = cdsItmApurPrec;
  if (itm.Tag == kTagAtualizacaoInterna) {
    int64_t escolhida = -1;
    try {
      // The quotation just selected, for the branch and date under the cursor.
      escolhida = SincronizaEntrega(*this, {cdsApurNeg.FieldByName("CDFORNITMAP").AsValue(),
                                            cdsPai_ItmApurPrec.FieldByName("CDFILIAP").AsValue(),
                                            cdsApurNeg.FieldByName("NRCOLEITMAP").AsValue(),
                                            cdsApurNeg.FieldByName("CDMARCITMAP").AsValue(),
                                            cdsApurNeg.FieldByName("CDPRODITMAP").AsValue(),
                                            cdsPai_ItmApurPrec.FieldByName("DTENTRAPUT").AsValue(),
                                            cdsApurNeg.FieldByName("CDCENTITMAP").AsValue()});
    } catch (...) {
      itm.Tag = 0;
      throw;
    }
    itm.Tag = 0;
    // The buyer sees the line just added.
    if (escolhida >= 0) itm.GotoBookmark(escolhida);
  }
  dtsPadraoStateChange(dtsPadrao);
}

void TfrmPlanApurNegGrid::cdsItmApurPrecAfterPost(TClientDataSet&) {
  if (cdsItmApurPrec.Tag == kTagAtualizacaoInterna) cdsItmApurPrec.Tag = 0;
  cdsApurNeg.Tag = kTagEntregaAlterada;
  if (!ActiveControl() && dbgPadrao.CanFocus()) dbgPadrao.SetFocus();
}

void TfrmPlanApurNegGrid::cdsItmApurPrecBeforeDelete(TClientDataSet&) {
  if (dbgPadrao.Tag == 99) return;
  TClientDataSet& itm = cdsItmApurPrec;
  const ChaveCotacao c = Chave(itm, false);
  const std::vector<Value> entrega = Valores(itm, kChaveEntrega, false);
  auto limpaFiltro = [this] {
    cdsDados.SetFiltered(false);
    cdsDados.SetFilter({});
  };
  auto filtraDados = [this](std::string expressao) {
    cdsDados.SetFilter(std::move(expressao));
    cdsDados.SetFiltered(false);
    cdsDados.SetFiltered(true);
  };
  Diario diario(*this);
  try {
    if (cdsDados.Locate(kChaveEntrega, entrega, kSemCaixa))
      diario.Grava(cdsDados, {{"IDITMSELAPUR", Value("N")},
                              {"QTACOMP", Value(cdsDados.FieldByName("QTSOLACOMP").AsFloat())}});

    if (cdsProdItem.Locate("CDPRODITMAP;CDREGITMAP", {Value(c.CDPRODITMAP), Value(c.CDREGITMAP)},
                           kSemCaixa)) {
      filtraDados("[CDPRODITMAP]  = " + QuotedStr(c.CDPRODITMAP) + " AND " +
                  "[CDREGITMAP]   = " + QuotedStr(c.CDREGITMAP) + " AND " + "[IDITMSELAPUR] = 'S'");
      const bool vazia = cdsDados.IsEmpty();
      limpaFiltro();
      diario.Grava(cdsProdItem, {{"IDITMSELAPUR", Value(vazia ? "N" : "S")}});
    }

    if (cdsApurNeg.Locate(kChaveCotacao, ValoresCotacao(c), kSemCaixa)) {
      filtraDados("[CDPRODITMAP]  = " + QuotedStr(c.CDPRODITMAP) + " AND " +
                  "[CDREGITMAP]   = " + QuotedStr(c.CDREGITMAP) + " AND " +
                  "[CDFORNITMAP]  = " + QuotedStr(c.CDFORNITMAP) + " AND " +
                  "[CDMARCITMAP]  = " + QuotedStr(c.CDMARCITMAP) + " AND " + "[NRCOLEITMAP]  = " +
                  QuotedStr(c.NRCOLEITMAP) + " AND " + "[IDITMSELAPUR] = 'S'");
      const bool vazia = cdsDados.IsEmpty();
      limpaFiltro();
      AcertaCotacao(*this, diario, c, vazia ? "N" : "S");
    }

    // Released, not deleted: the filter now hides the line.
    itm.Tag = kTagAtualizacaoInterna;
    try {
      itm.Edit();
      itm.FieldByName("IDITMSELAPUR").SetAsString("N");
      itm.Post();
    } catch (...) {
      // Cleared first: with the marker set the cancel would re-select a twin.
      itm.Tag = 0;
      if (Editando(itm)) itm.Cancel();
      throw;
    }
    itm.Tag = 0;
  } catch (...) {
    if (!cdsDados.Filter().empty()) limpaFiltro();
    diario.Desfaz();
    throw;
  }
  Abort();
}

void TfrmPlanApurNegGrid::cdsItmApurPrecAfterDelete(TClientDataSet&) {
  if (dbgPadrao.Tag == 99) dbgPadrao.Tag = 0;
}

void TfrmPlanApurNegGrid::cdsItmApurPrecIDMOTIVPRESCGetText(TField&, std::string& Text, bool) {
  // The column shows only its button; the reasons open from it.
  Text.clear();
}

}  // namespace apura::worksheet
