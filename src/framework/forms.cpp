#include "framework/forms.h"
#include "framework/names.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace apura {

namespace {
bool Editing(const TClientDataSet* ds) {
  return ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
}
}  // namespace

// --- TForm ------------------------------------------------------------------

TForm::TForm(std::string name, TComponent* owner) : TControl(owner, std::move(name), nullptr) {
  SetVisible(false);
}

TForm::~TForm() {
  BeginDestroy();
}

void TForm::SetActiveControl(TControl* control) {
  if (control == activeControl_) return;
  if (control && control->ParentForm() != this)
    throw std::invalid_argument("Control " + control->Name + " is not on form " + Name);
  TControl* old = activeControl_;
  if (old && old->OnExit) old->OnExit(*old);
  activeControl_ = control;
  Changed("ActiveControl");
  if (control && control->OnEnter) control->OnEnter(*control);
}

bool TForm::RunCreate() {
  return GuardedCall([this] {
    if (OnCreate) OnCreate(*this);
  });
}

void TForm::Show() {
  if (!Visible()) {
    SetVisible(true);
    if (OnShow) OnShow(*this);
  }
  Host().ShowForm(*this);
}

void TForm::Hide() {
  if (!Visible()) return;
  SetVisible(false);
  if (OnHide) OnHide(*this);
}

void TForm::BringToFront() {
  Changed("BringToFront");
  Host().BringToFront(*this);
}

int TForm::ShowModal() {
  if (modal_) throw std::logic_error("Form " + Name + " is already shown modally");
  modal_ = true;
  SetModalResult(mrNone);
  if (!Visible()) {
    SetVisible(true);
    if (OnShow) OnShow(*this);
  }
  // The modal form becomes the active window while it is up and hands the
  // activation back when it closes, so the form below reinstalls what it
  // installs on activation (its message hook).
  TForm* below = nullptr;
  for (const auto& f : Application().Forms())
    if (f.get() != this && f->Active()) below = f.get();
  if (below) below->Deactivate();
  Activate();
  auto end = [&] {
    modal_ = false;
    Deactivate();
    Hide();
    if (below && Application().Owns(*below) && !below->Released()) below->Activate();
  };
  int result;
  try {
    result = Host().ShowModal(*this);
  } catch (...) {
    end();
    throw;
  }
  end();
  return result;
}

void TForm::Close() {
  if (closing_) return;
  closing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{closing_};

  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(*this, canClose);
  if (!canClose) return;
  TCloseAction action =
      formStyle_ == TFormStyle::fsMDIChild ? TCloseAction::caMinimize : TCloseAction::caHide;
  if (OnClose) OnClose(*this, action);
  if (action == TCloseAction::caNone) {
    if (modal_) SetModalResult(mrNone);
    return;
  }
  if (modal_ && modalResult_ == mrNone) SetModalResult(mrCancel);
  switch (action) {
    case TCloseAction::caNone:
      break;
    case TCloseAction::caMinimize:
      if (!modal_) {
        SetWindowState(TWindowState::wsMinimized);
        break;
      }
      [[fallthrough]];
    case TCloseAction::caHide:
      Deactivate();
      Hide();
      break;
    case TCloseAction::caFree:
      // The window going away stops being the active one, so its message
      // hook is removed before the form can be deleted.
      Deactivate();
      Hide();
      Release();
      break;
  }
}

void TForm::Release() {
  if (released_) return;
  released_ = true;
  Changed("Released");
  Application().QueueRelease(*this);
}

void TForm::Activate() {
  if (active_) return;
  active_ = true;
  Changed("Active");
  if (OnActivate) OnActivate(*this);
}

void TForm::Deactivate() {
  if (!active_) return;
  active_ = false;
  Changed("Active");
  if (OnDeactivate) OnDeactivate(*this);
}

