// The standard record commands as the worksheet runs them, and the keys that
// move between its grids.

#include "worksheet/form.h"

namespace apura::worksheet {

namespace {

bool Editando(const TClientDataSet& t) {
  return t.State() == TDataSetState::dsEdit || t.State() == TDataSetState::dsInsert;
}

bool CampoSelecionado(const TDBGrid& grid, std::string_view field) {
  const TField* f = grid.SelectedField();
  return f && f->FieldName() == field;
}

void Foca(TDBGrid& grid) {
  if (grid.CanFocus()) grid.SetFocus();
}

bool Alt(TShiftState s) {
  return (s & ssAlt) != 0;
}

}  // namespace

void TfrmPlanApurNegGrid::sbtIncluirClick(TComponent& Sender) {
  if (ActiveControl() != &dbgPadrao) return;
  TfrmPadraoGrid::sbtIncluirClick(Sender);
  dbgPadrao.SetSelectedField("NMFANTFORN");
}

void TfrmPlanApurNegGrid::sbtAlterarClick(TComponent& Sender) {
  if (ActiveControl() == &dbgPadrao) {
    TfrmPadraoGrid::sbtAlterarClick(Sender);
    dbgPadrao.SetSelectedField("QTACOMP");
  } else if (ActiveControl() == &dbgFornecedor) {
    if (TClientDataSet* t = dtsApurNeg.DataSet()) t->Edit();
    dbgFornecedor.SetSelectedField("VRPRECUNIAP");
  }
}

void TfrmPlanApurNegGrid::sbtExcluirClick(TComponent& Sender) {
  if (ActiveControl() == &dbgPadrao) TfrmPadraoGrid::sbtExcluirClick(Sender);
}

void TfrmPlanApurNegGrid::sbtProcurarClick(TComponent&) {
  TClientDataSet* t = dtsAtivo ? dtsAtivo->DataSet() : nullptr;
  if (t && t->Active()) Procura(*t);
}

void TfrmPlanApurNegGrid::sbtVerificarClick(TComponent&) {}

void TfrmPlanApurNegGrid::sbtConfirmarClick(TComponent& Sender) {
  if (pgcPadrao.ActivePage() == &tshPadrao)
    TfrmPadraoGrid::sbtConfirmarClick(Sender);
  else if (pgcPadrao.ActivePage() == &tshGeral && Editando(cdsApurNeg))
    cdsApurNeg.Post();
}

void TfrmPlanApurNegGrid::sbtCancelarClick(TComponent&) {
  TClientDataSet* t = dtsAtivo ? dtsAtivo->DataSet() : nullptr;
  if (!t || !Editando(*t)) return;
  if (msgMensagensPadroes.ShowMsg("Canc", TMsgDlgType::mtConfirmation, mbYesNo, 0) == mrYes)
    t->Cancel();
}

void TfrmPlanApurNegGrid::FormKeyDown(TComponent& Sender, int& Key, TShiftState Shift) {
  if (Key == VK_F12) {
    Key = 0;
    return;
  }
  TfrmPadraoGrid::FormKeyDown(Sender, Key, Shift);
  // Only the quantity of a delivery line may be erased from the keyboard.
  if ((Key == VK_DELETE || Key == VK_BACK) && ActiveControl() == &dbgPadrao &&
      !CampoSelecionado(dbgPadrao, "QTACOMP")) {
    Key = 0;
    Abort();
  }
}

void TfrmPlanApurNegGrid::dbgPadraoKeyDown(TComponent& Sender, int& Key, TShiftState Shift) {
  TfrmPadraoGrid::dbgPadraoKeyDown(Sender, Key, Shift);
  if (Key == VK_PRIOR && Alt(Shift)) {
    Key = 0;
    Foca(dbgCot_Filial);
  }
}

void TfrmPlanApurNegGrid::dbgPadraoKeyPress(TComponent& Sender, char32_t& Key) {
  TfrmPadraoGrid::dbgPadraoKeyPress(Sender, Key);
  // No signs and no exponents in a quantity: a blank, which a number refuses.
  if (Key == U'-' || Key == U'+' || Key == U'e' || Key == U'E') Key = U' ';
  if (Key != 0 && Key != U'\r' && !CampoSelecionado(dbgPadrao, "QTACOMP")) Key = 0;
}

void TfrmPlanApurNegGrid::dbgPadraoColEnter(TComponent&) {
  // The reason button is ready as soon as its column is entered.
  if (CampoSelecionado(dbgPadrao, "IDMOTIVPRESC")) dbgPadrao.SetEditorMode(true);
}

void TfrmPlanApurNegGrid::dbgCot_FilialKeyDown(TComponent&, int& Key, TShiftState Shift) {
  if (Key == VK_DELETE && (Shift & ssCtrl)) {
    Key = 0;  // branch request lines are never deleted
  } else if (Key == VK_NEXT && Alt(Shift)) {
    Key = 0;
    Foca(dbgPadrao);
  }
}

void TfrmPlanApurNegGrid::dbgRegiaoKeyDown(TComponent&, int& Key, TShiftState Shift) {
  if (Key == VK_NEXT && Alt(Shift)) {
    Key = 0;
    Foca(dbgProduto);
  }
}

void TfrmPlanApurNegGrid::dbgProdutoKeyDown(TComponent&, int& Key, TShiftState Shift) {
  if (!Alt(Shift)) return;
  if (Key == VK_PRIOR) {
    Key = 0;
    Foca(dbgRegiao);
  } else if (Key == VK_NEXT) {
    Key = 0;
    Foca(dbgFornecedor);
  }
}

}  // namespace apura::worksheet
