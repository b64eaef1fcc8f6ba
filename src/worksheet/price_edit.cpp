// The unit-price correction of a quotation line on "Cotação". Only the server
// knows how a unit price becomes economic prices, so a confirmed change is
// sent to it and its two economic prices come back into the line.

#include "worksheet/form.h"

namespace apura::worksheet {

void TfrmPlanApurNegGrid::cdsApurNegBeforeInsert(TClientDataSet&) {
  // Quotation lines come from the suppliers' answers only.
  Abort();
}

void TfrmPlanApurNegGrid::cdsApurNegBeforeEdit(TClientDataSet&) {
  // Purchasing may not correct prices; the program's own edits pass.
  if (ModuloAtiv() == 4 && dbgFornecedor.Tag == 0) Abort();
}

void TfrmPlanApurNegGrid::cdsApurNegAfterEdit(TClientDataSet&) {
  rePrecEco = cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat();
}

void TfrmPlanApurNegGrid::cdsApurNegBeforePost(TClientDataSet&) {
  const double preco = cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat();
  // A price below zero is no price either; the server refuses it as well.
  if (!(preco > 0)) {
    if (dbgFornecedor.FindColumn("VRPRECUNIAP")) dbgFornecedor.SetSelectedField("VRPRECUNIAP");
    MensErro(msgPadrao.Msg("Pre_N_Inf"), true);
  }
  if (preco == rePrecEco) return;
  // The price per conversion unit is derived from the unit price the way the
  // server derives it when it builds the line, so it follows the correction
  // at once instead of at the next reload.
  const double fator = cdsApurNeg.FieldByName("VRFATOCONV").AsFloat();
  cdsApurNeg.FieldByName("PRODUNDIVFATCO").SetAsFloat(preco / (fator > 0 ? fator : 1));
  const int resposta = MsgAlertEx(msgPadrao.Msg("Atu_Cot"), TMsgDlgType::mtConfirmation,
                                  {msgPadrao.Msg("Sim"), msgPadrao.Msg("Nao")}, 2, 0, 0);
  if (resposta != mrFirstCaption) return;

  // Srv_AtuaPrecEco opens the connection and releases it on every path.
  const Value eco = Srv_AtuaPrecEco();
  if (eco.kind() != Value::Kind::Array || eco.AsArray().size() < 2)
    throw EDatabaseError(
        "AtuaPrecEco: a resposta do servidor deve trazer o preço econômico e o preço "
        "econômico PI");
  const ValueArray& precos = eco.AsArray();
  const double econ = precos[0].AsFloat();
  const double econPi = precos[1].AsFloat();
  cdsApurNeg.FieldByName("PRECOECON").SetAsFloat(econ);
  cdsApurNeg.FieldByName("PRECOECONPI").SetAsFloat(econPi);
}

}  // namespace apura::worksheet