void TForm::KeyDown(int& key, TShiftState shift) {
  TControl* target = activeControl_;
  if ((KeyPreview || !target) && OnKeyDown) OnKeyDown(*this, key, shift);
  if (key == 0 || !target) return;
  if (target->OnKeyDown) target->OnKeyDown(*target, key, shift);
}

void TForm::KeyPress(char32_t& key) {
  TControl* target = activeControl_;
  if ((KeyPreview || !target) && OnKeyPress) OnKeyPress(*this, key);
  if (key == 0 || !target) return;
  if (target->OnKeyPress) target->OnKeyPress(*target, key);
}

// --- TApplication -------------------------------------------------------------

TApplication& Application() {
  static TApplication app;
  return app;
}

bool TApplication::Owns(const TForm& form) const {
  return std::any_of(forms_.begin(), forms_.end(),
                     [&](const std::unique_ptr<TForm>& f) { return f.get() == &form; });
}

void TApplication::QueueRelease(TForm& form) {
  if (Owns(form) && std::find(released_.begin(), released_.end(), &form) == released_.end())
    released_.push_back(&form);
}

void TApplication::ProcessReleases() {
  // Destroying a form may release others (its handlers run): loop until none.
  while (!released_.empty()) {
    TForm* form = released_.front();
    released_.erase(released_.begin());
    auto it = std::find_if(forms_.begin(), forms_.end(),
                           [&](const std::unique_ptr<TForm>& f) { return f.get() == form; });
    if (it == forms_.end()) continue;
    std::unique_ptr<TForm> owned = std::move(*it);
    forms_.erase(it);
    // A form released without closing still goes away as a window does.
    owned->Deactivate();
    if (owned->OnDestroy) owned->OnDestroy(*owned);
    owned->BeginDestroy();
  }
}

void TApplication::DestroyForms() {
  released_.clear();
  while (!forms_.empty()) {
    std::unique_ptr<TForm> owned = std::move(forms_.back());
    forms_.pop_back();
    if (owned->OnDestroy) owned->OnDestroy(*owned);
    owned->BeginDestroy();
  }
  released_.clear();
}

// --- Standard catalogue ---------------------------------------------------------

std::vector<std::string> StandardMessageLines() {
  return {
      "Canc|Confirma o cancelamento das alterações?",
      "Excl|Confirma exclusão?",
      "Conf|Confirma operação?",
      "Reg_Vazio|Não há registro para esta operação.",
  };
}

// --- TfrmPadraoGrid -------------------------------------------------------------

