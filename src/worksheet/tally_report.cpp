// The worksheet's print command and the report form it opens.

#include "worksheet/tally_report.h"

#include "worksheet/form.h"

namespace apura::worksheet {

namespace rel_apuracao {
TfrmRelApuracao* frmRelApuracao = nullptr;
bool boStCriado = false;

void Inicializa() {
  boStCriado = false;
}
}  // namespace rel_apuracao

TfrmRelApuracao::TfrmRelApuracao(TComponent* owner) : TfrmDadosGerRel("frmRelApuracao", owner) {
  SetCaption("Apuração/Efetivação");
  lblCodTela.SetCaption(kCodTela);
  lblCodRel.SetCaption(kCodRel);
  lblAviso.SetCaption(
      "As escolhas feitas na planilha e ainda não efetivadas não constam deste relatório.");
  lblAviso.SetVisible(false);
  OnClose = [this](TComponent& s, TCloseAction& a) { FormClose(s, a); };
  OnActivate = [this](TComponent& s) { FormActivate(s); };
  rpddPadrao.BeforeGetQueryParams = [this](TReportParams& p, bool& c) {
    rpddPadraoBeforeGetQueryParams(p, c);
  };
}

void TfrmRelApuracao::FormClose(TComponent& Sender, TCloseAction& Action) {
  TfrmDadosGerRel::FormClose(Sender, Action);
  rel_apuracao::boStCriado = false;
}

void TfrmRelApuracao::FormActivate(TComponent& Sender) {
  TfrmDadosGerRel::FormActivate(Sender);
  Repaint();
}

void TfrmRelApuracao::rpddPadraoBeforeGetQueryParams(TReportParams& Params, bool&) {
  const bool tally = ExistParam(Params, "P_NRAPURACAO");
  const bool centre = ExistParam(Params, "P_CDCENTITMAP");
  if (!tally && !centre) return;
  // Only the worksheet opens this form; without it there is no line to print.
  if (!frmPlanApurNegGrid)
    throw std::logic_error("Relatório " + std::string(kCodRel) + ": a planilha não está aberta");
  const TClientDataSet& linhas = frmPlanApurNegGrid->cdsApurNeg;
  if (tally) Params.ParamByName("P_NRAPURACAO").Value = linhas.FieldByName("NRSEQITMAP").AsString();
  if (centre)
    Params.ParamByName("P_CDCENTITMAP").Value = linhas.FieldByName("CDCENTITMAP").AsString();
}

void CriaRelApuracao() {
  ScopedCursor cursor(crHourGlass);
  using rel_apuracao::boStCriado;
  using rel_apuracao::frmRelApuracao;
  if (!boStCriado || !frmRelApuracao) {
    CreateForm(frmRelApuracao);
    boStCriado = true;
  }
  TfrmRelApuracao& form = *frmRelApuracao;
  form.lblAviso.SetVisible(frmPlanApurNegGrid && frmPlanApurNegGrid->EscolhasNaoEfetivadas());
  form.ShowModal();
  form.SetWindowState(TWindowState::wsNormal);
}

void TfrmPlanApurNegGrid::sbtImprimirClick(TComponent&) {
  CriaRelApuracao();
}

}  // namespace apura::worksheet
