#pragma once
// The negotiation and spreadsheet screens in the desktop host, loaded by
// screen code, against the demo server over gRPC.

#include <QObject>
#include <memory>

#include "desktop_session.h"

namespace apura::desktop::test {

class QuotationScreensTest : public ViewSuite {
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
};

}  // namespace apura::desktop::test
