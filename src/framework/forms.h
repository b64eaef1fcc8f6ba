#pragma once
// Forms, the application that owns them, the form factory, and the
// framework's base forms the screens derive from.
//
// A screen's form class declares its components as members (owner: the
// form), sets its event members to its handlers in its constructor, and is
// created through CreateForm, which runs OnCreate with the host's error
// handling. A base form's own handlers are ordinary methods; a descendant's
// handler calls them as the inherited handling (TfrmPadraoGrid::FormCreate).

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "framework/controls.h"
#include "framework/dataset/dataset.h"
#include "framework/host.h"
#include "framework/messages.h"

namespace apura {

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };

using TCloseEvent = std::function<void(TComponent& Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TComponent& Sender, bool& CanClose)>;

class TForm : public TControl {
 public:
  explicit TForm(std::string name, TComponent* owner = nullptr);
  ~TForm() override;

  TFormStyle FormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle s) { SetProperty(formStyle_, s, "FormStyle"); }
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState s) { SetProperty(windowState_, s, "WindowState"); }
  // The form sees the keys of its controls first.
  bool KeyPreview = true;
  std::string HelpFile;
  int HelpContext = 0;

  // The control with the focus; null when none.
  TControl* ActiveControl() const { return activeControl_; }
  // Moves the focus: OnExit of the control losing it, then OnEnter of the one
  // getting it. Null takes the focus away.
  void SetActiveControl(TControl* control);

  TNotifyEvent OnCreate, OnDestroy, OnShow, OnHide, OnActivate, OnDeactivate;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  // Runs OnCreate as the form factory does: the silent abort ends it without
  // a word, another error goes to the host's error display; either way the
  // form is created. Answers whether OnCreate ran to its end.
  bool RunCreate();

  // Visible, OnShow, and the host shows the window.
  void Show();
  void Hide();
  void BringToFront();
  // Shows the form modally through the host; answers the ModalResult it was
  // closed with. While it is up it is the active form: the application's
  // active form is deactivated before and activated again after.
  int ShowModal();
  bool Modal() const { return modal_; }
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int r) { SetProperty(modalResult_, r, "ModalResult"); }

  // OnCloseQuery may refuse; then OnClose with the default action (caMinimize
  // for an MDI child, caHide otherwise) which it may change: caNone keeps the
  // form open, caHide hides it, caFree hides it and releases it (deleted by
  // the application once the current event has ended), caMinimize minimises.
  // A modal form closed without a result gets mrCancel.
  void Close();
  // Queues the form for deletion (see TApplication::ProcessReleases).
  void Release();
  bool Released() const { return released_; }

  // The host: the window became / stopped being the active one.
  void Activate();
  void Deactivate();
  bool Active() const { return active_; }

  // The user pressed a key on the active control (or on the form when none):
  // the form's OnKeyDown first (key preview), then the control's, unless a
  // handler consumed the key. EAbort and errors propagate to the caller (the
  // view's GuardedCall).
  void KeyDown(int& key, TShiftState shift);
  void KeyPress(char32_t& key);

 private:
  friend class TApplication;
  friend class TControl;  // a control going away drops the focus it held
  TFormStyle formStyle_ = TFormStyle::fsNormal;
  TWindowState windowState_ = TWindowState::wsNormal;
  TControl* activeControl_ = nullptr;
  int modalResult_ = 0;
  bool modal_ = false, released_ = false, active_ = false, closing_ = false;
};

// The application: owns the forms the factory created.
class TApplication {
 public:
  // The form factory: constructs T, stores it in `reference` BEFORE its
  // creation handler runs (so code run from OnCreate finds the instance),
  // then runs OnCreate (TForm::RunCreate). Answers the form.
  template <class T, class... Args>
  T& CreateForm(T*& reference, Args&&... args) {
    static_assert(std::is_base_of_v<TForm, T>);
    auto owned = std::make_unique<T>(std::forward<Args>(args)...);
    T& form = *owned;
    forms_.push_back(std::move(owned));
    reference = &form;
    form.RunCreate();
    return form;
  }
  const std::vector<std::unique_ptr<TForm>>& Forms() const { return forms_; }
  bool Owns(const TForm& form) const;
  // Deletes the released forms. The host calls it when the event under way
  // has ended; tests call it where the host would.
  void ProcessReleases();
  // Deletes every form (end of the program, end of a test).
  void DestroyForms();

 private:
  friend class TForm;
  void QueueRelease(TForm& form);
  std::vector<std::unique_ptr<TForm>> forms_;
  std::vector<TForm*> released_;
};
TApplication& Application();

