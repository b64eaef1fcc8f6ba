#pragma once
// The buyer's tally gestures in the desktop host, against the demo server
// over gRPC: the space bar on the quotation grid's price, the typed price,
// and the justification dialog.

#include <QObject>
#include <QTemporaryDir>
#include <memory>

namespace apura {
class TForm;
class TClientDataSet;
}  // namespace apura

namespace apura::desktop {
class QtHost;
class MainWindow;
class ModuleLoader;
class DemoEnvironment;
class FormView;
class GridView;
}  // namespace apura::desktop

namespace apura::desktop::test {

class TallyViewTest : public QObject {
  Q_OBJECT
 public:
  TallyViewTest();
  ~TallyViewTest() override;
  // With APURA_SCREENSHOT_DIR set, saves the widget's picture there.
  static void Screenshot(QWidget* w, const char* name);

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void apurarAnsweredSimShowsTheServersChoice();
  void spaceOnThePriceChoosesAndDropsWithTheMarkPaintedAtOnce();
  void closingTheJustificationDialogUndoesTheChoice();
  void aTypedPriceTakesNoSignOrExponent();

 private:
  GridView* Grid(const char* name) const;
  void ShowPage(const char* caption);
  // Puts the quotation grid's current cell on a priced line's unit price;
  // answers the row, -1 when the tally has none.
  int OnPricedLine();
  QString Sel(int row) const;

  QTemporaryDir dir_;
  std::unique_ptr<DemoEnvironment> demo_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<ModuleLoader> loader_;
  std::unique_ptr<MainWindow> window_;
  TForm* form_ = nullptr;
  FormView* view_ = nullptr;
};

}  // namespace apura::desktop::test
