#include "desktop/app/main_window.h"

#include <malloc.h>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QWindow>

#include "desktop/app/launch_dialog.h"
#include "desktop/binding/events.h"
#include "desktop/services/grid_export.h"
#include "desktop/services/help_viewer.h"
#include "desktop/services/qt_host.h"
#include "desktop/services/quote_chart.h"
#include "framework/forms.h"

namespace apura::desktop {

MainWindow::MainWindow(QtHost& host, QWidget* parent) : QMainWindow(parent), host_(host) {
  setObjectName("mainWindow");
  setWindowTitle(QStringLiteral("Apura — Compras"));
  mdi_ = new QMdiArea(this);
  mdi_->setObjectName("mdiArea");
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdi_);

  exporter_ = new GridExporter(this);
  exporter_->report = [this](const QString& m) { statusBar()->showMessage(m, 30000); };
  help_ = new HelpService(this);
  chartDock_ = new QuoteChartDock(mdi_, this);
  addDockWidget(Qt::RightDockWidgetArea, chartDock_);
  chartDock_->hide();

  QMenu* file = menuBar()->addMenu(QStringLiteral("&Arquivo"));
  file->addAction(QStringLiteral("&Abrir apuração..."), this, [this] { OpenWorksheetDialog(); });
  QAction* exportAction =
      file->addAction(GridExporter::ActionText(), this, [this] { exporter_->ExportCurrent(); });
  exportAction->setObjectName("exportarPlanilha");
  exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
  file->addSeparator();
  file->addAction(QStringLiteral("&Sair"), this, [this] { close(); });
  QMenu* window = menuBar()->addMenu(QStringLiteral("&Janela"));
  window->addAction(QStringLiteral("&Cascata"), mdi_, &QMdiArea::cascadeSubWindows);
  window->addAction(QStringLiteral("&Lado a lado"), mdi_, &QMdiArea::tileSubWindows);
  window->addSeparator();
  chartAction_ = chartDock_->toggleViewAction();
  chartAction_->setText(QStringLiteral("&Gráfico de cotações"));
  chartAction_->setObjectName("graficoCotacoes");
  chartAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G));
  window->addAction(chartAction_);
  // The buyer's choice is kept at once, not only when the host closes well.
  connect(chartAction_, &QAction::triggered, this, [this](bool on) {
    if (store_) store_->setValue("window/quoteChart", on);
    if (on) chartDock_->FollowActive();
  });
  QMenu* help = menuBar()->addMenu(QStringLiteral("Aj&uda"));
  QAction* here = help->addAction(QStringLiteral("Ajuda desta &tela\tF1"), this,
                                  [this] { help_->ShowContextHelp(); });
  here->setObjectName("ajudaTela");
  help->addAction(QStringLiteral("&Conteúdo do guia"), this,
                  [this] { help_->ShowPage(HelpContentsPage()); })
      ->setObjectName("ajudaConteudo");

  status_ = new QLabel(this);
  // The session's line may be cut on a small screen; it must not make the
  // window wider than the screen.
  status_->setMinimumWidth(1);
  statusBar()->addPermanentWidget(status_);
  host_.SetMainWindow(this, mdi_);
  UpdateStatus();
}

void MainWindow::UpdateStatus() {
  const HostSettings& s = host_.Settings();
  // A list of servers names each one's port already.
  const QString server =
      s.serverHost.find(',') != std::string::npos
          ? QString::fromStdString(s.serverHost)
          : QString("%1:%2").arg(QString::fromStdString(s.serverHost)).arg(s.serverPort);
  status_->setText(QStringLiteral("Servidor %1   Operador %2   Filial %3   Módulo %4")
                       .arg(server)
                       .arg(QString::fromStdString(s.operatorCode))
                       .arg(QString::fromStdString(s.branch))
                       .arg(s.activeModule));
}

void MainWindow::PlaceOnScreen(QSettings* store) {
  store_ = store;
  if (store) {
    restoreState(store->value("window/state").toByteArray());
    chartDock_->setVisible(store->value("window/quoteChart", false).toBool());
  }
  if (store && restoreGeometry(store->value("window/geometry").toByteArray())) {
    // A screen that has gone since (a laptop off its monitor) must not keep
    // the window out of sight.
    for (QScreen* s : QGuiApplication::screens())
      if (s->availableGeometry().intersects(frameGeometry())) return;
  }
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  // The window system's frame counts as part of the window; until the
  // window system has said how wide it is, a title bar's worth is kept free.
  create();
  QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
  if (frame.isNull()) frame = QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
  setGeometry(area.marginsRemoved(frame));
}

void MainWindow::OpenWorksheetDialog() {
  LaunchDialog dialog(this, host_.Settings().launchValues.value_or(std::vector<std::string>{}));
  if (dialog.exec() != QDialog::Accepted) return;
  host_.Settings().launchValues = dialog.Values();
  OpenWorksheet(dialog.Values());
}

void MainWindow::OpenWorksheet(const std::vector<std::string>& values) {
  ValueArray params;
  for (const std::string& v : values) params.emplace_back(v);
  const std::string screen = host_.Settings().screen;
  RunEvent([&] { LoadBPL(screen, params); });
  // Opening a large tally leaves the heap with the freed room of its answers
  // on the way in; it goes back to the system rather than stay with the host.
  malloc_trim(0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Each screen closes as its own close says; one that refuses keeps the
  // host open.
  for (QMdiSubWindow* sub : mdi_->subWindowList()) {
    if (!sub->isVisible()) continue;
    sub->close();
    if (sub->isVisible()) {
      event->ignore();
      return;
    }
  }
  if (store_) {
    store_->setValue("window/geometry", saveGeometry());
    store_->setValue("window/state", saveState());
  }
  event->accept();
}

}  // namespace apura::desktop