template <class T, class... Args>
T& CreateForm(T*& reference, Args&&... args) {
  return Application().CreateForm(reference, std::forward<Args>(args)...);
}

// ---------------------------------------------------------------------------
// The framework's standard catalogue, which every base form carries.
std::vector<std::string> StandardMessageLines();

// The standard grid form: a page control with the per-record page and its
// grid, the data link, the record commands (toolbar and maintenance menu),
// the navigator and the catalogues.
class TfrmPadraoGrid : public TForm {
 public:
  explicit TfrmPadraoGrid(std::string name = "frmPadraoGrid", TComponent* owner = nullptr);

  TDataSource dtsPadrao{"dtsPadrao"};
  TMessages msgPadrao{this, "msgPadrao"};
  TMessages msgMensagensPadroes{this, "msgMensagensPadroes"};

  // Toolbar, top; the record commands in their order.
  TPanel panBotoes{this, "panBotoes", this};
  TButtonFlat sbtIncluir{this, "sbtIncluir", &panBotoes};
  TButtonFlat sbtAlterar{this, "sbtAlterar", &panBotoes};
  TButtonFlat sbtExcluir{this, "sbtExcluir", &panBotoes};
  TButtonFlat sbtProcurar{this, "sbtProcurar", &panBotoes};
  TButtonFlat sbtVerificar{this, "sbtVerificar", &panBotoes};
  TButtonFlat sbtCancelar{this, "sbtCancelar", &panBotoes};
  TButtonFlat sbtConfirmar{this, "sbtConfirmar", &panBotoes};
  TButtonFlat sbtImprimir{this, "sbtImprimir", &panBotoes};
  TButtonFlat sbtSair{this, "sbtSair", &panBotoes};
  TDBNavigator dbnPadrao{this, "dbnPadrao", &panBotoes};
  TDBText dbtNome{this, "dbtNome", &panBotoes};

  // Menus. mnuOperacao: the pages and the print commands; mnuManutencao: the
  // record commands. The standard items carry no shortcut: the grids' key
  // handlers own Ins and Ctrl+Del, and a shortcut would take those keys first.
  TMainMenu mnuPrincipal{this, "mnuPrincipal"};
  TMenuItem mnuOperacao{this, "mnuOperacao", "&Operação"};
  TMenuItem mnuListagem{this, "mnuListagem", "&Listagem"};
  TMenuItem mnuConfigImpressora{this, "mnuConfigImpressora", "&Configurar Impressora"};
  TMenuItem mnuManutencao{this, "mnuManutencao", "&Manutenção"};
  TMenuItem mnuIncluir{this, "mnuIncluir", "&Incluir"};
  TMenuItem mnuAlterar{this, "mnuAlterar", "&Alterar"};
  TMenuItem mnuExcluir{this, "mnuExcluir", "&Excluir"};
  TMenuItem mnuProcurar{this, "mnuProcurar", "&Procurar"};
  TMenuItem mnuVerificar{this, "mnuVerificar", "&Verificar"};
  TMenuItem mnuCancelar{this, "mnuCancelar", "&Cancelar"};
  TMenuItem mnuConfirmar{this, "mnuConfirmar", "Co&nfirmar"};
  TMenuItem mnuSair{this, "mnuSair", "Sai&r"};

  // The page control, its per-record page and grid.
  TPageControl pgcPadrao{this, "pgcPadrao", this};
  TTabSheet tshPadrao{this, "tshPadrao", pgcPadrao};
  TDBGrid dbgPadrao{this, "dbgPadrao", &tshPadrao};

