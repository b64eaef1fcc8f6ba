#pragma once
// The worksheet module in the desktop host against the demo server over
// gRPC: what the buyer sees and what clicking does.

#include <QObject>
#include <memory>

#include "desktop_session.h"

namespace apura::desktop::test {

class WorksheetViewTest : public ViewSuite {
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
  void demoKeepsWhatItMadeAndMakesAgainWhatItCannotTrust();
  void commandsFitWithIconsAt1366AndStayPut();
  void columnsAreWideEnoughForTheirContent();
  void mainWindowFitsTheScreenAndRemembersWhereItWas();
};

}  // namespace apura::desktop::test
