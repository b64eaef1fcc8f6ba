#pragma once
// The host's main window: the screens open as MDI children inside it.

#include <QMainWindow>

#include "desktop/app/settings.h"

class QMdiArea;
class QLabel;
class QSettings;
class QAction;

namespace apura::desktop {

class QtHost;
class GridExporter;
class HelpService;
class QuoteChartDock;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(QtHost& host, QWidget* parent = nullptr);
  QMdiArea* Mdi() const { return mdi_; }
  // Asks for the seven launch values and opens the worksheet with them.
  void OpenWorksheetDialog();
  // Opens the configured screen with the launch values.
  void OpenWorksheet(const std::vector<std::string>& values);
  void UpdateStatus();
  // Where the window was when it last closed, from `store`; the first time,
  // or when that place is off every screen now, the screen's available area.
  // The place is written back to `store` when the window closes.
  void PlaceOnScreen(QSettings* store);
  // The quotation chart's dock, the grids' export command and the guide.
  QuoteChartDock* ChartDock() const { return chartDock_; }
  QAction* ChartAction() const { return chartAction_; }
  GridExporter* Exporter() const { return exporter_; }
  HelpService* Help() const { return help_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QtHost& host_;
  QMdiArea* mdi_;
  QLabel* status_;
  QSettings* store_ = nullptr;
  QuoteChartDock* chartDock_ = nullptr;
  QAction* chartAction_ = nullptr;
  GridExporter* exporter_ = nullptr;
  HelpService* help_ = nullptr;
};

}  // namespace apura::desktop
