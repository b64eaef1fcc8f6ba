#pragma once
// The host's main window: the screens open as MDI children inside it.

#include <QMainWindow>

#include "desktop/app/settings.h"

class QMdiArea;
class QLabel;

namespace apura::desktop {

class QtHost;

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

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QtHost& host_;
  QMdiArea* mdi_;
  QLabel* status_;
};

}  // namespace apura::desktop