TfrmPadraoGrid::TfrmPadraoGrid(std::string name, TComponent* owner)
    : TForm(std::move(name), owner) {
  SetFormStyle(TFormStyle::fsMDIChild);

  struct Std {
    TButtonFlat& button;
    TMenuItem* item;
    const char* hint;
    const char* glyph;
  };
  for (const Std& s : {Std{sbtIncluir, &mnuIncluir, "Incluir", "incluir"},
                       Std{sbtAlterar, &mnuAlterar, "Alterar", "alterar"},
                       Std{sbtExcluir, &mnuExcluir, "Excluir", "excluir"},
                       Std{sbtProcurar, &mnuProcurar, "Procurar", "procurar"},
                       Std{sbtVerificar, &mnuVerificar, "Verificar", "verificar"},
                       Std{sbtCancelar, &mnuCancelar, "Cancelar", "cancelar"},
                       Std{sbtConfirmar, &mnuConfirmar, "Confirmar", "confirmar"},
                       Std{sbtImprimir, nullptr, "Imprimir", "imprimir"},
                       Std{sbtSair, &mnuSair, "Sair", "sair"}}) {
    s.button.SetHint(s.hint);
    s.button.SetShowHint(true);
    s.button.SetGlyph(s.glyph);
    // A menu item runs whatever its button runs, so a screen that rebinds the
    // button's click rebinds the menu too.
    if (s.item) s.item->OnClick = [b = &s.button](TComponent&) { b->Click(); };
  }

  mnuPrincipal.Add(mnuOperacao);
  mnuOperacao.Add(mnuListagem);
  mnuOperacao.Add(mnuConfigImpressora);
  mnuPrincipal.Add(mnuManutencao);
  for (TMenuItem* m : {&mnuIncluir, &mnuAlterar, &mnuExcluir, &mnuProcurar, &mnuVerificar,
                       &mnuCancelar, &mnuConfirmar})
    mnuManutencao.Add(*m);
  mnuOperacao.Add(mnuSair);

  dbgPadrao.SetDataSource(&dtsPadrao);
  dbnPadrao.SetDataSource(&dtsPadrao);
  dbtNome.SetDataSource(&dtsPadrao);

  OnCreate = [this](TComponent& s) { FormCreate(s); };
  OnClose = [this](TComponent& s, TCloseAction& a) { FormClose(s, a); };
  OnKeyDown = [this](TComponent& s, int& k, TShiftState sh) { FormKeyDown(s, k, sh); };
  dbgPadrao.OnKeyDown = [this](TComponent& s, int& k, TShiftState sh) {
    dbgPadraoKeyDown(s, k, sh);
  };
  dbgPadrao.OnKeyPress = [this](TComponent& s, char32_t& k) { dbgPadraoKeyPress(s, k); };
  sbtIncluir.OnClick = [this](TComponent& s) { sbtIncluirClick(s); };
  sbtAlterar.OnClick = [this](TComponent& s) { sbtAlterarClick(s); };
  sbtExcluir.OnClick = [this](TComponent& s) { sbtExcluirClick(s); };
  sbtProcurar.OnClick = [this](TComponent& s) { sbtProcurarClick(s); };
  sbtVerificar.OnClick = [this](TComponent& s) { sbtVerificarClick(s); };
  sbtCancelar.OnClick = [this](TComponent& s) { sbtCancelarClick(s); };
  sbtConfirmar.OnClick = [this](TComponent& s) { sbtConfirmarClick(s); };
  sbtImprimir.OnClick = [this](TComponent& s) { sbtImprimirClick(s); };
  sbtSair.OnClick = [this](TComponent& s) { sbtSairClick(s); };
  dtsPadrao.OnStateChange = [this](TDataSource& s) { dtsPadraoStateChange(s); };
}

void TfrmPadraoGrid::FormCreate(TComponent&) {
  if (msgMensagensPadroes.Count() == 0) msgMensagensPadroes.SetLines(StandardMessageLines());
  dtsPadraoStateChange(dtsPadrao);
}

void TfrmPadraoGrid::FormClose(TComponent&, TCloseAction& Action) {
  Action = TCloseAction::caFree;
}

void TfrmPadraoGrid::FormKeyDown(TComponent&, int& Key, TShiftState Shift) {
  if (Key == VK_ESCAPE && Shift == 0 && Editing(dtsPadrao.DataSet())) {
    Key = 0;
    if (sbtCancelar.Enabled()) sbtCancelar.Click();
  }
}

void TfrmPadraoGrid::dbgPadraoKeyDown(TComponent&, int& Key, TShiftState Shift) {
  if (Key == VK_INSERT && Shift == 0) {
    Key = 0;
    if (sbtIncluir.Enabled()) sbtIncluir.Click();
  } else if (Key == VK_DELETE && Shift == ssCtrl) {
    Key = 0;
    if (sbtExcluir.Enabled()) sbtExcluir.Click();
  }
}

void TfrmPadraoGrid::dbgPadraoKeyPress(TComponent&, char32_t&) {}

void TfrmPadraoGrid::sbtIncluirClick(TComponent&) {
  TClientDataSet* ds = dtsPadrao.DataSet();
  if (!ds || !ds->Active()) return;
  ds->Insert();
  if (dbgPadrao.CanFocus()) dbgPadrao.SetFocus();
}

