#pragma once
// The worksheet module in the desktop host against the demo server over
// gRPC: what the buyer sees and what clicking does.

#include <QObject>
#include <QTemporaryDir>
#include <memory>

namespace apura {
class TForm;
}

namespace apura::desktop {
class QtHost;
class MainWindow;
class ModuleLoader;
class DemoEnvironment;
class FormView;
class GridView;
}  // namespace apura::desktop

namespace apura::desktop::test {

class WorksheetViewTest : public QObject {
  Q_OBJECT
 public:
  WorksheetViewTest();
  ~WorksheetViewTest() override;

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void demoLaunchShowsTheTallysProducts();
  void clickingRegionProductAndQuotationChangesTheGrids();
  void buttonsFollowTheModelsEnabledStates();
  void totalsToggleShowsAndHidesThePanelUnderTheGrids();
  void decimalKeyIsTranslatedOnlyWhileTheWorksheetIsActive();
  void secondLaunchBringsTheOpenWorksheetForward();
  void demoOfAnySizeKeepsItsOwnDatabase();
  void commandsFitWithIconsAt1366AndStayPut();
  void columnsAreWideEnoughForTheirContent();
  void mainWindowFitsTheScreenAndRemembersWhereItWas();

 private:
  GridView* Grid(const char* name) const;
  void ShowPage(const char* caption);

  QTemporaryDir dir_;
  std::unique_ptr<DemoEnvironment> demo_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<ModuleLoader> loader_;
  std::unique_ptr<MainWindow> window_;
  TForm* form_ = nullptr;
  FormView* view_ = nullptr;
};

}  // namespace apura::desktop::test
