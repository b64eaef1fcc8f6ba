#pragma once
// Delivery editing and the unit-price edit in the desktop host against the
// demo server over gRPC: the buyer's gestures on "por Entrega" and "Cotação".

#include <QObject>
#include <memory>

#include "desktop_session.h"

namespace apura::desktop::test {

class DeliveryEditingViewTest : public ViewSuite {
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
  // On "Cotação", a chosen quotation line current.
  void OnChosenQuotation();
};

}  // namespace apura::desktop::test
