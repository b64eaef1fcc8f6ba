// The best quotations chosen by the server in one step: the worksheet only
// asks, lets the server decide, reads back what it decided and warns about
// chosen lines the server could not price.

#include "worksheet/form.h"

namespace apura::worksheet {

void TfrmPlanApurNegGrid::sbtApurarClick(TComponent&) {
  // A price typed but not yet posted goes through its own rules first.
  if (cdsApurNeg.State() == TDataSetState::dsEdit) cdsApurNeg.Post();
  MelhorCotacao("F");
  // Also after a declined confirmation: the warning then speaks of the last
  // server tally, which is still what the snapshot holds.
  Verifica_PrecEco_Zerado();
}

void TfrmPlanApurNegGrid::MelhorCotacao(const std::string& stTipo) {
  if (msgPadrao.ShowMsg("Conf_apur", TMsgDlgType::mtConfirmation, mbYesNo, 0) != mrYes) return;

  Repaint();
  if (pgcPadrao.ActivePage() != &tshGeral) {
    pgcPadrao.SetActivePage(&tshGeral);
    pgcPadraoChange(pgcPadrao);
  }

  {
    // The animation goes with the call, also when the server refuses; the
    // connection use is released inside the call on every path.
    BusyAnimation avi(msgPadrao.Msg("lblApur_Cot"));
    Srv_MelhorCotacao(stTipo);
  }

  // Only what the tally changes is read again; the products, their regions
  // and the purchasing parameters keep their rows and cursors.
  for (TClientDataSet* t :
       {&cdsProdItem, &cdsApurNeg, &cdsPai_ItmApurPrec, &cdsItmApurPrec, &cdsDados})
    t->Close();
  // Each table reloaded takes its record filter against the masters' rows,
  // so the lists show the region in view and the first of its items.
  Get_Data();
  // Sorted after it was read, the quotation list kept the row the server sent
  // first wherever that sorts to; the buyer starts from the top of the list.
  // Nothing follows a move of this list, so the move re-filters nothing.
  if (cdsApurNeg.Active()) cdsApurNeg.First();

  cdsAuxApur.SetData(cdsApurNeg.Data());
}

void TfrmPlanApurNegGrid::Verifica_PrecEco_Zerado() {
  if (!cdsAuxApur.Active()) return;
  const TField& sel = cdsAuxApur.FieldByName("IDITMSELAPUR");
  const TField& econ = cdsAuxApur.FieldByName("PRECOECON");
  bool zerado = false;
  for (cdsAuxApur.First(); !cdsAuxApur.Eof() && !zerado; cdsAuxApur.Next()) {
    // Empty reads as zero; a price that is no number is no price either.
    zerado = sel.TextEquals("S") && !(econ.AsFloat() > 0);
  }
  if (zerado) msgPadrao.ShowMsg("ExistePrecEco_Inf", TMsgDlgType::mtWarning, mbOK, 0);
}

}  // namespace apura::worksheet
