#pragma once
// Delivery editing and the unit-price edit in the desktop host against the
// demo server over gRPC: the buyer's gestures on "por Entrega" and "Cotação".

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

class DeliveryEditingViewTest : public QObject {
  Q_OBJECT
 public:
  DeliveryEditingViewTest();
  ~DeliveryEditingViewTest() override;

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void buyerAddsPicksChangesAndDeletesADeliveryLine();
  void reasonButtonShowsTheReasons();
  void correctedPriceAnsweredYesShowsTheNewEconomicPrices();
  void escRevertsTheCellThenGivesUpTheRow();
  void commandsComeBackRightAfterAClickOnConfirmar();

 private:
  GridView* Grid(const char* name) const;
  void ShowPage(const char* caption);
  // On "Cotação", a chosen quotation line current.
  void OnChosenQuotation();
  // Types `text` into the cell of the current row at `field`, and Enter.
  void TypeInto(GridView* grid, const char* field, const QString& text);
  void Trigger(const char* action);

  QTemporaryDir dir_;
  std::unique_ptr<DemoEnvironment> demo_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<ModuleLoader> loader_;
  std::unique_ptr<MainWindow> window_;
  TForm* form_ = nullptr;
  FormView* view_ = nullptr;
};

}  // namespace apura::desktop::test