  // The base handlers, bound to the events in the constructor; a descendant
  // that binds its own calls these as the inherited handling.
  // FormCreate: loads the standard catalogue and enables the record commands
  // for the state of dtsPadrao's table.
  void FormCreate(TComponent& Sender);
  // Releases the form (caFree).
  void FormClose(TComponent& Sender, TCloseAction& Action);
  // Esc while the table is edited: the cancel command, when enabled.
  void FormKeyDown(TComponent& Sender, int& Key, TShiftState Shift);
  // Ins: the insert command; Ctrl+Del: the delete command (each when
  // enabled); the key is consumed either way.
  void dbgPadraoKeyDown(TComponent& Sender, int& Key, TShiftState Shift);
  // The standard grid takes characters as typed: nothing to do here.
  void dbgPadraoKeyPress(TComponent& Sender, char32_t& Key);
  // The record commands on the table behind dtsPadrao; each does nothing
  // while that table is closed.
  void sbtIncluirClick(TComponent& Sender);    // Insert, focus on the grid
  void sbtAlterarClick(TComponent& Sender);    // Edit, focus on the grid
  void sbtExcluirClick(TComponent& Sender);    // asks "Excl"; on Yes, Delete
  void sbtProcurarClick(TComponent& Sender);   // the host's search dialog
  void sbtVerificarClick(TComponent& Sender);  // nothing
  void sbtCancelarClick(TComponent& Sender);   // asks "Canc"; on Yes, Cancel
  void sbtConfirmarClick(TComponent& Sender);  // Post
  void sbtImprimirClick(TComponent& Sender);   // nothing: screens print their own
  void sbtSairClick(TComponent& Sender);       // Close
  // Bound to dtsPadrao's state change: enables the record commands (buttons
  // and their menu items) for the state of the table behind dtsPadrao.
  void dtsPadraoStateChange(TDataSource& Sender);
};

// The standard dialog: a button column with confirm and cancel, the screen
// code label and the catalogues.
class TfrmRotiGeral : public TForm {
 public:
  explicit TfrmRotiGeral(std::string name = "frmRotiGeral", TComponent* owner = nullptr);

  TMessages msgPadrao{this, "msgPadrao"};
  TMessages msgMensagensPadroes{this, "msgMensagensPadroes"};
  TPanel panBotoes{this, "panBotoes", this};
  TButtonFlat sbtConfirma{this, "sbtConfirma", &panBotoes};
  TButtonFlat sbtCancel{this, "sbtCancel", &panBotoes};
  TLabel lblCodTela{this, "lblCodTela", &panBotoes};

  void FormCreate(TComponent& Sender);
  void FormClose(TComponent& Sender, TCloseAction& Action);  // caFree
  void FormKeyPress(TComponent& Sender, char32_t& Key);      // nothing
  void sbtConfirmaClick(TComponent& Sender);                 // mrOk, Close
  void sbtCancelClick(TComponent& Sender);                   // mrCancel, Close
};

// ---------------------------------------------------------------------------
// Report parameters, as the report designer asks the form for them.
struct TReportParam {
  std::string Name;
  std::string Value;
};
struct TReportParams {
  std::vector<TReportParam> Items;
  // Letter case ignored; null when absent.
  TReportParam* Find(std::string_view name);
  const TReportParam* Find(std::string_view name) const;
  // An error naming the parameter when absent.
  TReportParam& ParamByName(std::string_view name);
};
// The list holds that parameter (letter case ignored).
bool ExistParam(const TReportParams& params, std::string_view name);

// The report designer dialog of the report base form.
class TReportDesigner : public TComponent {
 public:
  using TComponent::TComponent;
  std::string ReportName;
  // Asked for the values of the report's query parameters before the report
  // runs; setting DoCancel stops the run.
  std::function<void(TReportParams& Params, bool& DoCancel)> BeforeGetQueryParams;
  // Asks the host for the report's parameters, lets the form fill them, and
  // has the host run and show the report. Answers false when cancelled. An
  // empty ReportName is an error.
  bool Execute();
};

// The report base form: the screen and report codes, the designer dialog,
// preview and print commands.
class TfrmDadosGerRel : public TForm {
 public:
  explicit TfrmDadosGerRel(std::string name = "frmDadosGerRel", TComponent* owner = nullptr);

  TMessages msgPadrao{this, "msgPadrao"};
  TMessages msgMensagensPadroes{this, "msgMensagensPadroes"};
  TPanel panBotoes{this, "panBotoes", this};
  TButtonFlat sbtVisualizar{this, "sbtVisualizar", &panBotoes};
  TButtonFlat sbtImprimir{this, "sbtImprimir", &panBotoes};
  TButtonFlat sbtSair{this, "sbtSair", &panBotoes};
  TLabel lblCodTela{this, "lblCodTela", this};  // screen code
  TLabel lblCodRel{this, "lblCodRel", this};    // report code
  TReportDesigner rpddPadrao{this, "rpddPadrao"};

  void FormCreate(TComponent& Sender);
  void FormActivate(TComponent& Sender);
  void FormClose(TComponent& Sender, TCloseAction& Action);  // caFree
  // Runs the report of lblCodRel through rpddPadrao.
  void sbtVisualizarClick(TComponent& Sender);
  void sbtImprimirClick(TComponent& Sender);
  void sbtSairClick(TComponent& Sender);
};

}  // namespace apura