void TfrmPadraoGrid::sbtAlterarClick(TComponent&) {
  TClientDataSet* ds = dtsPadrao.DataSet();
  if (!ds || !ds->Active() || ds->IsEmpty()) return;
  ds->Edit();
  if (dbgPadrao.CanFocus()) dbgPadrao.SetFocus();
}

void TfrmPadraoGrid::sbtExcluirClick(TComponent&) {
  TClientDataSet* ds = dtsPadrao.DataSet();
  if (!ds || !ds->Active() || ds->IsEmpty()) return;
  if (msgMensagensPadroes.ShowMsg("Excl", TMsgDlgType::mtConfirmation, mbYesNo, 0) == mrYes)
    ds->Delete();
}

void TfrmPadraoGrid::sbtProcurarClick(TComponent&) {
  TClientDataSet* ds = dtsPadrao.DataSet();
  if (ds && ds->Active()) Procura(*ds);
}

void TfrmPadraoGrid::sbtVerificarClick(TComponent&) {}

void TfrmPadraoGrid::sbtCancelarClick(TComponent&) {
  TClientDataSet* ds = dtsPadrao.DataSet();
  if (!Editing(ds)) return;
  if (msgMensagensPadroes.ShowMsg("Canc", TMsgDlgType::mtConfirmation, mbYesNo, 0) == mrYes)
    ds->Cancel();
}

void TfrmPadraoGrid::sbtConfirmarClick(TComponent&) {
  TClientDataSet* ds = dtsPadrao.DataSet();
  if (Editing(ds)) ds->Post();
}

void TfrmPadraoGrid::sbtImprimirClick(TComponent&) {}

void TfrmPadraoGrid::sbtSairClick(TComponent&) {
  Close();
}

void TfrmPadraoGrid::dtsPadraoStateChange(TDataSource&) {
  TClientDataSet* ds = dtsPadrao.DataSet();
  bool browse = ds && ds->State() == TDataSetState::dsBrowse;
  bool editing = Editing(ds);
  bool rows = browse && !ds->IsEmpty();
  sbtIncluir.SetEnabled(browse);
  sbtAlterar.SetEnabled(rows);
  sbtExcluir.SetEnabled(rows);
  sbtProcurar.SetEnabled(rows);
  sbtVerificar.SetEnabled(rows);
  sbtCancelar.SetEnabled(editing);
  sbtConfirmar.SetEnabled(editing);
  mnuIncluir.SetEnabled(sbtIncluir.Enabled());
  mnuAlterar.SetEnabled(sbtAlterar.Enabled());
  mnuExcluir.SetEnabled(sbtExcluir.Enabled());
  mnuProcurar.SetEnabled(sbtProcurar.Enabled());
  mnuVerificar.SetEnabled(sbtVerificar.Enabled());
  mnuCancelar.SetEnabled(sbtCancelar.Enabled());
  mnuConfirmar.SetEnabled(sbtConfirmar.Enabled());
}

// --- TfrmRotiGeral --------------------------------------------------------------

TfrmRotiGeral::TfrmRotiGeral(std::string name, TComponent* owner) : TForm(std::move(name), owner) {
  sbtConfirma.SetHint("Confirmar");
  sbtConfirma.SetGlyph("confirmar");
  sbtCancel.SetHint("Cancelar");
  sbtCancel.SetGlyph("cancelar");
  for (TButtonFlat* b : {&sbtConfirma, &sbtCancel}) b->SetShowHint(true);
  OnCreate = [this](TComponent& s) { FormCreate(s); };
  OnClose = [this](TComponent& s, TCloseAction& a) { FormClose(s, a); };
  OnKeyPress = [this](TComponent& s, char32_t& k) { FormKeyPress(s, k); };
  sbtConfirma.OnClick = [this](TComponent& s) { sbtConfirmaClick(s); };
  sbtCancel.OnClick = [this](TComponent& s) { sbtCancelClick(s); };
}

