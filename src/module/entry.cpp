#include "module/entry.h"

#include <array>

#include "framework/forms.h"
#include "framework/host.h"
#include "worksheet/form.h"
#include "worksheet/launch.h"
#include "worksheet/tally_report.h"

using apura::ConversionError;
using apura::Value;
using apura::worksheet::TfrmPlanApurNegGrid;

namespace {

constexpr const char* kUnits[] = {"worksheet", "justification dialog", "tally report"};
constexpr ApuraPackageInfo kPackage{"PRQ05001", kUnits, 3};

// Unit initialisation counter: load and unload run their work once however
// often the host calls them.
int initCount = 0;

}  // namespace

extern "C" {

void IniProc(const Value& Param) {
  if (Param.kind() != Value::Kind::Array)
    throw ConversionError(std::string("IniProc: the launch values must be an array, not ") +
                          apura::KindName(Param.kind()));
  const apura::ValueArray& values = Param.AsArray();
  std::array<std::string, 7> st;
  // Every value is read before anything is stored.
  for (size_t i : {3u, 4u, 5u, 6u, 2u, 1u, 0u}) {
    if (i >= values.size())
      throw ConversionError("IniProc: launch value " + std::to_string(i) + " is missing (" +
                            std::to_string(values.size()) + " given, 7 expected)");
    try {
      st[i] = values[i].ToText();
    } catch (const std::exception& e) {
      throw ConversionError("IniProc: launch value " + std::to_string(i) + ": " + e.what());
    }
  }
  CriaPlanApurNegGrid(st[0], st[1], st[2], st[3], st[4], st[5], st[6]);
}

void CriaPlanApurNegGrid(const std::string& stP_CentCmp, const std::string& stP_CdComprador,
                         const std::string& stP_NmComprador, const std::string& stP_DtInicial,
                         const std::string& stP_DtFinal, const std::string& stP_NrSeq_Rows,
                         const std::string& stP_IdQtFrac) {
  apura::Host().SetCursor(apura::crHourGlass);
  bool novo = false;
  try {
    stCentCmp = stP_CentCmp;
    stCdComprador = stP_CdComprador;
    stNmComprador = stP_NmComprador;
    stDtInicial = stP_DtInicial;
    stDtFinal = stP_DtFinal;
    stNrSeq_Rows = stP_NrSeq_Rows;
    stIdQtFrac = stP_IdQtFrac;
    if (!boStCriado || !frmPlanApurNegGrid) {
      // The factory stores the instance before its creation handler runs, so
      // the tally opened from there finds it; an error in that handler is
      // reported and the form is created all the same.
      apura::CreateForm(frmPlanApurNegGrid);
      boStCriado = true;
      novo = true;
    }
  } catch (...) {
    apura::Host().SetCursor(apura::crDefault);
    throw;
  }
  apura::Host().SetCursor(apura::crDefault);
  TfrmPlanApurNegGrid& frm = *frmPlanApurNegGrid;
  frm.Show();
  if (!novo) frm.BringToFront();
  frm.Repaint();
}

void MontaApur(const std::string& stNrApur) {
  apura::worksheet::MontaApur(stNrApur);
}

const ApuraPackageInfo* GetPackageInfoTable() {
  return &kPackage;
}

void PackageLoad() {
  if (initCount++ != 0) return;
  boStCriado = false;
  apura::worksheet::rel_apuracao::Inicializa();
}

void PackageUnload() {
  if (initCount == 0 || --initCount > 0) return;
  stIdQtFrac.clear();
  stNrSeq_Rows.clear();
  stDtFinal.clear();
  stDtInicial.clear();
  stNmComprador.clear();
  stCdComprador.clear();
  stCentCmp.clear();
}
}
