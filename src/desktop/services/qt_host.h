#pragma once
// The host services in Qt: message boxes, the standard error display, the
// busy animation, the pick list and search dialogs, the windows of the forms
// (MDI children of the main window, modal dialogs), the message hook, the
// cursor and the screen, and the session settings.

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/app/settings.h"
#include "framework/forms.h"
#include "framework/host.h"
#include "framework/netconnection.h"
#include "framework/report.h"

class QMdiArea;
class QMdiSubWindow;
class QWidget;
class QFrame;
class QLabel;
class QPrintPreviewDialog;

namespace apura::desktop {

class FormView;
class ModuleLoader;
class Watch;

// Buffers of half a megabyte and more (a large table's columns, a packet on
// its way in) get memory of their own from the system and give it back when
// freed, instead of leaving holes in the heap that the host would keep for
// good after a tally is opened and closed. Called once, before anything loads.
void TuneAllocatorForTables();

class QtHost : public QObject, public IHostServices {
  Q_OBJECT
 public:
  // Installs itself as the process's host and as the application's event
  // filter; the previous host comes back when it goes.
  explicit QtHost(HostSettings settings, QObject* parent = nullptr);
  ~QtHost() override;

  HostSettings& Settings() { return settings_; }
  // Where forms open as MDI children and the busy animation shows; without
  // one, forms get windows of their own.
  void SetMainWindow(QWidget* mainWindow, QMdiArea* mdi);
  void SetModuleLoader(ModuleLoader* loader) { loader_ = loader; }
  // The view of a form that has a window; null otherwise.
  FormView* ViewOf(const TForm& form) const;
  QWidget* WindowOf(const TForm& form) const;
  // Everything shown in a box, "kind: text", for the record and for tests.
  const std::vector<std::string>& Shown() const { return shown_; }
  bool HookInstalled() const { return static_cast<bool>(hook_); }
  bool BusyShown() const;
  QString BusyCaption() const;
  // Opens a screen by code: what LoadBPL does, also for the host's own menu.
  void OpenScreen(const std::string& screenCode, const ValueArray& params);

  // --- IHostServices ---------------------------------------------------------------
  int MessageBox(const std::string& text, const std::string& caption, TMsgDlgType kind,
                 TMsgDlgButtons buttons, int helpContext) override;
  int MsgAlertEx(const std::string& text, TMsgDlgType kind,
                 const std::vector<std::string>& captions, int defaultButton, int cancelButton,
                 int helpContext) override;
  void ShowException(const std::exception& e) override;
  int ModuloAtiv() override { return settings_.activeModule; }
  std::string Operador() override { return settings_.operatorCode; }
  std::string FiliProc() override { return settings_.branch; }
  DateTime DataProc(const std::string& branch) override;
  std::string WebURL() override { return settings_.serverHost; }
  int WebPort() override { return settings_.serverPort; }
  bool KeepConnected() override { return settings_.keepConnected; }
  std::string DBPict(int kind) override;
  void ActiveShowAvi(int kind, const std::string& caption) override;
  void DeactiveShowAvi() override;
  void LoadBPL(const std::string& screenCode, const ValueArray& params) override;
  bool Pesquisar(TDataSource& source, const std::string& caption, bool flag1, bool flag2) override;
  void Procura(TClientDataSet& table) override;
  void MsgEventForm(MessageHook hook) override;
  void ShowForm(TForm& form) override;
  void BringToFront(TForm& form) override;
  int ShowModal(TForm& form) override;
  void PostClose(TForm& form) override;
  void ProcessMessages() override;
  int ScreenHeight() override;
  void SetCursor(int cursor) override;
  std::vector<std::string> ReportQueryParams(const std::string& reportCode) override;
  void ShowReport(const std::string& reportCode, const TReportParams& params) override;

  // Reports: the connection to the server's report object (at the session's
  // server address), the document of a run, and a hook that gets the print
  // preview once it is up.
  TNetConnection& ReportConnection();
  ReportDocument BuildReport(const std::string& reportCode, const TReportParams& params);
  std::function<void(QPrintPreviewDialog&)> onReportPreview;
  // The document ShowReport previewed last; null before the first.
  const ReportDocument* LastReport() const { return lastReport_.get(); }

  // The MDI child that became active (null: none); forms follow it.
  void SubWindowActivated(QMdiSubWindow* window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct FormWindow;
  FormWindow* Find(const TForm& form) const;
  FormWindow& MakeWindow(TForm& form, bool modal);
  void FormChanged(TForm& form, std::string_view property);
  void DropWindow(TForm* form);
  bool RunHook(QObject* watched, QEvent* event);
  void QueueIdleMessage();

  HostSettings settings_;
  IHostServices* previous_ = nullptr;
  bool hadPrevious_ = false;
  QPointer<QWidget> main_;
  QPointer<QMdiArea> mdi_;
  ModuleLoader* loader_ = nullptr;
  std::map<const TForm*, std::unique_ptr<FormWindow>> windows_;
  TForm* activeForm_ = nullptr;
  MessageHook hook_;
  bool inHook_ = false;
  bool idleQueued_ = false;
  std::vector<std::string> shown_;
  QPointer<QFrame> busy_;
  QPointer<QLabel> busyLabel_;
  int busyDepth_ = 0;
  int cursorDepth_ = 0;
  std::unique_ptr<TNetConnection> reportNet_;
  std::unique_ptr<ReportDocument> lastReport_;
};

}  // namespace apura::desktop
