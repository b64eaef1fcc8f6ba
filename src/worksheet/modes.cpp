// Which commands are available in which situation, page changes through the
// menu and the active data link.

#include "worksheet/form.h"

namespace apura::worksheet {

namespace {

bool Editando(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert;
}

bool ModuloSuprimentos() {
  const int m = ModuloAtiv();
  return m == 34 || m == 77;
}

}  // namespace

void TfrmPlanApurNegGrid::Habilita_Geral() {
  if (Destroying()) return;
  if (!dtsAtivo) {
    for (TButtonFlat* b : {&sbtCancelar, &sbtConfirmar, &sbtIncluir, &sbtAlterar, &sbtExcluir,
                           &sbtProcurar, &sbtVerificar, &sbtPlanilha, &sbtSimulacao, &sbtApurar})
      b->SetEnabled(false);
    sbtGerarAF.SetEnabled(sbtGerarAF.Enabled() && sbtGerarAF.Tag != 99);
  } else {
    TClientDataSet* tabela = dtsAtivo->DataSet();
    const TDataSetState s = dtsAtivo->State();
    const bool browse = s == TDataSetState::dsBrowse;
    const bool vazia = !tabela || tabela->IsEmpty();
    const bool padrao = dtsAtivo == &dtsPadrao;
    const bool naoProduto = dtsAtivo != &dtsProduto;
    const bool cotacaoEscolhida = cdsApurNeg.FieldByName("IDITMSELAPUR").AsString() == "S";

    sbtCancelar.SetEnabled(Editando(s));
    sbtConfirmar.SetEnabled(Editando(s));
    sbtIncluir.SetEnabled(padrao && browse && !vazia && ActiveControl() == &dbgPadrao &&
                          cotacaoEscolhida);
    sbtAlterar.SetEnabled((dtsAtivo == &dtsApurNeg || padrao) && browse && !vazia &&
                          (ModuloSuprimentos() || padrao));
    sbtExcluir.SetEnabled(padrao && browse && !vazia);
    sbtProcurar.SetEnabled(browse && !vazia);
    sbtVerificar.SetEnabled(browse && !vazia);
    sbtTotais.SetEnabled(naoProduto && browse);
    sbtPlanilha.SetEnabled(naoProduto && browse);
    sbtApurar.SetEnabled(naoProduto && browse);
    sbtGerarAF.SetEnabled(naoProduto && browse && sbtGerarAF.Tag != 99);
    sbtSimulacao.SetEnabled(naoProduto && browse && ModuloSuprimentos());
  }

  mnuCancelar.SetEnabled(sbtCancelar.Enabled());
  mnuConfirmar.SetEnabled(sbtConfirmar.Enabled());
  mnuIncluir.SetEnabled(sbtIncluir.Enabled());
  mnuAlterar.SetEnabled(sbtAlterar.Enabled());
  mnuExcluir.SetEnabled(sbtExcluir.Enabled());
  mnuProcurar.SetEnabled(sbtProcurar.Enabled());
  mnuVerificar.SetEnabled(sbtVerificar.Enabled());
  mnuTotais.SetEnabled(sbtTotais.Enabled());
  mnuGerarAF.SetEnabled(sbtGerarAF.Enabled());
  mnuInfPlan.SetEnabled(sbtPlanilha.Enabled());
  mnuApurar.SetEnabled(sbtApurar.Enabled());
  mnuSimulacao.SetEnabled(sbtSimulacao.Enabled());
  mnuProduto.SetEnabled(tshProduto.Enabled());
  mnuGeral.SetEnabled(tshGeral.Enabled());
  mnuPadrao.SetEnabled(tshPadrao.Enabled());
  // The navigator would move the products under a quotation line being edited.
  dbnPadrao.SetEnabled(pgcPadrao.ActivePage() != &tshPadrao && !Editando(cdsApurNeg.State()));
}

void TfrmPlanApurNegGrid::dtsPadraoStateChange(TDataSource&) {
  if (Destroying()) return;
  const TDataSetState s = dtsPadrao.State();
  const bool browse = s == TDataSetState::dsBrowse;
  const bool cotacaoEscolhida = cdsApurNeg.FieldByName("IDITMSELAPUR").AsString() == "S";

  mnuCancelar.SetEnabled(Editando(s));
  mnuConfirmar.SetEnabled(Editando(s));
  mnuIncluir.SetEnabled(browse && ActiveControl() == &dbgPadrao && !cdsPai_ItmApurPrec.IsEmpty() &&
                        cotacaoEscolhida);
  const bool comLinhas = browse && !cdsItmApurPrec.IsEmpty();
  for (TMenuItem* m : {&mnuAlterar, &mnuExcluir, &mnuProcurar, &mnuVerificar})
    m->SetEnabled(comLinhas);

  sbtCancelar.SetEnabled(mnuCancelar.Enabled());
  sbtConfirmar.SetEnabled(mnuConfirmar.Enabled());
  sbtIncluir.SetEnabled(mnuIncluir.Enabled());
  sbtAlterar.SetEnabled(mnuAlterar.Enabled());
  sbtExcluir.SetEnabled(mnuExcluir.Enabled());
  sbtProcurar.SetEnabled(mnuProcurar.Enabled());
  sbtVerificar.SetEnabled(mnuVerificar.Enabled());

  // While a delivery line is edited the buyer stays on it.
  dbgCot_Filial.SetEnabled(!Editando(s));
  tshProduto.SetEnabled(!Editando(s));
  tshGeral.SetEnabled(!Editando(s));

  if (TColumn* c = dbgPadrao.FindColumn("NMFANTFORN"))
    c->SetButtonStyle(cotacaoEscolhida ? TColumnButtonStyle::cbsEllipsis
                                       : TColumnButtonStyle::cbsNone);
}

void TfrmPlanApurNegGrid::dtsApurNegStateChange(TDataSource&) {
  if (Destroying()) return;
  // While a price is edited the buyer stays on the quotation grid.
  const bool livre = !Editando(cdsApurNeg.State());
  tshProduto.SetEnabled(livre);
  tshPadrao.SetEnabled(livre);
  dbgRegiao.SetEnabled(livre);
  dbgProduto.SetEnabled(livre);
  dbnPadrao.SetEnabled(livre);
  Habilita_Geral();
}

void TfrmPlanApurNegGrid::dtsPai_ItmApurPrecStateChange(TDataSource&) {
  Habilita_Geral();
}

void TfrmPlanApurNegGrid::pgcPadraoChanging(TComponent&, bool&) {
  if (pgcPadrao.ActivePage() != &tshPadrao || cdsApurNeg.Tag != 99) return;
  cdsApurNeg.Tag = 0;

  lblInsert.SetCaption(msgPadrao.Msg("Atu_Dados"));
  panAnimacao.SetVisible(true);
  amnTempo.SetActive(true);
  Repaint();
  auto fim = [this] {
    panAnimacao.SetVisible(false);
    amnTempo.SetActive(false);
    Repaint();
  };
  try {
    const std::string item = cdsProdItem.FieldByName("CDPRODITMAP").AsString();
    stNRCOLEPRECO = cdsApurNeg.FieldByName("NRCOLEITMAP").AsString();
    stCDFORNECED = cdsApurNeg.FieldByName("CDFORNITMAP").AsString();
    stCDMARCA = cdsApurNeg.FieldByName("CDMARCITMAP").AsString();
    // Locating the item again re-filters the quotation lines, which then show
    // what the delivery changes wrote.
    cdsProdItem.Locate("CDPRODITMAP", Value(item), {true});
    cdsApurNeg.Locate("NRCOLEITMAP;CDFORNITMAP;CDMARCITMAP",
                      {Value(stNRCOLEPRECO), Value(stCDFORNECED), Value(stCDMARCA)}, {true});
  } catch (...) {
    fim();
    throw;
  }
  fim();
}

void TfrmPlanApurNegGrid::mnuProdutoClick(TComponent&) {
  if (pgcPadrao.ActivePage() == &tshProduto) return;
  pgcPadrao.SetActivePage(&tshProduto);
  pgcPadraoChange(pgcPadrao);
}

void TfrmPlanApurNegGrid::mnuGeralClick(TComponent&) {
  if (pgcPadrao.ActivePage() == &tshGeral) return;
  pgcPadrao.SetActivePage(&tshGeral);
  pgcPadraoChange(pgcPadrao);
}

void TfrmPlanApurNegGrid::mnuPadraoClick(TComponent&) {
  if (pgcPadrao.ActivePage() == &tshPadrao) return;
  pgcPadrao.SetActivePage(&tshPadrao);
  pgcPadraoChange(pgcPadrao);
}

void TfrmPlanApurNegGrid::GridEnter(TComponent& Sender) {
  if (&Sender == &dbgProdEsto)
    dtsAtivo = &dtsProduto;
  else if (&Sender == &dbgRegiao)
    dtsAtivo = &dtsRegiao;
  else if (&Sender == &dbgProduto)
    dtsAtivo = &dtsProdItem;
  else if (&Sender == &dbgFornecedor)
    dtsAtivo = &dtsApurNeg;
  else if (&Sender == &dbgCot_Filial)
    dtsAtivo = &dtsPai_ItmApurPrec;
  else if (&Sender == &dbgPadrao) {
    dtsPadraoStateChange(dtsPadrao);
    dtsAtivo = &dtsPadrao;
  } else if (&Sender == &panFiltro || &Sender == &panFilt_Entrega) {
    dtsAtivo = nullptr;
  }
}

}  // namespace apura::worksheet
