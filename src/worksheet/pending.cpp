// Handlers whose rules belong to subsystems still to be written. Each is bound
// to its event already; the subsystem that implements one removes it from
// here and defines it in its own folder. Until then they do nothing.

#include "worksheet/form.h"

namespace apura::worksheet {

// The tally report.

// Commands of the tally, AF, simulation, spreadsheet and totals subsystems.
void TfrmPlanApurNegGrid::sbtApurarClick(TComponent&) {}
void TfrmPlanApurNegGrid::sbtGerarAFClick(TComponent&) {}
void TfrmPlanApurNegGrid::btnAnalisAFClick(TComponent&) {}
void TfrmPlanApurNegGrid::sbtTotaisClick(TComponent&) {}
void TfrmPlanApurNegGrid::mnuTotaisClick(TComponent&) {}
void TfrmPlanApurNegGrid::dbgFornecedorKeyDown(TComponent&, int&, TShiftState) {}
void TfrmPlanApurNegGrid::dbgPadraoEditButtonClick(TComponent&) {}

// Delivery line rules and the unit-price edit.
void TfrmPlanApurNegGrid::cdsItmApurPrecAfterInsert(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsItmApurPrecBeforePost(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsItmApurPrecAfterPost(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsItmApurPrecAfterCancel(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsItmApurPrecBeforeDelete(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsItmApurPrecAfterDelete(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsItmApurPrecIDMOTIVPRESCGetText(TField&, std::string&, bool) {}
void TfrmPlanApurNegGrid::cdsApurNegBeforeInsert(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsApurNegBeforeEdit(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsApurNegAfterEdit(TClientDataSet&) {}
void TfrmPlanApurNegGrid::cdsApurNegBeforePost(TClientDataSet&) {}

}  // namespace apura::worksheet
