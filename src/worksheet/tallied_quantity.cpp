// The tallied quantity of a quotation line is whatever its chosen deliveries
// add up to. Every gesture that changes chosen delivery rows (manual choice,
// delivery-line insert, change, release) calls this one routine, so the
// quotation grid and the totals never disagree with "por Entrega".

#include <string_view>

#include "worksheet/form.h"
#include "worksheet/markers.h"

namespace apura::worksheet {

double TfrmPlanApurNegGrid::Soma_QtApurada(const ChaveCotacao& chave) const {
  // cdsDados carries no record filter; an expression left in force by a
  // caller would hide rows, so the sum would be wrong: refuse rather than guess.
  if (cdsDados.Filtered() && !cdsDados.Filter().empty()) {
    throw EDatabaseError("Soma_QtApurada: cdsDados está filtrado por \"" + cdsDados.Filter() +
                         "\"");
  }
  const TField& fForn = cdsDados.FieldByName("CDFORNITMAP");
  const TField& fMarc = cdsDados.FieldByName("CDMARCITMAP");
  const TField& fCole = cdsDados.FieldByName("NRCOLEITMAP");
  const TField& fProd = cdsDados.FieldByName("CDPRODITMAP");
  const TField& fRegi = cdsDados.FieldByName("CDREGITMAP");
  const TField& fSel = cdsDados.FieldByName("IDITMSELAPUR");
  const TField& fQt = cdsDados.FieldByName("QTACOMP");
  double total = 0;
  ParaCadaEntregaDaCotacao(cdsDados, chave, [&] {
    if (fSel.TextEquals("S") && fForn.TextEquals(chave.CDFORNITMAP) &&
        fProd.TextEquals(chave.CDPRODITMAP) && fRegi.TextEquals(chave.CDREGITMAP) &&
        fMarc.TextEquals(chave.CDMARCITMAP) && fCole.TextEquals(chave.NRCOLEITMAP))
      total += fQt.AsFloat();
    return true;
  });
  return total;
}

void ParaCadaEntregaDaCotacao(const TClientDataSet& dados, const ChaveCotacao& c,
                              const std::function<bool()>& fn) {
  // Unfiltered and in natural order, the visible rows are the live rows in
  // storage order, and the key's rows are those of them that can match.
  const bool todas = (!dados.Filtered() || (dados.Filter().empty() && !dados.OnFilterRecord)) &&
                     dados.IndexName().empty();
  if (todas) {
    for (int64_t linha : dados.RowsWithKey("CDPRODITMAP;CDREGITMAP;CDFORNITMAP",
                                           {c.CDPRODITMAP, c.CDREGITMAP, c.CDFORNITMAP})) {
      TClientDataSet::RowPeek peek(dados, TClientDataSet::RowPeek::AtBookmark{linha});
      if (peek.valid() && !fn()) return;
    }
    return;
  }
  const int rows = dados.RecordCount();
  for (int pos = 0; pos < rows; ++pos) {
    TClientDataSet::RowPeek peek(dados, pos);
    if (peek.valid() && !fn()) return;
  }
}

void TfrmPlanApurNegGrid::Atualiza_QtApurada(const ChaveCotacao& chave) {
  if (!cdsApurNeg.Active() || !cdsDados.Active()) return;
  const double total = Soma_QtApurada(chave);
  // The line is normally the current one; otherwise look for it among the
  // rows the record filter shows (the current product and region).
  auto isLine = [&] {
    return cdsApurNeg.FieldByName("CDFORNITMAP").TextEquals(chave.CDFORNITMAP) &&
           cdsApurNeg.FieldByName("CDMARCITMAP").TextEquals(chave.CDMARCITMAP) &&
           cdsApurNeg.FieldByName("NRCOLEITMAP").TextEquals(chave.NRCOLEITMAP) &&
           cdsApurNeg.FieldByName("CDPRODITMAP").TextEquals(chave.CDPRODITMAP) &&
           cdsApurNeg.FieldByName("CDREGITMAP").TextEquals(chave.CDREGITMAP);
  };
  if (cdsApurNeg.IsEmpty()) return;
  if (!isLine() && !cdsApurNeg.Locate("CDFORNITMAP;CDMARCITMAP;NRCOLEITMAP;CDPRODITMAP;CDREGITMAP",
                                      {Value(chave.CDFORNITMAP), Value(chave.CDMARCITMAP),
                                       Value(chave.NRCOLEITMAP), Value(chave.CDPRODITMAP),
                                       Value(chave.CDREGITMAP)})) {
    return;
  }
  TField& fQt = cdsApurNeg.FieldByName("QTACOMP");
  if (!fQt.IsNull() && fQt.AsFloat() == total) return;
  const bool editing = cdsApurNeg.State() != TDataSetState::dsBrowse;
  MarcadorTemporario edicao(dbgFornecedor.Tag, kTagEdicaoInterna);
  if (!editing) cdsApurNeg.Edit();
  fQt.SetAsFloat(total);
  if (!editing) cdsApurNeg.Post();
}

}  // namespace apura::worksheet
