#pragma once
// Module-wide state: the launch settings every part of the worksheet reads
// directly, and the one worksheet instance. Defined here so the worksheet code
// and its tests can reach them; the module exports them under these names.

#include <string>

namespace apura::worksheet {
class TfrmPlanApurNegGrid;
}

extern "C" {
// The one worksheet instance; empty until first created.
extern apura::worksheet::TfrmPlanApurNegGrid* frmPlanApurNegGrid;
// The worksheet form exists.
extern bool boStCriado;

// Launch settings, stored exactly as the host handed them over.
extern std::string stCentCmp;      // purchasing centre
extern std::string stCdComprador;  // buyer code
extern std::string stNmComprador;  // buyer name
extern std::string stDtInicial;    // start of the delivery period, host date format
extern std::string stDtFinal;      // end of the delivery period
extern std::string stNrSeq_Rows;   // tally to open
extern std::string stIdQtFrac;     // "S": a tally already effectuated may be effectuated again
}

namespace apura::worksheet {

// (Re)loads a tally into the open worksheet; an error when none is open.
void MontaApur(const std::string& stNrApur);

}  // namespace apura::worksheet
