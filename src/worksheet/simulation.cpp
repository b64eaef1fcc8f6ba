// Negotiating a quotation line in the simulation screen, and coming back to
// fresh economic prices with the cursors where the buyer left them.

#include "worksheet/form.h"

namespace apura::worksheet {

namespace {

std::string Texto(const TClientDataSet& table, const char* field) {
  return table.FieldByName(field).AsString();
}

}  // namespace

ValueArray TfrmPlanApurNegGrid::Chave_Cotacao_Tela() const {
  return {Value(stCentCmp),
          Value(Texto(cdsApurNeg, "NRCOLEITMAP")),
          Value(Texto(cdsApurNeg, "CDFORNITMAP")),
          Value(Texto(cdsApurNeg, "CDPRODITMAP")),
          Value(Texto(cdsApurNeg, "CDARVPROD")),
          Value(Texto(cdsApurNeg, "CDMARCITMAP")),
          Value(Texto(cdsApurNeg, "CDREGITMAP")),
          Value(stPrxApurPreco)};
}

void TfrmPlanApurNegGrid::Recarrega_Tabela(TClientDataSet& table,
                                           Value (TfrmPlanApurNegGrid::*call)(),
                                           const std::string& indexFields) {
  // The answer is fetched (and checked) before the table is touched, so a
  // server failure leaves the rows on screen as they were, still sorted.
  Value packet = (this->*call)();
  table.SetIndexName("");
  table.SetData(packet);
  bool defined = false;
  for (const IndexDef& d : table.IndexDefs())
    if (d.name == kIndOrder) defined = true;
  if (!defined) table.AddIndex(kIndOrder, indexFields, true);
  table.SetIndexName(kIndOrder);
}

void TfrmPlanApurNegGrid::sbtSimulacaoClick(TComponent&) {
  const std::string stColeta = Texto(cdsApurNeg, "NRCOLEITMAP");
  const std::string stProd = Texto(cdsApurNeg, "CDFORNITMAP");
  const std::string stMarca = Texto(cdsApurNeg, "CDMARCITMAP");
  const std::string stProduto = Texto(cdsProdItem, "CDPRODITMAP");

  LoadBPL("PRQ01802", Chave_Cotacao_Tela());

  // The screen may have moved the cursor: the line recomputed is the one
  // current now.
  Srv_Atualiza_PrecoEco();
  Repaint();

  Recarrega_Tabela(cdsProdItem, &TfrmPlanApurNegGrid::Srv_GetProdItem, "CDPRODITMAP");
  cdsProdItem.Locate("CDPRODITMAP", Value(stProduto), {.caseInsensitive = true});

  Recarrega_Tabela(cdsApurNeg, &TfrmPlanApurNegGrid::Srv_GetApurNeg, CamposOrdemApurNeg());
  cdsApurNeg.Locate("NRCOLEITMAP;CDFORNITMAP;CDMARCITMAP",
                    {Value(stColeta), Value(stProd), Value(stMarca)}, {.caseInsensitive = true});
}

}  // namespace apura::worksheet
