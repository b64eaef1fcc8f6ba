// The master-detail views: each detail table holds every row of the tally and
// shows those of its masters' current rows, through a record filter. Moving a
// master re-filters its detail.

#include "framework/format.h"
#include "worksheet/form.h"

namespace apura::worksheet {

namespace {

// An empty master has no current row: nothing compares equal to it.
bool SameAsMaster(const TField& detail, const TField& master) {
  if (master.DataSet().IsEmpty()) return false;
  return detail.AsString() == master.AsString();
}

// Dates compare through their text, so a time of day tells two deliveries apart.
bool SameDateText(const TField& detail, const TField& master) {
  if (master.DataSet().IsEmpty()) return false;
  return detail.DisplayText() == master.DisplayText();
}

bool ConsolidaProdutos(const TField& idConsPrSol) {
  return idConsPrSol.AsString() == "S";
}

}  // namespace

// While an operation sets an expression of its own, the expression alone
// decides which rows are seen.

void TfrmPlanApurNegGrid::cdsRegiaoFilterRecord(TClientDataSet& DataSet, bool& Accept) {
  if (!DataSet.Filter().empty()) {
    Accept = true;
    return;
  }
  Accept = SameAsMaster(*ff_.regiaoCDPRODESTO, *ff_.produtoCDPRODUTO) ||
           ConsolidaProdutos(*ff_.paraIDCONSPRSOL);
}

void TfrmPlanApurNegGrid::cdsProdItemFilterRecord(TClientDataSet& DataSet, bool& Accept) {
  if (!DataSet.Filter().empty()) {
    Accept = true;
    return;
  }
  Accept = (SameAsMaster(*ff_.itemCDPRODESTO, *ff_.produtoCDPRODUTO) ||
            ConsolidaProdutos(*ff_.paraIDCONSPRSOL)) &&
           SameAsMaster(*ff_.itemCDREGITMAP, *ff_.regiaoCDREGITMAP);
}

void TfrmPlanApurNegGrid::cdsApurNegFilterRecord(TClientDataSet& DataSet, bool& Accept) {
  if (!DataSet.Filter().empty()) {
    Accept = true;
    return;
  }
  Accept = SameAsMaster(*ff_.apurCDPRODITMAP, *ff_.itemCDPRODITMAP) &&
           SameAsMaster(*ff_.apurCDREGITMAP, *ff_.regiaoCDREGITMAP);
}

void TfrmPlanApurNegGrid::cdsPai_ItmApurPrecFilterRecord(TClientDataSet& DataSet, bool& Accept) {
  if (!DataSet.Filter().empty()) {
    Accept = true;
    return;
  }
  Accept = SameAsMaster(*ff_.paiCDPRODITMAP, *ff_.apurCDPRODITMAP) &&
           SameAsMaster(*ff_.paiCDREGITMAP, *ff_.apurCDREGITMAP);
}

void TfrmPlanApurNegGrid::cdsItmApurPrecFilterRecord(TClientDataSet& DataSet, bool& Accept) {
  if (!DataSet.Filter().empty()) {
    Accept = true;
    return;
  }
  Accept = ff_.itmIDITMSELAPUR->AsString() == "S" &&
           SameAsMaster(*ff_.itmCDPRODITMAP, *ff_.apurCDPRODITMAP) &&
           SameAsMaster(*ff_.itmCDREGITMAP, *ff_.apurCDREGITMAP) &&
           SameAsMaster(*ff_.itmCDFILIAP, *ff_.paiCDFILIAP) &&
           SameDateText(*ff_.itmDTENTRAPUT, *ff_.paiDTENTRAPUT);
}

void TfrmPlanApurNegGrid::cdsRegiaoAfterScroll(TClientDataSet&) {
  Refiltra(cdsProdItem);
}

void TfrmPlanApurNegGrid::cdsProdItemAfterScroll(TClientDataSet&) {
  Refiltra(cdsApurNeg);
}

void TfrmPlanApurNegGrid::cdsPai_ItmApurPrecAfterScroll(TClientDataSet&) {
  Refiltra(cdsItmApurPrec);
}

void TfrmPlanApurNegGrid::PeriodoMudou(TEdit& edtData, TEdit& edtNmSem, TEdit& edtNumSem) {
  DateTime d;
  if (!TextToDateTime(edtData.Text(), d))
    throw ConversionError("'" + edtData.Text() + "' is not a valid date");
  // Both derived, then both shown: a failure leaves the two boxes as they were.
  std::string dia = LeftChars(NomeSemana(d), 3);
  std::string semana = std::to_string(NumeroSemana(d));
  edtNmSem.SetText(std::move(dia));
  edtNumSem.SetText(std::move(semana));
}

void TfrmPlanApurNegGrid::edtEnt_IniChange(TComponent&) {
  PeriodoMudou(edtEnt_Ini, edtNmSem_Ini, edtNum_Sem_Ini);
}

void TfrmPlanApurNegGrid::edtEnt_FinChange(TComponent&) {
  PeriodoMudou(edtEnt_Fin, edtNmSem_Fin, edtNum_Sem_Fin);
}

}  // namespace apura::worksheet
