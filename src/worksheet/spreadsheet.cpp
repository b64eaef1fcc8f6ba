// The spreadsheet information screen of the current quotation line.

#include "worksheet/form.h"

namespace apura::worksheet {

void TfrmPlanApurNegGrid::sbtPlanilhaClick(TComponent&) {
  const TDataSetState s = cdsApurNeg.State();
  if (s == TDataSetState::dsEdit || s == TDataSetState::dsInsert) {
    if (msgPadrao.ShowMsg("Conf_Alter", TMsgDlgType::mtConfirmation, mbYesNo, 0) == mrYes) {
      Repaint();
      // A price the rules refuse stops here, with their message.
      sbtConfirmarClick(sbtPlanilha);
    }
  }
  // The same key as the simulation screen's, behind a flag of that screen.
  const ValueArray chave = Chave_Cotacao_Tela();
  ValueArray params;
  params.reserve(chave.size() + 1);
  params.emplace_back(false);
  for (const Value& v : chave) params.push_back(v);
  LoadBPL("PRQ01803", params);
  Repaint();
}

}  // namespace apura::worksheet
