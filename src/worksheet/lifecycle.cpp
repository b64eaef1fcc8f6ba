// Creation, activation and closing of the worksheet, and the message hook it
// installs while it is the active window.

#if defined(__linux__)
#include <malloc.h>
#endif

#include "framework/format.h"
#include "worksheet/form.h"

namespace apura::worksheet {

namespace {

bool ModuloSuprimentos() {
  const int m = ModuloAtiv();
  return m == 34 || m == 77;
}

// Hands back to the system the memory the process no longer touches; a
// platform without such a service does nothing.
void LiberaMemoria() {
#if defined(__linux__) && defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace

void TfrmPlanApurNegGrid::FormCreate(TComponent& Sender) {
  TfrmPadraoGrid::FormCreate(Sender);

  boPrimVez = true;
  stlConnection.clear();

  if (KeepConnected()) {
    netPlanApurNegGrid.SetConnected(true);
    netCompras.SetConnected(true);
  }

  Repaint();
  dtsAtivo = &dtsProduto;
  boPEME = false;

  edtComprador.SetText(stNmComprador);
  edtEnt_Ini.SetText(stDtInicial);
  edtEnt_Fin.SetText(stDtFinal);

  Habilita_Geral();

  const std::string mask = DBPict(0);
  cdsProdItemCDARVPROD->SetEditMask(mask);
  cdsProdutoCDARVPROD->SetEditMask(mask);

  pgcPadrao.SetActivePage(&tshProduto);

  if (!cdsParaSupri.Active()) cdsParaSupri.SetData(Srv_GetParamCmp());

  const bool consolidado = cdsParaSupriIDCONSPRSOL->AsString() == "S";
  tshProduto.SetTabVisible(!consolidado);
  if (consolidado) pgcPadrao.SetActivePage(&tshGeral);

  const bool suprimentos = ModuloSuprimentos();
  dbgPadrao.Columns[IndiceCol(dbgPadrao, "VRPRECONPIAP")].SetVisible(suprimentos);
  dbgFornecedor.Columns[IndiceCol(dbgFornecedor, "PRECOECONPI")].SetVisible(suprimentos);

  qryAutGrupOp.Close();
  qryAutGrupOp.Open();
  if (qryAutGrupOp.IsEmpty()) {
    boPEME = true;  // nobody is restricted
  } else {
    const std::string operador = FoldCase(Operador());
    TField& cd = qryAutGrupOp.FieldByName("CDOPERADOR");
    for (qryAutGrupOp.First(); !qryAutGrupOp.Eof() && !boPEME; qryAutGrupOp.Next())
      boPEME = FoldCase(cd.AsString()) == operador;
  }
  if (!boPEME) MessageDlg(msgPadrao.Msg("Oper_Npermissao"), TMsgDlgType::mtWarning, mbOK, 0);

  MontaApur(stNrSeq_Rows);
}

void TfrmPlanApurNegGrid::FormActivate(TComponent&) {
  MsgEventForm([this](HostMessage& msg, bool& handled) { OnMessage(msg, handled); });
  if (!boPrimVez) return;
  boPrimVez = false;

  SetWindowState(Host().ScreenHeight() == 480 ? TWindowState::wsMaximized : TWindowState::wsNormal);
  Repaint();

  if (ModuloAtiv() == 4) {
    const bool entrega = tshPadrao.Enabled();
    mnuPadrao.SetEnabled(entrega);
    sbtSimulacao.SetEnabled(entrega);
    sbtPlanilha.SetEnabled(entrega);
    mnuSimulacao.SetEnabled(entrega);
    mnuInfPlan.SetEnabled(entrega);
  }
  if (pgcPadrao.ActivePage() == &tshGeral && dbgFornecedor.CanFocus()) dbgFornecedor.SetFocus();
  dbgFornecedor.SetOption(dgEditing, ModuloSuprimentos());
}

void TfrmPlanApurNegGrid::FormDeactivate(TComponent&) {
  MsgEventForm(nullptr);
}

namespace {

// A choice made and dropped again (a justification cancelled, the space bar
// twice) leaves its rows in the change log with their original values: that
// is nothing to lose. Only rows that differ from what the server sent count.
bool DiffersFromServer(const TClientDataSet& dados) {
  if (dados.ChangeCount() == 0) return false;
  const DataPacket delta = dados.Delta();
  const std::vector<RowStatus>& status = delta.status();
  const DataPacket* originals = delta.originals();
  std::vector<int64_t> originalRow(delta.RowCount(), -1);
  if (originals)
    for (size_t k = 0; k < delta.originalOf().size(); ++k)
      if (delta.originalOf()[k] < originalRow.size())
        originalRow[delta.originalOf()[k]] = int64_t(k);
  const size_t columns = delta.fields().size();
  for (size_t row = 0; row < delta.RowCount(); ++row) {
    if (row >= status.size() || status[row] != RowStatus::Modified || originalRow[row] < 0)
      return true;
    const size_t o = size_t(originalRow[row]);
    for (size_t c = 0; c < columns; ++c)
      if (!(delta.Cell(c, row) == originals->Cell(c, o))) return true;
  }
  return false;
}

}  // namespace

bool TfrmPlanApurNegGrid::EscolhasNaoEfetivadas() const {
  return cdsDados.Active() && DiffersFromServer(cdsDados);
}

void TfrmPlanApurNegGrid::FormCloseQuery(TComponent&, bool& CanClose) {
  // Delivery choices live only in cdsDados until effectuation sends them;
  // closing would lose them without a word, and so would a delivery line
  // still being typed.
  if (boFechaSemConfirmar || !cdsDados.Active()) return;
  auto editando = [](const TClientDataSet& t) {
    return t.State() == TDataSetState::dsEdit || t.State() == TDataSetState::dsInsert;
  };
  const bool typing = editando(cdsItmApurPrec) || editando(cdsDados);
  if (!typing && !EscolhasNaoEfetivadas()) return;
  CanClose = msgPadrao.ShowMsg("Conf_Fechar", TMsgDlgType::mtConfirmation, mbYesNo, 0) == mrYes;
}

void TfrmPlanApurNegGrid::Fecha_SemConfirmar() {
  boFechaSemConfirmar = true;
  Close();
}

void TfrmPlanApurNegGrid::FormClose(TComponent& Sender, TCloseAction& Action) {
  boStCriado = false;
  // A connection that never reports itself closed must not hang the close.
  for (TNetConnection* net : {&netCompras, &netPlanApurNegGrid})
    for (int tries = 0; net->Connected() && tries < 100; ++tries) net->SetConnected(false);
  try {
    LiberaMemoria();
  } catch (...) {
  }
  Host().ProcessMessages();
  TfrmPadraoGrid::FormClose(Sender, Action);
}

void TfrmPlanApurNegGrid::TrocaDecimal(HostMessage& Msg) {
  if (Msg.key == VK_OEM_PERIOD || Msg.key == VK_DECIMAL) Msg.key = VK_OEM_COMMA;
}

void TfrmPlanApurNegGrid::OnMessage(HostMessage& Msg, bool&) {
  Habilita_Geral();
  TControl* active = ActiveControl();
  if (!active || active->Name.empty()) return;
  if (CurrentFormat().decimalSeparator != ',') return;
  if (auto* grid = dynamic_cast<TDBGrid*>(active)) {
    TField* f = grid->SelectedField();
    if (f && f->DataType() == FieldType::Float) TrocaDecimal(Msg);
  } else if (auto* edit = dynamic_cast<TDBEdit*>(active)) {
    TDataSource* src = edit->DataSource();
    TClientDataSet* table = src ? src->DataSet() : nullptr;
    TField* f = table ? table->FindField(edit->DataField()) : nullptr;
    if (f && f->DataType() == FieldType::Float) TrocaDecimal(Msg);
  }
}

}  // namespace apura::worksheet
