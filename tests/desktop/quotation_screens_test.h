#pragma once
// The negotiation and spreadsheet screens in the desktop host, loaded by
// screen code, against the demo server over gRPC.

#include <QObject>
#include <QTemporaryDir>
#include <memory>

namespace apura::desktop {
class DemoEnvironment;
class QtHost;
class ModuleLoader;
class MainWindow;
}  // namespace apura::desktop

namespace apura::desktop::test {

class QuotationScreensTest : public QObject {
  Q_OBJECT
 public:
  QuotationScreensTest();
  ~QuotationScreensTest() override;

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void negotiationRecordsALowerPriceTheWorksheetReloads();
  void spreadsheetShowsTheLineAndItsDeliveries();
  void worksheetSimulatesAndPrintsThroughTheScreens();

 private:
  QTemporaryDir dir_;
  std::unique_ptr<DemoEnvironment> demo_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<ModuleLoader> loader_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace apura::desktop::test