void TfrmRotiGeral::FormCreate(TComponent&) {
  if (msgMensagensPadroes.Count() == 0) msgMensagensPadroes.SetLines(StandardMessageLines());
}

void TfrmRotiGeral::FormClose(TComponent&, TCloseAction& Action) {
  Action = TCloseAction::caFree;
}

void TfrmRotiGeral::FormKeyPress(TComponent&, char32_t&) {}

void TfrmRotiGeral::sbtConfirmaClick(TComponent&) {
  SetModalResult(mrOk);
  Close();
}

void TfrmRotiGeral::sbtCancelClick(TComponent&) {
  SetModalResult(mrCancel);
  Close();
}

// --- Reports --------------------------------------------------------------------

TReportParam* TReportParams::Find(std::string_view name) {
  for (TReportParam& p : Items)
    if (SameName(p.Name, name)) return &p;
  return nullptr;
}

const TReportParam* TReportParams::Find(std::string_view name) const {
  for (const TReportParam& p : Items)
    if (SameName(p.Name, name)) return &p;
  return nullptr;
}

TReportParam& TReportParams::ParamByName(std::string_view name) {
  if (TReportParam* p = Find(name)) return *p;
  throw std::invalid_argument("Report has no parameter '" + std::string(name) + "'");
}

bool ExistParam(const TReportParams& params, std::string_view name) {
  return params.Find(name) != nullptr;
}

bool TReportDesigner::Execute() {
  if (ReportName.empty())
    throw std::runtime_error("Report designer " + Name + " has no report to run");
  TReportParams params;
  for (std::string& n : Host().ReportQueryParams(ReportName))
    params.Items.push_back({std::move(n), {}});
  bool cancel = false;
  if (BeforeGetQueryParams) BeforeGetQueryParams(params, cancel);
  if (cancel) return false;
  Host().ShowReport(ReportName, params);
  return true;
}

TfrmDadosGerRel::TfrmDadosGerRel(std::string name, TComponent* owner)
    : TForm(std::move(name), owner) {
  sbtVisualizar.SetHint("Visualizar");
  sbtVisualizar.SetGlyph("visualizar");
  sbtImprimir.SetHint("Imprimir");
  sbtImprimir.SetGlyph("imprimir");
  sbtSair.SetHint("Sair");
  sbtSair.SetGlyph("sair");
  for (TButtonFlat* b : {&sbtVisualizar, &sbtImprimir, &sbtSair}) b->SetShowHint(true);
  OnCreate = [this](TComponent& s) { FormCreate(s); };
  OnActivate = [this](TComponent& s) { FormActivate(s); };
  OnClose = [this](TComponent& s, TCloseAction& a) { FormClose(s, a); };
  sbtVisualizar.OnClick = [this](TComponent& s) { sbtVisualizarClick(s); };
  sbtImprimir.OnClick = [this](TComponent& s) { sbtImprimirClick(s); };
  sbtSair.OnClick = [this](TComponent& s) { sbtSairClick(s); };
}

void TfrmDadosGerRel::FormCreate(TComponent&) {
  if (msgMensagensPadroes.Count() == 0) msgMensagensPadroes.SetLines(StandardMessageLines());
}

void TfrmDadosGerRel::FormActivate(TComponent&) {
  rpddPadrao.ReportName = lblCodRel.Caption();
}

void TfrmDadosGerRel::FormClose(TComponent&, TCloseAction& Action) {
  Action = TCloseAction::caFree;
}

void TfrmDadosGerRel::sbtVisualizarClick(TComponent&) {
  rpddPadrao.ReportName = lblCodRel.Caption();
  rpddPadrao.Execute();
}

void TfrmDadosGerRel::sbtImprimirClick(TComponent& Sender) {
  sbtVisualizarClick(Sender);
}

void TfrmDadosGerRel::sbtSairClick(TComponent&) {
  Close();
}

}  // namespace apura
