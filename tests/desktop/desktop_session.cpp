#include "desktop_session.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include "desktop/app/demo.h"
#include "desktop/app/local_database.h"
#include "desktop/app/main_window.h"
#include "desktop/app/module_loader.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/services/qt_host.h"
#include "framework/format.h"
#include "framework/forms.h"
#include "framework/netconnection.h"
#include "framework/query.h"
#include "rpc/grpc_transport.h"

namespace apura::desktop::test {

DesktopSession::DesktopSession() = default;

DesktopSession::~DesktopSession() {
  Stop();
}

QString DesktopSession::Start(const SessionOptions& options) {
  if (!dir_.isValid()) return "no temporary folder";
  CurrentFormat().decimalSeparator = ',';
  CurrentFormat().thousandSeparator = '.';
  CurrentFormat().shortDateFormat = "dd/mm/yyyy";
  demo_ = std::make_unique<DemoEnvironment>(dir_.path().toStdString());
  rpc::SetClientSessionToken(demo_->SessionToken());
  if (options.tallied) demo_->EnsureTallied();
  HostSettings settings;
  settings.decimalSeparator = ',';
  settings.shortDateFormat = "dd/mm/yyyy";
  settings.activeModule = options.module;
  settings.screenHeight = options.screenHeight;
  demo_->Configure(settings);
  launch_ = settings.launchValues.value_or(std::vector<std::string>{});
  SetDefaultDatabase(std::make_shared<SqliteDatabase>(demo_->LocalDatabasePath()));
  SetDefaultTransportFactory([](const TNetConnection&) -> std::shared_ptr<ITransport> {
    return rpc::MakeGrpcTransport();
  });
  host_ = std::make_unique<QtHost>(settings);
  loader_ = std::make_unique<ModuleLoader>(ExecutableDir());
  host_->SetModuleLoader(loader_.get());
  if (!options.openWorksheet) return {};
  return OpenWorksheet();
}

MainWindow& DesktopSession::Window() {
  if (!window_) {
    window_ = std::make_unique<MainWindow>(*host_);
    window_->resize(1280, 800);
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) qWarning("the main window was not exposed");
  }
  return *window_;
}

QString DesktopSession::OpenWorksheet() {
  Window().OpenWorksheet(launch_);
  form_ = FormNamed("frmPlanApurNegGrid");
  if (!form_) {
    const auto& shown = host_->Shown();
    return "the worksheet form was not created" +
           (shown.empty() ? QString() : ": " + QString::fromStdString(shown.back()));
  }
  view_ = host_->ViewOf(*form_);
  return view_ ? QString() : QString("the worksheet has no window");
}

void DesktopSession::Stop() {
  if (!demo_) return;
  window_.reset();
  Application().DestroyForms();
  host_.reset();
  loader_.reset();
  form_ = nullptr;
  view_ = nullptr;
  SetDefaultDatabase(nullptr);
  SetDefaultTransportFactory(nullptr);
  demo_.reset();
}

TForm* DesktopSession::FormNamed(const char* name) const {
  for (const auto& f : Application().Forms())
    if (f->Name == name && !f->Released()) return f.get();
  return nullptr;
}

GridView* DesktopSession::Grid(const char* name) const {
  return view_ ? view_->GridNamed(name) : nullptr;
}

bool DesktopSession::ShowPage(const char* caption) {
  auto* tabs = view_ ? qobject_cast<QTabWidget*>(view_->WidgetNamed("pgcPadrao")) : nullptr;
  if (!tabs) return false;
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->tabText(i) == QString::fromUtf8(caption)) {
      if (!tabs->isTabEnabled(i)) return false;
      tabs->setCurrentIndex(i);
      QCoreApplication::processEvents();
      return tabs->currentIndex() == i;
    }
  return false;
}

bool DesktopSession::Trigger(const char* action) {
  QAction* a = view_ ? view_->ActionNamed(action) : nullptr;
  if (!a || !a->isEnabled()) return false;
  a->trigger();
  QCoreApplication::processEvents();
  return true;
}

bool DesktopSession::TypeInto(GridView* grid, const char* field, const QString& text) {
  const int col = ColumnOf(grid, field);
  if (col < 0 || text.isEmpty()) return false;
  const int row = std::max(grid->currentIndex().row(), 0);
  // A dialog that closed may leave no window active, and keys then go nowhere.
  Window().activateWindow();
  if (!QTest::qWaitForWindowActive(&Window())) return false;
  grid->setFocus();
  grid->setCurrentIndex(grid->Model().index(row, col));
  if (grid->currentIndex().column() != col) return false;
  QTest::keyClicks(grid, text.left(1));
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  if (!editor) return false;
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  return true;
}

void ViewSuite::ShowPage(const char* caption) {
  QVERIFY2(session_.ShowPage(caption), caption);
}

void ViewSuite::Trigger(const char* action) {
  QVERIFY2(session_.Trigger(action), action);
}

void ViewSuite::TypeInto(GridView* grid, const char* field, const QString& text) {
  QVERIFY2(session_.TypeInto(grid, field, text),
           qPrintable(QString("typing '%1' into %2 opened no cell editor").arg(text, field)));
}

int ColumnOf(GridView* g, const char* field) {
  const auto& cols = g->Model().Columns();
  for (size_t i = 0; i < cols.size(); ++i)
    if (QString::fromStdString(cols[i].fieldName).compare(field, Qt::CaseInsensitive) == 0)
      return int(i);
  return -1;
}

QString Cell(GridView* g, int row, const char* field) {
  DataSetModel& m = g->Model();
  return m.data(m.index(row, ColumnOf(g, field)), Qt::DisplayRole).toString();
}

QStringList ColumnTexts(GridView* g, const char* field) {
  QStringList out;
  for (int r = 0; r < g->Model().rowCount(); ++r) out << Cell(g, r, field);
  return out;
}

void ClickCell(GridView* g, int row, int col) {
  g->setFocus();
  const QRect r = g->visualRect(g->Model().index(row, col));
  if (r.isValid())
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, r.center());
  else
    g->setCurrentIndex(g->Model().index(row, col));
}

}  // namespace apura::desktop::test
