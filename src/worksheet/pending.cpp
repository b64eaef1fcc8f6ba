// Handlers whose rules belong to subsystems still to be written. Each is bound
// to its event already; the subsystem that implements one removes it from
// here and defines it in its own folder. Until then they do nothing.

#include "worksheet/form.h"

namespace apura::worksheet {

// The tally report.
void TfrmPlanApurNegGrid::sbtImprimirClick(TComponent&) {}

// Commands of the tally, AF, simulation, spreadsheet and totals subsystems.
void TfrmPlanApurNegGrid::sbtSimulacaoClick(TComponent&) {}
void TfrmPlanApurNegGrid::sbtPlanilhaClick(TComponent&) {}

}  // namespace apura::worksheet
