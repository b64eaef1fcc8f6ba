// Filling the worksheet's tables from the server: lazily, each table once,
// until a caller closes it to have it read again.

#include <stdexcept>

#include "worksheet/form.h"

namespace apura::worksheet {

void MontaApur(const std::string& stNrApur) {
  TfrmPlanApurNegGrid* frm = frmPlanApurNegGrid;
  if (!frm) throw std::logic_error("MontaApur: the worksheet is not open");
  frm->Deleta_Apuracao();
  frm->stPrxApurPreco = stNrApur;
  // Taking over a non-empty packet moves onto the first product, whose
  // after-scroll loads everything else.
  frm->cdsProduto.SetData(frm->Srv_GetProduto());
}

void TfrmPlanApurNegGrid::Deleta_Apuracao() {
  BusyAnimation avi(msgPadrao.Msg("EncAF"));
  Srv_DelApuracao();
}

std::string TfrmPlanApurNegGrid::CamposOrdemApurNeg() const {
  const std::string tipo = cdsParaSupriIDTIPOAPUR->AsString();
  if (tipo == "1") return "PRECOECON";
  if (tipo == "2") return "PRECOECONPI";
  return "VRPRECUNIAP";
}

void TfrmPlanApurNegGrid::CarregaTabela(TClientDataSet& table, Value (TfrmPlanApurNegGrid::*call)(),
                                        const std::string& indexFields) {
  if (table.Active()) return;
  if (!indexFields.empty()) table.SetIndexName("");
  table.SetData((this->*call)());
  if (indexFields.empty()) return;
  bool defined = false;
  for (const IndexDef& d : table.IndexDefs())
    if (d.name == kIndOrder) defined = true;
  if (!defined) table.AddIndex(kIndOrder, indexFields, true);
  table.SetIndexName(kIndOrder);
}

void TfrmPlanApurNegGrid::Get_Data() {
  CarregaTabela(cdsParaSupri, &TfrmPlanApurNegGrid::Srv_GetParamCmp, {});
  // The two delivery tables list the same rows: when both are to be read,
  // one answer carries the columns of both. The second table takes it last,
  // once its masters are there, as it would take its own.
  Value entregas;  // both tables' columns
  if (!cdsDados.Active() && !cdsItmApurPrec.Active()) entregas = Srv_GetDados_ItmApurPrec();
  if (!entregas.IsNull())
    cdsDados.SetData(entregas);
  else
    CarregaTabela(cdsDados, &TfrmPlanApurNegGrid::Srv_GetDados, {});
  CarregaTabela(cdsRegiao, &TfrmPlanApurNegGrid::Srv_GetRegiao, "CDREGITMAP");
  CarregaTabela(cdsProdItem, &TfrmPlanApurNegGrid::Srv_GetProdItem, "CDPRODITMAP");
  // The order follows the tally type as loaded by now.
  CarregaTabela(cdsApurNeg, &TfrmPlanApurNegGrid::Srv_GetApurNeg, CamposOrdemApurNeg());
  CarregaTabela(cdsPai_ItmApurPrec, &TfrmPlanApurNegGrid::Srv_GetPai_ItmApurPrec,
                "CDFILIAP;DTENTRAPUT");
  if (!entregas.IsNull() && !cdsItmApurPrec.Active())
    cdsItmApurPrec.SetData(std::move(entregas));
  else
    CarregaTabela(cdsItmApurPrec, &TfrmPlanApurNegGrid::Srv_GetItmApurPrec, {});
}

void TfrmPlanApurNegGrid::cdsProdutoAfterScroll(TClientDataSet&) {
  Get_Data();
  Refiltra(cdsRegiao);
}

void TfrmPlanApurNegGrid::pgcPadraoChange(TComponent&) {
  Get_Data();
  Dados_porEntrega();
  TTabSheet* page = pgcPadrao.ActivePage();
  mnuProduto.SetChecked(page == &tshProduto);
  mnuGeral.SetChecked(page == &tshGeral);
  mnuPadrao.SetChecked(page == &tshPadrao);
  TDBGrid* grid = page == &tshProduto  ? &dbgProdEsto
                  : page == &tshGeral  ? &dbgFornecedor
                  : page == &tshPadrao ? &dbgPadrao
                                       : nullptr;
  if (grid && grid->CanFocus()) grid->SetFocus();
}

void TfrmPlanApurNegGrid::Dados_porEntrega() {
  if (pgcPadrao.ActivePage() != &tshPadrao) {
    Habilita_Geral();
    return;
  }
  qryPesqRegiao.Close();
  qryPesqRegiao.ParamByName("P_CDREGIAO").SetAsString(ff_.apurCDREGITMAP->AsString());
  qryPesqRegiao.Open();
  const bool found = !qryPesqRegiao.IsEmpty();

  // Editing an empty region table would insert a region of nothing; there is
  // no row to name then.
  if (cdsRegiao.Active() && !cdsRegiao.IsEmpty()) {
    cdsRegiao.Edit();
    cdsRegiao.FieldByName("NMREGIAO")
        .SetAsString(found ? qryPesqRegiao.FieldByName("NMREGIAO").AsString() : std::string());
    cdsRegiao.Post();
  }
  panRegiao.SetVisible(found);

  Refiltra(cdsPai_ItmApurPrec);
  dtsPadraoStateChange(dtsPadrao);
  Repaint();
}

}  // namespace apura::worksheet
