// The quotation picker of "por Entrega": the free quotations a delivery line
// can take, cheapest first, and the reasons a chosen line was chosen.

#include <string>

#include "worksheet/form.h"

namespace apura::worksheet {

namespace {

// The fields a delivery line takes from the pick list, in the order copied.
constexpr const char* kCamposEscolha[] = {"CDFORNITMAP", "NMFANTFORN",  "CDMARCITMAP",
                                          "NMMARCA",     "NRCOLEITMAP", "VRPRECUNIAP",
                                          "VRPRECECOAP", "VRPRECONPIAP"};

constexpr const char* kCamposLista[] = {"NRCOLEITMAP", "NMFANTFORN",  "NMMARCA",
                                        "VRPRECUNIAP", "VRPRECECOAP", "VRPRECONPIAP",
                                        "CDFORNITMAP", "CDMARCITMAP"};

struct Motivo {
  size_t posicao;  // 0-based
  char caractere;
  const char* chave;
};

// Each of the first five positions of a reason code is one criterion of the
// choice; any other character means the criterion did not apply.
constexpr Motivo kMotivos[] = {
    {0, '1', "EscApur_ProdPref"}, {1, '7', "EscApur_MFO"},    {1, '8', "EscApur_MFP"},
    {1, '9', "EscApur_MFR"},      {2, '4', "EscApur_FO"},     {2, '5', "EscApur_FP"},
    {2, '6', "EscApur_FR"},       {2, 'A', "EscApur_Acordo"}, {3, '1', "EscApur_MO"},
    {3, '2', "EscApur_MP"},       {3, '3', "EscApur_MR"},     {4, '1', "EscApur_LisPrec"},
    {4, '2', "EscApur_Cotacao"},
};

}  // namespace

void TfrmPlanApurNegGrid::Monta_PesqForn() {
  const std::string produto = cdsApurNeg.FieldByName("CDPRODITMAP").AsString();
  const std::string filial = cdsPai_ItmApurPrec.FieldByName("CDFILIAP").AsString();
  // Only the product's rows of the branch can pass the filter below; copying
  // the whole tally for them took longer than the buyer's keystroke.
  cdsAuxiliar.SetData(
      cdsDados.RowsData(cdsDados.RowsWithKey("CDPRODITMAP;CDFILIAP", {produto, filial})));
  cdsAuxiliar.SetFiltered(true);
  cdsAuxiliar.SetFilter("[IDITMSELAPUR] = 'N' and [CDPRODITMAP] = " + QuotedStr(produto) + " and " +
                        "[CDFILIAP] = " + QuotedStr(filial) + " and " + "[DTENTRAPUT] = " +
                        QuotedStr(cdsPai_ItmApurPrec.FieldByName("DTENTRAPUT").DisplayText()));
  cdsAuxiliar.First();

  if (cdsPesqForn.Active())
    cdsPesqForn.EmptyDataSet();
  else
    cdsPesqForn.CreateDataSet();
  // Filled in natural order, sorted once at the end.
  cdsPesqForn.SetIndexName({});
  cdsPesqForn.DisableControls();
  try {
    const TField& preco = cdsAuxiliar.FieldByName("VRPRECUNIAP");
    for (; !cdsAuxiliar.Eof(); cdsAuxiliar.Next()) {
      // A quotation without a price cannot be ordered.
      if (preco.AsFloat() == 0) continue;
      cdsPesqForn.Append();
      for (const char* campo : kCamposLista)
        cdsPesqForn.FieldByName(campo).SetValue(cdsAuxiliar.FieldByName(campo).AsValue());
      cdsPesqForn.Post();
    }
  } catch (...) {
    if (cdsPesqForn.State() == TDataSetState::dsInsert) cdsPesqForn.Cancel();
    cdsPesqForn.EnableControls();
    throw;
  }
  // Defined once: the order stays as first chosen while the worksheet is open.
  bool definido = false;
  for (const IndexDef& d : cdsPesqForn.IndexDefs()) definido = definido || d.name == "IndPesq";
  if (!definido) {
    cdsPesqForn.AddIndex(
        "IndPesq", cdsParaSupriIDTIPOAPUR->AsString() == "1" ? "VRPRECECOAP" : "VRPRECUNIAP", true);
  }
  cdsPesqForn.SetIndexName("IndPesq");
  cdsPesqForn.First();
  cdsPesqForn.EnableControls();
}

void TfrmPlanApurNegGrid::Copia_PesqForn() {
  for (const char* campo : kCamposEscolha)
    cdsItmApurPrec.FieldByName(campo).SetValue(cdsPesqForn.FieldByName(campo).AsValue());
}

std::string TfrmPlanApurNegGrid::Texto_Motivo(const std::string& stMotivo) {
  if (EmptyString(stMotivo)) return {};
  std::string texto;
  for (size_t i = 0; i < stMotivo.size() && i < 5; ++i)
    for (const Motivo& m : kMotivos)
      if (m.posicao == i && m.caractere == stMotivo[i]) texto += msgPadrao.Msg(m.chave);
  if (EmptyString(texto)) texto = msgPadrao.Msg("EscApur_Manual");
  return texto;
}

void TfrmPlanApurNegGrid::dbgPadraoEditButtonClick(TComponent&) {
  const TField* campo = dbgPadrao.SelectedField();
  if (!campo) return;
  if (campo->FieldName() == "IDMOTIVPRESC") {
    const std::string texto = Texto_Motivo(cdsItmApurPrecIDMOTIVPRESC->AsString());
    if (!texto.empty()) MessageDlg(texto, TMsgDlgType::mtInformation, mbOK);
  }
  if (campo->FieldName() == "NMFANTFORN") {
    Monta_PesqForn();
    if (cdsPesqForn.IsEmpty()) MensErro(msgPadrao.Msg("Cot_N_Cad"), true);
    if (Pesquisar(dtsPesqForn, msgPadrao.Msg("Tit_Cot"), false, true)) {
      // Not posted here: the rules run when the buyer confirms the line.
      if (cdsItmApurPrec.State() == TDataSetState::dsBrowse) cdsItmApurPrec.Edit();
      Copia_PesqForn();
    }
  }
}

}  // namespace apura::worksheet
